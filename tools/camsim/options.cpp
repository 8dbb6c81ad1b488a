#include "options.h"

#include "optionvalues.h"
#include "protocol.h"

namespace {

constexpr int maxGeneratedCameras = 100000;
// Generated cameras take their IPv4 address in 10.0.0.0/8 from their number.
constexpr int maxGeneratedNumber = 0xFFFFFF;
constexpr int maxFloodDatagrams = 10000000;
constexpr int maxRestartMs = 600000;

} // namespace

QString Options::usage()
{
    return QStringLiteral(
        "usage: camsim --bind ADDR [--log FILE] [--broker] [--http] [--update]\n"
        "              [--update-fault F[,F...]]... [--camera FIELDS]... [--generate N]\n"
        "              [--generate-from K] [--flood N] [--restart-ms MS]\n"
        "              [--installs VERSION]\n"
        "\n"
        "Plays cameras for the maintenance tool on IPv4 address ADDR.\n"
        "  --bind ADDR        the camera's address; MQTT, HTTP and update ports listen here\n"
        "  --log FILE         JSON lines, one event each (default: standard error)\n"
        "  --broker           run mosquitto on ADDR:%1 and record what the tool publishes\n"
        "  --http             answer HTTP on ADDR:%2\n"
        "  --update           take firmware images on ADDR:%3 (needs --broker)\n"
        "  --update-fault F   no-listener | listen-after=MS | drop-after=BYTES |\n"
        "                     slow=BYTES_PER_SEC | status-not-json | status-array |\n"
        "                     progress-number | error-report | status-flood=N |\n"
        "                     close-when-complete | silent | stale-completion |\n"
        "                     flash-time=MS | back-on-old | never-back |\n"
        "                     up-after=MS | back-at=ADDR\n"
        "  --camera FIELDS    one camera, key=value pairs separated by commas, values\n"
        "                     percent-encoded: ip, mac (aa:bb:cc:dd:ee:ff), sn, name, type,\n"
        "                     os, fw, delay (ms after the probe), fault (none | bad-crc |\n"
        "                     crc-low-first | bad-length-byte | short | long | bad-id |\n"
        "                     duplicate)\n"
        "  --generate N       N more cameras with numbered identities, answering in one burst\n"
        "  --generate-from K  number them from K on (default 1), so that simulators on\n"
        "                     several networks play different cameras\n"
        "  --flood N          N random datagrams to the prober after the undelayed replies,\n"
        "                     some shaped like a reply but with a wrong checksum\n"
        "  --restart-ms MS    after its final success report the updated camera restarts:\n"
        "                     its discovery replies stop for MS ms (default 0), then it\n"
        "                     answers again on its new firmware version\n"
        "  --installs VERSION the version an update installs; without it the last dotted\n"
        "                     number in the request's file name (camera-fw-2.9.0.bin\n"
        "                     installs 2.9.0), and without one the firmware stays as it was\n"
        "Without --camera and --generate one camera with default fields answers.\n"
        "The updated camera is the first --camera at ADDR; the others keep answering\n"
        "while it restarts.\n"
        "Prints \"ready\" once everything listens; SIGTERM or SIGINT ends it.\n")
        .arg(Protocol::brokerPort)
        .arg(Protocol::webPagePort)
        .arg(Protocol::imagePort);
}

bool Options::parse(const QByteArrayList &arguments, QString *error)
{
    for (int n = 0; n < arguments.size(); ++n) {
        QByteArray name = arguments.at(n);
        QByteArray value;
        const OptionValues::Item item = OptionValues::splitItem(name);
        if (name.startsWith("--") && item.hasValue) {
            name = item.name;
            value = item.value;
        } else if (needsValue(name)) {
            if (n + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value").arg(QString::fromUtf8(name));
                return false;
            }
            value = arguments.at(++n);
        }
        if (!takeOption(name, value, error))
            return false;
    }
    return help || (checkCombination(error) && resolveCameras(error));
}

bool Options::needsValue(const QByteArray &name)
{
    return name == "--bind" || name == "--log" || name == "--update-fault" || name == "--camera"
        || name == "--generate" || name == "--generate-from" || name == "--flood"
        || name == "--restart-ms" || name == "--installs";
}

bool Options::takeOption(const QByteArray &name, const QByteArray &value, QString *error)
{
    bool ok = true;
    if (name == "--bind") {
        ok = bindAddress.setAddress(QString::fromLatin1(value))
            && bindAddress.protocol() == QAbstractSocket::IPv4Protocol;
    } else if (name == "--log") {
        logPath = QString::fromLocal8Bit(value);
    } else if (name == "--broker") {
        broker = true;
    } else if (name == "--http") {
        http = true;
    } else if (name == "--update") {
        update = true;
    } else if (name == "--update-fault") {
        return updateFaults.add(value, error);
    } else if (name == "--camera") {
        cameraFields.append(value);
    } else if (name == "--generate") {
        ok = OptionValues::readNumber(value, 0, maxGeneratedCameras, &generatedCount);
    } else if (name == "--generate-from") {
        ok = OptionValues::readNumber(value, 1, maxGeneratedNumber, &generatedFirst);
    } else if (name == "--flood") {
        ok = OptionValues::readNumber(value, 0, maxFloodDatagrams, &floodCount);
    } else if (name == "--restart-ms") {
        ok = OptionValues::readNumber(value, 0, maxRestartMs, &restartMs);
    } else if (name == "--installs") {
        installs = value;
        ok = !value.isEmpty();
    } else if (name == "--help" || name == "-h") {
        help = true;
    } else {
        *error = QStringLiteral("unknown argument: %1").arg(QString::fromUtf8(name));
        return false;
    }
    if (!ok)
        *error = QStringLiteral("bad value for %1: %2")
                     .arg(QString::fromUtf8(name), QString::fromUtf8(value));
    return ok;
}

bool Options::checkCombination(QString *error) const
{
    if (bindAddress.isNull()) {
        *error = QStringLiteral("--bind ADDR (an IPv4 address) is required");
        return false;
    }
    if (update && !broker) {
        *error = QStringLiteral("--update needs --broker");
        return false;
    }
    if (generatedFirst - 1 + generatedCount > maxGeneratedNumber) {
        *error = QStringLiteral("--generate-from with --generate runs past camera number %1")
                     .arg(maxGeneratedNumber);
        return false;
    }
    return true;
}

bool Options::resolveCameras(QString *error)
{
    if (cameraFields.isEmpty() && generatedCount == 0)
        cameraFields.append(QByteArray());
    for (int index = 0; index < cameraFields.size(); ++index) {
        CameraIdentity camera;
        if (!CameraIdentity::fromFields(cameraFields.at(index), index, bindAddress, &camera, error))
            return false;
        cameras.append(camera);
    }
    return true;
}

int Options::updatedCameraIndex() const
{
    const quint32 address = bindAddress.toIPv4Address();
    for (int index = 0; index < cameras.size(); ++index) {
        if (cameras.at(index).ipv4 == address)
            return index;
    }
    return -1;
}
