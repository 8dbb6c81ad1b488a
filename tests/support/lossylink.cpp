#include "lossylink.h"

#include "protocol.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

namespace {

constexpr int nftTimeoutMs = 10000;

// Lab tests run as root from ctest, whose PATH may lack the system folders.
QString program(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(
               name, { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin") })
                           : found;
}

// The camera answers from the discovery port, so that port as the source
// picks out its replies. The tool's own broadcast probe comes back to it from
// that port as well, from a local address: it is no reply and passes.
QByteArray ruleset(const QString &table, int percent)
{
    return QStringLiteral("table inet %1 {\n"
                          "    counter replies {}\n"
                          "    counter dropped {}\n"
                          "    chain input {\n"
                          "        type filter hook input priority filter; policy accept;\n"
                          "        udp sport %2 fib saddr type != local counter name \"replies\""
                          " numgen random mod 100 < %3 counter name \"dropped\" drop\n"
                          "    }\n"
                          "}\n")
        .arg(table)
        .arg(Protocol::discoveryPort)
        .arg(percent)
        .toUtf8();
}

} // namespace

LossyLink::LossyLink(int percent)
{
    static int made = 0;
    table = QStringLiteral("ordel_lossy_link_%1_%2")
                .arg(QCoreApplication::applicationPid())
                .arg(++made);
    error = refusal();
    if (error.isEmpty() && (percent < 0 || percent > 100))
        error = QStringLiteral("a lossy link drops 0 to 100 %, not %1").arg(percent);
    if (!error.isEmpty()) {
        qCritical().noquote() << "LossyLink: refused:" << error;
        return;
    }
    QByteArray output;
    lossy = runNft(
        { QStringLiteral("-f"), QStringLiteral("-") }, ruleset(table, percent), &output, &error);
}

LossyLink::~LossyLink()
{
    if (!lossy)
        return;
    QByteArray output;
    QString failure;
    if (!runNft(
            { QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"), table },
            {}, &output, &failure))
        qWarning().noquote() << "LossyLink: the link stays lossy until the lab ends:" << failure;
}

int LossyLink::replies() const
{
    return counter(QStringLiteral("replies"));
}

int LossyLink::dropped() const
{
    return counter(QStringLiteral("dropped"));
}

QString LossyLink::refusal()
{
    const QString lab = qEnvironmentVariable("LAB_NAME");
    if (lab.isEmpty())
        return QStringLiteral("LAB_NAME is not set: run through tools/lab/lab.sh run, never in "
                              "the machine's own network namespace");
    QProcess identify;
    identify.start(program(QStringLiteral("ip")),
        { QStringLiteral("netns"), QStringLiteral("identify"),
            QString::number(QCoreApplication::applicationPid()) });
    if (!identify.waitForFinished(nftTimeoutMs) || identify.exitCode() != 0)
        return QStringLiteral("cannot tell this process's network namespace: ")
            + QString::fromLocal8Bit(identify.readAllStandardError()) + identify.errorString();
    const QString namespaceName
        = QString::fromLocal8Bit(identify.readAllStandardOutput()).trimmed();
    const QString toolNamespace = lab + QStringLiteral("-tool");
    if (namespaceName != toolNamespace)
        return QStringLiteral("this process runs in the network namespace \"%1\", not in the "
                              "lab's tool namespace \"%2\"")
            .arg(namespaceName, toolNamespace);
    return QString();
}

int LossyLink::counter(const QString &name) const
{
    QByteArray output;
    QString failure;
    if (!lossy
        || !runNft({ QStringLiteral("-j"), QStringLiteral("list"), QStringLiteral("counter"),
                       QStringLiteral("inet"), table, name },
            {}, &output, &failure))
        return -1;
    for (const QJsonValue &item :
        QJsonDocument::fromJson(output).object().value(QLatin1String("nftables")).toArray()) {
        const QJsonObject found = item.toObject().value(QLatin1String("counter")).toObject();
        if (found.value(QLatin1String("name")).toString() == name)
            return found.value(QLatin1String("packets")).toInt(-1);
    }
    return -1;
}

bool LossyLink::runNft(
    const QStringList &arguments, const QByteArray &input, QByteArray *output, QString *failure)
{
    const QString nft = program(QStringLiteral("nft"));
    if (nft.isEmpty()) {
        *failure = QStringLiteral("nft is missing: install nftables");
        return false;
    }
    QProcess process;
    process.start(nft, arguments);
    if (process.waitForStarted(nftTimeoutMs))
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(nftTimeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        *failure = QStringLiteral("nft %1 failed: %2%3")
                       .arg(arguments.join(QLatin1Char(' ')),
                           QString::fromLocal8Bit(process.readAllStandardError()),
                           process.errorString());
        return false;
    }
    *output = process.readAllStandardOutput();
    return true;
}
