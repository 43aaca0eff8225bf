// The binary form read: one reader for every layout the CBOR allows (definite or
// indefinite lengths, keys in any order, unknown keys skipped), straight from the bytes
// into a PacketSink, whole or while the bytes arrive. DataPacket::fromBinary is the same
// reader with a sink that builds QVariant rows.
#include "dataaccess/packet/packetformat.h"
#include "dataaccess/packet/packetstream.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace quillon {

using namespace packetformat;

namespace {

[[noreturn]] void bad(const std::string &what)
{
    throw PacketError("malformed data packet: " + what);
}

// The bytes end inside an item: wait for more (while streaming) or refuse (at the end).
struct CutShort
{};

constexpr int kMaxDepth = 64;
// More items than any answer can hold (the transport refuses answers past 1 GB).
constexpr quint64 kMaxItems = quint64(1) << 31;

// A CBOR head at p: its major type, value (length, count or number) and whether the length
// is indefinite. Returns the end of the head, or nullptr when the bytes end first.
const uchar *readHead(const uchar *p, const uchar *end, quint64 *value, bool *indefinite)
{
    if (p >= end)
        return nullptr;
    const int major = *p >> 5;
    const uchar info = *p & 0x1f;
    ++p;
    *indefinite = false;
    if (info < 24) {
        *value = info;
        return p;
    }
    if (info == 31) {
        if (major == 0 || major == 1 || major == 6)
            bad("indefinite length on an item that has none");
        *indefinite = true;
        *value = 0;
        return p;
    }
    const int n = info == 24 ? 1 : info == 25 ? 2 : info == 26 ? 4 : info == 27 ? 8 : 0;
    if (n == 0)
        bad("reserved CBOR head");
    if (end - p < n)
        return nullptr;
    quint64 v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    *value = v;
    return p + n;
}

const uchar *const kNotFlat = reinterpret_cast<const uchar *>(1);

// The end of an integer, float, simple value or definite text or byte string at p;
// nullptr when the bytes end inside it, kNotFlat for any other item (what readHead
// refuses included, left to itemEnd).
inline const uchar *flatItemEnd(const uchar *p, const uchar *end)
{
    if (p >= end)
        return nullptr;
    const int major = *p >> 5;
    if ((major >= 4 && major <= 6) || (*p & 0x1f) > 27)
        return kNotFlat;
    quint64 v = 0;
    bool indefinite = false;
    const uchar *q = readHead(p, end, &v, &indefinite);
    if (!q || (major != 2 && major != 3))
        return q;
    return v > quint64(end - q) ? nullptr : q + v;
}

// The end of the whole item at p, or nullptr when the bytes end inside it. Throws
// PacketError on what CBOR does not allow.
const uchar *itemEnd(const uchar *p, const uchar *end, int depth = 0)
{
    if (depth > kMaxDepth)
        bad("items nested more than " + std::to_string(kMaxDepth) + " deep");
    if (p >= end)
        return nullptr;
    const int major = *p >> 5;
    quint64 v = 0;
    bool indefinite = false;
    const uchar *q = readHead(p, end, &v, &indefinite);
    if (!q)
        return nullptr;
    switch (major) {
    case 0:
    case 1:
        return q;
    case 2:
    case 3:
        if (!indefinite)
            return v > quint64(end - q) ? nullptr : q + v;
        for (;;) {
            if (q >= end)
                return nullptr;
            if (*q == 0xff)
                return q + 1;
            if ((*q >> 5) != major || (*q & 0x1f) == 31)
                bad("broken chunked string");
            quint64 len = 0;
            bool chunked = false;
            const uchar *r = readHead(q, end, &len, &chunked);
            if (!r || len > quint64(end - r))
                return nullptr;
            q = r + len;
        }
    case 4:
    case 5: {
        if (!indefinite) {
            if (v > kMaxItems)
                bad("container of " + std::to_string(v) + " items");
            const quint64 items = major == 5 ? v * 2 : v;
            for (quint64 i = 0; i < items; ++i) {
                // Numbers, texts and simple values inline (every cell of a row); the rest
                // through the whole rules.
                const uchar *next = flatItemEnd(q, end);
                if (next == kNotFlat)
                    next = itemEnd(q, end, depth + 1);
                if (!(q = next))
                    return nullptr;
            }
            return q;
        }
        for (;;) {
            if (q >= end)
                return nullptr;
            if (*q == 0xff)
                return q + 1;
            if (!(q = itemEnd(q, end, depth + 1)))
                return nullptr;
        }
    }
    case 6:
        return itemEnd(q, end, depth + 1);
    default: // 7: simple values and floats
        if (indefinite)
            bad("a break outside an indefinite item");
        return q;
    }
}

class Decoder
{
public:
    explicit Decoder(PacketSink &sink)
        : m_sink(sink)
    {}

    // Decodes what it can of [begin, end) and returns the bytes used; `last` when no
    // more bytes follow (the packet must then be complete).
    qsizetype run(const uchar *begin, const uchar *end, bool last)
    {
        p = begin;
        e = end;
        m_last = last;
        for (;;) {
            const uchar *mark = p;
            try {
                if (!step())
                    break;
            } catch (const CutShort &) {
                p = mark;
                if (m_last) {
                    if (m_state == State::Magic)
                        throw PacketError("not a data packet (bad magic)");
                    bad("the packet is cut short");
                }
                break;
            }
        }
        return p - begin;
    }

    bool done() const { return m_state == State::Done; }
    // Bytes still to come when known (bounds the row count handed to the sink).
    qsizetype expectedRest = -1;

private:
    enum class State { Magic, Map, Key, Rows, AfterMap, Done };

    PacketSink &m_sink;
    State m_state = State::Magic;
    const uchar *p = nullptr;
    const uchar *e = nullptr;
    bool m_last = false;

    QList<FieldDef> m_fields;
    std::vector<FieldType> m_types;
    bool m_haveFields = false;
    bool m_haveRows = false;
    bool m_haveChanges = false;
    bool m_begun = false;
    bool m_mapIndefinite = false;
    quint64 m_mapLeft = 0;
    bool m_rowsIndefinite = false;
    quint64 m_rowsLeft = 0;
    qsizetype m_rowCount = 0;
    QList<DataPacket::Change> m_changes;
    // Chunked texts joined: the sink may keep views of them while the packet is read.
    std::deque<QByteArray> m_joined;

    void need(qsizetype n)
    {
        if (e - p < n)
            throw CutShort();
    }

    int major()
    {
        need(1);
        return *p >> 5;
    }

    quint64 head(int wantMajor, const char *what, bool *indefinite)
    {
        if (major() != wantMajor)
            bad(what);
        quint64 v = 0;
        const uchar *q = readHead(p, e, &v, indefinite);
        if (!q)
            throw CutShort();
        p = q;
        return v;
    }

    bool takeBreak()
    {
        need(1);
        if (*p != 0xff)
            return false;
        ++p;
        return true;
    }

    bool takeNull()
    {
        need(1);
        if (*p != 0xf6)
            return false;
        ++p;
        return true;
    }

    void skip()
    {
        const uchar *q = itemEnd(p, e);
        if (!q)
            throw CutShort();
        p = q;
    }

    // The whole item at p is there (or, at the end, will never be).
    void needWhole(const uchar *from)
    {
        if (!m_last && !itemEnd(from, e))
            throw CutShort();
    }

    // A text's or byte string's bytes, chunks joined.
    QByteArrayView stringBytes(int wantMajor, const char *what)
    {
        bool indefinite = false;
        const quint64 n = head(wantMajor, what, &indefinite);
        if (!indefinite) {
            if (n > quint64(e - p))
                throw CutShort();
            const QByteArrayView out(p, qsizetype(n));
            p += n;
            return out;
        }
        QByteArray joined;
        while (!takeBreak()) {
            bool chunked = false;
            const quint64 len = head(wantMajor, "broken chunked string", &chunked);
            if (chunked)
                bad("broken chunked string");
            if (len > quint64(e - p))
                throw CutShort();
            joined.append(reinterpret_cast<const char *>(p), qsizetype(len));
            p += len;
        }
        m_joined.push_back(std::move(joined));
        return m_joined.back();
    }

    QString text(const char *what)
    {
        QString out;
        if (!decodeUtf8(stringBytes(3, what), &out))
            bad(std::string(what) + ": not valid UTF-8");
        return out;
    }

    qint64 integer(const char *what)
    {
        const int m = major();
        if (m != 0 && m != 1)
            bad(what);
        bool indefinite = false;
        const quint64 v = head(m, what, &indefinite);
        if (v > quint64(std::numeric_limits<qint64>::max()))
            bad("integer out of range");
        return m == 1 ? -1 - qint64(v) : qint64(v);
    }

    bool boolean(const char *what)
    {
        need(1);
        if (*p != 0xf4 && *p != 0xf5)
            bad(what);
        return *p++ == 0xf5;
    }

    double number(const char *what)
    {
        need(1);
        if (*p == 0xfb) {
            need(9);
            quint64 bits = 0;
            for (int i = 1; i <= 8; ++i)
                bits = (bits << 8) | p[i];
            p += 9;
            double d;
            memcpy(&d, &bits, sizeof d);
            return d;
        }
        if (*p == 0xfa) {
            need(5);
            quint32 bits = 0;
            for (int i = 1; i <= 4; ++i)
                bits = (bits << 8) | p[i];
            p += 5;
            float f;
            memcpy(&f, &bits, sizeof f);
            return f;
        }
        if ((*p >> 5) <= 1)
            return double(integer(what));
        bad(what);
    }

    std::string fieldName(int f) const { return m_fields.at(f).name.toStdString(); }

    // One value of field f, checked against the field's type and range.
    void cell(int f, PacketSink &sink)
    {
        if (takeNull())
            return sink.null(f);
        const FieldType type = m_types[size_t(f)];
        switch (type) {
        case FieldType::String:
        case FieldType::WideString:
        case FieldType::Memo:
            if (!sink.text(f, stringBytes(3, "text expected")))
                bad("text of field " + fieldName(f) + " is not valid UTF-8");
            return;
        case FieldType::SmallInt:
        case FieldType::Integer:
        case FieldType::LargeInt: {
            const qint64 n = integer("integer expected");
            if (!fitsField(type, n))
                bad("integer out of range for field " + fieldName(f));
            return sink.integer(f, n);
        }
        case FieldType::Float:
        case FieldType::Currency:
        case FieldType::BCD:
        case FieldType::FMTBCD:
            return sink.real(f, number("number expected"));
        case FieldType::Date: {
            const qint64 day = integer("integer expected");
            if (!QDate::fromJulianDay(day).isValid())
                bad("bad date");
            return sink.date(f, day);
        }
        case FieldType::Time: {
            const qint64 ms = integer("integer expected");
            if (ms < 0 || ms >= kMsecsPerDay)
                bad("bad time");
            return sink.time(f, int(ms));
        }
        case FieldType::DateTime: {
            qint64 day = 0;
            int ms = 0;
            splitDateTime(integer("integer expected"), &day, &ms);
            if (day > kMaxDateTimeDay || day < -kMaxDateTimeDay || !QDate::fromJulianDay(day).isValid())
                bad("bad date-time");
            return sink.dateTime(f, day, ms);
        }
        case FieldType::Boolean:
            return sink.boolean(f, boolean("Boolean expected"));
        case FieldType::Blob:
            return sink.blob(f, stringBytes(2, "byte string expected"));
        }
        bad("unknown field type");
    }

    // A row of values (also the original values of a change); null for no values.
    void values(PacketSink &sink)
    {
        const int n = int(m_fields.size());
        if (takeNull()) {
            if (n != 0)
                bad("row without values");
            return sink.endRow();
        }
        bool indefinite = false;
        const quint64 count = head(4, "array expected", &indefinite);
        if (!indefinite) {
            if (count != quint64(n))
                bad("row has " + std::to_string(count) + " values for " + std::to_string(n) + " fields");
            for (int i = 0; i < n; ++i)
                cell(i, sink);
        } else {
            for (int i = 0;; ++i) {
                if (takeBreak()) {
                    if (i != n)
                        bad("row has fewer values than fields");
                    break;
                }
                if (i >= n)
                    bad("row has more values than fields");
                cell(i, sink);
            }
        }
        sink.endRow();
    }

    // Items left in an entry (field definition, change) after the ones read: skipped.
    void skipRest(bool indefinite, quint64 left)
    {
        if (indefinite) {
            while (!takeBreak())
                skip();
        } else {
            for (; left > 0; --left)
                skip();
        }
    }

    void readFields()
    {
        bool indefinite = false;
        quint64 left = head(4, "array expected", &indefinite);
        while (indefinite ? !takeBreak() : left-- > 0) {
            bool entryIndefinite = false;
            const quint64 items = head(4, "array expected", &entryIndefinite);
            if (!entryIndefinite && items < 4)
                bad("field definition too short");
            FieldDef f;
            f.name = text("text expected");
            if (!isXmlSafe(f.name)) // the packet could not be written as XML again
                bad("field name with characters a packet cannot carry");
            const QString typeName = text("text expected");
            if (!fieldTypeFromName(typeName, &f.type))
                bad("unknown field type " + typeName.left(40).toStdString());
            const qint64 size = integer("integer expected");
            if (size < std::numeric_limits<int>::min() || size > std::numeric_limits<int>::max())
                bad("field size out of range");
            f.size = int(size);
            f.required = boolean("Boolean expected");
            skipRest(entryIndefinite, entryIndefinite ? 0 : items - 4);
            m_fields.append(f);
            m_types.push_back(f.type);
        }
        m_haveFields = true;
    }

    void readChanges();

    // [status, text]: what the sender of a streamed answer failed with after rows went out.
    [[noreturn]] void readError()
    {
        bool indefinite = false;
        const quint64 items = head(4, "array expected", &indefinite);
        if (!indefinite && items < 2)
            bad("error entry too short");
        const qint64 status = integer("integer expected");
        const QString text = this->text("text expected");
        throw PacketAborted(int(std::clamp<qint64>(status, 0, 999)), text);
    }

    // The sender starts over with a whole packet: what was read so far is dropped, and
    // the sink gets the new content from a second begin().
    void restart()
    {
        m_fields.clear();
        m_types.clear();
        m_haveFields = m_haveRows = m_haveChanges = m_begun = false;
        m_rowCount = 0;
        m_changes.clear();
    }

    void beginRows(qsizetype hint)
    {
        m_sink.begin(m_fields, hint);
        m_begun = true;
    }

    // One step of the packet; false when it waits for more bytes or is done.
    bool step()
    {
        switch (m_state) {
        case State::Magic:
            need(5);
            if (memcmp(p, kMagic, 4) != 0)
                throw PacketError("not a data packet (bad magic)");
            if (p[4] != kVersion)
                throw PacketError("data packet version " + std::to_string(p[4]) + " is not supported");
            p += 5;
            m_state = State::Map;
            return true;
        case State::Map:
            m_mapLeft = head(5, "map expected", &m_mapIndefinite);
            m_state = State::Key;
            return true;
        case State::Key: {
            if (m_mapIndefinite ? takeBreak() : m_mapLeft == 0) {
                m_state = State::AfterMap;
                return true;
            }
            const uchar *keyAt = p;
            needWhole(keyAt);
            const QString key = text("text expected");
            if (key == u"rows") {
                if (!m_haveFields)
                    bad("rows before fields");
                if (m_haveRows)
                    bad("two row lists");
                m_rowsLeft = head(4, "array expected", &m_rowsIndefinite);
                qsizetype hint = m_rowsIndefinite ? 0 : qsizetype(qMin<quint64>(m_rowsLeft, kMaxItems));
                const qsizetype room = m_last ? qsizetype(e - p) : expectedRest >= 0 ? expectedRest : 65536;
                hint = qMin(hint, room);
                m_haveRows = true;
                beginRows(hint);
                m_state = State::Rows;
            } else {
                needWhole(p);
                if (key == u"fields") {
                    if (m_haveFields)
                        bad("two field lists");
                    readFields();
                } else if (key == u"changes") {
                    if (!m_haveFields)
                        bad("change log before fields");
                    if (m_haveChanges)
                        bad("two change logs");
                    readChanges();
                } else if (key == u"error") {
                    readError(); // a streamed answer broken off by its sender
                } else if (key == u"restart") {
                    skip();
                    restart();
                } else {
                    skip(); // keys of a later version are ignored
                }
            }
            if (!m_mapIndefinite)
                --m_mapLeft;
            return true;
        }
        case State::Rows:
            if (m_rowsIndefinite ? takeBreak() : m_rowsLeft == 0) {
                m_state = State::Key;
                return true;
            }
            needWhole(p); // no row is handed on in part
            values(m_sink);
            ++m_rowCount;
            if (!m_rowsIndefinite)
                --m_rowsLeft;
            return true;
        case State::AfterMap:
            if (p != e)
                bad("bytes after the packet");
            if (!m_last)
                return false;
            finishPacket();
            m_state = State::Done;
            return false;
        case State::Done:
            if (p != e)
                bad("bytes after the packet");
            return false;
        }
        return false;
    }

    void finishPacket()
    {
        if (!m_haveFields)
            bad("no field list");
        if (!m_begun)
            beginRows(0);
        const qsizetype n = m_fields.size();
        QList<bool> seen(m_rowCount, false);
        for (const DataPacket::Change &c : std::as_const(m_changes)) {
            if (c.state == RowState::Deleted) {
                if (c.row != -1)
                    bad("a deleted row still points into the rows");
                if (c.original.size() != n)
                    bad("a deleted row's original values do not match the fields");
                continue;
            }
            if (c.row < 0 || c.row >= m_rowCount)
                bad("change log points at row " + std::to_string(c.row) + " which does not exist");
            if (seen[c.row])
                bad("change log names row " + std::to_string(c.row) + " twice");
            seen[c.row] = true;
            if (c.state == RowState::Inserted && !c.original.isEmpty())
                bad("an inserted row carries original values");
            if (c.state == RowState::Modified && c.original.size() != n)
                bad("a modified row's original values do not match the fields");
        }
        m_sink.changes(std::move(m_changes));
    }
};

// Cells into QVariant rows of the fields' types (QString, int, qlonglong, double, QDate,
// QTime, QDateTime, bool, QByteArray).
class VariantRows : public PacketSink
{
public:
    QList<FieldDef> fields;
    QList<QVariantList> rows;
    QList<DataPacket::Change> changeLog;

    void begin(const QList<FieldDef> &defs, qsizetype expected) override
    {
        fields = defs;
        rows.clear();
        rows.reserve(expected);
        m_interners.assign(size_t(defs.size()), Interner());
        m_dateTimes.assign(size_t(defs.size()), DateTimeCache());
        startRow();
    }
    void null(int) override { m_row.append(QVariant()); }
    bool text(int field, QByteArrayView utf8) override
    {
        QString s;
        if (!decodeUtf8(utf8, &s))
            return false;
        m_row.append(m_interners[size_t(field)].intern(std::move(s)));
        return true;
    }
    void integer(int field, qint64 value) override
    {
        if (fields.at(field).type == FieldType::LargeInt)
            m_row.append(QVariant(qlonglong(value)));
        else
            m_row.append(QVariant(int(value)));
    }
    void real(int, double value) override { m_row.append(QVariant(value)); }
    void date(int, qint64 julianDay) override { m_row.append(QVariant(QDate::fromJulianDay(julianDay))); }
    void time(int, int msecsOfDay) override
    {
        m_row.append(QVariant(QTime::fromMSecsSinceStartOfDay(msecsOfDay)));
    }
    void dateTime(int field, qint64 julianDay, int msecsOfDay) override
    {
        m_row.append(QVariant(m_dateTimes[size_t(field)].get(julianDay * kMsecsPerDay + msecsOfDay, [&] {
            return QDateTime(QDate::fromJulianDay(julianDay), QTime::fromMSecsSinceStartOfDay(msecsOfDay));
        })));
    }
    void boolean(int, bool value) override { m_row.append(QVariant(value)); }
    void blob(int, QByteArrayView bytes) override { m_row.append(QVariant(bytes.toByteArray())); }
    void endRow() override
    {
        rows.append(std::move(m_row));
        startRow();
    }
    void row(QVariantList &&values) override { rows.append(std::move(values)); }
    void changes(QList<DataPacket::Change> &&changes) override { changeLog = std::move(changes); }

private:
    void startRow()
    {
        m_row = QVariantList();
        m_row.reserve(fields.size());
    }
    QVariantList m_row;
    std::vector<Interner> m_interners;
    std::vector<DateTimeCache> m_dateTimes;
};

void Decoder::readChanges()
{
    VariantRows originals;
    originals.begin(m_fields, 0);
    bool indefinite = false;
    quint64 left = head(4, "array expected", &indefinite);
    while (indefinite ? !takeBreak() : left-- > 0) {
        bool entryIndefinite = false;
        const quint64 items = head(4, "array expected", &entryIndefinite);
        if (!entryIndefinite && items < 3)
            bad("change log entry too short");
        DataPacket::Change c;
        switch (integer("integer expected")) {
        case kStateInserted: c.state = RowState::Inserted; break;
        case kStateModified: c.state = RowState::Modified; break;
        case kStateDeleted: c.state = RowState::Deleted; break;
        default: bad("unknown row state");
        }
        const qint64 row = integer("integer expected");
        if (row < -1 || row > std::numeric_limits<int>::max())
            bad("change log points at row " + std::to_string(row) + " which does not exist");
        c.row = int(row);
        if (takeNull()) {
            // no original values (an inserted row)
        } else {
            values(originals);
            c.original = originals.rows.takeLast();
        }
        skipRest(entryIndefinite, entryIndefinite ? 0 : items - 3);
        m_changes.append(std::move(c));
    }
    m_haveChanges = true;
}

} // namespace

void DataPacket::readBinary(const QByteArray &bytes, PacketSink &sink)
{
    Decoder decoder(sink);
    const uchar *data = reinterpret_cast<const uchar *>(bytes.constData());
    decoder.run(data, data + bytes.size(), true);
    if (!decoder.done())
        bad("the packet is cut short");
}

DataPacket DataPacket::fromBinary(const QByteArray &bytes)
{
    VariantRows rows;
    readBinary(bytes, rows);
    DataPacket p;
    p.fields = std::move(rows.fields);
    p.rows = std::move(rows.rows);
    p.changes = std::move(rows.changeLog);
    return p;
}

// The bytes are kept in blocks that never move, so that the views handed to the sink stay
// valid; a row cut by a block's end is copied whole into the next block.
struct PacketStreamReader::Impl
{
    explicit Impl(PacketSink &sink)
        : decoder(sink)
    {}

    struct Block
    {
        std::unique_ptr<char[]> data;
        qsizetype size = 0;
        qsizetype capacity = 0;
    };

    Decoder decoder;
    std::deque<Block> blocks;
    qsizetype pos = 0;       // first byte of the current block not yet decoded
    qsizetype expected = -1; // the packet's whole size, when known
    qsizetype received = 0;

    Block *current() { return blocks.empty() ? nullptr : &blocks.back(); }

    void room(qsizetype n)
    {
        Block *b = current();
        if (b && b->capacity - b->size >= n)
            return;
        const qsizetype carried = b ? b->size - pos : 0;
        qsizetype capacity = qMax<qsizetype>(carried + n, qsizetype(1) << 20);
        if (expected > received)
            capacity = qMax(capacity, carried + (expected - received));
        Block fresh;
        fresh.data.reset(new char[size_t(capacity)]);
        fresh.capacity = capacity;
        if (carried > 0)
            memcpy(fresh.data.get(), b->data.get() + pos, size_t(carried));
        fresh.size = carried;
        blocks.push_back(std::move(fresh));
        pos = 0;
    }

    void decode(bool last)
    {
        Block *b = current();
        if (!b) {
            room(0);
            b = current();
        }
        const uchar *data = reinterpret_cast<const uchar *>(b->data.get());
        decoder.expectedRest = expected >= 0 ? qMax<qsizetype>(expected - received + (b->size - pos), 0) : -1;
        pos += decoder.run(data + pos, data + b->size, last);
    }
};

PacketStreamReader::PacketStreamReader(PacketSink &sink)
    : d(std::make_unique<Impl>(sink))
{}

PacketStreamReader::~PacketStreamReader() = default;

void PacketStreamReader::expectBytes(qsizetype total)
{
    d->expected = total;
}

void PacketStreamReader::feed(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    d->room(bytes.size());
    Impl::Block *b = d->current();
    memcpy(b->data.get() + b->size, bytes.data(), size_t(bytes.size()));
    b->size += bytes.size();
    d->received += bytes.size();
    d->decode(false);
}

void PacketStreamReader::finish()
{
    d->decode(true);
    if (!d->decoder.done())
        bad("the packet is cut short");
}

bool PacketStreamReader::finished() const
{
    return d->decoder.done();
}

} // namespace quillon
