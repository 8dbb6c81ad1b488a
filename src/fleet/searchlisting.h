#ifndef SEARCHLISTING_H
#define SEARCHLISTING_H

#include "camerarecord.h"
#include "outputform.h"

#include <QList>

// The cameras a search found, on standard output in the form asked for: as
// data one line a camera while they answer, so that a script can start on
// the first, or as a table once the search has ended.
class SearchListing
{
public:
    explicit SearchListing(OutputForm form);

    // Before the first camera: the CSV header.
    void Begin() const;
    void Found(const CameraRecord &camera) const;
    void End(const QList<CameraRecord> &cameras) const;

private:
    OutputForm form;
};

#endif // SEARCHLISTING_H
