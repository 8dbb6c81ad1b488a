// Discovery capacity: one simulator in camera 1's namespace plays a crowd of N
// cameras that answer one probe as fast as it can send; the real main window
// in the tool's namespace searches. In a lab with a second network
// (lab.sh run --second-cameras 1) the crowd is split: half of it answers from
// the first camera of the second network. Run it through tools/lab/lab.sh run,
// with CAMSIM naming the simulator:
//
//   bench_discovery [--save-times FILE | --compare-times FILE] [N...]
//                                  (default 100 1000 5000)
//
// --save-times writes the time from the press to "Search Completed" for each
// N to FILE; --compare-times reads such a file, written in a lab of another
// shape, and prints this run's time against it.

#include "benchsupport.h"
#include "labcamera.h"
#include "mainwindow.h"
#include "processfigures.h"
#include "protocol.h"

#include <QApplication>
#include <QFile>
#include <QHostAddress>
#include <QLabel>
#include <QMap>
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

constexpr int searchTimeoutMs = 15000;
// The pause before the probe and the reply window: the search's own length.
constexpr double designedSearchMs = 500 + 2000;
// How closely the end of the search is timed.
constexpr int completionPollMs = 1;

using CompletionTimes = QMap<int, double>;

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
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port)
            == Protocol::discoveryPort;
    return address.ss_family == AF_INET
        && ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port)
        == Protocol::discoveryPort;
}

// The search socket is private to the window. It is found among this
// process's descriptors by what it is: a UDP socket bound to the discovery
// port. -1 when there is none.
int findSearchSocket()
{
    for (int fd : ProcessFigures::openDescriptors()) {
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

// The crowd of count cameras, with camera 1 also playing one named camera
// that the table must hold as well; split over both networks when the lab
// has two. Empty when a simulator did not start.
QList<LabCamera *> startCrowd(int count, QObject *parent)
{
    const bool twoNetworks = qEnvironmentVariableIntValue("LAB_SECOND_CAMERAS") > 0;
    const int firstShare = twoNetworks ? count / 2 : count;
    QList<LabCamera *> cameras;
    cameras << new LabCamera(1,
        { QStringLiteral("--generate"), QString::number(firstShare), QStringLiteral("--camera"),
            QStringLiteral("ip=") + LabCamera::address(1) },
        parent);
    if (twoNetworks) {
        cameras << new LabCamera(qEnvironmentVariableIntValue("LAB_CAMERAS") + 1,
            { QStringLiteral("--generate"), QString::number(count - firstShare),
                QStringLiteral("--generate-from"), QString::number(firstShare + 1) },
            parent);
    }
    for (LabCamera *camera : qAsConst(cameras)) {
        if (!camera->start()) {
            note(camera->errorString());
            return {};
        }
    }
    return cameras;
}

// What the simulators logged of their replies: the crowd's burst and the
// named camera's own replies.
struct Replies
{
    int sent = 0;
    int failed = 0;
    double burstMs = 0;
};

// False when a simulator logged no burst.
bool tallyReplies(const QList<LabCamera *> &cameras, Replies *replies)
{
    constexpr int burstLogTimeoutMs = 10000;
    for (LabCamera *camera : cameras) {
        if (!camera->waitForEvent(QStringLiteral("burst"), 1, burstLogTimeoutMs))
            return false;
        const QJsonObject burst = camera->events(QStringLiteral("burst")).constFirst();
        replies->sent += burst.value(QLatin1String("sent")).toInt()
            + camera->events(QStringLiteral("reply")).size();
        replies->failed += burst.value(QLatin1String("failed")).toInt()
            + camera->events(QStringLiteral("reply-failed")).size();
        replies->burstMs = qMax(replies->burstMs, burst.value(QLatin1String("ms")).toDouble());
    }
    return true;
}

// The table's rows against the cameras that answered: the crowd of count and
// the named camera.
struct Listing
{
    int rows = 0;
    int expected = 0;
    int doubled = 0;
    int missing = 0;
    int unexpected = 0;

    bool exact() const
    {
        return rows == expected && doubled == 0 && missing == 0 && unexpected == 0;
    }
};

Listing compareListing(const QStandardItemModel *model, int count)
{
    QSet<QString> expected { LabCamera::address(1) };
    for (int number = 1; number <= count; ++number)
        expected.insert(QHostAddress(quint32((10u << 24) | quint32(number))).toString());
    QSet<QString> listed;
    for (int row = 0; row < model->rowCount(); ++row)
        listed.insert(model->item(row, 0)->text());
    Listing listing;
    listing.rows = model->rowCount();
    listing.expected = expected.size();
    listing.doubled = listing.rows - listed.size();
    listing.missing = (expected - listed).size();
    listing.unexpected = (listed - expected).size();
    return listing;
}

bool measure(int count, double *completionMs)
{
    const bool twoNetworks = qEnvironmentVariableIntValue("LAB_SECOND_CAMERAS") > 0;
    const QString tag = QStringLiteral("discovery N=%1%2")
                            .arg(count)
                            .arg(twoNetworks ? QStringLiteral(" over two networks") : QString());
    note(QStringLiteral("%1: starting the simulators").arg(tag));
    QObject owner;
    const QList<LabCamera *> cameras = startCrowd(count, &owner);
    if (cameras.isEmpty())
        return false;

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    auto *model = qobject_cast<QStandardItemModel *>(
        window.findChild<QTableView *>(QStringLiteral("tableView"))->model());
    auto *status = window.findChild<QLabel *>(QStringLiteral("label_Search_State"));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton_Search_Device"));

    LoopProbe probe;
    const double idleStallMs = probe.startIdle();

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
    qint64 completedNs = 0;
    QTimer completion;
    completion.setTimerType(Qt::PreciseTimer);
    QObject::connect(&completion, &QTimer::timeout, [&] {
        if (completedNs == 0 && status->text() == QLatin1String("Search Completed"))
            completedNs = nowNs();
    });
    completion.start(completionPollMs);

    // The click returns after the probe went out; the window collects the
    // replies from the event loop afterwards. The probe starts afresh there:
    // the handler's pause before the probe is no stall while rows arrive.
    const qint64 pressNs = nowNs();
    QTest::mouseClick(button, Qt::LeftButton);
    probe.start();
    searchSocket = findSearchSocket();
    memory = socketMemory(searchSocket);
    const bool completed = QTest::qWaitFor([&] { return completedNs != 0; }, searchTimeoutMs);
    probe.stop();
    completion.stop();
    if (!completed) {
        note(tag + QStringLiteral(": the search did not complete"));
        return false;
    }
    *completionMs = msBetween(pressNs, completedNs);

    Replies replies;
    if (!tallyReplies(cameras, &replies)) {
        note(tag + QStringLiteral(": a simulator logged no burst"));
        return false;
    }
    const Listing listing = compareListing(model, count);
    const int rows = listing.rows;
    const int sent = replies.sent;

    const double spanMs = firstRowNs ? msBetween(firstRowNs, lastRowNs) : 0;
    // The gap that spans the arrival of the first row counts too: the window
    // was frozen from the tick before it.
    const double stallMs = firstRowNs ? probe.longestGapMs(firstRowNs, lastRowNs) : 0;

    note(QStringLiteral("%1: %2 rows, %3 replies sent (%4 failed), %5 doubled, %6 missing, "
                        "%7 unexpected; receive buffer granted %8 KiB, kernel drops %9")
             .arg(tag)
             .arg(rows)
             .arg(sent)
             .arg(replies.failed)
             .arg(listing.doubled)
             .arg(listing.missing)
             .arg(listing.unexpected)
             .arg(memory.receiveBuffer / kib)
             .arg(memory.drops));

    printRow({ tag + QStringLiteral(": rows listed / replies sent"), QString::number(rows),
        QString::number(sent), double(rows) / sent, QStringLiteral("1.0, none lost or doubled"),
        listing.exact() && rows == sent });
    printRow({ tag
            + QStringLiteral(": replies dropped by the kernel / sent (SO_RCVBUF granted %1 KiB)")
                  .arg(memory.receiveBuffer / kib),
        QString::number(memory.drops), QString::number(sent), double(memory.drops) / sent,
        QStringLiteral("0"), memory.drops == 0 });
    printRow({ tag + QStringLiteral(": first to last row, ms / simulator's send time"),
        number(spanMs), number(replies.burstMs, 0),
        replies.burstMs > 0 ? spanMs / replies.burstMs : qInf(), QString(), false });
    printRow({ tag + QStringLiteral(": longest loop stall while rows arrive, ms / idle"),
        number(stallMs), number(idleStallMs), stallMs / idleStallMs, QString(), false });
    printRow({ tag + QStringLiteral(": press to \"Search Completed\", ms / pause + window"),
        number(*completionMs), number(designedSearchMs, 0), *completionMs / designedSearchMs,
        QString(), false });
    return true;
}

CompletionTimes readTimes(const QString &path)
{
    CompletionTimes times;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return times;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() == 2)
            times.insert(fields.at(0).toInt(), fields.at(1).toDouble());
    }
    return times;
}

bool writeTimes(const QString &path, const CompletionTimes &times)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    for (auto time = times.cbegin(); time != times.cend(); ++time)
        file.write(QByteArray::number(time.key()) + ' ' + QByteArray::number(time.value()) + '\n');
    return true;
}

void compareTimes(const CompletionTimes &times, const CompletionTimes &others)
{
    for (auto time = times.cbegin(); time != times.cend(); ++time) {
        if (!others.contains(time.key())) {
            note(QStringLiteral("discovery N=%1: no time of the other lab to compare with")
                     .arg(time.key()));
            continue;
        }
        const double other = others.value(time.key());
        const double ratio = time.value() / other;
        constexpr double ratioTarget = 1.02;
        printRow({ QStringLiteral("discovery N=%1: press to \"Search Completed\", ms, "
                                  "two networks / one network")
                       .arg(time.key()),
            number(time.value()), number(other), ratio, QStringLiteral("≤ %1").arg(ratioTarget),
            ratio <= ratioTarget });
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QList<int> counts;
    QString savePath;
    QString comparePath;
    const QStringList arguments = application.arguments().mid(1);
    for (int n = 0; n < arguments.size(); ++n) {
        if (arguments.at(n) == QLatin1String("--save-times") && n + 1 < arguments.size())
            savePath = arguments.at(++n);
        else if (arguments.at(n) == QLatin1String("--compare-times") && n + 1 < arguments.size())
            comparePath = arguments.at(++n);
        else
            counts.append(arguments.at(n).toInt());
    }
    if (counts.isEmpty())
        counts = { 100, 1000, 5000 };
    bool allMeasured = true;
    CompletionTimes times;
    for (int count : counts) {
        double completionMs = 0;
        const bool measured = measure(count, &completionMs);
        if (measured)
            times.insert(count, completionMs);
        allMeasured = measured && allMeasured;
    }
    if (!savePath.isEmpty() && !writeTimes(savePath, times)) {
        note(QStringLiteral("cannot write %1").arg(savePath));
        return 1;
    }
    if (!comparePath.isEmpty())
        compareTimes(times, readTimes(comparePath));
    return allMeasured ? 0 : 1;
}
