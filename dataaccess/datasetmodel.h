#pragma once

#include "dataaccess/mydataset.h"

#include <QAbstractTableModel>
#include <QPointer>

namespace quillon {

// A table model over a dataset for the grids: one row per record in the dataset's current
// order (plus a new record being inserted), one column per field. Reads never move the
// dataset's cursor; an edit moves to the row, puts the dataset into edit state and sets
// the field through the dataset's rules (the record is posted when the cursor leaves it,
// or by the dataset's Post). The model follows the dataset's events; while the dataset's
// controls are disabled it keeps its last picture and resets once they are enabled.
class DataSetModel : public QAbstractTableModel, public DataSetObserver
{
    Q_OBJECT

public:
    explicit DataSetModel(QObject *parent = nullptr);
    explicit DataSetModel(TMyDataSet *dataSet, QObject *parent = nullptr);
    ~DataSetModel() override;

    TMyDataSet *dataSet() const { return m_dataSet; }
    void setDataSet(TMyDataSet *dataSet);
    TField *field(int column) const;
    TMyDataSet *dataSet(const QModelIndex &) const { return m_dataSet; }

    // The row of the dataset's current record, -1 when none.
    int currentRow() const;
    // Moves the dataset's cursor to a row (posting a pending edit first).
    void setCurrentRow(int row);

    // The last error of setData (a value the field refused); empty after a good edit.
    QString lastError() const { return m_lastError; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Orders the dataset by the column's field (its IndexFieldNames), as a header click asks.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

signals:
    // The dataset's cursor moved to another row (-1 for none).
    void currentRowChanged(int row);
    // The dataset's state changed (browse, edit, insert).
    void stateChanged();

protected:
    void dataSetEvent(TMyDataSet *dataSet, DataEvent event, int info) override;

private:
    void reset();

    QPointer<TMyDataSet> m_dataSet;
    int m_rows = 0;
    int m_columns = 0;
    QString m_lastError;
};

} // namespace quillon
