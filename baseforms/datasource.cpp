#include "baseforms/datasource.h"

#include <QAbstractItemModel>
#include <QPersistentModelIndex>

#include "baseforms/ucommessage.h"
#include "dataaccess/datasetmodel.h"
#include "dataaccess/mydataset.h"

namespace tessera {

namespace detail {

DataBackend::~DataBackend() = default;

namespace {

class ModelBackend : public DataBackend
{
public:
    ModelBackend(TDataSource *source, QAbstractItemModel *model, QList<quillon::FieldDef> fields)
        : m_model(model)
        , m_fields(std::move(fields))
    {
        auto reset = [this, source] {
            m_current = m_model && m_model->rowCount() > 0 ? 0 : -1;
            source->notifyCurrentRowChanged(m_current);
        };
        QObject::connect(model, &QAbstractItemModel::modelReset, source, reset);
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, source, [this, source] {
            if (m_current >= m_model->rowCount()) {
                m_current = m_model->rowCount() - 1;
                source->notifyCurrentRowChanged(m_current);
            }
        });
        m_current = model->rowCount() > 0 ? 0 : -1;
    }

    QAbstractItemModel *model() const override { return m_model; }
    QList<quillon::FieldDef> fields() const override { return m_fields; }
    bool isActive() const override { return m_model != nullptr; }
    int recordCount() const override { return m_model ? m_model->rowCount() : 0; }
    QVariant value(int row, int field) const override
    {
        return m_model->data(m_model->index(row, field), Qt::EditRole);
    }
    bool setValue(int row, int field, const QVariant &value) override
    {
        return m_model->setData(m_model->index(row, field), value, Qt::EditRole);
    }
    int currentRow() const override { return m_current; }
    void setCurrentRow(int row) override { m_current = row; }
    QVariant bookmark(int row) const override
    {
        return QVariant::fromValue(QPersistentModelIndex(m_model->index(row, 0)));
    }
    int rowOfBookmark(const QVariant &bookmark) const override
    {
        const auto idx = bookmark.value<QPersistentModelIndex>();
        return idx.isValid() ? idx.row() : -1;
    }

private:
    QPointer<QAbstractItemModel> m_model;
    QList<quillon::FieldDef> m_fields;
    int m_current = -1;
};

} // namespace
} // namespace detail

TDataSource::TDataSource(QObject *parent)
    : QObject(parent)
{}

TDataSource::~TDataSource() = default;

void TDataSource::setBackend(std::unique_ptr<detail::DataBackend> backend)
{
    m_backend = std::move(backend);
    emit layoutChanged();
    emit currentRowChanged(currentRow());
}

void TDataSource::setModel(QAbstractItemModel *model, const QList<quillon::FieldDef> &fields)
{
    if (!model) {
        setBackend(nullptr);
        return;
    }
    setBackend(std::make_unique<detail::ModelBackend>(this, model, fields));
}

quillon::TMyDataSet *TDataSource::DataSet() const
{
    return qobject_cast<quillon::TMyDataSet *>(m_dataSet.data());
}

QAbstractItemModel *TDataSource::model() const
{
    return m_backend ? m_backend->model() : nullptr;
}

QList<quillon::FieldDef> TDataSource::fields() const
{
    return m_backend ? m_backend->fields() : QList<quillon::FieldDef>();
}

int TDataSource::fieldIndex(const QString &name) const
{
    const auto list = fields();
    for (int i = 0; i < list.size(); ++i)
        if (list[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool TDataSource::isActive() const
{
    return m_backend && m_backend->isActive();
}

int TDataSource::recordCount() const
{
    return isActive() ? m_backend->recordCount() : 0;
}

QVariant TDataSource::value(int row, int field) const
{
    return isActive() ? m_backend->value(row, field) : QVariant();
}

bool TDataSource::setValue(int row, int field, const QVariant &value)
{
    return isActive() && m_backend->setValue(row, field, value);
}

int TDataSource::currentRow() const
{
    return isActive() ? m_backend->currentRow() : -1;
}

void TDataSource::setCurrentRow(int row)
{
    if (!isActive() || row == m_backend->currentRow())
        return;
    m_backend->setCurrentRow(row);
    emit currentRowChanged(m_backend->currentRow());
}

QVariant TDataSource::bookmark(int row) const
{
    return isActive() ? m_backend->bookmark(row) : QVariant();
}

int TDataSource::rowOfBookmark(const QVariant &bookmark) const
{
    return isActive() ? m_backend->rowOfBookmark(bookmark) : -1;
}

void TDataSource::edit()
{
    if (isActive())
        m_backend->edit();
}

bool TDataSource::controlsDisabled() const
{
    return m_backend && m_backend->controlsDisabled();
}

bool isNumericField(quillon::FieldType type)
{
    using T = quillon::FieldType;
    switch (type) {
    case T::SmallInt:
    case T::Integer:
    case T::LargeInt:
    case T::Float:
    case T::Currency:
    case T::BCD:
    case T::FMTBCD:
        return true;
    default:
        return false;
    }
}

bool isSummableField(quillon::FieldType type)
{
    return type == quillon::FieldType::Integer || type == quillon::FieldType::Float;
}

} // namespace tessera

namespace tessera {
namespace detail {
namespace {

// A client dataset through the dataset's table model: reads by position, edits through
// the dataset's rules, the cursor shared with every other control of the dataset.
class DataSetBackend : public DataBackend
{
public:
    DataSetBackend(TDataSource *source, quillon::TMyDataSet *dataSet)
        : m_dataSet(dataSet)
        , m_model(new quillon::DataSetModel(dataSet, source))
    {
        QObject::connect(m_model, &quillon::DataSetModel::currentRowChanged, source,
                         &TDataSource::notifyCurrentRowChanged);
        QObject::connect(m_model, &quillon::DataSetModel::stateChanged, source,
                         &TDataSource::notifyStateChanged);
        m_lastFields = fieldNames();
        QObject::connect(m_model, &QAbstractItemModel::modelReset, source, [this, source] {
            const QStringList now = fieldNames();
            if (now != m_lastFields) {
                m_lastFields = now;
                source->notifyLayoutChanged();
            }
            source->notifyCurrentRowChanged(currentRow());
        });
    }
    ~DataSetBackend() override { delete m_model.data(); }

    QStringList fieldNames() const
    {
        QStringList names;
        if (m_dataSet && m_dataSet->Active())
            for (int i = 0; i < m_dataSet->FieldCount(); ++i)
                names << m_dataSet->Fields(i)->FieldName();
        return names;
    }

    QAbstractItemModel *model() const override { return m_model; }
    QList<quillon::FieldDef> fields() const override
    {
        QList<quillon::FieldDef> defs;
        if (!m_dataSet || !m_dataSet->Active())
            return defs;
        for (int i = 0; i < m_dataSet->FieldCount(); ++i) {
            const quillon::TField *f = m_dataSet->Fields(i);
            defs.append({f->FieldName(), f->DataType(), f->Size(), f->Required()});
        }
        return defs;
    }
    bool isActive() const override { return m_dataSet && m_dataSet->Active(); }
    int recordCount() const override { return m_model->rowCount(); }
    QVariant value(int row, int field) const override { return m_dataSet->valueAt(row, field); }
    bool setValue(int row, int field, const QVariant &value) override
    {
        const bool ok = m_model->setData(m_model->index(row, field), value, Qt::EditRole);
        if (!ok && !m_model->lastError().isEmpty())
            ErrorDialog(m_model->lastError());
        return ok;
    }
    int currentRow() const override { return m_model->currentRow(); }
    void setCurrentRow(int row) override { m_model->setCurrentRow(row); }
    QVariant bookmark(int row) const override
    {
        return QVariant::fromValue(m_dataSet->bookmarkAt(row));
    }
    int rowOfBookmark(const QVariant &bookmark) const override
    {
        return m_dataSet->positionOf(bookmark.value<quillon::TBookmark>());
    }
    void edit() override
    {
        if (m_dataSet->State() == quillon::DataSetState::Browse && !m_dataSet->IsEmpty())
            m_dataSet->Edit();
    }
    bool isEditing() const override
    {
        return m_dataSet->State() == quillon::DataSetState::Edit ||
               m_dataSet->State() == quillon::DataSetState::Insert;
    }
    bool controlsDisabled() const override { return m_dataSet->ControlsDisabled(); }

private:
    QPointer<quillon::TMyDataSet> m_dataSet;
    QPointer<quillon::DataSetModel> m_model;
    QStringList m_lastFields;
};

} // namespace
} // namespace detail

void TDataSource::setDataSet(quillon::TMyDataSet *dataSet)
{
    m_dataSet = dataSet;
    if (!dataSet) {
        setBackend(nullptr);
        return;
    }
    setBackend(std::make_unique<detail::DataSetBackend>(this, dataSet));
}

} // namespace tessera
