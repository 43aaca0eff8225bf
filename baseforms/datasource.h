#pragma once

#include "dataaccess/packet/datapacket.h"

#include <QObject>
#include <QPointer>
#include <QVariant>
#include <memory>

class QAbstractItemModel;

namespace quillon {
class TMyDataSet;
}

namespace tessera {

namespace detail {
// What a data source needs from what it shows: fields, rows, values, current row,
// bookmarks. One implementation wraps a client dataset, one any item model.
class DataBackend
{
public:
    virtual ~DataBackend();
    virtual QAbstractItemModel *model() const = 0;
    virtual QList<quillon::FieldDef> fields() const = 0;
    virtual bool isActive() const = 0;
    virtual int recordCount() const = 0;
    virtual QVariant value(int row, int field) const = 0;
    virtual bool setValue(int row, int field, const QVariant &value) = 0;
    virtual int currentRow() const = 0;
    virtual void setCurrentRow(int row) = 0;
    virtual QVariant bookmark(int row) const = 0;
    virtual int rowOfBookmark(const QVariant &bookmark) const = 0;
    // Puts the current record into edit state when the backend has states.
    virtual void edit() {}
    virtual bool isEditing() const { return false; }
    virtual bool controlsDisabled() const { return false; }
};
} // namespace detail

// Connects data-aware controls to what they show: a client dataset, or any item model
// with field definitions (for data that does not come from the server). Controls read
// and write through it and follow its current row.
class TDataSource : public QObject
{
    Q_OBJECT

public:
    explicit TDataSource(QObject *parent = nullptr);
    ~TDataSource() override;

    // Shows a client dataset (not owned; nullptr detaches).
    void setDataSet(quillon::TMyDataSet *dataSet);
    quillon::TMyDataSet *DataSet() const;

    // Shows an item model: column i holds field i of `fields` (Qt::EditRole gives the raw
    // value). The model is not owned.
    void setModel(QAbstractItemModel *model, const QList<quillon::FieldDef> &fields);

    // True when something is attached (a dataset or a model), open or not.
    bool hasData() const { return m_backend != nullptr; }
    QAbstractItemModel *model() const;
    QList<quillon::FieldDef> fields() const;
    int fieldIndex(const QString &name) const;
    bool isActive() const;
    int recordCount() const;
    QVariant value(int row, int field) const;
    bool setValue(int row, int field, const QVariant &value);
    int currentRow() const;
    void setCurrentRow(int row);
    QVariant bookmark(int row) const;
    int rowOfBookmark(const QVariant &bookmark) const;
    void edit();
    bool controlsDisabled() const;

    // Backends report here.
    void notifyCurrentRowChanged(int row) { emit currentRowChanged(row); }
    void notifyLayoutChanged() { emit layoutChanged(); }
    void notifyStateChanged() { emit stateChanged(); }

signals:
    void currentRowChanged(int row);
    // Fields or the whole content changed (open, close, new query).
    void layoutChanged();
    void stateChanged();

private:
    void setBackend(std::unique_ptr<detail::DataBackend> backend);
    std::unique_ptr<detail::DataBackend> m_backend;
    QPointer<QObject> m_dataSet; // the quillon::TMyDataSet shown
};

bool isNumericField(quillon::FieldType type);
// Integer or float: the types whose grid columns get footer sums.
bool isSummableField(quillon::FieldType type);

} // namespace tessera
