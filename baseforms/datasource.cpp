#include "baseforms/datasource.h"

#include <QAbstractItemModel>
#include <QPersistentModelIndex>

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
    return reinterpret_cast<quillon::TMyDataSet *>(m_dataSet.data());
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

#ifndef TESSERA_WITH_QUILLON
namespace tessera {
void TDataSource::setDataSet(quillon::TMyDataSet *dataSet)
{
    if (dataSet)
        throw std::logic_error("Tessera was built without the client dataset");
    m_dataSet = nullptr;
    setBackend(nullptr);
}
} // namespace tessera
#endif
