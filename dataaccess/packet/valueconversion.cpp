// Field types by name, their families, and the conversion of values to a field's type.
#include "dataaccess/packet/datapacket.h"

#include <QDateTime>
#include <QLocale>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace quillon {

namespace {

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
        n = good ? qint64(d) : 0;
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
            n = good ? qint64(d) : 0;
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

} // namespace quillon
