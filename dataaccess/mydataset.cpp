#include "dataaccess/mydataset.h"

#include "dataaccess/mysktconnection.h"
#include "dataaccess/servermethods.h"

#include <QFile>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>

namespace quillon {

namespace {

QString msgNotEditing()
{
    return QStringLiteral("数据集不在编辑或插入状态");
}

QString msgClosed()
{
    return QStringLiteral("数据集未打开，不能进行此操作");
}

// Direct reads of the types that convertValue stores, without QVariant's conversions.
inline qint64 intOf(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int: return *static_cast<const int *>(v.constData());
    case QMetaType::LongLong: return *static_cast<const qlonglong *>(v.constData());
    default: return v.toLongLong();
    }
}

inline double doubleOf(const QVariant &v)
{
    return v.typeId() == QMetaType::Double ? *static_cast<const double *>(v.constData()) : v.toDouble();
}

template<typename T>
inline int cmp(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Three-way comparison of two values of one field; NULL sorts first.
int compareValues(FieldType type, const QVariant &a, const QVariant &b, Qt::CaseSensitivity cs)
{
    const bool an = a.isNull(), bn = b.isNull();
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    switch (type) {
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Memo:
        if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString)
            return QString::compare(*static_cast<const QString *>(a.constData()),
                                    *static_cast<const QString *>(b.constData()), cs);
        return QString::compare(a.toString(), b.toString(), cs);
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::LargeInt:
        return cmp(intOf(a), intOf(b));
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD:
        return cmp(doubleOf(a), doubleOf(b));
    case FieldType::Date:
        return cmp(a.toDate().toJulianDay(), b.toDate().toJulianDay());
    case FieldType::Time:
        return cmp(a.toTime().msecsSinceStartOfDay(), b.toTime().msecsSinceStartOfDay());
    case FieldType::DateTime: {
        const QDateTime x = a.toDateTime(), y = b.toDateTime();
        const int d = cmp(x.date().toJulianDay(), y.date().toJulianDay());
        return d ? d : cmp(x.time().msecsSinceStartOfDay(), y.time().msecsSinceStartOfDay());
    }
    case FieldType::Boolean:
        return cmp(int(a.toBool()), int(b.toBool()));
    case FieldType::Blob:
        return cmp(a.toByteArray(), b.toByteArray());
    }
    return 0;
}

QString textOf(FieldType type, const QVariant &v)
{
    if (v.isNull())
        return {};
    switch (type) {
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD:
        return QString::number(v.toDouble(), 'g', 15);
    case FieldType::Date:
        return v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case FieldType::Time:
        return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    case FieldType::DateTime: {
        const QDateTime dt = v.toDateTime();
        if (dt.time() == QTime(0, 0))
            return dt.date().toString(QStringLiteral("yyyy-MM-dd"));
        return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    case FieldType::Boolean:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case FieldType::Blob:
        return QString::fromUtf8(v.toByteArray());
    default:
        return v.toString();
    }
}

} // namespace

// ---- TField -----------------------------------------------------------------------------

QVariant TField::Value() const
{
    if (m_index < 0 || !m_dataSet)
        return {};
    return m_dataSet->currentValue(m_index);
}

QString TField::AsString() const
{
    return textOf(m_def.type, Value());
}

qint64 TField::AsLargeInt() const
{
    const QVariant v = Value();
    if (v.isNull())
        return 0;
    bool ok = false;
    const QVariant n = convertValue(FieldType::LargeInt, v, &ok);
    if (!ok)
        throw DataSetError(QStringLiteral("'%1' 不是有效的整数 (字段 %2)").arg(AsString(), m_def.name));
    return n.toLongLong();
}

int TField::AsInteger() const
{
    const qint64 n = AsLargeInt();
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        throw DataSetError(QStringLiteral("'%1' 超出整数范围 (字段 %2)").arg(n).arg(m_def.name));
    return int(n);
}

double TField::AsFloat() const
{
    const QVariant v = Value();
    if (v.isNull())
        return 0;
    bool ok = false;
    const QVariant d = convertValue(FieldType::Float, v, &ok);
    if (!ok)
        throw DataSetError(QStringLiteral("'%1' 不是有效的数值 (字段 %2)").arg(AsString(), m_def.name));
    return d.toDouble();
}

QDateTime TField::AsDateTime() const
{
    const QVariant v = Value();
    if (v.isNull())
        return {};
    if (m_def.type == FieldType::Time)
        return QDateTime(QDate(1899, 12, 30), v.toTime());
    bool ok = false;
    const QVariant dt = convertValue(FieldType::DateTime, v, &ok);
    if (!ok)
        throw DataSetError(QStringLiteral("'%1' 不是有效的日期时间 (字段 %2)").arg(AsString(), m_def.name));
    return dt.toDateTime();
}

bool TField::AsBoolean() const
{
    const QVariant v = Value();
    if (v.isNull())
        return false;
    bool ok = false;
    const QVariant b = convertValue(FieldType::Boolean, v, &ok);
    if (!ok)
        throw DataSetError(QStringLiteral("'%1' 不是有效的布尔值 (字段 %2)").arg(AsString(), m_def.name));
    return b.toBool();
}

void TField::SetValue(const QVariant &value)
{
    if (m_index < 0 || !m_dataSet)
        throw DataSetError(QStringLiteral("字段 '%1' 已不属于打开的数据集").arg(m_def.name));
    m_dataSet->setFieldValue(m_index, value);
}

QVariant TField::OldValue() const
{
    if (m_index < 0 || !m_dataSet)
        return {};
    const TMyDataSet &ds = *m_dataSet;
    if (ds.m_cur < 0 || ds.m_state == DataSetState::Insert)
        return {};
    const int r = ds.m_order[size_t(ds.m_cur)];
    if (ds.m_records[size_t(r)].state == RowState::Modified)
        return ds.m_originals.value(r).value(m_index);
    return ds.m_store.value(r, m_index);
}

// ---- observers ----------------------------------------------------------------------------

DataSetObserver::~DataSetObserver()
{
    const auto attached = m_attached;
    for (const QPointer<TMyDataSet> &ds : attached)
        if (ds)
            ds->detach(this);
}

// ---- TMyDataSet: life and connection ---------------------------------------------------------

TMyDataSet::TMyDataSet(QObject *owner)
    : QObject(owner)
    , m_ownConn(std::make_unique<TMySktConnection>())
{
    // The private connection is not wired to a provider: it only makes a new dataset count
    // as connected and serves file-only datasets.
    m_conn = m_ownConn.get();
}

TMyDataSet::~TMyDataSet()
{
    if (Active()) {
        clearData();
        m_state = DataSetState::Inactive;
        m_disableCount = 0;
        notify(DataEvent::ActiveChanged);
    }
    for (DataSetObserver *o : std::as_const(m_observers))
        o->m_attached.removeAll(QPointer<TMyDataSet>(this));
    m_observers.clear();
    SetMyConn(nullptr);
}

void TMyDataSet::SetMyConn(TMySktConnection *connection)
{
    if (m_connDestroyed)
        disconnect(m_connDestroyed);
    m_connDestroyed = {};
    m_conn = connection;
    if (connection) {
        m_providerName = QStringLiteral("dspPublic");
        if (connection != m_ownConn.get())
            m_connDestroyed = connect(connection, &QObject::destroyed, this,
                                      [this] { SetMyConn(nullptr); });
    } else {
        m_providerName.clear();
    }
}

TParam &TMyDataSet::CreateParam(FieldType type, const QString &name, const QVariant &value)
{
    m_params.append(TParam{name, type, value});
    return m_params.last();
}

TParam *TMyDataSet::FindParam(const QString &name)
{
    for (TParam &p : m_params)
        if (p.name.compare(name, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

TParam &TMyDataSet::ParamByName(const QString &name)
{
    if (TParam *p = FindParam(name))
        return *p;
    throw DataSetError(QStringLiteral("参数 '%1' 不存在").arg(name));
}

// ---- opening and closing ----------------------------------------------------------------------

void TMyDataSet::Open()
{
    if (Active())
        return;
    call(BeforeOpen);
    fetch(false);
    DoAfterOpen();
}

void TMyDataSet::fetch(bool execute)
{
    if (!m_conn || m_providerName.isEmpty())
        throw DataSetError(QStringLiteral("缺少数据提供者或数据包"));
    if (m_commandText.trimmed().isEmpty())
        throw DataSetError(QStringLiteral("没有指定查询语句"));
    // Decoded straight into the dataset's storage while the answer arrives: no row of
    // QVariants in between, and the rows are in place when the last bytes come.
    struct Loader : RecordStoreLoader
    {
        Loader(RecordStore &store, RecordStore &released)
            : RecordStoreLoader(store)
            , released(released)
        {}
        void begin(const QList<FieldDef> &defs, qsizetype rows) override
        {
            released = RecordStore(); // the previous load's values, while the server steps on
            RecordStoreLoader::begin(defs, rows);
        }
        RecordStore &released;
    };
    RecordStore store;
    Loader loader(store, m_released);
    try {
        m_conn->providerFetchInto(m_providerName, m_commandText, m_params, loader);
    } catch (const PacketError &e) {
        throw ConnectionError(QStringLiteral("服务器的回答不是有效的数据包，请稍后重试；"
                                             "问题持续时请联系系统管理员。"),
                              QString::fromUtf8(e.what()));
    }
    if (execute && loader.fields.isEmpty()) {
        if (m_tag != 1)
            m_conn->Close();
        return;
    }
    if (execute && Active())
        Close();
    adopt(std::move(store), loader.fields, std::move(loader.changeLog));
}

void TMyDataSet::DoAfterOpen()
{
    call(AfterOpen);
    if (m_tag != 1 && m_conn)
        m_conn->Close();
}

void TMyDataSet::Execute()
{
    if (Active())
        CheckBrowseMode();
    const quint32 generation = m_generation;
    fetch(true);
    if (Active() && m_generation != generation) // a result was opened
        DoAfterOpen();
}

void TMyDataSet::Close()
{
    if (!Active())
        return;
    call(BeforeClose);
    clearData();
    setState(DataSetState::Inactive);
    notify(DataEvent::ActiveChanged);
    call(AfterClose);
}

void TMyDataSet::CreateDataSet()
{
    if (m_fieldDefs.isEmpty())
        throw DataSetError(QStringLiteral("没有字段定义，不能创建数据集"));
    Close();
    DataPacket p;
    p.fields = m_fieldDefs;
    loadPacket(std::move(p));
}

void TMyDataSet::Refresh()
{
    checkActive();
    CheckBrowseMode();
    if (ChangeCount() > 0)
        throw DataSetError(QStringLiteral("有尚未保存的修改，请先保存再刷新"));
    const int recNo = RecNo();
    DisableControls();
    try {
        Close();
        Open();
    } catch (...) {
        EnableControls();
        throw;
    }
    if (recNo > 0 && RecordCount() > 0)
        m_cur = std::min(recNo, RecordCount()) - 1;
    EnableControls();
}

void TMyDataSet::EmptyDataSet()
{
    checkActive();
    Cancel();
    DataPacket p;
    for (const auto &f : m_fields)
        p.fields.append(f->m_def);
    loadPacket(std::move(p));
}

QList<FieldDef> TMyDataSet::FieldDefs() const
{
    if (m_fields.empty())
        return m_fieldDefs;
    QList<FieldDef> defs;
    for (const auto &f : m_fields)
        defs.append(f->m_def);
    return defs;
}

void TMyDataSet::SetData(const DataPacket &packet)
{
    SetData(DataPacket(packet));
}

void TMyDataSet::SetData(DataPacket &&packet)
{
    normalizePacket(packet); // a packet that does not fit leaves the current data alone
    if (Active())
        Close();
    loadPacket(std::move(packet));
}

namespace {

int storedTypeId(FieldType type)
{
    switch (type) {
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Memo: return QMetaType::QString;
    case FieldType::SmallInt:
    case FieldType::Integer: return QMetaType::Int;
    case FieldType::LargeInt: return QMetaType::LongLong;
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD: return QMetaType::Double;
    case FieldType::Date: return QMetaType::QDate;
    case FieldType::Time: return QMetaType::QTime;
    case FieldType::DateTime: return QMetaType::QDateTime;
    case FieldType::Boolean: return QMetaType::Bool;
    case FieldType::Blob: return QMetaType::QByteArray;
    }
    return QMetaType::UnknownType;
}

void normalizeRow(const QList<FieldDef> &fields, QVariantList &row)
{
    for (qsizetype f = 0; f < row.size(); ++f) {
        QVariant &v = row[f];
        if (v.isNull() ? !v.isValid() || v.typeId() == storedTypeId(fields[f].type)
                       : v.typeId() == storedTypeId(fields[f].type))
            continue;
        bool ok = false;
        QVariant c = convertValue(fields[f].type, v, &ok);
        if (!ok)
            throw DataSetError(QStringLiteral("'%1' 不是字段 '%2' 的有效值").arg(v.toString(), fields[f].name));
        v = std::move(c);
    }
}

} // namespace

void TMyDataSet::clearData()
{
    m_records.clear();
    if (m_store.size() > 0) {
        m_released = std::move(m_store);
        if (!m_releasePosted) {
            m_releasePosted = true;
            QTimer::singleShot(0, this, [this] {
                m_releasePosted = false;
                m_released = RecordStore();
            });
        }
    }
    m_store = RecordStore();
    m_originals.clear();
    m_natural.clear();
    m_order.clear();
    m_posOf.clear();
    m_posOfValid = false;
    m_buffer.clear();
    m_cur = -1;
    m_insertAt = -1;
    m_bof = m_eof = true;
    m_modified = false;
    m_changeSeq = 0;
    ++m_generation;
    for (auto &f : m_fields)
        f->m_index = -1;
    std::move(m_fields.begin(), m_fields.end(), std::back_inserter(m_retiredFields));
    m_fields.clear();
}

void TMyDataSet::openFields(const QList<FieldDef> &defs)
{
    m_fields.reserve(defs.size());
    for (int i = 0; i < defs.size(); ++i) {
        // A field of the same name and type as before is brought back, with its
        // presentation settings, so that controls holding it keep working.
        std::unique_ptr<TField> field;
        for (auto it = m_retiredFields.begin(); it != m_retiredFields.end(); ++it) {
            if ((*it)->m_def.name.compare(defs[i].name, Qt::CaseInsensitive) == 0
                && (*it)->m_def.type == defs[i].type) {
                field = std::move(*it);
                m_retiredFields.erase(it);
                break;
            }
        }
        if (!field)
            field.reset(new TField(this, defs[i], i));
        field->m_def = defs[i];
        field->m_index = i;
        m_fields.push_back(std::move(field));
    }
}

void TMyDataSet::normalizePacket(DataPacket &packet)
{
    try {
        packet.validate();
    } catch (const PacketError &e) {
        throw DataSetError(QStringLiteral("数据包不完整: %1").arg(QString::fromUtf8(e.what())));
    }
    for (QVariantList &row : packet.rows)
        normalizeRow(packet.fields, row);
    for (DataPacket::Change &c : packet.changes)
        normalizeRow(packet.fields, c.original);
}

void TMyDataSet::loadPacket(DataPacket &&packet)
{
    RecordStore store;
    const qsizetype n = packet.rows.size();
    store.reset(packet.fields, size_t(n) + size_t(packet.changes.size()));
    for (qsizetype i = 0; i < n; ++i) {
        store.append(packet.rows[i]);
        packet.rows[i] = QVariantList(); // the packet's copy goes as the store fills
    }
    adopt(std::move(store), packet.fields, std::move(packet.changes));
}

void TMyDataSet::adopt(RecordStore &&store, const QList<FieldDef> &fields,
                       QList<DataPacket::Change> &&changes)
{
    clearData();
    openFields(fields);
    const size_t n = store.size();
    m_store = std::move(store);
    m_records.reserve(n + 16);
    m_records.resize(n);
    for (DataPacket::Change &c : changes) {
        switch (c.state) {
        case RowState::Inserted:
            m_records[c.row].state = RowState::Inserted;
            m_records[c.row].changeSeq = nextChangeSeq();
            break;
        case RowState::Modified:
            m_records[c.row].state = RowState::Modified;
            m_records[c.row].changeSeq = nextChangeSeq();
            m_originals.insert(c.row, std::move(c.original));
            break;
        case RowState::Deleted: {
            Record rec;
            rec.state = RowState::Deleted;
            rec.deleted = true;
            rec.changeSeq = nextChangeSeq();
            m_originals.insert(m_store.append(c.original), std::move(c.original));
            m_records.push_back(rec);
            break;
        }
        case RowState::Unchanged:
            break;
        }
    }
    m_store.finishLoading();
    m_natural.resize(n);
    for (size_t i = 0; i < n; ++i)
        m_natural[i] = int(i);

    // Ordering by names that the new fields lack is dropped rather than failing the open.
    m_sortKeys.clear();
    if (!m_indexFieldNames.isEmpty()) {
        try {
            m_sortKeys = parseIndexFieldNames(m_indexFieldNames);
        } catch (const DataSetError &) {
            m_sortKeys.clear();
        }
    }
    m_state = DataSetState::Browse;
    rebuildOrder();
    m_cur = m_order.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_order.empty();
    notify(DataEvent::ActiveChanged);
}

DataPacket TMyDataSet::Data() const
{
    checkActive();
    DataPacket p;
    for (const auto &f : m_fields)
        p.fields.append(f->m_def);
    p.rows.reserve(qsizetype(m_natural.size()));
    std::vector<int> rowOfRecord(m_records.size(), -1);
    for (size_t i = 0; i < m_natural.size(); ++i) {
        rowOfRecord[m_natural[i]] = int(i);
        p.rows.append(m_store.row(m_natural[i]));
    }
    std::vector<int> changed;
    for (size_t r = 0; r < m_records.size(); ++r)
        if (m_records[r].changeSeq)
            changed.push_back(int(r));
    std::sort(changed.begin(), changed.end(), [this](int a, int b) {
        return m_records[a].changeSeq < m_records[b].changeSeq;
    });
    for (int r : changed) {
        const Record &rec = m_records[r];
        DataPacket::Change c;
        c.state = rec.state;
        if (rec.state == RowState::Deleted) {
            c.original = m_originals.value(r);
        } else {
            c.row = rowOfRecord[r];
            if (rec.state == RowState::Modified)
                c.original = m_originals.value(r);
        }
        p.changes.append(c);
    }
    return p;
}

void TMyDataSet::SaveToFile(const QString &fileName, DataPacketFormat format) const
{
    const DataPacket p = Data();
    const QByteArray bytes = format == DataPacketFormat::XML ? p.toXml().toUtf8() : p.toBinary();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw DataSetError(QStringLiteral("无法写入文件 '%1': %2").arg(fileName, file.errorString()));
}

void TMyDataSet::LoadFromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw DataSetError(QStringLiteral("无法打开文件 '%1': %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    DataPacket p;
    RecordStore store;
    RecordStoreLoader loader(store);
    const bool binary = bytes.startsWith("WLDP");
    try {
        if (binary)
            DataPacket::readBinary(bytes, loader);
        else
            p = DataPacket::fromXml(QString::fromUtf8(bytes));
    } catch (const PacketError &e) {
        throw DataSetError(QStringLiteral("文件 '%1' 不是有效的数据包: %2")
                               .arg(fileName, QString::fromUtf8(e.what())));
    }
    if (!binary) {
        SetData(std::move(p));
        return;
    }
    if (Active())
        Close();
    adopt(std::move(store), loader.fields, std::move(loader.changeLog));
}

// ---- fields ----------------------------------------------------------------------------------

TField *TMyDataSet::Fields(int index) const
{
    if (index < 0 || index >= FieldCount())
        throw DataSetError(QStringLiteral("字段序号 %1 超出范围").arg(index));
    return m_fields[size_t(index)].get();
}

int TMyDataSet::fieldIndex(const QString &name) const
{
    for (size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i]->m_def.name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

TField *TMyDataSet::FindField(const QString &name) const
{
    const int i = fieldIndex(name);
    return i < 0 ? nullptr : m_fields[size_t(i)].get();
}

TField *TMyDataSet::FieldByName(const QString &name) const
{
    if (TField *f = FindField(name))
        return f;
    throw DataSetError(QStringLiteral("字段 '%1' 不存在").arg(name));
}

// ---- cursor ------------------------------------------------------------------------------------

void TMyDataSet::checkActive() const
{
    if (!Active())
        throw DataSetError(msgClosed());
}

QVariant TMyDataSet::currentValue(int field) const
{
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        return m_buffer.value(field);
    if (m_cur < 0 || m_cur >= int(m_order.size()))
        return {};
    return m_store.value(m_order[size_t(m_cur)], field);
}

int TMyDataSet::RecNo() const
{
    if (m_state == DataSetState::Insert || m_cur < 0)
        return 0;
    return m_cur + 1;
}

void TMyDataSet::SetRecNo(int recNo)
{
    checkActive();
    CheckBrowseMode();
    if (recNo < 1 || recNo > RecordCount() || recNo - 1 == m_cur)
        return;
    call(BeforeScroll);
    setCurrent(recNo - 1);
    m_bof = m_eof = false;
    call(AfterScroll);
}

void TMyDataSet::setCurrent(int position, bool notifyScroll)
{
    m_cur = position;
    if (notifyScroll)
        notify(DataEvent::Scrolled, position);
}

void TMyDataSet::First()
{
    checkActive();
    CheckBrowseMode();
    call(BeforeScroll);
    const int target = m_order.empty() ? -1 : 0;
    const bool moved = target != m_cur;
    setCurrent(target, moved);
    m_bof = true;
    m_eof = m_order.empty();
    call(AfterScroll);
}

void TMyDataSet::Last()
{
    checkActive();
    CheckBrowseMode();
    call(BeforeScroll);
    const int target = int(m_order.size()) - 1;
    const bool moved = target != m_cur;
    setCurrent(target, moved);
    m_eof = true;
    m_bof = m_order.empty();
    call(AfterScroll);
}

int TMyDataSet::MoveBy(int distance)
{
    checkActive();
    CheckBrowseMode();
    if (distance == 0)
        return 0;
    call(BeforeScroll);
    const int count = int(m_order.size());
    if (count == 0) {
        m_bof = m_eof = true;
        call(AfterScroll);
        return 0;
    }
    const qint64 wanted = qint64(m_cur) + distance;
    const int target = int(std::clamp<qint64>(wanted, 0, count - 1));
    const int moved = target - m_cur;
    m_bof = distance < 0 && moved > distance;
    m_eof = distance > 0 && moved < distance;
    if (moved)
        setCurrent(target);
    call(AfterScroll);
    return moved;
}

void TMyDataSet::Next()
{
    MoveBy(1);
}

void TMyDataSet::Prior()
{
    MoveBy(-1);
}

int TMyDataSet::recordOf(TBookmark bookmark) const
{
    if (bookmark < 0 || quint32(bookmark >> 32) != m_generation)
        return -1;
    const qint64 r = bookmark & 0xffffffff;
    if (r >= qint64(m_records.size()) || m_records[size_t(r)].deleted)
        return -1;
    return int(r);
}

TBookmark TMyDataSet::GetBookmark() const
{
    if (!Active() || m_cur < 0 || m_state == DataSetState::Insert)
        return kNoBookmark;
    return makeBookmark(m_order[size_t(m_cur)]);
}

bool TMyDataSet::BookmarkValid(TBookmark bookmark) const
{
    return positionOf(bookmark) >= 0;
}

void TMyDataSet::GotoBookmark(TBookmark bookmark)
{
    checkActive();
    CheckBrowseMode();
    const int pos = positionOf(bookmark);
    if (pos < 0)
        throw DataSetError(QStringLiteral("记录不存在"));
    if (pos == m_cur)
        return;
    call(BeforeScroll);
    setCurrent(pos);
    m_bof = m_eof = false;
    call(AfterScroll);
}

TBookmark TMyDataSet::bookmarkAt(int position) const
{
    if (position < 0 || position >= int(m_order.size()))
        return kNoBookmark;
    return makeBookmark(m_order[size_t(position)]);
}

int TMyDataSet::positionOf(TBookmark bookmark) const
{
    const int r = recordOf(bookmark);
    if (r < 0)
        return -1;
    if (!m_posOfValid) {
        m_posOf.assign(m_records.size(), -1);
        for (size_t i = 0; i < m_order.size(); ++i)
            m_posOf[size_t(m_order[i])] = int(i);
        m_posOfValid = true;
    }
    return size_t(r) < m_posOf.size() ? m_posOf[size_t(r)] : -1;
}

int TMyDataSet::currentPosition() const
{
    return m_state == DataSetState::Insert ? m_insertAt : m_cur;
}

QVariant TMyDataSet::valueAt(int position, int field) const
{
    if (field < 0 || field >= FieldCount() || position < 0)
        return {};
    if (m_state == DataSetState::Insert) {
        if (position == m_insertAt)
            return m_buffer.at(field);
        if (position > m_insertAt)
            --position;
    } else if (m_state == DataSetState::Edit && position == m_cur) {
        return m_buffer.at(field);
    }
    if (position >= int(m_order.size()))
        return {};
    return m_store.value(m_order[size_t(position)], field);
}

// ---- editing -----------------------------------------------------------------------------------

void TMyDataSet::setState(DataSetState state)
{
    if (m_state == state)
        return;
    m_state = state;
    notify(DataEvent::StateChanged, int(state));
}

void TMyDataSet::Edit()
{
    checkActive();
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        return;
    if (m_readOnly)
        throw DataSetError(QStringLiteral("数据集是只读的，不能修改"));
    if (m_order.empty()) {
        Insert();
        return;
    }
    call(BeforeEdit);
    m_buffer = m_store.row(m_order[size_t(m_cur)]);
    m_modified = false;
    setState(DataSetState::Edit);
    call(AfterEdit);
}

void TMyDataSet::Insert()
{
    checkActive();
    CheckBrowseMode();
    if (m_readOnly)
        throw DataSetError(QStringLiteral("数据集是只读的，不能修改"));
    call(BeforeInsert);
    m_insertAt = m_cur < 0 ? 0 : m_cur;
    notify(DataEvent::RecordAboutToBeInserted, m_insertAt);
    m_buffer = QVariantList(FieldCount());
    m_state = DataSetState::Insert;
    notify(DataEvent::RecordInserted, m_insertAt);
    notify(DataEvent::StateChanged, int(m_state));
    try {
        call(OnNewRecord);
    } catch (...) {
        Cancel();
        throw;
    }
    m_modified = false;
    call(AfterInsert);
}

void TMyDataSet::Append()
{
    checkActive();
    CheckBrowseMode();
    if (m_readOnly)
        throw DataSetError(QStringLiteral("数据集是只读的，不能修改"));
    call(BeforeInsert);
    m_insertAt = int(m_order.size());
    notify(DataEvent::RecordAboutToBeInserted, m_insertAt);
    m_buffer = QVariantList(FieldCount());
    m_state = DataSetState::Insert;
    notify(DataEvent::RecordInserted, m_insertAt);
    notify(DataEvent::StateChanged, int(m_state));
    try {
        call(OnNewRecord);
    } catch (...) {
        Cancel();
        throw;
    }
    m_modified = false;
    call(AfterInsert);
}

void TMyDataSet::setFieldValue(int field, const QVariant &value)
{
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        throw DataSetError(msgNotEditing());
    const TField *f = m_fields[size_t(field)].get();
    if (f->m_readOnly)
        throw DataSetError(QStringLiteral("字段 '%1' 是只读的").arg(f->m_def.name));
    bool ok = false;
    QVariant v = convertValue(f->m_def.type, value, &ok);
    if (!ok)
        throw DataSetError(QStringLiteral("'%1' 不是字段 '%2' 的有效值").arg(value.toString(), f->m_def.name));
    // As in the platform (and in the Oracle dialect), an empty text is NULL.
    if (isStringType(f->m_def.type) && !v.isNull() && v.toString().isEmpty())
        v = QVariant();
    m_buffer[field] = std::move(v);
    m_modified = true;
    notify(DataEvent::FieldChanged, field);
}

void TMyDataSet::checkRequired() const
{
    for (const auto &f : m_fields)
        if (f->m_def.required && m_buffer.at(f->m_index).isNull())
            throw DataSetError(QStringLiteral("字段 '%1' 必须有值").arg(f->m_def.name));
}

bool TMyDataSet::passesFilter(int record) const
{
    if (!m_filter)
        return true;
    m_store.rowInto(record, m_filterRow);
    return m_filter(m_filterRow);
}

int TMyDataSet::insertPositionFor(int record) const
{
    if (m_sortKeys.empty())
        return -1;
    const auto it = std::upper_bound(m_order.begin(), m_order.end(), record,
                                     [this](int a, int b) { return lessThan(a, b); });
    return int(it - m_order.begin());
}

void TMyDataSet::Post()
{
    checkActive();
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        return;
    call(BeforePost);
    checkRequired();
    if (m_state == DataSetState::Edit) {
        const int r = m_order[size_t(m_cur)];
        Record &rec = m_records[size_t(r)];
        if (rec.state == RowState::Unchanged) {
            m_originals.insert(r, m_store.row(r));
            rec.state = RowState::Modified;
            rec.changeSeq = nextChangeSeq();
        }
        m_store.set(r, m_buffer);
        m_buffer.clear();
        m_state = DataSetState::Browse;
        // The edited record keeps its place unless the order or filter says otherwise.
        const int oldPos = m_cur;
        if (!passesFilter(r)) {
            notify(DataEvent::RecordAboutToBeRemoved, oldPos);
            m_order.erase(m_order.begin() + oldPos);
            m_posOfValid = false;
            m_cur = std::min(oldPos, int(m_order.size()) - 1);
            notify(DataEvent::RecordRemoved, oldPos);
        } else if (!m_sortKeys.empty()) {
            m_order.erase(m_order.begin() + oldPos);
            const int pos = insertPositionFor(r);
            if (pos != oldPos) {
                m_order.insert(m_order.begin() + oldPos, r);
                notify(DataEvent::RecordAboutToBeRemoved, oldPos);
                m_order.erase(m_order.begin() + oldPos);
                notify(DataEvent::RecordRemoved, oldPos);
                notify(DataEvent::RecordAboutToBeInserted, pos);
                m_order.insert(m_order.begin() + pos, r);
                m_posOfValid = false;
                m_cur = pos;
                notify(DataEvent::RecordInserted, pos);
            } else {
                m_order.insert(m_order.begin() + pos, r);
                m_posOfValid = false;
                notify(DataEvent::RecordChanged, pos);
            }
        } else {
            notify(DataEvent::RecordChanged, oldPos);
        }
    } else {
        const int r = m_store.append(m_buffer); // the new row is still shown from the buffer below
        Record rec;
        rec.state = RowState::Inserted;
        rec.changeSeq = nextChangeSeq();
        // Natural order: before the record the new one was inserted in front of.
        auto nat = m_natural.end();
        if (m_insertAt < int(m_order.size()))
            nat = std::find(m_natural.begin(), m_natural.end(), m_order[size_t(m_insertAt)]);
        m_records.push_back(std::move(rec));
        m_natural.insert(nat, r);
        const int shownAt = m_insertAt;
        int pos = -1;
        if (passesFilter(r)) {
            pos = insertPositionFor(r);
            if (pos < 0)
                pos = shownAt;
        }
        if (pos == shownAt) {
            // The new row stays where it was shown: it only becomes a record.
            m_state = DataSetState::Browse;
            m_insertAt = -1;
            m_buffer.clear();
            m_order.insert(m_order.begin() + pos, r);
            m_posOfValid = false;
            m_cur = pos;
            notify(DataEvent::RecordChanged, pos);
        } else {
            notify(DataEvent::RecordAboutToBeRemoved, shownAt);
            m_state = DataSetState::Browse;
            m_insertAt = -1;
            m_buffer.clear();
            notify(DataEvent::RecordRemoved, shownAt);
            if (pos >= 0) {
                notify(DataEvent::RecordAboutToBeInserted, pos);
                m_order.insert(m_order.begin() + pos, r);
                m_posOfValid = false;
                m_cur = pos;
                notify(DataEvent::RecordInserted, pos);
            }
        }
        m_bof = m_eof = false;
    }
    m_modified = false;
    notify(DataEvent::StateChanged, int(m_state));
    notify(DataEvent::Scrolled, m_cur);
    call(AfterPost);
}

void TMyDataSet::Cancel()
{
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        return;
    call(BeforeCancel);
    const bool inserting = m_state == DataSetState::Insert;
    const int shownAt = m_insertAt;
    if (inserting)
        notify(DataEvent::RecordAboutToBeRemoved, shownAt);
    m_buffer.clear();
    m_insertAt = -1;
    m_modified = false;
    m_state = DataSetState::Browse;
    if (inserting)
        notify(DataEvent::RecordRemoved, shownAt);
    else
        notify(DataEvent::RecordChanged, m_cur);
    notify(DataEvent::StateChanged, int(m_state));
    call(AfterCancel);
}

void TMyDataSet::CheckBrowseMode()
{
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        return;
    if (m_modified)
        Post();
    else
        Cancel();
}

void TMyDataSet::Delete()
{
    checkActive();
    if (m_state == DataSetState::Insert) {
        Cancel();
        return;
    }
    if (m_order.empty())
        throw DataSetError(QStringLiteral("数据集为空，不能删除"));
    if (m_readOnly)
        throw DataSetError(QStringLiteral("数据集是只读的，不能修改"));
    call(BeforeDelete);
    call(BeforeScroll);
    if (m_state == DataSetState::Edit) {
        m_buffer.clear();
        m_modified = false;
        m_state = DataSetState::Browse;
        notify(DataEvent::StateChanged, int(m_state));
    }
    const int pos = m_cur;
    const int r = m_order[size_t(pos)];
    notify(DataEvent::RecordAboutToBeRemoved, pos);
    Record &rec = m_records[size_t(r)];
    rec.deleted = true;
    if (rec.state == RowState::Inserted) {
        rec.state = RowState::Unchanged;
        rec.changeSeq = 0; // a new record that is deleted again leaves no trace
        m_store.clear(r);
    } else {
        if (rec.state == RowState::Unchanged) {
            m_originals.insert(r, m_store.row(r));
            rec.changeSeq = nextChangeSeq();
        }
        rec.state = RowState::Deleted;
    }
    m_natural.erase(std::find(m_natural.begin(), m_natural.end(), r));
    m_order.erase(m_order.begin() + pos);
    m_posOfValid = false;
    m_cur = std::min(pos, int(m_order.size()) - 1);
    m_bof = m_cur <= 0;
    m_eof = m_order.empty();
    notify(DataEvent::RecordRemoved, pos);
    notify(DataEvent::Scrolled, m_cur);
    call(AfterDelete);
    call(AfterScroll);
}

// ---- change log ----------------------------------------------------------------------------------

int TMyDataSet::ChangeCount() const
{
    int n = 0;
    for (const Record &rec : m_records)
        if (rec.changeSeq)
            ++n;
    return n;
}

RowState TMyDataSet::UpdateStatus() const
{
    if (m_state == DataSetState::Insert)
        return RowState::Inserted;
    if (m_cur < 0)
        return RowState::Unchanged;
    return m_records[size_t(m_order[size_t(m_cur)])].state;
}

void TMyDataSet::CancelUpdates()
{
    checkActive();
    Cancel();
    const TBookmark keep = GetBookmark();
    m_natural.clear();
    for (size_t r = 0; r < m_records.size(); ++r) {
        Record &rec = m_records[r];
        switch (rec.state) {
        case RowState::Inserted:
            rec.deleted = true;
            m_store.clear(int(r));
            break;
        case RowState::Modified:
            m_store.set(int(r), m_originals.take(int(r)));
            break;
        case RowState::Deleted:
            m_store.set(int(r), m_originals.take(int(r)));
            rec.deleted = false;
            break;
        case RowState::Unchanged:
            break;
        }
        rec.state = RowState::Unchanged;
        rec.changeSeq = 0;
        if (!rec.deleted)
            m_natural.push_back(int(r));
    }
    m_originals.clear();
    m_changeSeq = 0;
    rebuildOrder();
    const int pos = positionOf(keep);
    m_cur = pos >= 0 ? pos : (m_order.empty() ? -1 : 0);
    m_bof = m_cur <= 0;
    m_eof = m_order.empty();
    notify(DataEvent::DataSetChanged);
    notify(DataEvent::Scrolled, m_cur);
}

void TMyDataSet::MergeChangeLog()
{
    checkActive();
    for (size_t r = 0; r < m_records.size(); ++r) {
        Record &rec = m_records[r];
        if (rec.state == RowState::Deleted)
            m_store.clear(int(r));
        rec.state = RowState::Unchanged;
        rec.changeSeq = 0;
    }
    m_originals.clear();
    m_changeSeq = 0;
}

QString TMyDataSet::ApplyTableName(const QString &commandText)
{
    const QString upper = commandText.toUpper();
    const qsizetype at = upper.indexOf(QLatin1String(" FROM "));
    // Without " FROM " the name is taken from the seventh character on; the server
    // then refuses the unknown table.
    const qsizetype start = at >= 0 ? at + 6 : 6;
    QString name = upper.mid(start, 50).trimmed();
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name.at(i).isSpace()) {
            name.truncate(i);
            break;
        }
    }
    return name;
}

int TMyDataSet::ApplyUpdates(int maxErrors)
{
    if (!m_conn)
        throw DataSetError(QStringLiteral("MyConn is nil!"));
    checkActive();
    CheckBrowseMode();
    if (!m_conn->Connected())
        m_conn->Open();

    DisableControls();
    const TBookmark mark = GetBookmark();
    int naturalPos = -1;
    if (m_cur >= 0) {
        const auto it = std::find(m_natural.begin(), m_natural.end(), m_order[size_t(m_cur)]);
        naturalPos = int(it - m_natural.begin());
    }
    try {
        const QString table = ApplyTableName(m_commandText);
        const QString xml = Data().toXml();
        TfrmServerMethodsClient *proxy = m_conn->GetClientMethods();
        DataPacket result;
        const bool applied = proxy->ApplyData(table, xml, maxErrors, result);
        if (!applied)
            throw DataSetError(QStringLiteral("服务器未能保存对表 %1 的修改").arg(table));
        if (result.fields.isEmpty()) {
            MergeChangeLog();
        } else {
            loadPacket(std::move(result));
            // The server's packet lists the rows in the order they were sent, so the
            // record that was current sits at the same natural place.
            if (naturalPos >= 0 && naturalPos < int(m_natural.size())) {
                const int pos = positionOf(makeBookmark(m_natural[size_t(naturalPos)]));
                if (pos >= 0)
                    m_cur = pos;
                m_bof = m_eof = false;
            }
        }
    } catch (...) {
        if (BookmarkValid(mark))
            m_cur = positionOf(mark);
        EnableControls();
        throw;
    }
    EnableControls();
    return 0;
}

// ---- order, filter, search -------------------------------------------------------------------------

std::vector<TMyDataSet::SortKey> TMyDataSet::parseIndexFieldNames(const QString &names) const
{
    std::vector<SortKey> keys;
    {
        const QStringList parts = names.split(u';', Qt::SkipEmptyParts);
        for (QString part : parts) {
            part = part.trimmed();
            SortKey key{-1, false, false};
            if (part.endsWith(QLatin1String(" DESC"), Qt::CaseInsensitive)) {
                key.descending = true;
                part.chop(5);
            } else if (part.endsWith(QLatin1String(" ASC"), Qt::CaseInsensitive)) {
                part.chop(4);
            }
            const qsizetype colon = part.lastIndexOf(u':');
            if (colon > 0) {
                const QString opts = part.mid(colon + 1).toUpper();
                if (!opts.isEmpty() && opts.count(u'A') + opts.count(u'D') + opts.count(u'N') == opts.size()) {
                    key.descending = key.descending || opts.contains(u'D');
                    key.caseInsensitive = opts.contains(u'N');
                    part.truncate(colon);
                }
            }
            part = part.trimmed();
            key.field = fieldIndex(part);
            if (key.field < 0)
                throw DataSetError(QStringLiteral("字段 '%1' 不存在").arg(part));
            keys.push_back(key);
        }
    }
    return keys;
}

void TMyDataSet::SetIndexFieldNames(const QString &names)
{
    if (!Active()) {
        m_indexFieldNames = names; // resolved when data comes
        return;
    }
    CheckBrowseMode();
    std::vector<SortKey> keys = parseIndexFieldNames(names);
    m_indexFieldNames = names;
    const TBookmark keep = GetBookmark();
    m_sortKeys = std::move(keys);
    if (m_state == DataSetState::Browse && !m_order.empty()) {
        rebuildOrder();
        const int pos = positionOf(keep);
        m_cur = pos >= 0 ? pos : 0;
        notify(DataEvent::DataSetChanged);
        notify(DataEvent::Scrolled, m_cur);
    }
}

bool TMyDataSet::lessThan(int a, int b) const
{
    for (const SortKey &k : m_sortKeys) {
        QVariant sa, sb;
        const int c = compareValues(m_fields[size_t(k.field)]->m_def.type, m_store.valueRef(a, k.field, sa),
                                    m_store.valueRef(b, k.field, sb),
                                    k.caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive);
        if (c)
            return k.descending ? c > 0 : c < 0;
    }
    return false;
}

namespace {

// One sort key's values, pulled out of the rows into one contiguous array so that the
// sort compares plain numbers or string views instead of walking rows of QVariants.
struct SortColumn
{
    enum Kind { Integer, Real, Text, Other } kind = Other;
    bool descending = false;
    FieldType type = FieldType::String;
    std::vector<char> null;
    std::vector<qint64> ints;
    std::vector<double> reals;
    std::vector<QStringView> texts;
    std::vector<QString> folded;              // case-insensitive keys, folded once
    std::vector<const QVariant *> others;     // blobs and anything unusual
};

} // namespace

void TMyDataSet::sortOrder(std::vector<int> &order) const
{
    if (m_sortKeys.empty() || order.size() < 2)
        return;
    const size_t n = order.size();
    std::vector<SortColumn> cols(m_sortKeys.size());
    for (size_t k = 0; k < m_sortKeys.size(); ++k) {
        const SortKey &key = m_sortKeys[k];
        SortColumn &c = cols[k];
        c.descending = key.descending;
        c.type = m_fields[size_t(key.field)]->m_def.type;
        c.null.resize(n);
        if (isStringType(c.type))
            c.kind = SortColumn::Text;
        else if (isIntegerType(c.type) || c.type == FieldType::Date || c.type == FieldType::Time
                 || c.type == FieldType::DateTime || c.type == FieldType::Boolean)
            c.kind = SortColumn::Integer;
        else if (isNumericType(c.type))
            c.kind = SortColumn::Real;
        switch (c.kind) {
        case SortColumn::Integer: c.ints.resize(n); break;
        case SortColumn::Real: c.reals.resize(n); break;
        case SortColumn::Text:
            c.texts.resize(n);
            c.folded.resize(n); // views into it must not move, so it is sized once
            break;
        case SortColumn::Other: c.others.resize(n); break;
        }
        QVariant scratch;
        for (size_t i = 0; i < n; ++i) {
            // A date-time's key without building the value.
            if (c.type == FieldType::DateTime && m_store.wallKey(order[i], key.field, &c.ints[i]))
                continue;
            // Texts, blobs and date-times are referenced in the store, so the views and
            // pointers kept below stay valid through the sort.
            const QVariant &v = m_store.valueRef(order[i], key.field, scratch);
            c.null[i] = v.isNull();
            if (c.null[i])
                continue;
            switch (c.kind) {
            case SortColumn::Integer:
                switch (c.type) {
                case FieldType::Date: c.ints[i] = v.toDate().toJulianDay(); break;
                case FieldType::Time: c.ints[i] = v.toTime().msecsSinceStartOfDay(); break;
                case FieldType::DateTime: {
                    const QDateTime dt = v.toDateTime();
                    c.ints[i] = dt.date().toJulianDay() * 86400000 + dt.time().msecsSinceStartOfDay();
                    break;
                }
                case FieldType::Boolean: c.ints[i] = v.toBool(); break;
                default: c.ints[i] = intOf(v);
                }
                break;
            case SortColumn::Real: c.reals[i] = doubleOf(v); break;
            case SortColumn::Text:
                if (key.caseInsensitive) {
                    c.folded[i] = v.toString().toCaseFolded();
                    c.texts[i] = c.folded[i];
                } else if (v.typeId() == QMetaType::QString) {
                    c.texts[i] = *static_cast<const QString *>(v.constData());
                } else {
                    c.folded[i] = v.toString();
                    c.texts[i] = c.folded[i];
                }
                break;
            case SortColumn::Other: c.others[i] = &v; break;
            }
        }
    }
    std::vector<int> idx(n);
    for (size_t i = 0; i < n; ++i)
        idx[i] = int(i);
    std::stable_sort(idx.begin(), idx.end(), [&cols](int a, int b) {
        for (const SortColumn &c : cols) {
            int r;
            const bool an = c.null[size_t(a)], bn = c.null[size_t(b)];
            if (an || bn) {
                r = an == bn ? 0 : (an ? -1 : 1);
            } else {
                switch (c.kind) {
                case SortColumn::Integer: r = cmp(c.ints[size_t(a)], c.ints[size_t(b)]); break;
                case SortColumn::Real: r = cmp(c.reals[size_t(a)], c.reals[size_t(b)]); break;
                case SortColumn::Text: r = c.texts[size_t(a)].compare(c.texts[size_t(b)]); break;
                default:
                    r = compareValues(c.type, *c.others[size_t(a)], *c.others[size_t(b)], Qt::CaseSensitive);
                }
            }
            if (r)
                return c.descending ? r > 0 : r < 0;
        }
        return false;
    });
    std::vector<int> sorted(n);
    for (size_t i = 0; i < n; ++i)
        sorted[i] = order[size_t(idx[i])];
    order.swap(sorted);
}

void TMyDataSet::rebuildOrder()
{
    if (m_filter) {
        m_order.clear();
        for (int r : m_natural)
            if (passesFilter(r))
                m_order.push_back(r);
    } else {
        m_order = m_natural;
    }
    sortOrder(m_order);
    m_posOfValid = false;
}

void TMyDataSet::SetFilter(RecordFilter filter)
{
    if (Active())
        CheckBrowseMode();
    m_filter = std::move(filter);
    if (!Active())
        return;
    const TBookmark keep = GetBookmark();
    rebuildOrder();
    const int pos = positionOf(keep);
    m_cur = pos >= 0 ? pos : (m_order.empty() ? -1 : 0);
    m_bof = m_cur <= 0;
    m_eof = m_order.empty();
    notify(DataEvent::DataSetChanged);
    notify(DataEvent::Scrolled, m_cur);
}

namespace {

struct LocateKey
{
    int field;
    FieldType type;
    QVariant value;   // converted to the field's type (text for prefix and text matches)
    QString text;     // for string fields and prefix matches
    bool byText;
};

} // namespace

// Builds the keys of a Locate or Lookup; false when a value cannot match its field.
static bool buildKeys(const TMyDataSet &ds, const QString &keyFields, const QVariantList &values,
                      LocateOptions options, std::vector<LocateKey> &keys)
{
    const QStringList names = keyFields.split(u';', Qt::SkipEmptyParts);
    if (names.size() != values.size())
        throw DataSetError(QStringLiteral("查找字段与查找值的个数不一致"));
    for (qsizetype i = 0; i < names.size(); ++i) {
        TField *f = ds.FieldByName(names[i].trimmed());
        LocateKey k{f->Index(), f->DataType(), {}, {}, false};
        const QVariant &v = values[i];
        if (v.isNull()) {
            keys.push_back(k);
            continue;
        }
        if (isStringType(k.type) || (options & PartialKey)) {
            k.byText = true;
            k.text = v.toString();
        } else {
            bool ok = false;
            k.value = convertValue(k.type, v, &ok);
            if (!ok)
                return false;
        }
        keys.push_back(k);
    }
    return true;
}

static bool matches(const RecordStore &store, int record, const std::vector<LocateKey> &keys,
                    LocateOptions options)
{
    const Qt::CaseSensitivity cs = (options & CaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    QVariant scratch;
    for (const LocateKey &k : keys) {
        const QVariant &v = store.valueRef(record, k.field, scratch);
        if (!k.byText && k.value.isNull()) {
            if (!v.isNull())
                return false;
            continue;
        }
        if (v.isNull())
            return false;
        if (k.byText) {
            const QString own = isStringType(k.type) && v.typeId() == QMetaType::QString
                                    ? *static_cast<const QString *>(v.constData())
                                    : textOf(k.type, v);
            const bool ok = (options & PartialKey) ? own.startsWith(k.text, cs)
                                                   : own.compare(k.text, cs) == 0;
            if (!ok)
                return false;
        } else if (compareValues(k.type, v, k.value, cs) != 0) {
            return false;
        }
    }
    return true;
}

bool TMyDataSet::Locate(const QString &keyFields, const QVariantList &values, LocateOptions options)
{
    checkActive();
    CheckBrowseMode();
    std::vector<LocateKey> keys;
    if (!buildKeys(*this, keyFields, values, options, keys))
        return false;
    for (size_t pos = 0; pos < m_order.size(); ++pos) {
        if (matches(m_store, m_order[pos], keys, options)) {
            if (int(pos) != m_cur) {
                call(BeforeScroll);
                setCurrent(int(pos));
                call(AfterScroll);
            }
            m_bof = m_eof = false;
            return true;
        }
    }
    return false;
}

QVariant TMyDataSet::Lookup(const QString &keyFields, const QVariantList &values,
                            const QString &resultField) const
{
    checkActive();
    const TField *result = FieldByName(resultField);
    std::vector<LocateKey> keys;
    if (!buildKeys(*this, keyFields, values, NoLocateOptions, keys))
        return {};
    for (int r : m_order)
        if (matches(m_store, r, keys, NoLocateOptions))
            return m_store.value(r, result->Index());
    return {};
}

// ---- controls and events -----------------------------------------------------------------------------

void TMyDataSet::DisableControls()
{
    ++m_disableCount;
}

void TMyDataSet::EnableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount == 0 && m_pendingNotify) {
        m_pendingNotify = false;
        notify(DataEvent::DataSetChanged);
    }
}

void TMyDataSet::attach(DataSetObserver *observer)
{
    if (!observer || m_observers.contains(observer))
        return;
    m_observers.append(observer);
    observer->m_attached.append(QPointer<TMyDataSet>(this));
}

void TMyDataSet::detach(DataSetObserver *observer)
{
    m_observers.removeAll(observer);
    if (observer)
        observer->m_attached.removeAll(QPointer<TMyDataSet>(this));
}

void TMyDataSet::notify(DataEvent event, int info)
{
    if (m_disableCount > 0) {
        m_pendingNotify = true;
        return;
    }
    // Observers may detach while being told.
    const auto observers = m_observers;
    for (DataSetObserver *o : observers)
        if (m_observers.contains(o))
            o->dataSetEvent(this, event, info);
}

void TMyDataSet::call(const NotifyEvent &event)
{
    if (event)
        event(*this);
}

} // namespace quillon
