// The binary form written: magic "WLDP", version, then CBOR with definite lengths, the
// shortest heads and doubles as 64-bit floats.
#include "dataaccess/packet/packetformat.h"

#include <cstring>
#include <string>

namespace quillon {

using namespace packetformat;

namespace {

// Writes CBOR straight into a byte array: the shortest head for every length and
// integer, doubles always as 64-bit floats, texts as UTF-8, definite lengths only. These
// are the bytes the packets in cache files were written with, so they must not change.
class CborOut
{
public:
    explicit CborOut(QByteArray &out)
        : m_out(out), m_used(out.size())
    {
        m_data = m_out.data();
        m_capacity = m_out.size();
    }

    ~CborOut() { m_out.truncate(m_used); }

    void head(quint8 major, quint64 v)
    {
        const quint8 m = quint8(major << 5);
        if (v < 24) {
            *room(1) = char(m | v);
        } else if (v <= 0xff) {
            char *p = room(2);
            p[0] = char(m | 24);
            p[1] = char(v);
        } else if (v <= 0xffff) {
            char *p = room(3);
            p[0] = char(m | 25);
            bigEndian(p + 1, v, 2);
        } else if (v <= 0xffffffffULL) {
            char *p = room(5);
            p[0] = char(m | 26);
            bigEndian(p + 1, v, 4);
        } else {
            char *p = room(9);
            p[0] = char(m | 27);
            bigEndian(p + 1, v, 8);
        }
    }

    void integer(qint64 v)
    {
        if (v >= 0)
            head(0, quint64(v));
        else
            head(1, quint64(-1 - v));
    }

    void number(double d)
    {
        quint64 bits;
        memcpy(&bits, &d, sizeof bits);
        char *p = room(9);
        p[0] = char(0xfb);
        bigEndian(p + 1, bits, 8);
    }

    void null() { *room(1) = char(0xf6); }
    void raw(QByteArrayView b)
    {
        if (!b.isEmpty())
            memcpy(room(b.size()), b.data(), size_t(b.size()));
    }
    qsizetype used() const { return m_used; }
    void boolean(bool b) { *room(1) = char(b ? 0xf5 : 0xf4); }

    void latin1(const char *ascii)
    {
        const size_t n = strlen(ascii);
        head(3, n);
        memcpy(room(qsizetype(n)), ascii, n);
    }

    void bytes(const QByteArray &b)
    {
        head(2, quint64(b.size()));
        if (!b.isEmpty())
            memcpy(room(b.size()), b.constData(), size_t(b.size()));
    }

    void text(QStringView s)
    {
        const char16_t *u = s.utf16();
        const qsizetype n = s.size();
        qsizetype len = 0;
        bool surrogates = false;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = u[i];
            len += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
            surrogates |= (c & 0xf800) == 0xd800;
        }
        if (surrogates) { // pairs and strays: leave them to Qt's encoder
            const QByteArray utf8 = s.toUtf8();
            head(3, quint64(utf8.size()));
            memcpy(room(utf8.size()), utf8.constData(), size_t(utf8.size()));
            return;
        }
        head(3, quint64(len));
        if (len == 0)
            return;
        uchar *p = reinterpret_cast<uchar *>(room(len));
        if (len == n) {
            for (qsizetype i = 0; i < n; ++i)
                p[i] = uchar(u[i]);
            return;
        }
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = u[i];
            if (c < 0x80) {
                *p++ = uchar(c);
            } else if (c < 0x800) {
                *p++ = uchar(0xc0 | (c >> 6));
                *p++ = uchar(0x80 | (c & 0x3f));
            } else {
                *p++ = uchar(0xe0 | (c >> 12));
                *p++ = uchar(0x80 | ((c >> 6) & 0x3f));
                *p++ = uchar(0x80 | (c & 0x3f));
            }
        }
    }

private:
    static void bigEndian(char *p, quint64 v, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            p[i] = char(v & 0xff);
            v >>= 8;
        }
    }

    // The bytes are written through a pointer kept between calls: asking the array for
    // its data on every value costs a check for sharing each time.
    char *room(qsizetype n)
    {
        if (m_used + n > m_capacity) [[unlikely]]
            grow(n);
        char *p = m_data + m_used;
        m_used += n;
        return p;
    }

    void grow(qsizetype n)
    {
        m_out.resize(qMax(qMax(m_out.capacity(), m_out.size() * 2), m_used + n + 4096));
        m_data = m_out.data();
        m_capacity = m_out.size();
    }

    QByteArray &m_out;
    char *m_data = nullptr;
    qsizetype m_capacity = 0;
    qsizetype m_used;
};

// Values of the field's own type are written directly; anything else goes through the
// conversion (and its refusal) that the other encodings use.
void writeConverted(CborOut &w, const FieldDef &field, const QVariant &raw)
{
    const QVariant v = encodableValue(field, raw);
    if (v.isNull()) {
        w.null();
        return;
    }
    switch (field.type) {
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Memo:
        w.text(v.toString());
        break;
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::LargeInt:
        w.integer(qint64(v.toLongLong()));
        break;
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD:
        w.number(v.toDouble());
        break;
    case FieldType::Date:
        w.integer(qint64(v.toDate().toJulianDay()));
        break;
    case FieldType::Time:
        w.integer(qint64(v.toTime().msecsSinceStartOfDay()));
        break;
    case FieldType::DateTime: {
        // Wall-clock time without a zone: the database's date-times are local and naive.
        const QDateTime dt = v.toDateTime();
        const qint64 day = dt.date().toJulianDay();
        if (day > kMaxDateTimeDay || day < -kMaxDateTimeDay)
            throw PacketError("date-time " + dt.toString(Qt::ISODate).toStdString() + " of field "
                              + field.name.toStdString() + " is out of range");
        w.integer(day * kMsecsPerDay + dt.time().msecsSinceStartOfDay());
        break;
    }
    case FieldType::Boolean:
        w.boolean(v.toBool());
        break;
    case FieldType::Blob:
        w.bytes(v.toByteArray());
        break;
    }
}

template<typename T>
const T &held(const QVariant &v)
{
    return *static_cast<const T *>(v.constData());
}

void writeValue(CborOut &w, const FieldDef &field, const QVariant &raw)
{
    if (!raw.isValid() || raw.isNull()) {
        w.null();
        return;
    }
    const int id = raw.typeId();
    switch (field.type) {
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Memo:
        if (id == QMetaType::QString)
            return w.text(held<QString>(raw));
        break;
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::LargeInt:
        if (id == QMetaType::Int)
            if (fitsField(field.type, held<int>(raw)))
                return w.integer(held<int>(raw));
        if (id == QMetaType::LongLong)
            if (fitsField(field.type, held<qlonglong>(raw)))
                return w.integer(held<qlonglong>(raw));
        break;
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD:
        if (id == QMetaType::Double)
            return w.number(held<double>(raw));
        break;
    case FieldType::Date:
        if (id == QMetaType::QDate && held<QDate>(raw).isValid())
            return w.integer(held<QDate>(raw).toJulianDay());
        break;
    case FieldType::DateTime:
        if (id == QMetaType::QDateTime) {
            const QDateTime &dt = held<QDateTime>(raw);
            const qint64 day = dt.date().toJulianDay();
            if (dt.isValid() && day <= kMaxDateTimeDay && day >= -kMaxDateTimeDay)
                return w.integer(day * kMsecsPerDay
                                 + dt.time().msecsSinceStartOfDay());
        }
        break;
    case FieldType::Boolean:
        if (id == QMetaType::Bool)
            return w.boolean(held<bool>(raw));
        break;
    default:
        break;
    }
    writeConverted(w, field, raw);
}

void writeValues(CborOut &w, const QList<FieldDef> &fields, const QVariantList &values)
{
    w.head(4, quint64(values.size()));
    for (qsizetype i = 0; i < values.size(); ++i)
        writeValue(w, fields.at(i), values.at(i));
}

} // namespace

QByteArray DataPacket::toBinary() const
{
    checkShape(*this);
    QByteArray out;
    out.reserve(64 + rows.size() * qMax<qsizetype>(fields.size(), 1) * 10);
    out.append(kMagic, 4);
    out.append(char(kVersion));
    {
        CborOut w(out);
        w.head(5, 3);
        w.latin1("fields");
        w.head(4, quint64(fields.size()));
        for (const FieldDef &f : fields) {
            w.head(4, 4);
            w.text(f.name);
            w.text(fieldTypeName(f.type));
            w.integer(f.size);
            w.boolean(f.required);
        }
        w.latin1("rows");
        w.head(4, quint64(rows.size()));
        for (const QVariantList &row : rows)
            writeValues(w, fields, row);
        w.latin1("changes");
        w.head(4, quint64(changes.size()));
        for (const Change &c : changes) {
            w.head(4, 3);
            w.integer(stateCode(c.state));
            w.integer(c.row);
            if (c.state == RowState::Inserted)
                w.null();
            else
                writeValues(w, fields, c.original);
        }
    }
    return out;
}

class BinaryPacketWriter::Out : public CborOut
{
public:
    using CborOut::CborOut;
};

namespace {
// Room left before the rows for the packet's header, so that finishing writes the header
// in front of them instead of copying the rows behind it.
constexpr qsizetype kHeaderRoom = 8192;
} // namespace

BinaryPacketWriter::BinaryPacketWriter(int fieldCount)
    : m_fieldCount(fieldCount)
{
    m_body.resize(kHeaderRoom);
    m_out = std::make_unique<Out>(m_body);
}

void BinaryPacketWriter::beginRow()
{
    m_out->head(4, quint64(m_fieldCount));
}

BinaryPacketWriter::~BinaryPacketWriter() = default;

void BinaryPacketWriter::null()
{
    m_out->null();
}

void BinaryPacketWriter::text(QByteArrayView utf8)
{
    m_out->head(3, quint64(utf8.size()));
    m_out->raw(utf8);
}

void BinaryPacketWriter::integer(qint64 value)
{
    m_out->integer(value);
}

void BinaryPacketWriter::real(double value)
{
    m_out->number(value);
}

void BinaryPacketWriter::dateTime(qint64 julianDay, int msecsOfDay)
{
    m_out->integer(julianDay * kMsecsPerDay + msecsOfDay);
}

void BinaryPacketWriter::blob(QByteArrayView bytes)
{
    m_out->head(2, quint64(bytes.size()));
    m_out->raw(bytes);
}

qsizetype BinaryPacketWriter::size() const
{
    return m_out->used() - kHeaderRoom;
}

QByteArray BinaryPacketWriter::finish(const QList<FieldDef> &fields)
{
    const qsizetype used = m_out->used();
    m_out.reset(); // trims the body to what was written
    DataPacket header;
    header.fields = fields;
    // The header as toBinary writes it for no rows, ending in "rows" [] "changes" [].
    QByteArray head = header.toBinary();
    static const char tail[] = "\x64" "rows" "\x80" "\x67" "changes" "\x80";
    const qsizetype tailSize = qsizetype(sizeof tail) - 1;
    Q_ASSERT(head.endsWith(QByteArrayView(tail, tailSize)));
    head.truncate(head.size() - tailSize + 5); // up to and with "rows"
    {
        CborOut w(head);
        w.head(4, quint64(m_rows));
    }
    QByteArray out;
    if (head.size() <= kHeaderRoom) {
        // Into the room before the rows; dropping the rest of it from the front moves
        // no bytes.
        const qsizetype from = kHeaderRoom - head.size();
        memcpy(m_body.data() + from, head.constData(), size_t(head.size()));
        m_body.append("\x67" "changes" "\x80", 9);
        m_body.remove(0, from);
        out = std::move(m_body);
    } else {
        out.reserve(head.size() + used - kHeaderRoom + 16);
        out.append(head);
        out.append(m_body.constData() + kHeaderRoom, used - kHeaderRoom);
        out.append("\x67" "changes" "\x80", 9);
    }
    m_body = QByteArray();
    m_body.resize(kHeaderRoom);
    m_out = std::make_unique<Out>(m_body);
    m_rows = 0;
    return out;
}

namespace {
// "rows" and "changes" as toBinary writes them for no rows.
const char kEmptyTail[] = "\x64" "rows" "\x80" "\x67" "changes" "\x80";
constexpr qsizetype kEmptyTailSize = qsizetype(sizeof kEmptyTail) - 1;
constexpr qsizetype kPacketPrefix = 6; // magic, version, the map's head of three entries
} // namespace

QByteArray BinaryPacketWriter::streamHead(const QList<FieldDef> &fields)
{
    DataPacket header;
    header.fields = fields;
    const QByteArray whole = header.toBinary();
    Q_ASSERT(whole.endsWith(QByteArrayView(kEmptyTail, kEmptyTailSize)) && quint8(whole.at(5)) == 0xa3);
    QByteArray out;
    out.reserve(whole.size() + 8);
    out.append(whole.constData(), 5);
    out.append('\xbf'); // a map of indefinite length: the entries after the rows are not known yet
    out.append(whole.constData() + kPacketPrefix, whole.size() - kPacketPrefix - kEmptyTailSize);
    out.append("\x64" "rows" "\x9f", 6); // rows as an array of indefinite length
    return out;
}

QByteArray BinaryPacketWriter::takeRows()
{
    const qsizetype used = m_out->used();
    m_out.reset();
    QByteArray out(m_body.constData() + kHeaderRoom, used - kHeaderRoom);
    m_body.resize(kHeaderRoom);
    m_out = std::make_unique<Out>(m_body);
    return out;
}

QByteArray BinaryPacketWriter::streamEnd()
{
    return QByteArray("\xff" "\x67" "changes" "\x80" "\xff", 11);
}

QByteArray BinaryPacketWriter::streamError(int status, const QString &text)
{
    QByteArray out("\xff" "\x65" "error", 7);
    {
        CborOut w(out);
        w.head(4, 2);
        w.integer(status);
        w.text(text);
    }
    out.append('\xff');
    return out;
}

QByteArray BinaryPacketWriter::streamRestart(const QByteArray &packet)
{
    Q_ASSERT(packet.size() > kPacketPrefix && quint8(packet.at(5)) == 0xa3);
    QByteArray out("\xff" "\x67" "restart" "\xf6", 10);
    out.append(packet.constData() + kPacketPrefix, packet.size() - kPacketPrefix);
    out.append('\xff');
    return out;
}

} // namespace quillon
