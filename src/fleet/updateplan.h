#ifndef UPDATEPLAN_H
#define UPDATEPLAN_H

#include "camerarecord.h"
#include "cameraresult.h"
#include "selection.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// Which cameras an update or a command touches, and in which order: only
// those of the type asked for, none already on the firmware to skip, none at
// an address that is not a camera's or that several cameras claim, and the
// canaries first. An image built for one model can ruin another, so however
// the cameras are named (all, by address, or retried), one of another type
// than the one asked for is refused, and cameras of several types are
// refused unless the operator says which, or that any will do.
class UpdatePlan
{
public:
    // listed: the addresses given or retried, empty with --all. found: what
    // the search found, empty when none ran. False, with Refusal(), when the
    // update must not go ahead as asked.
    bool Make(
        const Selection &options, const QStringList &listed, const QList<CameraRecord> &found);
    // The same, for cameras known by more than an address: one listed with a
    // MAC that names it alone is that camera wherever the search finds it,
    // and missing if it does not; one with a MAC shared or a placeholder is
    // the camera of that MAC at its address, and missing if none is there.
    bool Make(const Selection &options, const QList<CameraRecord> &listed,
        const QList<CameraRecord> &found);
    // Before Make(): the cameras of another file the run read, such as the
    // expected ones, whose MACs given at several addresses name no camera.
    void ReadAlso(const QList<CameraRecord> &cameras);
    // Whether mac names one camera of this run alone: a well-formed
    // address of one interface that no list the run knows (the search, the
    // files, the cameras named) gives at more than one address. Only such a
    // camera may be known at an address other than its own.
    bool MacIdentifies(const QString &mac) const;
    // Cameras named by their addresses alone.
    static QList<CameraRecord> AtAddresses(const QStringList &addresses);
    QString Refusal() const { return refusal; }

    // The cameras to update or command, in order; the first Canaries() of
    // them go first, the others only if every one of those succeeded.
    QStringList Targets() const { return targets; }
    int Canaries() const { return canaries; }
    QList<CameraResult> Skipped() const { return skipped; }
    // The addresses that are sent nothing, each failed with its reason.
    QList<CameraResult> Refused() const { return refused; }
    // Cameras that should have answered the search and did not, each a
    // failure of its own; with a type asked for, only those of that type
    // (or of none the file gives) were expected.
    void AddMissing(const QList<CameraRecord> &expected);
    // The type the image is for: the one asked for, or the one type of the
    // cameras found to update; empty when any will do or none is known.
    QString TypeRule() const;
    // The type an earlier run's image was for holds for its retry or its
    // resume, unless the operator names a type or any: what the operator is
    // told of it then, or empty.
    static QString KeepEarlierType(Selection *selection, const QString &earlierType);
    QList<CameraResult> Missing() const { return missing; }
    // The results known before anything is sent: refused, missing, skipped.
    QList<CameraResult> Untouched() const;
    // What the search found of a target; null for an address that did not
    // answer it.
    const CameraRecord *Found(const QString &ip) const;
    // Every address the run has a result for, targets first.
    QStringList Everyone() const;
    // How many targets of each type the search found, and how many it did
    // not find, whose type is unknown.
    const QMap<QString, int> &TargetTypes() const { return typeCounts; }
    int UnknownTypes() const { return unknownTypes; }
    // The version whose cameras are skipped; empty when none is.
    QString SkippedVersion() const { return skippedVersion; }
    // "3 IPC-D240, 1 IPC-B410": most common first.
    static QString TypeCounts(const QMap<QString, int> &counts);

private:
    bool Refuse(const QString &reason);
    void AddTarget(const QString &ip, const QList<CameraRecord> &claimants);
    static QString MixedTypes(const QMap<QString, int> &counts);

    Selection selection;
    QStringList targets;
    int canaries = 0;
    QList<CameraResult> skipped;
    QList<CameraResult> refused;
    QList<CameraResult> missing;
    QHash<QString, CameraRecord> foundTargets;
    // The type of each target the search found.
    QMap<QString, int> typeCounts;
    int unknownTypes = 0;
    QString skippedVersion;
    QString refusal;
    // Upper case.
    QSet<QString> sharedMacs;
};

#endif // UPDATEPLAN_H
