#ifndef ORDELCTLRUN_H
#define ORDELCTLRUN_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class LabCamera;
class QProcess;
class QSocketNotifier;

// Runs the command-line program as a child process from a lab test, in the
// tool's namespace of the virtual LAN, and reads back what it printed. ORDELCTL
// names the program. With --json every line of standard output must be a
// JSON object; one that is not fails the test.
class OrdelctlRun : public QObject
{
    Q_OBJECT
public:
    // Room for a whole update on a loaded machine: 1 s broker wait, 5 s
    // settle, 7 s of connect attempts, 0.5 s a chunk, the report.
    static constexpr int defaultTimeoutMs = 90000;

    explicit OrdelctlRun(const QStringList &arguments, QObject *parent = nullptr);
    ~OrdelctlRun() override;

    // Runs the program with at most limit open files, soft and hard, so that
    // it cannot raise its own limit; before start().
    void setFileLimit(int limit);
    // Runs the program as another user, with that user's group and no other;
    // before start().
    void setUser(const QString &name);

    // Starts the program and returns at once; false when it cannot be run.
    bool start();
    // Runs the program to its end: start(), then waitForEnd().
    bool run(int timeoutMs = defaultTimeoutMs);
    // Processes events until the program has ended; false, after killing it,
    // when it did not end within timeoutMs, and false, failing the test, when
    // a sanitizer reported on it.
    bool waitForEnd(int timeoutMs = defaultTimeoutMs);
    // Processes events until condition holds; false when it did not within
    // timeoutMs or the program ended first.
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = defaultTimeoutMs);
    // Ctrl-C, as a terminal sends it.
    void interrupt();
    // Before start(): standard output to the file at path, not read back.
    void setOutputFile(const QString &path);
    // Before start(): standard output to a pipe that nobody reads for the
    // first ms, as a pager not yet scrolled holds it; read as usual after.
    void holdOutput(int ms);
    // Any other signal, such as the SIGHUP of a dropped SSH session.
    void sendSignal(int signalNumber);

    qint64 processId() const;
    // The exit code; -1 when the program crashed or has not ended.
    int exitCode() const;
    double seconds() const { return elapsedMs / 1000.0; }
    QByteArray out() const { return standardOutput; }
    QString errorText() const { return QString::fromUtf8(standardError); }

    // Standard output's lines, each parsed as a JSON object.
    QList<QJsonObject> lines() const;
    // The final objects (those with "result"), in the order printed.
    QList<QJsonObject> finals() const;
    // The final object of the camera at ip; empty when there is none or more
    // than one.
    QJsonObject finalOf(const QString &ip) const;
    // Every final object of the camera at ip.
    QList<QJsonObject> finalsOf(const QString &ip) const;
    // The phases the camera at ip went through, in order, from its events.
    QStringList phasesOf(const QString &ip) const;

    // The update request a camera must have been sent for image under
    // fileName: the tool's address on the camera's own network.
    static QString requestFor(
        const LabCamera *camera, const QString &fileName, const QByteArray &image);
    // Whether the camera saw nothing of the tool: no discovery probe, no
    // connection to its broker, no MQTT message, no update request, no image
    // connection.
    static bool untouched(const LabCamera *camera);
    // Whether the camera saw the search's probe and nothing else of the tool.
    static bool onlySearched(const LabCamera *camera);
    // The records of RFC 4180 text, each a list of its fields.
    static QList<QStringList> csvRecords(const QByteArray &text);

private:
    bool openHeldPipe();
    void readHeldPipe();

    QStringList arguments;
    int fileLimit = 0;
    QString user;
    QProcess *process = nullptr;
    QString outputFile;
    int holdMs = 0;
    int heldPipe = -1;
    QSocketNotifier *heldReader = nullptr;
    QByteArray standardOutput;
    QByteArray standardError;
    qint64 startedMs = 0;
    qint64 elapsedMs = 0;
};

#endif // ORDELCTLRUN_H
