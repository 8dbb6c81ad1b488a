#ifndef SEARCHLISTING_H
#define SEARCHLISTING_H

#include "camerarecord.h"
#include "jsonline.h"
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
    // The cameras expected, of that many, that did not answer: named on
    // standard error. As JSON also on standard output, each as the earlier
    // search listed it and "missing": true, where a script reads the others;
    // the other forms' readers take every line for a camera that answered.
    void Missing(const QList<CameraRecord> &cameras, int expected) const;

    // The whole listing as --csv and --json write it to a file: what
    // --expect reads back.
    static QByteArray Csv(const QList<CameraRecord> &cameras);
    static QByteArray Json(const QList<CameraRecord> &cameras);

private:
    static JsonLine Line(const CameraRecord &camera);
    static QString Table(const QList<CameraRecord> &cameras, int width);

    OutputForm form;
};

#endif // SEARCHLISTING_H
