#include "dataaccess/datasetmodel.h"

namespace quillon {

DataSetModel::DataSetModel(QObject *parent)
    : QAbstractTableModel(parent)
{}

DataSetModel::DataSetModel(TMyDataSet *dataSet, QObject *parent)
    : QAbstractTableModel(parent)
{
    setDataSet(dataSet);
}

DataSetModel::~DataSetModel()
{
    if (m_dataSet)
        m_dataSet->detach(this);
}

void DataSetModel::setDataSet(TMyDataSet *dataSet)
{
    if (m_dataSet == dataSet)
        return;
    beginResetModel();
    if (m_dataSet)
        m_dataSet->detach(this);
    m_dataSet = dataSet;
    if (m_dataSet)
        m_dataSet->attach(this);
    m_rows = m_dataSet && m_dataSet->Active() ? m_dataSet->shownCount() : 0;
    m_columns = m_dataSet && m_dataSet->Active() ? m_dataSet->FieldCount() : 0;
    endResetModel();
}

TField *DataSetModel::field(int column) const
{
    if (!m_dataSet || column < 0 || column >= m_columns || column >= m_dataSet->FieldCount())
        return nullptr;
    return m_dataSet->Fields(column);
}

int DataSetModel::currentRow() const
{
    return m_dataSet && m_dataSet->Active() ? m_dataSet->currentPosition() : -1;
}

void DataSetModel::setCurrentRow(int row)
{
    if (!m_dataSet || !m_dataSet->Active() || row == currentRow() || row < 0 || row >= m_rows)
        return;
    // A row shown below a new record belongs to the record one position up; name it by
    // bookmark, since posting or cancelling the new record moves the rows.
    int position = row;
    if (m_dataSet->State() == DataSetState::Insert && row > m_dataSet->currentPosition())
        --position;
    const TBookmark target = m_dataSet->bookmarkAt(position);
    m_dataSet->CheckBrowseMode();
    if (m_dataSet->BookmarkValid(target))
        m_dataSet->GotoBookmark(target);
}

int DataSetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DataSetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant DataSetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_dataSet || index.row() >= m_rows || index.column() >= m_columns)
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::TextAlignmentRole)
        return {};
    const TField *f = field(index.column());
    if (!f)
        return {};
    if (role == Qt::TextAlignmentRole)
        return isNumericType(f->DataType()) ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    const QVariant v = m_dataSet->valueAt(index.row(), index.column());
    if (role == Qt::EditRole || v.isNull())
        return v;
    switch (f->DataType()) {
    case FieldType::DateTime: {
        const QDateTime dt = v.toDateTime();
        return dt.time() == QTime(0, 0) ? dt.date().toString(QStringLiteral("yyyy-MM-dd"))
                                        : dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    case FieldType::Date:
        return v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case FieldType::Blob:
        return QStringLiteral("(BLOB)");
    default:
        return v;
    }
}

bool DataSetModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !m_dataSet || !(flags(index) & Qt::ItemIsEditable))
        return false;
    try {
        if (index.row() != currentRow()) {
            const TBookmark target = m_dataSet->bookmarkAt(
                m_dataSet->State() == DataSetState::Insert && index.row() > currentRow() ? index.row() - 1
                                                                                        : index.row());
            setCurrentRow(index.row());
            if (target == kNoBookmark || m_dataSet->GetBookmark() != target)
                return false; // the row is gone or moved meanwhile
        }
        m_dataSet->Edit();
        m_dataSet->Fields(index.column())->SetValue(value);
        m_lastError.clear();
        return true;
    } catch (const DataSetError &e) {
        m_lastError = e.message();
        return false;
    }
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (const TField *f = field(section))
        return f->DisplayLabel();
    return {};
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags fl = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    const TField *f = field(index.column());
    if (f && !f->ReadOnly() && m_dataSet && !m_dataSet->ReadOnly())
        fl |= Qt::ItemIsEditable;
    return fl;
}

void DataSetModel::sort(int column, Qt::SortOrder order)
{
    const TField *f = field(column);
    if (!f || !m_dataSet)
        return;
    try {
        m_dataSet->SetIndexFieldNames(f->FieldName()
                                      + (order == Qt::DescendingOrder ? QStringLiteral(" DESC") : QString()));
    } catch (const DataSetError &e) {
        m_lastError = e.message(); // a pending edit that cannot be posted keeps the order
    }
}

void DataSetModel::reset()
{
    beginResetModel();
    const bool active = m_dataSet && m_dataSet->Active();
    m_rows = active ? m_dataSet->shownCount() : 0;
    m_columns = active ? m_dataSet->FieldCount() : 0;
    endResetModel();
}

void DataSetModel::dataSetEvent(TMyDataSet *, DataEvent event, int info)
{
    switch (event) {
    case DataEvent::ActiveChanged:
    case DataEvent::DataSetChanged:
        reset();
        emit currentRowChanged(currentRow());
        break;
    case DataEvent::RecordAboutToBeInserted:
        beginInsertRows(QModelIndex(), info, info);
        break;
    case DataEvent::RecordInserted:
        ++m_rows;
        endInsertRows();
        break;
    case DataEvent::RecordAboutToBeRemoved:
        beginRemoveRows(QModelIndex(), info, info);
        break;
    case DataEvent::RecordRemoved:
        --m_rows;
        endRemoveRows();
        break;
    case DataEvent::RecordChanged:
        if (info >= 0 && info < m_rows && m_columns > 0)
            emit dataChanged(index(info, 0), index(info, m_columns - 1));
        break;
    case DataEvent::FieldChanged: {
        const int row = currentRow();
        if (row >= 0 && row < m_rows && info >= 0 && info < m_columns)
            emit dataChanged(index(row, info), index(row, info));
        break;
    }
    case DataEvent::Scrolled:
        emit currentRowChanged(info);
        break;
    case DataEvent::StateChanged:
        emit stateChanged();
        break;
    }
}

} // namespace quillon
