#ifndef PLANQUESTION_H
#define PLANQUESTION_H

#include <QString>

class ImageSnapshot;
class UpdatePlan;

// What a plan will do, in words, for the operator's question before it does:
// the cameras and their types, the image and its digest, and what is skipped,
// refused, missing or held back behind canaries.
class PlanQuestion
{
public:
    static QString ForUpdate(const UpdatePlan &plan, const ImageSnapshot &image);
    // "Restart 3 cameras?", "Shut down 1 camera; not sent to ...?".
    static QString ForCommand(const QString &verb, const UpdatePlan &plan);
    // How a check ends: how many cameras the run would touch, and, when it
    // would fail some without sending them anything, which and why.
    static QString Verdict(const UpdatePlan &plan);

private:
    // "; not sent to 198.51.100.20: 2 cameras claim this address: ...", for
    // each refused address; empty without any.
    static QString Refusals(const UpdatePlan &plan);
};

#endif // PLANQUESTION_H
