// Discovery capacity: one simulator in camera 1's namespace plays a crowd of N
// cameras that answer one probe as fast as it can send; the real main window
// in the tool's namespace searches. Run it through tools/lab/lab.sh run, with
// CAMSIM naming the simulator:
//
//   bench_discovery [N...]          (default 100 1000 5000)

#include "benchsupport.h"
#include "labcamera.h"
#include "mainwindow.h"

#include <QApplication>
#include <QHostAddress>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace bench;

namespace {

constexpr quint16 discoveryPort = 6999;
constexpr int idleWindowMs = 1000;
constexpr int searchTimeoutMs = 15000;
constexpr int burstLogTimeoutMs = 10000;

constexpr int descriptorsToSearch = 1024;

// Bound to QHostAddress::Any, the socket is a dual-stack IPv6 one.
bool isSearchSocket(int fd)
{
    int type = 0;
    socklen_t typeLength = sizeof type;
    sockaddr_storage address {};
    socklen_t addressLength = sizeof address;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_DGRAM
        || getsockname(fd, reinterpret_cast<sockaddr *>(&address), &addressLength) != 0)
        return false;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port) == discoveryPort;
    return address.ss_family == AF_INET
        && ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port) == discoveryPort;
}

// The search socket is private to the window. It is found among this
// process's descriptors by what it is: a UDP socket bound to the discovery
// port. -1 when there is none.
int findSearchSocket()
{
    for (int fd = 0; fd < descriptorsToSearch; ++fd) {
        if (isSearchSocket(fd))
            return fd;
    }
    return -1;
}

// What the kernel holds for the socket: its receive buffer as granted and how
// many datagrams it dropped because that buffer was full.
struct SocketMemory
{
    qint64 receiveBuffer = -1;
    qint64 drops = -1;
};

SocketMemory socketMemory(int fd)
{
    SocketMemory memory;
    quint32 info[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof info;
    if (fd >= 0 && getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info, &length) == 0) {
        memory.receiveBuffer = info[SK_MEMINFO_RCVBUF];
        memory.drops = info[SK_MEMINFO_DROPS];
    }
    return memory;
}

bool measure(int count)
{
    const QString tag = QStringLiteral("discovery N=%1").arg(count);
    note(QStringLiteral("%1: starting the simulator").arg(tag));
    // One named camera beside the crowd: the table must hold it as well.
    const QString namedIp = LabCamera::address(1);
    LabCamera camera(1,
        { QStringLiteral("--generate"), QString::number(count), QStringLiteral("--camera"),
            QStringLiteral("ip=") + namedIp });
    if (!camera.start()) {
        note(camera.errorString());
        return false;
    }

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    auto *model = qobject_cast<QStandardItemModel *>(
        window.findChild<QTableView *>(QStringLiteral("tableView"))->model());
    auto *status = window.findChild<QLabel *>(QStringLiteral("label_Search_State"));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton_Search_Device"));

    LoopProbe probe;
    probe.start();
    const qint64 idleFrom = nowNs();
    QTest::qWait(idleWindowMs);
    const double idleStallMs = probe.longestGapMs(idleFrom, nowNs());

    qint64 firstRowNs = 0;
    qint64 lastRowNs = 0;
    QObject::connect(model, &QAbstractItemModel::rowsInserted, [&] {
        lastRowNs = nowNs();
        if (firstRowNs == 0)
            firstRowNs = lastRowNs;
    });

    int searchSocket = -1;
    SocketMemory memory;
    probe.onTick = [&] {
        if (searchSocket >= 0 && isSearchSocket(searchSocket))
            memory = socketMemory(searchSocket);
    };
    // The click returns after the probe went out; the window collects the
    // replies from the event loop afterwards. The probe starts afresh there:
    // the handler's pause before the probe is no stall while rows arrive.
    QTest::mouseClick(button, Qt::LeftButton);
    probe.start();
    searchSocket = findSearchSocket();
    memory = socketMemory(searchSocket);
    const bool completed = QTest::qWaitFor(
        [&] { return status->text() == QLatin1String("Search Completed"); }, searchTimeoutMs);
    probe.stop();
    if (!completed) {
        note(tag + QStringLiteral(": the search did not complete"));
        return false;
    }
    if (!camera.waitForEvent(QStringLiteral("burst"), 1, burstLogTimeoutMs)) {
        note(tag + QStringLiteral(": the simulator logged no burst"));
        return false;
    }

    const QJsonObject burst = camera.events(QStringLiteral("burst")).constFirst();
    const int sent = burst.value(QLatin1String("sent")).toInt()
        + camera.events(QStringLiteral("reply")).size();
    const int failed = burst.value(QLatin1String("failed")).toInt()
        + camera.events(QStringLiteral("reply-failed")).size();
    const double burstMs = burst.value(QLatin1String("ms")).toDouble();

    QSet<QString> expected { namedIp };
    for (int number = 1; number <= count; ++number)
        expected.insert(QHostAddress(quint32((10u << 24) | quint32(number))).toString());
    QSet<QString> listed;
    for (int row = 0; row < model->rowCount(); ++row)
        listed.insert(model->item(row, 0)->text());
    const int rows = model->rowCount();
    const int doubled = rows - listed.size();
    const int missing = (expected - listed).size();
    const int unexpected = (listed - expected).size();

    const double spanMs = firstRowNs ? msBetween(firstRowNs, lastRowNs) : 0;
    // The gap that spans the arrival of the first row counts too: the window
    // was frozen from the tick before it.
    const double stallMs = firstRowNs ? probe.longestGapMs(firstRowNs, lastRowNs) : 0;

    note(QStringLiteral("%1: %2 rows, %3 replies sent (%4 failed), %5 doubled, %6 missing, "
                        "%7 unexpected; receive buffer granted %8 KiB, kernel drops %9")
             .arg(tag)
             .arg(rows)
             .arg(sent)
             .arg(failed)
             .arg(doubled)
             .arg(missing)
             .arg(unexpected)
             .arg(memory.receiveBuffer / kib)
             .arg(memory.drops));

    const bool exact = rows == expected.size() && doubled == 0 && missing == 0 && unexpected == 0;
    printRow({ tag + QStringLiteral(": rows listed / replies sent"), QString::number(rows),
        QString::number(sent), double(rows) / sent, QStringLiteral("1.0, none lost or doubled"),
        exact && rows == sent });
    printRow({ tag
            + QStringLiteral(": replies dropped by the kernel / sent (SO_RCVBUF granted %1 KiB)")
                  .arg(memory.receiveBuffer / kib),
        QString::number(memory.drops), QString::number(sent), double(memory.drops) / sent,
        QStringLiteral("0"), memory.drops == 0 });
    printRow(
        { tag + QStringLiteral(": first to last row, ms / simulator's send time"), number(spanMs),
            number(burstMs, 0), burstMs > 0 ? spanMs / burstMs : qInf(), QString(), false });
    printRow({ tag + QStringLiteral(": longest loop stall while rows arrive, ms / idle"),
        number(stallMs), number(idleStallMs), stallMs / idleStallMs, QString(), false });
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QList<int> counts;
    for (const QString &argument : application.arguments().mid(1))
        counts.append(argument.toInt());
    if (counts.isEmpty())
        counts = { 100, 1000, 5000 };
    bool allMeasured = true;
    for (int count : counts)
        allMeasured = measure(count) && allMeasured;
    return allMeasured ? 0 : 1;
}
