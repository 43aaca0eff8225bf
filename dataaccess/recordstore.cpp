#include "dataaccess/recordstore.h"

#include <QDateTime>

#include <cstring>

namespace quillon {

namespace {

template<typename T>
const T &held(const QVariant &v)
{
    return *static_cast<const T *>(v.constData());
}

// The wall-clock key of a local date-time; false (no sharing) for UTC or a fixed offset.
bool localWallKey(const QDateTime &dt, qint64 *key)
{
    if (!dt.isValid() || dt.timeSpec() != Qt::LocalTime)
        return false;
    *key = dt.date().toJulianDay() * 86400000 + dt.time().msecsSinceStartOfDay();
    return true;
}

QDateTime fromWallKey(qint64 key)
{
    qint64 day = key / 86400000;
    qint64 ms = key % 86400000;
    if (ms < 0) {
        ms += 86400000;
        --day;
    }
    return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

// Equal and of the same kind, so that keeping the old copy changes nothing visible.
bool sameStored(const QVariant &a, const QVariant &b)
{
    if (a.typeId() != b.typeId() || a != b)
        return false;
    return a.typeId() != QMetaType::QDateTime
           || held<QDateTime>(a).timeSpec() == held<QDateTime>(b).timeSpec();
}

} // namespace

void RecordStore::reset(const QList<FieldDef> &fields, size_t expectedRecords)
{
    m_columns.clear();
    m_columns.resize(size_t(fields.size()));
    m_size = 0;
    for (qsizetype f = 0; f < fields.size(); ++f) {
        Column &c = m_columns[size_t(f)];
        c.type = fields[f].type;
        switch (c.type) {
        case FieldType::String:
        case FieldType::WideString:
        case FieldType::Memo:
        case FieldType::Blob:
        case FieldType::DateTime:
            c.kind = Kind::Pooled;
            c.index.reserve(expectedRecords);
            c.pool.emplace_back();
            if (c.type == FieldType::DateTime)
                c.wallKeys.push_back(0);
            break;
        case FieldType::SmallInt:
        case FieldType::Integer:
        case FieldType::Time:
        case FieldType::Boolean:
            c.kind = Kind::Int32;
            c.i32.reserve(expectedRecords);
            break;
        case FieldType::LargeInt:
        case FieldType::Date:
            c.kind = Kind::Int64;
            c.i64.reserve(expectedRecords);
            break;
        case FieldType::Float:
        case FieldType::Currency:
        case FieldType::BCD:
        case FieldType::FMTBCD:
            c.kind = Kind::Real;
            c.real.reserve(expectedRecords);
            break;
        }
        if (c.kind != Kind::Pooled)
            c.null.reserve(expectedRecords);
    }
}

void RecordStore::finishLoading()
{
    for (Column &c : m_columns) {
        c.loading = false;
        c.textIds = {};
        c.timeIds = {};
        c.pool.shrink_to_fit();
        c.wallKeys.shrink_to_fit();
        c.index.shrink_to_fit();
        c.i32.shrink_to_fit();
        c.i64.shrink_to_fit();
        c.real.shrink_to_fit();
        c.null.shrink_to_fit();
    }
}

quint32 RecordStore::pooled(Column &c, const QVariant &v)
{
    if (v.isNull())
        return 0;
    auto add = [&c](const QVariant &value) {
        c.pool.push_back(value);
        if (c.type == FieldType::DateTime)
            c.wallKeys.push_back(0); // built already: the key is not read
        return quint32(c.pool.size() - 1);
    };
    if (!c.loading)
        return add(v);
    if (v.typeId() == QMetaType::QString) {
        const QString &s = held<QString>(v);
        const auto it = c.textIds.constFind(s);
        if (it != c.textIds.constEnd())
            return *it;
        const quint32 id = add(v);
        c.textIds.insert(s, id);
        return id;
    }
    qint64 key = 0;
    if (v.typeId() == QMetaType::QDateTime && localWallKey(held<QDateTime>(v), &key)) {
        const auto it = c.timeIds.constFind(key);
        if (it != c.timeIds.constEnd())
            return *it;
        const quint32 id = add(v);
        c.timeIds.insert(key, id);
        return id;
    }
    return add(v);
}

void RecordStore::put(Column &c, size_t record, const QVariant &v)
{
    const bool isNew = record == m_size;
    const bool null = v.isNull();
    switch (c.kind) {
    case Kind::Pooled: {
        if (!isNew && !null && sameStored(entry(c, c.index[record]), v))
            return; // unchanged: no new pool entry
        const quint32 id = pooled(c, v);
        if (isNew)
            c.index.push_back(id);
        else
            c.index[record] = id;
        return;
    }
    case Kind::Int32: {
        qint32 n = 0;
        if (!null) {
            switch (v.typeId()) {
            case QMetaType::Int: n = held<int>(v); break;
            case QMetaType::Bool: n = held<bool>(v) ? 1 : 0; break;
            case QMetaType::QTime: n = held<QTime>(v).msecsSinceStartOfDay(); break;
            default: n = qint32(v.toLongLong()); break;
            }
        }
        if (isNew) {
            c.i32.push_back(n);
            c.null.push_back(null);
        } else {
            c.i32[record] = n;
            c.null[record] = null;
        }
        return;
    }
    case Kind::Int64: {
        qint64 n = 0;
        if (!null)
            n = v.typeId() == QMetaType::QDate ? held<QDate>(v).toJulianDay() : v.toLongLong();
        if (isNew) {
            c.i64.push_back(n);
            c.null.push_back(null);
        } else {
            c.i64[record] = n;
            c.null[record] = null;
        }
        return;
    }
    case Kind::Real: {
        const double d = null ? 0 : v.typeId() == QMetaType::Double ? held<double>(v) : v.toDouble();
        if (isNew) {
            c.real.push_back(d);
            c.null.push_back(null);
        } else {
            c.real[record] = d;
            c.null[record] = null;
        }
        return;
    }
    }
}

int RecordStore::append(const QVariantList &values)
{
    for (size_t f = 0; f < m_columns.size(); ++f)
        put(m_columns[f], m_size, values.value(qsizetype(f)));
    return int(m_size++);
}

void RecordStore::set(int record, const QVariantList &values)
{
    for (size_t f = 0; f < m_columns.size(); ++f)
        put(m_columns[f], size_t(record), values.value(qsizetype(f)));
}

void RecordStore::setValue(int record, int field, const QVariant &value)
{
    put(m_columns[size_t(field)], size_t(record), value);
}

void RecordStore::clear(int record)
{
    for (Column &c : m_columns)
        put(c, size_t(record), QVariant());
}

bool RecordStore::isNull(int record, int field) const
{
    const Column &c = m_columns[size_t(field)];
    return c.kind == Kind::Pooled ? c.index[size_t(record)] == 0 : bool(c.null[size_t(record)]);
}

const QVariant &RecordStore::entry(const Column &c, quint32 id)
{
    QVariant &v = c.pool[id];
    if (id != 0 && !v.isValid() && c.type == FieldType::DateTime)
        v = QVariant(fromWallKey(c.wallKeys[id])); // built once, on first use
    return v;
}

bool RecordStore::wallKey(int record, int field, qint64 *key) const
{
    const Column &c = m_columns[size_t(field)];
    if (c.type != FieldType::DateTime)
        return false;
    const quint32 id = c.index[size_t(record)];
    if (id == 0)
        return false;
    const QVariant &v = c.pool[id];
    if (!v.isValid()) {
        *key = c.wallKeys[id];
        return true;
    }
    return localWallKey(held<QDateTime>(v), key);
}

const QVariant &RecordStore::valueRef(int record, int field, QVariant &scratch) const
{
    const Column &c = m_columns[size_t(field)];
    const size_t r = size_t(record);
    if (c.kind == Kind::Pooled)
        return entry(c, c.index[r]);
    if (c.null[r]) {
        scratch = QVariant();
        return scratch;
    }
    switch (c.type) {
    case FieldType::SmallInt:
    case FieldType::Integer: scratch = QVariant(int(c.i32[r])); break;
    case FieldType::Boolean: scratch = QVariant(c.i32[r] != 0); break;
    case FieldType::Time: scratch = QVariant(QTime::fromMSecsSinceStartOfDay(c.i32[r])); break;
    case FieldType::LargeInt: scratch = QVariant(qlonglong(c.i64[r])); break;
    case FieldType::Date: scratch = QVariant(QDate::fromJulianDay(c.i64[r])); break;
    default: scratch = QVariant(c.real[r]); break;
    }
    return scratch;
}

QVariant RecordStore::value(int record, int field) const
{
    QVariant scratch;
    const QVariant &v = valueRef(record, field, scratch);
    return &v == &scratch ? scratch : v;
}

void RecordStore::rowInto(int record, QVariantList &out) const
{
    out.resize(qsizetype(m_columns.size()));
    QVariant *d = out.data();
    for (size_t f = 0; f < m_columns.size(); ++f) {
        QVariant scratch;
        const QVariant &v = valueRef(record, int(f), scratch);
        d[f] = &v == &scratch ? std::move(scratch) : v;
    }
}

QVariantList RecordStore::row(int record) const
{
    QVariantList out;
    rowInto(record, out);
    return out;
}

// ---- loading from the binary form -----------------------------------------------------------

namespace {

// Puts a slot at the first free place from its start in an open-addressed table of a
// power-of-two size (free: id 0).
template<typename Slot, typename StartOf>
void putSlot(std::vector<Slot> &table, const Slot &slot, const StartOf &startOf)
{
    const size_t mask = table.size() - 1;
    size_t i = startOf(slot, mask);
    while (table[i].id != 0)
        i = (i + 1) & mask;
    table[i] = slot;
}

// Adds a slot, doubling the table (from 64) first when it would be more than half full.
template<typename Slot, typename StartOf>
void insertSlot(std::vector<Slot> &table, size_t &used, const Slot &slot, const StartOf &startOf)
{
    if ((used + 1) * 2 > table.size()) {
        std::vector<Slot> old = std::move(table);
        table.assign(old.empty() ? 64 : old.size() * 2, Slot());
        for (const Slot &s : old) {
            if (s.id != 0)
                putSlot(table, s, startOf);
        }
    }
    putSlot(table, slot, startOf);
    ++used;
}

} // namespace

quint64 TextIds::hashOf(QByteArrayView bytes)
{
    // Eight bytes at a time, multiplied and folded: good enough to spread the texts of
    // one column, and a few cycles for a site name. The last word overlaps the one before
    // it rather than being copied byte by byte (a call into the C library for every text).
    const char *p = bytes.data();
    const qsizetype n = bytes.size();
    quint64 h = 0x9e3779b97f4a7c15ULL ^ quint64(n);
    auto mix = [&h](quint64 w) {
        h = (h ^ w) * 0xff51afd7ed558ccdULL;
        h ^= h >> 32;
    };
    quint64 w = 0;
    if (n >= 8) {
        for (qsizetype i = 0; i + 8 < n; i += 8) {
            memcpy(&w, p + i, 8);
            mix(w);
        }
        memcpy(&w, p + n - 8, 8);
    } else if (n >= 4) {
        quint32 a, b;
        memcpy(&a, p, 4);
        memcpy(&b, p + n - 4, 4);
        w = (quint64(a) << 32) | b;
    } else if (n > 0) {
        w = (quint64(uchar(p[0])) << 16) | (quint64(uchar(p[n / 2])) << 8) | uchar(p[n - 1]);
    }
    h = (h ^ w) * 0xc4ceb9fe1a85ec53ULL;
    return h ^ (h >> 29);
}

quint32 TextIds::find(QByteArrayView bytes, quint64 hash) const
{
    if (m_slots.empty())
        return 0;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = size_t(hash) & mask;; i = (i + 1) & mask) {
        const Slot &s = m_slots[i];
        if (s.id == 0)
            return 0;
        if (s.hash == hash && s.size == quint32(bytes.size())
            && memcmp(s.data, bytes.data(), size_t(bytes.size())) == 0)
            return s.id;
    }
}

void TextIds::insert(QByteArrayView bytes, quint64 hash, quint32 id)
{
    insertSlot(m_slots, m_used, Slot{bytes.data(), quint32(bytes.size()), id, hash},
               [](const Slot &s, size_t mask) { return size_t(s.hash) & mask; });
}

size_t StampIds::slotOf(qint64 key, size_t mask)
{
    quint64 h = quint64(key) * 0x9e3779b97f4a7c15ULL;
    return size_t(h ^ (h >> 31)) & mask;
}

quint32 StampIds::find(qint64 key) const
{
    if (m_slots.empty())
        return 0;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = slotOf(key, mask);; i = (i + 1) & mask) {
        const Slot &s = m_slots[i];
        if (s.id == 0 || s.key == key)
            return s.id;
    }
}

void StampIds::insert(qint64 key, quint32 id)
{
    insertSlot(m_slots, m_used, Slot{key, id}, [](const Slot &s, size_t mask) { return slotOf(s.key, mask); });
}

void RecordStoreLoader::begin(const QList<FieldDef> &defs, qsizetype rows)
{
    fields = defs;
    changeLog.clear();
    m_store.reset(defs, size_t(rows));
    m_textIds.assign(size_t(defs.size()), {});
    m_lastText.assign(size_t(defs.size()), {});
    m_sharing.assign(size_t(defs.size()), {});
    m_stampIds.assign(size_t(defs.size()), {});
}

void RecordStoreLoader::null(int field)
{
    RecordStore::Column &c = m_store.m_columns[size_t(field)];
    switch (c.kind) {
    case RecordStore::Kind::Pooled: c.index.push_back(0); return;
    case RecordStore::Kind::Int32: c.i32.push_back(0); break;
    case RecordStore::Kind::Int64: c.i64.push_back(0); break;
    case RecordStore::Kind::Real: c.real.push_back(0); break;
    }
    c.null.push_back(true);
}

bool RecordStoreLoader::text(int field, QByteArrayView utf8)
{
    RecordStore::Column &c = m_store.m_columns[size_t(field)];
    LastText &last = m_lastText[size_t(field)];
    if (last.id && last.bytes.size() == utf8.size()
        && memcmp(last.bytes.data(), utf8.data(), size_t(utf8.size())) == 0) {
        c.index.push_back(last.id);
        return true;
    }
    Sharing &sharing = m_sharing[size_t(field)];
    auto &ids = m_textIds[size_t(field)];
    quint64 hash = 0;
    if (!sharing.off) {
        hash = TextIds::hashOf(utf8);
        if (const quint32 id = ids.find(utf8, hash)) {
            sharing.turnsOff(false);
            c.index.push_back(id);
            last = {utf8, id};
            return true;
        }
    }
    QString s;
    if (!decodeUtf8(utf8, &s))
        return false;
    c.pool.emplace_back(std::move(s));
    const quint32 id = quint32(c.pool.size() - 1);
    c.index.push_back(id);
    last = {utf8, id};
    if (!sharing.off) {
        ids.insert(utf8, hash, id);
        if (sharing.turnsOff(true))
            ids = {};
    }
    return true;
}

bool RecordStoreLoader::Sharing::turnsOff(bool addedOne)
{
    // After 256 lookups: when nine in ten brought a new value, sharing saves little.
    added += addedOne ? 1 : 0;
    if (++seen < 256)
        return false;
    off = added * 10 >= seen * 9;
    seen = added = 0;
    return off;
}

void RecordStoreLoader::scalar(int field, qint64 value)
{
    RecordStore::Column &c = m_store.m_columns[size_t(field)];
    if (c.kind == RecordStore::Kind::Int32)
        c.i32.push_back(qint32(value));
    else
        c.i64.push_back(value);
    c.null.push_back(false);
}

void RecordStoreLoader::integer(int field, qint64 value)
{
    scalar(field, value);
}

void RecordStoreLoader::real(int field, double value)
{
    RecordStore::Column &c = m_store.m_columns[size_t(field)];
    c.real.push_back(value);
    c.null.push_back(false);
}

void RecordStoreLoader::date(int field, qint64 julianDay)
{
    scalar(field, julianDay);
}

void RecordStoreLoader::time(int field, int msecsOfDay)
{
    scalar(field, msecsOfDay);
}

void RecordStoreLoader::boolean(int field, bool value)
{
    scalar(field, value ? 1 : 0);
}

void RecordStoreLoader::dateTime(int field, qint64 julianDay, int msecsOfDay)
{
    RecordStore::Column &c = m_store.m_columns[size_t(field)];
    const qint64 key = julianDay * 86400000 + msecsOfDay;
    Sharing &sharing = m_sharing[size_t(field)];
    StampIds &ids = m_stampIds[size_t(field)];
    if (!sharing.off) {
        if (const quint32 id = ids.find(key)) {
            sharing.turnsOff(false);
            c.index.push_back(id);
            return;
        }
    }
    // The local date-time is built when first asked for (see RecordStore).
    c.pool.emplace_back();
    c.wallKeys.push_back(key);
    const quint32 id = quint32(c.pool.size() - 1);
    c.index.push_back(id);
    if (!sharing.off) {
        ids.insert(key, id);
        if (sharing.turnsOff(true))
            ids = {};
    }
}

void RecordStoreLoader::blob(int field, QByteArrayView bytes)
{
    RecordStore::Column &c = m_store.m_columns[size_t(field)];
    c.pool.emplace_back(bytes.toByteArray());
    c.index.push_back(quint32(c.pool.size() - 1));
}

void RecordStoreLoader::changes(QList<DataPacket::Change> &&changes)
{
    changeLog = std::move(changes);
    m_textIds.clear(); // the packet's bytes go away after this
    m_lastText.clear();
    m_sharing.clear();
    m_stampIds.clear();
}

} // namespace quillon
