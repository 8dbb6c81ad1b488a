#ifndef COLUMNFITTER_H
#define COLUMNFITTER_H

#include <QObject>
#include <QVector>

class QModelIndex;
class QTableView;

// Keeps every header and cell of a table view readable. A column keeps the
// header's default section size until its header or one of its cells needs
// more, and then grows just that far; the view scrolls sideways once the
// columns no longer fit. Emptying the table gives the columns back their
// starting widths. Set the view's model first.
class ColumnFitter : public QObject
{
    Q_OBJECT
public:
    explicit ColumnFitter(QTableView *view);

private slots:
    void FitRows(const QModelIndex &parent, int first, int last);
    void RestartIfEmpty();

private:
    void FitHeaders();
    void Widen(int column, int width);

    QTableView *view;
    // Cameras of one kind repeat most fields; a text just measured in a
    // column needs no second look.
    QVector<QString> lastMeasured;
};

#endif // COLUMNFITTER_H
