// Any payload on the update status topic through Form::topicMessageReceived,
// the slot MqttClient's messageReceived signal drives. One update window,
// never shown, takes every input: it only reaches the network once Start is
// confirmed, which never happens here.
#include "form.h"
#include "protocol.h"

#include <QApplication>
#include <QByteArray>
#include <QMetaObject>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

Form *form = nullptr;
const QString statusTopic = QString::fromLatin1(Protocol::updateStatusTopic);

// The slot logs every report's progress; at fuzzing speed that would be
// nearly all the work. Fatal messages still abort after the handler.
void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(dropMessages);
    // Qt keeps argc by reference and would also take out any argument it
    // knows, so it gets arguments of its own rather than libFuzzer's.
    static int argc = 1;
    static char name[] = "fuzz_status";
    static char *argv[] = { name, nullptr };
    new QApplication(argc, argv);
    form = new Form(
        QStringLiteral("198.51.100.11"), QStringLiteral("00:00:00:00:00:00"), QStringLiteral("SN"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char *>(data), static_cast<int>(size));
    // By name, as the private slot is reached through the signal; a renamed
    // slot must stop the fuzzer rather than let it test nothing.
    if (!QMetaObject::invokeMethod(form, "topicMessageReceived", Qt::DirectConnection,
            Q_ARG(QByteArray, message), Q_ARG(QString, statusTopic))) {
        std::fprintf(stderr, "fuzz_status: Form has no slot topicMessageReceived\n");
        std::abort();
    }
    return 0;
}
