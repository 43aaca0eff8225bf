#pragma once

#include "dataaccess/packet/datapacket.h"
#include "dataaccess/podarray.h"

#include <QHash>
#include <QVariant>

#include <vector>

namespace quillon {

// The values of a dataset's records, held column by column in compact form: numbers in
// plain arrays with a null bit each, texts, blobs and date-times as a 32-bit index into a
// per-column pool of values (so a site name repeated on 100,000 rows is held once).
// Date-times read from a packet are pooled as their wall-clock key and built into a
// local QDateTime when first asked for: asking the zone rules costs more than the rest of
// reading a row. Records are numbered from 0 in the order they were added and never move.
// Values handed in must already be in their field's type (see convertValue).
// Not thread-safe, not even for const calls (the lazy date-times).
class RecordStore
{
public:
    void reset(const QList<FieldDef> &fields, size_t expectedRecords = 0);
    // Frees what only loading needs (the lookup of equal values) and spare capacity.
    void finishLoading();

    size_t size() const { return m_size; }
    int fieldCount() const { return int(m_columns.size()); }

    int append(const QVariantList &values);    // returns the new record's number
    void set(int record, const QVariantList &values);
    void setValue(int record, int field, const QVariant &value);
    void clear(int record);                    // every value NULL

    QVariant value(int record, int field) const;
    // The value without a copy when the column keeps it as such; otherwise built in
    // `scratch`. The reference is valid until the store changes or scratch is reused.
    const QVariant &valueRef(int record, int field, QVariant &scratch) const;
    QVariantList row(int record) const;
    void rowInto(int record, QVariantList &out) const;

    bool isNull(int record, int field) const;
    // A local date-time's wall-clock key (Julian day * 86400000 + ms of the day), without
    // building the value; false for NULL and for a date-time in UTC or at a fixed offset.
    bool wallKey(int record, int field, qint64 *key) const;

private:
    friend class RecordStoreLoader;
    enum class Kind { Pooled, Int32, Int64, Real };
    struct Column
    {
        FieldType type = FieldType::String;
        Kind kind = Kind::Pooled;
        PodArray<quint32> index;          // Pooled: 0 = NULL, else pool position
        PodArray<qint32> i32;             // Int32: SmallInt, Integer, Time (ms), Boolean
        PodArray<qint64> i64;             // Int64: LargeInt, Date (Julian day)
        PodArray<double> real;            // Real: Float, Currency, BCD, FMTBCD
        std::vector<bool> null;           // scalar kinds
        mutable std::vector<QVariant> pool; // Pooled: values, pool[0] is NULL; a date-time
                                            // not built yet is an invalid QVariant
        PodArray<qint64> wallKeys;        // DateTime: the key of each pool entry
        QHash<QString, quint32> textIds;  // while loading: equal texts share one entry
        QHash<qint64, quint32> timeIds;   // while loading: equal date-times, by wall ms
        bool loading = true;
    };

    void put(Column &c, size_t record, const QVariant &v);
    quint32 pooled(Column &c, const QVariant &v);
    static const QVariant &entry(const Column &c, quint32 id);

    std::vector<Column> m_columns;
    size_t m_size = 0;
};

// Equal texts of one column while a packet is read: the texts' bytes (views into the
// packet) and their pool entries, in one flat open-addressed table with a cheap hash;
// a lookup touches one or two adjacent slots instead of the several scattered blocks
// of a QHash, which matters at a lookup per text cell.
class TextIds
{
public:
    // The entry of equal bytes, or 0.
    quint32 find(QByteArrayView bytes, quint64 hash) const;
    void insert(QByteArrayView bytes, quint64 hash, quint32 id);
    static quint64 hashOf(QByteArrayView bytes);

private:
    struct Slot
    {
        const char *data = nullptr;
        quint32 size = 0;
        quint32 id = 0; // 0: empty
        quint64 hash = 0;
    };
    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

// Equal date-times of one column while a packet is read: wall-clock keys and their pool
// entries in one flat open-addressed table (a QHash allocates and rehashes its way up
// from nothing when the row count is not known in advance, as in a streamed answer).
class StampIds
{
public:
    quint32 find(qint64 key) const; // the entry of that key, or 0
    void insert(qint64 key, quint32 id);

private:
    struct Slot
    {
        qint64 key = 0;
        quint32 id = 0; // 0: empty
    };
    static size_t slotOf(qint64 key, size_t mask);
    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

// Fills a store from a binary packet as it is decoded (DataPacket::readBinary): equal
// texts of a column are found by their bytes, so a repeated site name is decoded and
// allocated once, and every value goes straight into its column.
class RecordStoreLoader : public PacketSink
{
public:
    explicit RecordStoreLoader(RecordStore &store)
        : m_store(store)
    {}

    QList<FieldDef> fields;
    QList<DataPacket::Change> changeLog;

    void begin(const QList<FieldDef> &fields, qsizetype rows) override;
    void null(int field) override;
    bool text(int field, QByteArrayView utf8) override;
    void integer(int field, qint64 value) override;
    void real(int field, double value) override;
    void date(int field, qint64 julianDay) override;
    void time(int field, int msecsOfDay) override;
    void dateTime(int field, qint64 julianDay, int msecsOfDay) override;
    void boolean(int field, bool value) override;
    void blob(int field, QByteArrayView bytes) override;
    void endRow() override { ++m_store.m_size; }
    void row(QVariantList &&values) override { m_store.append(values); }
    void changes(QList<DataPacket::Change> &&changes) override;

private:
    void scalar(int field, qint64 value);
    RecordStore &m_store;
    // Views into the packet's bytes: valid only while it is being read.
    std::vector<TextIds> m_textIds;
    struct LastText
    {
        QByteArrayView bytes;
        quint32 id = 0;
    };
    std::vector<LastText> m_lastText; // a run of equal texts down a column skips the lookup
    // Texts and date-times of a column are looked up for sharing until it shows itself a
    // column of mostly distinct values (a bill code, a scan time): then each is kept as
    // it comes.
    struct Sharing
    {
        quint32 seen = 0;
        quint32 added = 0;
        bool off = false;
        // Counts a lookup; true when sharing has just been found not worth it.
        bool turnsOff(bool added);
    };
    std::vector<Sharing> m_sharing;
    std::vector<StampIds> m_stampIds; // equal date-times share one entry
};

} // namespace quillon
