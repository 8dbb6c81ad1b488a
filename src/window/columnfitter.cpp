#include "columnfitter.h"

#include <QHeaderView>
#include <QTableView>

ColumnFitter::ColumnFitter(QTableView *view)
    : QObject(view)
    , view(view)
{
    const QAbstractItemModel *model = view->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &ColumnFitter::FitRows);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ColumnFitter::RestartIfEmpty);
    connect(model, &QAbstractItemModel::modelReset, this, &ColumnFitter::RestartIfEmpty);
    FitHeaders();
}

void ColumnFitter::FitRows(const QModelIndex &parent, int first, int last)
{
    const QAbstractItemModel *model = view->model();
    const int columns = model->columnCount(parent);
    lastMeasured.resize(columns);
    // The grid line is drawn inside the section, at the cell's expense.
    const int gridWidth = view->showGrid() ? 1 : 0;
    for (int row = first; row <= last; ++row) {
        for (int column = 0; column < columns; ++column) {
            const QModelIndex index = model->index(row, column, parent);
            const QString text = index.data().toString();
            if (text == lastMeasured.at(column))
                continue;
            lastMeasured[column] = text;
            Widen(column, view->sizeHintForIndex(index).width() + gridWidth);
        }
    }
}

void ColumnFitter::RestartIfEmpty()
{
    if (view->model()->rowCount() == 0)
        FitHeaders();
}

void ColumnFitter::FitHeaders()
{
    QHeaderView *header = view->horizontalHeader();
    lastMeasured.fill(QString());
    for (int column = 0; column < header->count(); ++column)
        header->resizeSection(
            column, qMax(header->defaultSectionSize(), header->sectionSizeHint(column)));
}

void ColumnFitter::Widen(int column, int width)
{
    if (width > view->columnWidth(column))
        view->setColumnWidth(column, width);
}
