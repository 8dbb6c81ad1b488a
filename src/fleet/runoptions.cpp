#include "runoptions.h"

#include <QFileInfo>

bool RunOptions::TakeNumber(const Number &limits, const QString &text, int *value, QString *error)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok || number < limits.lowest || number > limits.highest) {
        *error = QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                     .arg(QLatin1String(limits.name))
                     .arg(limits.lowest)
                     .arg(limits.highest)
                     .arg(text);
        return false;
    }
    *value = number;
    return true;
}

bool RunOptions::SkipInstalledVersion(const QString &fwVersion, std::optional<QString> *skipFw)
{
    if (fwVersion.isEmpty())
        return true;
    if (*skipFw && **skipFw != fwVersion)
        return false;
    *skipFw = fwVersion;
    return true;
}

QStringList RunOptions::Arguments() const
{
    const auto option = [](const char *name) { return QStringLiteral("--") + QLatin1String(name); };
    QStringList arguments { QStringLiteral("update"), option(optionImage),
        QFileInfo(imagePath).absoluteFilePath(), option(optionParallel),
        QString::number(parallel) };
    if (canary != none)
        arguments << option(optionCanary) << QString::number(canary);
    if (maxFailures != none)
        arguments << option(optionMaxFailures) << QString::number(maxFailures);
    if (!fwVersion.isEmpty())
        arguments << option(optionFwVersion) << fwVersion;
    if (type)
        arguments << option(optionType) << *type;
    if (anyType)
        arguments << option(optionAnyType);
    if (reportTimeoutS != reportTimeoutLimits.byDefault)
        arguments << option(optionReportTimeout) << QString::number(reportTimeoutS);
    if (!fwVersion.isEmpty() && verifyTimeoutS != verifyTimeoutLimits.byDefault)
        arguments << option(optionVerifyTimeout) << QString::number(verifyTimeoutS);
    // A target that began with a dash would read as an option; an address
    // never does, and none other is planned.
    return arguments + addresses;
}
