#include "cameraresult.h"

namespace {

struct OutcomeWord
{
    CameraResult::Outcome outcome;
    const char *name;
};

const OutcomeWord outcomeWords[] = {
    { CameraResult::Outcome::Succeeded, "succeeded" },
    { CameraResult::Outcome::Sent, "sent" },
    { CameraResult::Outcome::Failed, "failed" },
    { CameraResult::Outcome::Interrupted, "interrupted" },
    { CameraResult::Outcome::Skipped, "skipped" },
    { CameraResult::Outcome::NotStarted, "not started" },
    { CameraResult::Outcome::Missing, "missing" },
};

} // namespace

QString CameraResult::OutcomeName(Outcome outcome)
{
    for (const OutcomeWord &word : outcomeWords) {
        if (word.outcome == outcome)
            return QLatin1String(word.name);
    }
    return QString();
}

bool CameraResult::OutcomeFromName(const QString &name, Outcome *outcome)
{
    for (const OutcomeWord &word : outcomeWords) {
        if (name == QLatin1String(word.name)) {
            *outcome = word.outcome;
            return true;
        }
    }
    return false;
}

bool CameraResult::CountsAsFailure() const
{
    return outcome == Outcome::Failed || outcome == Outcome::Interrupted
        || outcome == Outcome::NotStarted || outcome == Outcome::Missing;
}
