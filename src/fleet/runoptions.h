#ifndef RUNOPTIONS_H
#define RUNOPTIONS_H

#include "descriptorbudget.h"
#include "fleetsearch.h"

#include <QString>
#include <QStringList>

#include <optional>

// A run's options as ordelctl spells them, each number's limits and default,
// and the rules between them: the command line reads them by these, the
// fleet window offers them by these, and a run records its options in this
// form so that a resume of either reads them back as ordelctl's own.
class RunOptions
{
public:
    static constexpr char optionImage[] = "image";
    static constexpr char optionParallel[] = "parallel";
    static constexpr char optionReportTimeout[] = "report-timeout";
    static constexpr char optionCanary[] = "canary";
    static constexpr char optionMaxFailures[] = "max-failures";
    static constexpr char optionFwVersion[] = "fw-version";
    static constexpr char optionVerifyTimeout[] = "verify-timeout";
    static constexpr char optionSkipFw[] = "skip-fw";
    static constexpr char optionType[] = "type";
    static constexpr char optionAnyType[] = "any-type";
    static constexpr char optionTimeout[] = "timeout";

    struct Number
    {
        const char *name;
        int lowest;
        int highest;
        int byDefault;
    };
    // A run of many cameras, or one that waits a day for a camera, is still
    // one an operator may ask for; more than that is a typing error.
    static constexpr int largestCameraCount = 100000;
    static constexpr int longestWaitS = 86400;
    static constexpr int longestSearchMs = 600000;
    // Canary and max failures are left out for none; a window that offers
    // them as numbers shows none as this.
    static constexpr int none = 0;
    static constexpr Number parallelLimits { optionParallel, 1, DescriptorBudget::mostAtOnce, 16 };
    static constexpr Number canaryLimits { optionCanary, 1, largestCameraCount, none };
    static constexpr Number maxFailuresLimits { optionMaxFailures, 1, largestCameraCount, none };
    // Flashing takes minutes: the final report, and the camera's return on
    // the new version after its restart.
    static constexpr Number reportTimeoutLimits { optionReportTimeout, 1, longestWaitS, 600 };
    static constexpr Number verifyTimeoutLimits { optionVerifyTimeout, 1, longestWaitS, 300 };
    static constexpr Number searchTimeoutLimits { optionTimeout, 1, longestSearchMs,
        FleetSearch::defaultWindowMs };
    // Every number a run takes, as the collection refuses them too.
    static constexpr Number numbers[] = { parallelLimits, canaryLimits, maxFailuresLimits,
        reportTimeoutLimits, verifyTimeoutLimits, searchTimeoutLimits };

    // text as a number within the limits, or false with the refusal in error.
    static bool TakeNumber(const Number &limits, const QString &text, int *value, QString *error);
    // The version an image installs is the one to skip: a camera already on
    // it has nothing to gain. False when skipFw names another version.
    static bool SkipInstalledVersion(const QString &fwVersion, std::optional<QString> *skipFw);

    // An update's arguments as ordelctl takes them, without the program's
    // name: what a front end records of its run. The spelling and order are
    // those runs have been recorded in all along, which resume still reads.
    QStringList Arguments() const;

    QString imagePath;
    int parallel = parallelLimits.byDefault;
    int canary = none;
    int maxFailures = none;
    // Empty for an update without verification.
    QString fwVersion;
    std::optional<QString> type;
    bool anyType = false;
    int reportTimeoutS = reportTimeoutLimits.byDefault;
    int verifyTimeoutS = verifyTimeoutLimits.byDefault;
    QStringList addresses;
};

#endif // RUNOPTIONS_H
