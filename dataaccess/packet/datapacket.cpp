#include "dataaccess/packet/datapacket.h"

#include <QCborStreamReader>
#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <QSet>
#include <QStringDecoder>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace quillon {

namespace {

constexpr char kMagic[4] = {'W', 'L', 'D', 'P'};
constexpr quint8 kVersion = 1;
constexpr qint64 kMsecsPerDay = 86400000;

// Row-state codes shared by both encodings (the XML form's "RowState" values).
constexpr int kStateOriginal = 1;
constexpr int kStateDeleted = 2;
constexpr int kStateInserted = 4;
constexpr int kStateModified = 8;

struct TypeName
{
    FieldType type;
    const char *name;
};

constexpr std::array<TypeName, 15> kTypeNames = {{
    {FieldType::String, "string"},
    {FieldType::WideString, "string.uni"},
    {FieldType::SmallInt, "i2"},
    {FieldType::Integer, "i4"},
    {FieldType::LargeInt, "i8"},
    {FieldType::Float, "r8"},
    {FieldType::Currency, "money"},
    {FieldType::BCD, "fixed"},
    {FieldType::FMTBCD, "fixedFMT"},
    {FieldType::Date, "date"},
    {FieldType::Time, "time"},
    {FieldType::DateTime, "dateTime"},
    {FieldType::Boolean, "boolean"},
    {FieldType::Memo, "memo"},
    {FieldType::Blob, "blob"},
}};

int stateCode(RowState state)
{
    switch (state) {
    case RowState::Inserted: return kStateInserted;
    case RowState::Modified: return kStateModified;
    case RowState::Deleted: return kStateDeleted;
    case RowState::Unchanged: break;
    }
    return 0;
}

// ---- value conversion ------------------------------------------------------------------

QDateTime parseDateTimeText(const QString &text)
{
    static const char *const formats[] = {
        "yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss.zzz",
        "yyyy-MM-ddTHH:mm:ss",     "yyyy-MM-dd HH:mm",    "yyyy/MM/dd HH:mm:ss",
        "yyyy/M/d H:mm:ss",        "yyyy-M-d H:mm:ss",    "yyyyMMddTHH:mm:ss.zzz",
        "yyyyMMddTHH:mm:ss",
    };
    for (const char *f : formats) {
        const QDateTime dt = QDateTime::fromString(text, QLatin1String(f));
        if (dt.isValid())
            return dt;
    }
    return {};
}

QDate parseDateText(const QString &text)
{
    static const char *const formats[] = {"yyyy-MM-dd", "yyyy/MM/dd", "yyyyMMdd", "yyyy-M-d",
                                          "yyyy/M/d"};
    for (const char *f : formats) {
        const QDate d = QDate::fromString(text, QLatin1String(f));
        if (d.isValid())
            return d;
    }
    const QDateTime dt = parseDateTimeText(text);
    return dt.isValid() ? dt.date() : QDate();
}

QTime parseTimeText(const QString &text)
{
    static const char *const formats[] = {"HH:mm:ss.zzz", "HH:mm:ss", "H:mm:ss", "HH:mm", "H:mm"};
    for (const char *f : formats) {
        const QTime t = QTime::fromString(text, QLatin1String(f));
        if (t.isValid())
            return t;
    }
    return {};
}

QVariant fail(bool *ok)
{
    if (ok)
        *ok = false;
    return {};
}

QVariant toInteger(FieldType type, const QVariant &value, bool *ok)
{
    qint64 n = 0;
    bool good = false;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::SChar:
        n = value.toLongLong(&good);
        break;
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::UChar: {
        const quint64 u = value.toULongLong(&good);
        good = good && u <= quint64(std::numeric_limits<qint64>::max());
        n = qint64(u);
        break;
    }
    case QMetaType::Bool:
        n = value.toBool() ? 1 : 0;
        good = true;
        break;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        good = d == std::floor(d) && d >= -9.2e18 && d <= 9.2e18;
        n = qint64(d);
        break;
    }
    default: {
        const QString text = value.toString().trimmed();
        if (text.isEmpty() && value.canConvert<QString>())
            return {};
        n = text.toLongLong(&good);
        if (!good) {
            // "12.0" typed into an integer field is still 12.
            const double d = text.toDouble(&good);
            good = good && d == std::floor(d) && d >= -9.2e18 && d <= 9.2e18;
            n = qint64(d);
        }
    }
    }
    if (!good)
        return fail(ok);
    if (type == FieldType::SmallInt) {
        if (n < -32768 || n > 32767)
            return fail(ok);
        return QVariant(int(n));
    }
    if (type == FieldType::Integer) {
        if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
            return fail(ok);
        return QVariant(int(n));
    }
    return QVariant(qlonglong(n));
}

} // namespace

QString fieldTypeName(FieldType type)
{
    for (const TypeName &t : kTypeNames)
        if (t.type == type)
            return QLatin1String(t.name);
    return QStringLiteral("string");
}

bool fieldTypeFromName(const QString &name, FieldType *type)
{
    for (const TypeName &t : kTypeNames) {
        if (name == QLatin1String(t.name)) {
            if (type)
                *type = t.type;
            return true;
        }
    }
    return false;
}

bool isStringType(FieldType type)
{
    return type == FieldType::String || type == FieldType::WideString || type == FieldType::Memo;
}

bool isIntegerType(FieldType type)
{
    return type == FieldType::SmallInt || type == FieldType::Integer || type == FieldType::LargeInt;
}

bool isNumericType(FieldType type)
{
    return isIntegerType(type) || type == FieldType::Float || type == FieldType::Currency
           || type == FieldType::BCD || type == FieldType::FMTBCD;
}

QVariant convertValue(FieldType type, const QVariant &value, bool *ok)
{
    if (ok)
        *ok = true;
    if (!value.isValid() || value.isNull())
        return {};
    switch (type) {
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Memo:
        switch (value.typeId()) {
        case QMetaType::QString: return value;
        case QMetaType::QByteArray: return QString::fromUtf8(value.toByteArray());
        case QMetaType::QDateTime:
            return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        case QMetaType::Double: return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        case QMetaType::Bool: return QString::fromLatin1(value.toBool() ? "TRUE" : "FALSE");
        default:
            if (!value.canConvert<QString>())
                return fail(ok);
            return value.toString();
        }
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::LargeInt:
        return toInteger(type, value, ok);
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD: {
        if (value.typeId() == QMetaType::Double)
            return value;
        bool good = false;
        double d = 0;
        if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
            const QString text = value.toString().trimmed();
            if (text.isEmpty())
                return {};
            d = text.toDouble(&good);
        } else if (value.typeId() == QMetaType::Bool) {
            d = value.toBool() ? 1 : 0;
            good = true;
        } else {
            d = value.toDouble(&good);
        }
        if (!good)
            return fail(ok);
        return QVariant(d);
    }
    case FieldType::Date: {
        QDate d;
        if (value.typeId() == QMetaType::QDate)
            return value;
        if (value.typeId() == QMetaType::QDateTime)
            d = value.toDateTime().date();
        else {
            const QString text = value.toString().trimmed();
            if (text.isEmpty())
                return {};
            d = parseDateText(text);
        }
        if (!d.isValid())
            return fail(ok);
        return QVariant(d);
    }
    case FieldType::Time: {
        QTime t;
        if (value.typeId() == QMetaType::QTime)
            return value;
        if (value.typeId() == QMetaType::QDateTime)
            t = value.toDateTime().time();
        else {
            const QString text = value.toString().trimmed();
            if (text.isEmpty())
                return {};
            t = parseTimeText(text);
        }
        if (!t.isValid())
            return fail(ok);
        return QVariant(t);
    }
    case FieldType::DateTime: {
        QDateTime dt;
        if (value.typeId() == QMetaType::QDateTime)
            dt = value.toDateTime();
        else if (value.typeId() == QMetaType::QDate)
            dt = QDateTime(value.toDate(), QTime(0, 0));
        else {
            const QString text = value.toString().trimmed();
            if (text.isEmpty())
                return {};
            dt = parseDateTimeText(text);
            if (!dt.isValid()) {
                const QDate d = parseDateText(text);
                if (d.isValid())
                    dt = QDateTime(d, QTime(0, 0));
            }
        }
        if (!dt.isValid())
            return fail(ok);
        return QVariant(dt);
    }
    case FieldType::Boolean: {
        switch (value.typeId()) {
        case QMetaType::Bool: return value;
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
        case QMetaType::Double:
            return QVariant(value.toDouble() != 0);
        default: {
            const QString text = value.toString().trimmed().toUpper();
            if (text.isEmpty())
                return {};
            if (text == u"TRUE" || text == u"T" || text == u"Y" || text == u"YES" || text == u"1")
                return QVariant(true);
            if (text == u"FALSE" || text == u"F" || text == u"N" || text == u"NO" || text == u"0")
                return QVariant(false);
            return fail(ok);
        }
        }
    }
    case FieldType::Blob:
        if (value.typeId() == QMetaType::QByteArray)
            return value;
        if (value.typeId() == QMetaType::QString)
            return QVariant(value.toString().toUtf8());
        return fail(ok);
    }
    return fail(ok);
}

int DataPacket::fieldIndex(const QString &name) const
{
    for (int i = 0; i < fields.size(); ++i)
        if (fields.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// ---- shared validation -----------------------------------------------------------------

namespace {

QVariant encodableValue(const FieldDef &field, const QVariant &value)
{
    bool ok = true;
    const QVariant v = convertValue(field.type, value, &ok);
    if (!ok)
        throw PacketError("value " + value.toString().left(40).toStdString() + " does not fit field "
                          + field.name.toStdString() + " of type "
                          + fieldTypeName(field.type).toStdString());
    return v;
}

void checkShape(const DataPacket &p)
{
    const qsizetype n = p.fields.size();
    for (qsizetype r = 0; r < p.rows.size(); ++r)
        if (p.rows.at(r).size() != n)
            throw PacketError("row " + std::to_string(r) + " has " + std::to_string(p.rows.at(r).size())
                              + " values for " + std::to_string(n) + " fields");
    QList<bool> seen(p.rows.size(), false);
    for (const DataPacket::Change &c : p.changes) {
        switch (c.state) {
        case RowState::Inserted:
        case RowState::Modified:
            if (c.row < 0 || c.row >= p.rows.size())
                throw PacketError("change log points at row " + std::to_string(c.row)
                                  + " which does not exist");
            if (seen[c.row])
                throw PacketError("change log names row " + std::to_string(c.row) + " twice");
            seen[c.row] = true;
            if (c.state == RowState::Inserted && !c.original.isEmpty())
                throw PacketError("an inserted row carries original values");
            if (c.state == RowState::Modified && c.original.size() != n)
                throw PacketError("a modified row's original values do not match the fields");
            break;
        case RowState::Deleted:
            if (c.row != -1)
                throw PacketError("a deleted row still points into the rows");
            if (c.original.size() != n)
                throw PacketError("a deleted row's original values do not match the fields");
            break;
        case RowState::Unchanged:
            throw PacketError("change log entry without a change");
        }
    }
}

// ---- binary form -----------------------------------------------------------------------

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
        w.integer(qint64(dt.date().toJulianDay() * kMsecsPerDay + dt.time().msecsSinceStartOfDay()));
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

bool fitsField(FieldType type, qint64 n)
{
    if (type == FieldType::SmallInt)
        return n >= -32768 && n <= 32767;
    if (type == FieldType::Integer)
        return n >= std::numeric_limits<qint32>::min() && n <= std::numeric_limits<qint32>::max();
    return true;
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
            if (dt.isValid())
                return w.integer(dt.date().toJulianDay() * kMsecsPerDay
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

// Shares equal texts of a column (site names, types ...) so that a big packet holds each
// once. Gives up on a column whose texts are mostly distinct (bill codes, keys).
struct Interner
{
    QSet<QString> seen;
    int lookups = 0;
    int misses = 0;
    bool off = false;

    QString intern(QString &&s)
    {
        if (off || s.size() > 64)
            return std::move(s);
        ++lookups;
        const auto it = seen.constFind(s);
        if (it != seen.constEnd())
            return *it;
        ++misses;
        if (lookups >= 512 && misses * 2 > lookups) {
            off = true;
            seen = {};
            return std::move(s);
        }
        if (seen.size() < 65536)
            seen.insert(s);
        return std::move(s);
    }
};

// Date-times of a column that repeat (business dates at midnight) are built once: making
// a local QDateTime asks the system's zone rules each time, which is slow.
struct DateTimeCache
{
    QHash<qint64, QDateTime> seen;
    int lookups = 0;
    int misses = 0;
    bool off = false;

    template<typename Make>
    QDateTime get(qint64 ms, const Make &make)
    {
        if (off)
            return make();
        ++lookups;
        const auto it = seen.constFind(ms);
        if (it != seen.constEnd())
            return *it;
        ++misses;
        QDateTime dt = make();
        if (lookups >= 512 && misses * 2 > lookups) {
            off = true;
            seen = {};
        } else if (seen.size() < 65536) {
            seen.insert(ms, dt);
        }
        return dt;
    }
};

// Reads packets as this program writes them (definite lengths, known keys, the fields
// in order) straight from the bytes. Anything else it leaves to the general reader
// below by throwing Unusual: older or later writers' packets, and damaged ones, whose
// errors the general reader reports.
struct Unusual
{};

class DirectReader
{
public:
    DirectReader(const char *data, qsizetype size)
        : p(reinterpret_cast<const uchar *>(data)), end(p + size)
    {}

    const uchar *p;
    const uchar *end;
    std::vector<Interner> interners;
    std::vector<DateTimeCache> dateTimes;

    bool atEnd() const { return p == end; }

    quint64 head(int major)
    {
        if (p >= end || (*p >> 5) != major)
            throw Unusual();
        const uchar info = *p++ & 0x1f;
        if (info < 24)
            return info;
        const int n = info == 24 ? 1 : info == 25 ? 2 : info == 26 ? 4 : info == 27 ? 8 : 0;
        if (n == 0 || end - p < n)
            throw Unusual();
        quint64 v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | p[i];
        p += n;
        return v;
    }

    // A count of items that follow, each at least one byte long.
    qsizetype count(int major)
    {
        const quint64 n = head(major);
        if (n > quint64(end - p))
            throw Unusual();
        return qsizetype(n);
    }

    bool takeNull()
    {
        if (p < end && *p == 0xf6) {
            ++p;
            return true;
        }
        return false;
    }

    qint64 integer()
    {
        if (p >= end)
            throw Unusual();
        const bool negative = (*p >> 5) == 1;
        const quint64 v = head(negative ? 1 : 0);
        if (v > quint64(std::numeric_limits<qint64>::max()))
            throw Unusual();
        return negative ? -1 - qint64(v) : qint64(v);
    }

    bool boolean()
    {
        if (p < end && (*p == 0xf5 || *p == 0xf4))
            return *p++ == 0xf5;
        throw Unusual();
    }

    QString text()
    {
        const qsizetype n = qsizetype(head(3));
        if (n > end - p)
            throw Unusual();
        const uchar *s = p;
        p += n;
        qsizetype i = 0;
        while (i < n && s[i] < 0x80)
            ++i;
        if (i == n)
            return QString::fromLatin1(reinterpret_cast<const char *>(s), n);
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless
                                                           | QStringConverter::Flag::ConvertInitialBom);
        QString out = decoder.decode(QByteArrayView(s, n));
        if (decoder.hasError())
            throw Unusual();
        if (out.capacity() - out.size() > 4)
            out.squeeze();
        return out;
    }

    bool isText(const char *ascii)
    {
        const qsizetype n = qsizetype(strlen(ascii));
        if (end - p < n + 1 || *p != uchar(0x60 + n) || memcmp(p + 1, ascii, size_t(n)) != 0)
            return false;
        p += n + 1;
        return true;
    }

    double number()
    {
        if (p < end && *p == 0xfb && end - p >= 9) {
            quint64 bits = 0;
            for (int i = 1; i <= 8; ++i)
                bits = (bits << 8) | p[i];
            p += 9;
            double d;
            memcpy(&d, &bits, sizeof d);
            return d;
        }
        if (p < end && *p == 0xfa && end - p >= 5) {
            quint32 bits = 0;
            for (int i = 1; i <= 4; ++i)
                bits = (bits << 8) | p[i];
            p += 5;
            float f;
            memcpy(&f, &bits, sizeof f);
            return f;
        }
        if (p < end && (*p >> 5) <= 1)
            return double(integer());
        throw Unusual();
    }

    QVariant value(const FieldDef &field, Interner &interner, DateTimeCache &dtCache)
    {
        if (takeNull())
            return {};
        switch (field.type) {
        case FieldType::String:
        case FieldType::WideString:
        case FieldType::Memo:
            return interner.intern(text());
        case FieldType::SmallInt:
        case FieldType::Integer: {
            const qint64 n = integer();
            if (!fitsField(field.type, n))
                throw Unusual();
            return QVariant(int(n));
        }
        case FieldType::LargeInt:
            return QVariant(qlonglong(integer()));
        case FieldType::Float:
        case FieldType::Currency:
        case FieldType::BCD:
        case FieldType::FMTBCD:
            return QVariant(number());
        case FieldType::Date: {
            const QDate d = QDate::fromJulianDay(integer());
            if (!d.isValid())
                throw Unusual();
            return QVariant(d);
        }
        case FieldType::Time: {
            const qint64 ms = integer();
            if (ms < 0 || ms >= kMsecsPerDay)
                throw Unusual();
            return QVariant(QTime::fromMSecsSinceStartOfDay(int(ms)));
        }
        case FieldType::DateTime: {
            const qint64 ms = integer();
            const qint64 day = ms >= 0 ? ms / kMsecsPerDay : (ms - kMsecsPerDay + 1) / kMsecsPerDay;
            const QDate d = QDate::fromJulianDay(day);
            if (!d.isValid())
                throw Unusual();
            return QVariant(dtCache.get(ms, [&] {
                return QDateTime(d, QTime::fromMSecsSinceStartOfDay(int(ms - day * kMsecsPerDay)));
            }));
        }
        case FieldType::Boolean:
            return QVariant(boolean());
        case FieldType::Blob: {
            const qsizetype n = count(2);
            const char *b = reinterpret_cast<const char *>(p);
            p += n;
            return QVariant(QByteArray(b, n));
        }
        }
        throw Unusual();
    }

    QVariantList values(const QList<FieldDef> &fields)
    {
        if (takeNull())
            return {};
        if (count(4) != fields.size())
            throw Unusual();
        QVariantList out;
        out.reserve(fields.size());
        for (qsizetype i = 0; i < fields.size(); ++i)
            out.append(value(fields.at(i), interners[size_t(i)], dateTimes[size_t(i)]));
        return out;
    }

    DataPacket packet()
    {
        DataPacket pk;
        if (head(5) != 3 || !isText("fields"))
            throw Unusual();
        const qsizetype nFields = count(4);
        pk.fields.reserve(nFields);
        for (qsizetype i = 0; i < nFields; ++i) {
            if (head(4) != 4)
                throw Unusual();
            FieldDef f;
            f.name = text();
            if (!fieldTypeFromName(text(), &f.type))
                throw Unusual();
            const qint64 size = integer();
            f.size = int(size);
            f.required = boolean();
            pk.fields.append(f);
        }
        interners.assign(size_t(nFields), Interner());
        dateTimes.assign(size_t(nFields), DateTimeCache());
        if (!isText("rows"))
            throw Unusual();
        const qsizetype nRows = count(4);
        pk.rows.reserve(nRows);
        for (qsizetype i = 0; i < nRows; ++i) {
            if (takeNull())
                pk.rows.append(QVariantList());
            else
                pk.rows.append(values(pk.fields));
        }
        if (!isText("changes"))
            throw Unusual();
        const qsizetype nChanges = count(4);
        for (qsizetype i = 0; i < nChanges; ++i) {
            if (head(4) != 3)
                throw Unusual();
            DataPacket::Change c;
            switch (integer()) {
            case kStateInserted: c.state = RowState::Inserted; break;
            case kStateModified: c.state = RowState::Modified; break;
            case kStateDeleted: c.state = RowState::Deleted; break;
            default: throw Unusual();
            }
            c.row = int(integer());
            c.original = values(pk.fields);
            pk.changes.append(c);
        }
        if (!atEnd())
            throw Unusual();
        try {
            checkShape(pk);
        } catch (const PacketError &) {
            throw Unusual();
        }
        return pk;
    }

    // One cell handed to the sink, checked as value() checks it.
    void cellTo(FieldType type, int f, PacketSink &sink)
    {
        if (takeNull())
            return sink.null(f);
        switch (type) {
        case FieldType::String:
        case FieldType::WideString:
        case FieldType::Memo: {
            const qsizetype n = qsizetype(head(3));
            if (n > end - p)
                throw Unusual();
            const QByteArrayView utf8(p, n);
            p += n;
            if (!sink.text(f, utf8))
                throw Unusual();
            return;
        }
        case FieldType::SmallInt:
        case FieldType::Integer: {
            const qint64 n = integer();
            if (!fitsField(type, n))
                throw Unusual();
            return sink.integer(f, n);
        }
        case FieldType::LargeInt:
            return sink.integer(f, integer());
        case FieldType::Float:
        case FieldType::Currency:
        case FieldType::BCD:
        case FieldType::FMTBCD:
            return sink.real(f, number());
        case FieldType::Date: {
            const qint64 day = integer();
            if (!QDate::fromJulianDay(day).isValid())
                throw Unusual();
            return sink.date(f, day);
        }
        case FieldType::Time: {
            const qint64 ms = integer();
            if (ms < 0 || ms >= kMsecsPerDay)
                throw Unusual();
            return sink.time(f, int(ms));
        }
        case FieldType::DateTime: {
            const qint64 ms = integer();
            const qint64 day = ms >= 0 ? ms / kMsecsPerDay : (ms - kMsecsPerDay + 1) / kMsecsPerDay;
            if (!QDate::fromJulianDay(day).isValid())
                throw Unusual();
            return sink.dateTime(f, day, int(ms - day * kMsecsPerDay));
        }
        case FieldType::Boolean:
            return sink.boolean(f, boolean());
        case FieldType::Blob: {
            const qsizetype n = count(2);
            const QByteArrayView bytes(p, n);
            p += n;
            return sink.blob(f, bytes);
        }
        }
        throw Unusual();
    }

    // The usual layout straight into a sink; Unusual for anything else.
    void packetTo(PacketSink &sink)
    {
        if (head(5) != 3 || !isText("fields"))
            throw Unusual();
        QList<FieldDef> fields;
        const qsizetype nFields = count(4);
        fields.reserve(nFields);
        for (qsizetype i = 0; i < nFields; ++i) {
            if (head(4) != 4)
                throw Unusual();
            FieldDef f;
            f.name = text();
            if (!fieldTypeFromName(text(), &f.type))
                throw Unusual();
            f.size = int(integer());
            f.required = boolean();
            fields.append(f);
        }
        interners.assign(size_t(nFields), Interner());
        dateTimes.assign(size_t(nFields), DateTimeCache());
        if (!isText("rows"))
            throw Unusual();
        const qsizetype nRows = count(4);
        std::vector<FieldType> fieldTypes(static_cast<size_t>(nFields));
        for (qsizetype i = 0; i < nFields; ++i)
            fieldTypes[size_t(i)] = fields.at(i).type;
        sink.begin(fields, nRows);
        for (qsizetype r = 0; r < nRows; ++r) {
            if (count(4) != nFields)
                throw Unusual();
            for (qsizetype i = 0; i < nFields; ++i)
                cellTo(fieldTypes[size_t(i)], int(i), sink);
            sink.endRow();
        }
        if (!isText("changes"))
            throw Unusual();
        const qsizetype nChanges = count(4);
        DataPacket pk; // the change log only, checked against the row count
        pk.fields = fields;
        QList<bool> seen(nRows, false);
        for (qsizetype i = 0; i < nChanges; ++i) {
            if (head(4) != 3)
                throw Unusual();
            DataPacket::Change c;
            switch (integer()) {
            case kStateInserted: c.state = RowState::Inserted; break;
            case kStateModified: c.state = RowState::Modified; break;
            case kStateDeleted: c.state = RowState::Deleted; break;
            default: throw Unusual();
            }
            const qint64 row = integer();
            c.original = values(fields);
            const bool current = c.state != RowState::Deleted;
            if (current ? (row < 0 || row >= nRows || seen[row]) : row != -1)
                throw Unusual();
            if (current)
                seen[row] = true;
            const qsizetype width = c.state == RowState::Inserted ? 0 : nFields;
            if (c.original.size() != width)
                throw Unusual();
            c.row = int(row);
            pk.changes.append(c);
        }
        if (!atEnd())
            throw Unusual();
        sink.changes(std::move(pk.changes));
    }
};

class Reader
{
public:
    explicit Reader(const QByteArray &bytes)
        : r(bytes)
    {}

    QCborStreamReader r;

    [[noreturn]] void bad(const std::string &what)
    {
        std::string detail;
        if (r.lastError() != QCborError::NoError)
            detail = " (" + r.lastError().toString().toStdString() + ")";
        throw PacketError("malformed data packet: " + what + detail);
    }

    void check()
    {
        if (r.lastError() != QCborError::NoError)
            bad("bad encoding");
    }

    QString text()
    {
        if (!r.isString())
            bad("text expected");
        QString out;
        auto res = r.readString();
        while (res.status == QCborStreamReader::Ok) {
            out += res.data;
            res = r.readString();
        }
        if (res.status == QCborStreamReader::Error)
            bad("broken text");
        // The reader allocates generously; a big packet holds many small texts.
        if (out.capacity() - out.size() > 4)
            out.squeeze();
        return out;
    }

    QByteArray bytes()
    {
        if (!r.isByteArray())
            bad("byte string expected");
        QByteArray out;
        auto res = r.readByteArray();
        while (res.status == QCborStreamReader::Ok) {
            out += res.data;
            res = r.readByteArray();
        }
        if (res.status == QCborStreamReader::Error)
            bad("broken byte string");
        return out;
    }

    qint64 integer()
    {
        if (!r.isInteger())
            bad("integer expected");
        if (r.isUnsignedInteger() && quint64(r.toUnsignedInteger()) > quint64(std::numeric_limits<qint64>::max()))
            bad("integer out of range");
        if (r.isNegativeInteger() && quint64(r.toNegativeInteger()) > quint64(std::numeric_limits<qint64>::max()) + 1)
            bad("integer out of range");
        const qint64 v = r.toInteger();
        r.next();
        check();
        return v;
    }

    bool boolean()
    {
        if (!r.isBool())
            bad("Boolean expected");
        const bool v = r.toBool();
        r.next();
        check();
        return v;
    }

    qsizetype enterArray()
    {
        if (!r.isArray())
            bad("array expected");
        const qsizetype n = r.isLengthKnown() ? qsizetype(qMin<quint64>(r.length(), 1 << 20)) : 0;
        if (!r.enterContainer())
            bad("broken array");
        return n;
    }

    void leave()
    {
        while (r.hasNext())
            skip();
        if (!r.leaveContainer())
            bad("broken container");
    }

    void skip()
    {
        if (!r.next())
            bad("broken item");
    }

    std::vector<Interner> interners;
    std::vector<DateTimeCache> dateTimes;

    QVariant value(const FieldDef &field, Interner *interner = nullptr, DateTimeCache *dtCache = nullptr)
    {
        if (r.isNull()) {
            r.next();
            return {};
        }
        switch (field.type) {
        case FieldType::String:
        case FieldType::WideString:
        case FieldType::Memo:
            return interner ? interner->intern(text()) : text();
        case FieldType::SmallInt:
        case FieldType::Integer:
        case FieldType::LargeInt: {
            bool ok = false;
            const QVariant v = convertValue(field.type, QVariant(qlonglong(integer())), &ok);
            if (!ok)
                bad("integer out of range for field " + field.name.toStdString());
            return v;
        }
        case FieldType::Float:
        case FieldType::Currency:
        case FieldType::BCD:
        case FieldType::FMTBCD: {
            double d = 0;
            if (r.isDouble())
                d = r.toDouble();
            else if (r.isFloat())
                d = r.toFloat();
            else if (r.isInteger())
                return QVariant(double(integer()));
            else
                bad("number expected for field " + field.name.toStdString());
            r.next();
            check();
            return QVariant(d);
        }
        case FieldType::Date: {
            const QDate d = QDate::fromJulianDay(integer());
            if (!d.isValid())
                bad("bad date");
            return QVariant(d);
        }
        case FieldType::Time: {
            const qint64 ms = integer();
            if (ms < 0 || ms >= kMsecsPerDay)
                bad("bad time");
            return QVariant(QTime::fromMSecsSinceStartOfDay(int(ms)));
        }
        case FieldType::DateTime: {
            const qint64 ms = integer();
            const qint64 day = ms >= 0 ? ms / kMsecsPerDay : (ms - kMsecsPerDay + 1) / kMsecsPerDay;
            const QDate d = QDate::fromJulianDay(day);
            if (!d.isValid())
                bad("bad date-time");
            const auto make = [&] {
                return QDateTime(d, QTime::fromMSecsSinceStartOfDay(int(ms - day * kMsecsPerDay)));
            };
            return QVariant(dtCache ? dtCache->get(ms, make) : make());
        }
        case FieldType::Boolean:
            return QVariant(boolean());
        case FieldType::Blob:
            return QVariant(bytes());
        }
        bad("unknown field type");
    }

    QVariantList values(const QList<FieldDef> &fields)
    {
        if (r.isNull()) {
            r.next();
            return {};
        }
        enterArray();
        QVariantList out;
        out.reserve(fields.size());
        while (r.hasNext()) {
            if (out.size() >= fields.size())
                bad("row has more values than fields");
            const size_t i = size_t(out.size());
            out.append(value(fields.at(qsizetype(i)), i < interners.size() ? &interners[i] : nullptr,
                             i < dateTimes.size() ? &dateTimes[i] : nullptr));
        }
        check();
        if (out.size() != fields.size())
            bad("row has fewer values than fields");
        if (!r.leaveContainer())
            bad("broken row");
        return out;
    }
};

} // namespace

void DataPacket::validate() const
{
    checkShape(*this);
}

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

bool isValidUtf8(QByteArrayView utf8)
{
    const uchar *s = reinterpret_cast<const uchar *>(utf8.data());
    const qsizetype n = utf8.size();
    if (n >= 3 && s[0] == 0xef && s[1] == 0xbb && s[2] == 0xbf)
        return false;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) { // ASCII eight bytes at a time
        quint64 word;
        memcpy(&word, s + i, 8);
        if (word & 0x8080808080808080ULL)
            break;
    }
    while (i < n) {
        const uchar c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xf0) == 0xe0 && n - i >= 3) { // the common case here: a Chinese character
            const uchar c1 = s[i + 1], c2 = s[i + 2];
            const quint32 cp = (quint32(c & 0x0f) << 12) | (quint32(c1 & 0x3f) << 6) | (c2 & 0x3f);
            if ((c1 & 0xc0) != 0x80 || (c2 & 0xc0) != 0x80 || cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))
                return false;
            i += 3;
            continue;
        }
        int len;
        quint32 cp;
        if (c >= 0xc2 && c <= 0xdf) {
            len = 2;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            len = 3;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        for (int k = 1; k < len; ++k) {
            if ((s[i + k] & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3f);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff))
            || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += len;
    }
    return true;
}

bool decodeUtf8(QByteArrayView utf8, QString *out)
{
    const qsizetype n = utf8.size();
    const uchar *s = reinterpret_cast<const uchar *>(utf8.data());
    qsizetype i = 0;
    while (i < n && s[i] < 0x80)
        ++i;
    if (i == n) {
        *out = QString::fromLatin1(utf8.data(), n);
        return true;
    }
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless
                                                       | QStringConverter::Flag::ConvertInitialBom);
    *out = decoder.decode(utf8);
    if (decoder.hasError())
        return false;
    if (out->capacity() - out->size() > 4)
        out->squeeze();
    return true;
}

void DataPacket::readBinary(const QByteArray &bytes, PacketSink &sink)
{
    if (bytes.size() >= 5 && memcmp(bytes.constData(), kMagic, 4) == 0 && quint8(bytes.at(4)) == kVersion) {
        try {
            DirectReader direct(bytes.constData() + 5, bytes.size() - 5);
            direct.packetTo(sink);
            return;
        } catch (const Unusual &) {
            // read below by the general reader, which also names what is wrong
        }
    }
    DataPacket p = fromBinary(bytes);
    sink.begin(p.fields, p.rows.size());
    for (QVariantList &row : p.rows)
        sink.row(std::move(row));
    sink.changes(std::move(p.changes));
}

DataPacket DataPacket::fromBinary(const QByteArray &bytes)
{
    if (bytes.size() < 5 || memcmp(bytes.constData(), kMagic, 4) != 0)
        throw PacketError("not a data packet (bad magic)");
    if (quint8(bytes.at(4)) != kVersion)
        throw PacketError("data packet version " + std::to_string(quint8(bytes.at(4)))
                          + " is not supported");
    try {
        DirectReader direct(bytes.constData() + 5, bytes.size() - 5);
        return direct.packet();
    } catch (const Unusual &) {
        // read below by the general reader, which also names what is wrong
    }
    Reader in(bytes.mid(5));
    DataPacket p;
    if (!in.r.isMap())
        in.bad("map expected");
    if (!in.r.enterContainer())
        in.bad("broken map");
    bool haveFields = false;
    while (in.r.hasNext()) {
        const QString key = in.text();
        if (key == u"fields") {
            in.enterArray();
            while (in.r.hasNext()) {
                in.enterArray();
                FieldDef f;
                f.name = in.text();
                const QString typeName = in.text();
                if (!fieldTypeFromName(typeName, &f.type))
                    in.bad("unknown field type " + typeName.toStdString());
                f.size = int(in.integer());
                f.required = in.boolean();
                in.leave();
                p.fields.append(f);
            }
            in.check();
            if (!in.r.leaveContainer())
                in.bad("broken field list");
            haveFields = true;
        } else if (key == u"rows") {
            if (!haveFields)
                in.bad("rows before fields");
            in.interners.assign(size_t(p.fields.size()), Interner());
            in.dateTimes.assign(size_t(p.fields.size()), DateTimeCache());
            p.rows.reserve(in.enterArray());
            while (in.r.hasNext())
                p.rows.append(in.values(p.fields));
            in.check();
            if (!in.r.leaveContainer())
                in.bad("broken row list");
        } else if (key == u"changes") {
            if (!haveFields)
                in.bad("change log before fields");
            in.enterArray();
            while (in.r.hasNext()) {
                in.enterArray();
                Change c;
                switch (in.integer()) {
                case kStateInserted: c.state = RowState::Inserted; break;
                case kStateModified: c.state = RowState::Modified; break;
                case kStateDeleted: c.state = RowState::Deleted; break;
                default: in.bad("unknown row state");
                }
                c.row = int(in.integer());
                c.original = in.values(p.fields);
                in.leave();
                p.changes.append(c);
            }
            in.check();
            if (!in.r.leaveContainer())
                in.bad("broken change log");
        } else {
            in.skip(); // unknown keys from a later version are ignored
        }
    }
    in.check();
    if (!in.r.leaveContainer())
        in.bad("broken map");
    if (!haveFields)
        in.bad("no field list");
    try {
        checkShape(p);
    } catch (const PacketError &e) {
        throw PacketError(std::string("malformed data packet: ") + e.what());
    }
    return p;
}

// ---- XML form --------------------------------------------------------------------------

namespace {

struct XmlType
{
    FieldType type;
    const char *fieldtype;
    const char *subtype; // nullptr when none
};

constexpr std::array<XmlType, 15> kXmlTypes = {{
    {FieldType::String, "string", nullptr},
    {FieldType::WideString, "string.uni", nullptr},
    {FieldType::SmallInt, "i2", nullptr},
    {FieldType::Integer, "i4", nullptr},
    {FieldType::LargeInt, "i8", nullptr},
    {FieldType::Float, "r8", nullptr},
    {FieldType::Currency, "r8", "Money"},
    {FieldType::BCD, "fixed", nullptr},
    {FieldType::FMTBCD, "fixedFMT", nullptr},
    {FieldType::Date, "date", nullptr},
    {FieldType::Time, "time", nullptr},
    {FieldType::DateTime, "dateTime", nullptr},
    {FieldType::Boolean, "boolean", nullptr},
    {FieldType::Memo, "bin.hex", "Text"},
    {FieldType::Blob, "bin.hex", "Binary"},
}};

bool isXmlNameStart(QChar c)
{
    return c.isLetter() || c == u'_';
}

bool isXmlName(const QString &s)
{
    if (s.isEmpty() || !isXmlNameStart(s.at(0)) || s.startsWith(u"xml", Qt::CaseInsensitive))
        return false;
    for (QChar c : s)
        if (!(c.isLetterOrNumber() || c == u'_' || c == u'-' || c == u'.'))
            return false;
    return true;
}

// True when XML 1.0 can carry the text in an attribute.
bool isXmlSafe(const QString &s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s.at(i).unicode();
        if (c < 0x20 && c != 0x9 && c != 0xA && c != 0xD)
            return false;
        if (c == 0xFFFE || c == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= s.size() || !QChar::isLowSurrogate(s.at(i + 1).unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

// Fixed-width digits, written and read by hand: these forms are on the hot path of big
// packets, where QDateTime's format parser costs microseconds a value.
void putDigits(char16_t *&out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char16_t(u'0' + value % 10);
        value /= 10;
    }
    out += width;
}

int takeDigits(QStringView text, qsizetype at, int width)
{
    if (at + width > text.size())
        return -1;
    int value = 0;
    for (int i = 0; i < width; ++i) {
        const char16_t c = text[at + i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

QString formatDate(QDate d)
{
    char16_t buf[8];
    char16_t *o = buf;
    putDigits(o, d.year(), 4);
    putDigits(o, d.month(), 2);
    putDigits(o, d.day(), 2);
    return QString(reinterpret_cast<const QChar *>(buf), 8);
}

QString formatTime(QTime t)
{
    char16_t buf[12];
    char16_t *o = buf;
    putDigits(o, t.hour(), 2);
    *o++ = u':';
    putDigits(o, t.minute(), 2);
    *o++ = u':';
    putDigits(o, t.second(), 2);
    if (t.msec()) {
        *o++ = u'.';
        putDigits(o, t.msec(), 3);
    }
    return QString(reinterpret_cast<const QChar *>(buf), o - buf);
}

// "HH:mm:ss" or "HH:mm:ss.zzz" at `at` up to the end; invalid QTime when it is not.
QTime parseTimeAt(QStringView text, qsizetype at)
{
    const qsizetype rest = text.size() - at;
    if ((rest != 8 && rest != 12) || text[at + 2] != u':' || text[at + 5] != u':')
        return {};
    const int h = takeDigits(text, at, 2), m = takeDigits(text, at + 3, 2), sec = takeDigits(text, at + 6, 2);
    int ms = 0;
    if (rest == 12) {
        if (text[at + 8] != u'.')
            return {};
        ms = takeDigits(text, at + 9, 3);
    }
    if (h < 0 || m < 0 || sec < 0 || ms < 0 || !QTime::isValid(h, m, sec, ms))
        return {};
    return QTime(h, m, sec, ms);
}

QDate parseDateAt(QStringView text)
{
    const int y = takeDigits(text, 0, 4), m = takeDigits(text, 4, 2), d = takeDigits(text, 6, 2);
    if (y < 0 || m < 0 || d < 0 || !QDate::isValid(y, m, d))
        return {};
    return QDate(y, m, d);
}

QString xmlText(FieldType type, const QVariant &v)
{
    switch (type) {
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Memo:
        return v.toString();
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::LargeInt:
        return QString::number(v.toLongLong());
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case FieldType::Date:
        return formatDate(v.toDate());
    case FieldType::Time:
        return formatTime(v.toTime());
    case FieldType::DateTime: {
        const QDateTime dt = v.toDateTime();
        return formatDate(dt.date()) + u'T' + formatTime(dt.time());
    }
    case FieldType::Boolean:
        return QString::fromLatin1(v.toBool() ? "TRUE" : "FALSE");
    case FieldType::Blob:
        return QString::fromLatin1(v.toByteArray().toBase64());
    }
    return {};
}

QVariant parseXmlValue(const FieldDef &field, const QString &text)
{
    QVariant v;
    bool ok = true;
    switch (field.type) {
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Memo:
        return text;
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::LargeInt: {
        const qlonglong n = text.toLongLong(&ok);
        if (ok)
            v = convertValue(field.type, QVariant(n), &ok);
        break;
    }
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD:
        v = text.toDouble(&ok);
        break;
    case FieldType::Date: {
        const QDate d = text.size() == 8 ? parseDateAt(text) : QDate();
        ok = d.isValid();
        v = d;
        break;
    }
    case FieldType::Time: {
        const QTime t = parseTimeAt(text, 0);
        ok = t.isValid();
        v = t;
        break;
    }
    case FieldType::DateTime: {
        const QDate d = text.size() >= 9 && text.at(8) == u'T' ? parseDateAt(text) : QDate();
        const QTime t = d.isValid() ? parseTimeAt(text, 9) : QTime();
        ok = d.isValid() && t.isValid();
        if (ok)
            v = QDateTime(d, t);
        break;
    }
    case FieldType::Boolean:
        if (text.compare(u"TRUE", Qt::CaseInsensitive) == 0)
            v = true;
        else if (text.compare(u"FALSE", Qt::CaseInsensitive) == 0)
            v = false;
        else
            ok = false;
        break;
    case FieldType::Blob: {
        const auto res = QByteArray::fromBase64Encoding(text.toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
        ok = bool(res);
        v = res.decoded;
        break;
    }
    }
    if (!ok)
        throw PacketError("malformed data packet: \"" + text.left(40).toStdString()
                          + "\" is not a value of field " + field.name.toStdString());
    return v;
}

// Attribute names for the row values: the field name where XML allows it, else "F<n>".
QStringList tagNames(const QList<FieldDef> &fields)
{
    QStringList tags;
    QSet<QString> used;
    for (const FieldDef &f : fields)
        if (isXmlName(f.name))
            used.insert(f.name);
    used.insert(QStringLiteral("RowState"));
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QString &name = fields.at(i).name;
        if (isXmlName(name) && name != u"RowState") {
            tags << name;
            continue;
        }
        QString tag = QStringLiteral("F%1").arg(i + 1);
        while (used.contains(tag))
            tag += u'_';
        used.insert(tag);
        tags << tag;
    }
    return tags;
}

void writeXmlRow(QXmlStreamWriter &w, const QList<FieldDef> &fields, const QStringList &tags,
                 const QVariantList &values, int state)
{
    w.writeStartElement(QStringLiteral("ROW"));
    if (state)
        w.writeAttribute(QStringLiteral("RowState"), QString::number(state));
    QList<std::pair<qsizetype, QString>> unsafe;
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QVariant v = encodableValue(fields.at(i), values.at(i));
        if (v.isNull())
            continue; // an absent attribute is NULL
        const QString text = xmlText(fields.at(i).type, v);
        if (isStringType(fields.at(i).type) && !isXmlSafe(text))
            unsafe.append({i, text});
        else
            w.writeAttribute(tags.at(i), text);
    }
    // Text that XML cannot carry in an attribute travels as base64 of its UTF-8.
    for (const auto &[i, text] : unsafe) {
        w.writeStartElement(QStringLiteral("B64"));
        w.writeAttribute(QStringLiteral("f"), tags.at(i));
        w.writeCharacters(QString::fromLatin1(text.toUtf8().toBase64()));
        w.writeEndElement();
    }
    w.writeEndElement();
}

} // namespace

QString DataPacket::toXml() const
{
    checkShape(*this);
    const QStringList tags = tagNames(fields);

    // Which change, if any, belongs to each current row.
    QList<const Change *> changeOfRow(rows.size(), nullptr);
    for (const Change &c : changes)
        if (c.row >= 0)
            changeOfRow[c.row] = &c;

    QString out;
    out.reserve(256 + rows.size() * fields.size() * 12);
    QXmlStreamWriter w(&out);
    w.writeStartDocument(QStringLiteral("1.0"), true);
    w.writeStartElement(QStringLiteral("DATAPACKET"));
    w.writeAttribute(QStringLiteral("Version"), QStringLiteral("2.0"));

    // Record numbers (1-based, in ROWDATA order) for the change log.
    QList<int> recordOfRow(rows.size(), 0);
    QList<int> originalRecordOfRow(rows.size(), 0);
    int record = 0;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (changeOfRow[i] && changeOfRow[i]->state == RowState::Modified)
            originalRecordOfRow[i] = ++record;
        recordOfRow[i] = ++record;
    }
    QHash<const Change *, int> deletedRecord;
    for (const Change &c : changes)
        if (c.state == RowState::Deleted)
            deletedRecord.insert(&c, ++record);

    w.writeStartElement(QStringLiteral("METADATA"));
    w.writeStartElement(QStringLiteral("FIELDS"));
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const FieldDef &f = fields.at(i);
        w.writeEmptyElement(QStringLiteral("FIELD"));
        w.writeAttribute(QStringLiteral("attrname"), f.name);
        if (tags.at(i) != f.name)
            w.writeAttribute(QStringLiteral("tagname"), tags.at(i));
        for (const XmlType &t : kXmlTypes) {
            if (t.type == f.type) {
                w.writeAttribute(QStringLiteral("fieldtype"), QLatin1String(t.fieldtype));
                if (t.subtype)
                    w.writeAttribute(QStringLiteral("SUBTYPE"), QLatin1String(t.subtype));
                break;
            }
        }
        if (f.size > 0)
            w.writeAttribute(QStringLiteral("WIDTH"), QString::number(f.size));
        if (f.required)
            w.writeAttribute(QStringLiteral("required"), QStringLiteral("true"));
    }
    w.writeEndElement(); // FIELDS
    if (!changes.isEmpty()) {
        QStringList log;
        for (const Change &c : changes) {
            switch (c.state) {
            case RowState::Inserted:
                log << QString::number(recordOfRow[c.row]) << QStringLiteral("0")
                    << QString::number(kStateInserted);
                break;
            case RowState::Modified:
                log << QString::number(recordOfRow[c.row])
                    << QString::number(originalRecordOfRow[c.row]) << QString::number(kStateModified);
                break;
            case RowState::Deleted:
                log << QString::number(deletedRecord.value(&c)) << QStringLiteral("0")
                    << QString::number(kStateDeleted);
                break;
            case RowState::Unchanged:
                break;
            }
        }
        w.writeEmptyElement(QStringLiteral("PARAMS"));
        w.writeAttribute(QStringLiteral("CHANGE_LOG"), log.join(u' '));
    }
    w.writeEndElement(); // METADATA

    w.writeStartElement(QStringLiteral("ROWDATA"));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const Change *c = changeOfRow[i];
        if (c && c->state == RowState::Modified)
            writeXmlRow(w, fields, tags, c->original, kStateOriginal);
        writeXmlRow(w, fields, tags, rows.at(i), c ? stateCode(c->state) : 0);
    }
    for (const Change &c : changes)
        if (c.state == RowState::Deleted)
            writeXmlRow(w, fields, tags, c.original, kStateDeleted);
    w.writeEndElement(); // ROWDATA
    w.writeEndElement(); // DATAPACKET
    w.writeEndDocument();
    return out;
}

DataPacket DataPacket::fromXml(const QString &xml)
{
    auto bad = [](const std::string &what) -> PacketError {
        return PacketError("malformed data packet: " + what);
    };
    QXmlStreamReader r(xml);
    DataPacket p;
    QHash<QString, int> fieldOfTag;
    QStringList tagOfField;
    QString changeLog;
    bool haveChangeLog = false;
    struct Record
    {
        int state = 0;
        QVariantList values;
    };
    QList<Record> records;
    bool seenPacket = false;
    bool seenFields = false;
    // The layout nests five elements deep; a text nested far deeper is not a packet.
    constexpr int kMaxDepth = 32;
    int depth = 0;

    while (!r.atEnd()) {
        r.readNext();
        if (r.isEndElement())
            --depth;
        if (!r.isStartElement())
            continue;
        if (++depth > kMaxDepth)
            throw bad("elements nested more than " + std::to_string(kMaxDepth) + " deep");
        const QStringView name = r.name();
        if (name == u"DATAPACKET") {
            seenPacket = true;
        } else if (name == u"FIELD") {
            const auto a = r.attributes();
            FieldDef f;
            f.name = a.value(QLatin1String("attrname")).toString();
            if (f.name.isEmpty())
                throw bad("field without a name");
            const QStringView ft = a.value(QLatin1String("fieldtype"));
            const QStringView st = a.value(QLatin1String("SUBTYPE"));
            bool known = false;
            for (const XmlType &t : kXmlTypes) {
                if (ft == QLatin1String(t.fieldtype)
                    && (t.subtype ? st == QLatin1String(t.subtype) : true)) {
                    // "r8" without the Money subtype is Float; "bin.hex" needs its subtype.
                    if (!t.subtype && !st.isEmpty() && t.type == FieldType::Float)
                        continue;
                    f.type = t.type;
                    known = true;
                    break;
                }
            }
            if (!known)
                throw bad("unknown field type " + ft.toString().toStdString());
            f.size = a.hasAttribute(QLatin1String("WIDTH")) ? a.value(QLatin1String("WIDTH")).toInt() : 0;
            f.required = a.value(QLatin1String("required")) == u"true";
            QString tag = a.hasAttribute(QLatin1String("tagname")) ? a.value(QLatin1String("tagname")).toString() : f.name;
            if (fieldOfTag.contains(tag))
                throw bad("field " + f.name.toStdString() + " appears twice");
            fieldOfTag.insert(tag, int(p.fields.size()));
            tagOfField.append(tag);
            p.fields.append(f);
            seenFields = true;
        } else if (name == u"PARAMS") {
            const auto a = r.attributes();
            if (a.hasAttribute(QLatin1String("CHANGE_LOG"))) {
                haveChangeLog = true;
                changeLog = a.value(QLatin1String("CHANGE_LOG")).toString();
            }
        } else if (name == u"ROW") {
            if (!seenFields && p.fields.isEmpty() && !seenPacket)
                throw bad("row outside a data packet");
            Record rec;
            rec.values = QVariantList(p.fields.size());
            const auto attrs = r.attributes();
            qsizetype guess = 0; // attributes mostly come in field order
            for (const QXmlStreamAttribute &a : attrs) {
                if (a.name() == u"RowState") {
                    bool ok = false;
                    rec.state = a.value().toInt(&ok);
                    if (!ok || (rec.state != 0 && rec.state != kStateOriginal
                                && rec.state != kStateDeleted && rec.state != kStateInserted
                                && rec.state != kStateModified))
                        throw bad("unknown row state " + a.value().toString().toStdString());
                    continue;
                }
                int field = -1;
                if (guess < tagOfField.size() && a.name() == tagOfField.at(guess))
                    field = int(guess++);
                if (field < 0) {
                    const auto it = fieldOfTag.constFind(a.name().toString());
                    if (it == fieldOfTag.constEnd())
                        throw bad("value for unknown field " + a.name().toString().toStdString());
                    field = *it;
                    guess = field + 1;
                }
                rec.values[field] = parseXmlValue(p.fields.at(field), a.value().toString());
            }
            // Children: base64 texts; then the end of the row.
            while (!r.atEnd()) {
                r.readNext();
                if (r.isEndElement())
                    break;
                if (r.isStartElement()) {
                    if (r.name() != u"B64")
                        throw bad("unexpected element in a row");
                    const QString tag = r.attributes().value(QLatin1String("f")).toString();
                    const auto it = fieldOfTag.constFind(tag);
                    if (it == fieldOfTag.constEnd() || !isStringType(p.fields.at(*it).type))
                        throw bad("base64 value for unknown or non-text field");
                    const auto res = QByteArray::fromBase64Encoding(
                        r.readElementText().trimmed().toLatin1(),
                        QByteArray::AbortOnBase64DecodingErrors);
                    if (!res)
                        throw bad("broken base64 value");
                    rec.values[*it] = QString::fromUtf8(res.decoded);
                }
            }
            --depth; // the row's end was read here
            records.append(rec);
        }
    }
    if (r.hasError())
        throw bad("XML error at line " + std::to_string(r.lineNumber()) + ": "
                  + r.errorString().toStdString());
    if (!seenPacket)
        throw bad("no DATAPACKET element");

    // Current rows in document order; originals and deleted rows only feed the change log.
    QList<int> rowOfRecord(records.size(), -1);
    for (qsizetype i = 0; i < records.size(); ++i) {
        const int s = records.at(i).state;
        if (s == 0 || s == kStateInserted || s == kStateModified) {
            rowOfRecord[i] = int(p.rows.size());
            p.rows.append(records.at(i).values);
        }
    }
    QList<bool> used(records.size(), false);
    auto take = [&](qsizetype rec, int state) -> const Record & {
        if (rec < 0 || rec >= records.size() || records.at(rec).state != state || used[rec])
            throw bad("change log does not match the rows");
        used[rec] = true;
        return records.at(rec);
    };
    if (haveChangeLog) {
        const QStringList parts = changeLog.split(u' ', Qt::SkipEmptyParts);
        if (parts.size() % 3 != 0)
            throw bad("change log is not a list of triplets");
        for (qsizetype i = 0; i < parts.size(); i += 3) {
            bool ok1 = false, ok2 = false, ok3 = false;
            const int rec = parts.at(i).toInt(&ok1) - 1;
            const int orig = parts.at(i + 1).toInt(&ok2) - 1;
            const int state = parts.at(i + 2).toInt(&ok3);
            if (!ok1 || !ok2 || !ok3)
                throw bad("change log holds a non-number");
            Change c;
            if (state == kStateInserted) {
                take(rec, kStateInserted);
                c.state = RowState::Inserted;
                c.row = rowOfRecord[rec];
            } else if (state == kStateModified) {
                take(rec, kStateModified);
                c.state = RowState::Modified;
                c.row = rowOfRecord[rec];
                c.original = take(orig, kStateOriginal).values;
            } else if (state == kStateDeleted) {
                c.state = RowState::Deleted;
                c.original = take(rec, kStateDeleted).values;
            } else {
                throw bad("unknown state in change log");
            }
            p.changes.append(c);
        }
        for (qsizetype i = 0; i < records.size(); ++i)
            if (records.at(i).state != 0 && !used[i])
                throw bad("row with a row state that the change log does not name");
    } else {
        // Without a change log, the row states in document order make it: an original
        // row is followed by its modified row.
        qsizetype pendingOriginal = -1;
        for (qsizetype i = 0; i < records.size(); ++i) {
            const int s = records.at(i).state;
            if (pendingOriginal >= 0 && s != kStateModified)
                throw bad("original row without its modified row");
            Change c;
            if (s == kStateOriginal) {
                pendingOriginal = i;
                continue;
            } else if (s == kStateInserted) {
                c.state = RowState::Inserted;
                c.row = rowOfRecord[i];
            } else if (s == kStateModified) {
                if (pendingOriginal < 0)
                    throw bad("modified row without its original");
                c.state = RowState::Modified;
                c.row = rowOfRecord[i];
                c.original = records.at(pendingOriginal).values;
                pendingOriginal = -1;
            } else if (s == kStateDeleted) {
                c.state = RowState::Deleted;
                c.original = records.at(i).values;
            } else {
                continue;
            }
            p.changes.append(c);
        }
        if (pendingOriginal >= 0)
            throw bad("original row without its modified row");
    }
    return p;
}

} // namespace quillon
