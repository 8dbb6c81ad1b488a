#ifndef CAMERARESULT_H
#define CAMERARESULT_H

#include <QString>

// How one camera of a run ended, as the summary and the final JSON object
// tell it.
struct CameraResult
{
    enum class Outcome {
        Succeeded, // the final report came after the last byte, or the camera came back on
                   // the version its image installs
        Sent, // the command went to the camera's broker
        Failed,
        Interrupted, // Ctrl-C, in the phase the message names
        Skipped, // left alone on purpose
        NotStarted, // held back by a failed canary or too many failures
        Missing, // expected, but it did not answer the search
    };

    QString ip;
    Outcome outcome = Outcome::Failed;
    QString message;
    double seconds = 0;
    // The camera itself showed that the update took: it came back on the
    // new version.
    bool verified = false;
    // What the search knew of the camera: empty when it did not find it. A
    // later retry knows the camera by its MAC, whatever its address then.
    QString mac = QString();
    QString type = QString();

    // The word a script reads: "succeeded", "sent", "failed", ...
    static QString OutcomeName(Outcome outcome);
    // False for a word that names no outcome.
    static bool OutcomeFromName(const QString &name, Outcome *outcome);
    // Whether the run failed for this camera: anything but done or skipped.
    bool CountsAsFailure() const;
};

#endif // CAMERARESULT_H
