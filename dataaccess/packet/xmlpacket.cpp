// The XML form: METADATA with the fields and the change log, ROWDATA with one ROW element
// a record; texts that XML cannot carry in an attribute travel as base64.
#include "dataaccess/packet/packetformat.h"

#include <QLocale>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <array>
#include <limits>
#include <string>

namespace quillon {

using namespace packetformat;

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

// "yyyyMMdd"; a year outside 1..9999 (a database may hold one) is written in full, with a
// minus before Christ: "-04710101", "123450101".
QString formatDate(QDate d)
{
    const int year = d.year();
    if (year < 1 || year > 9999) {
        char16_t md[4];
        char16_t *o = md;
        putDigits(o, d.month(), 2);
        putDigits(o, d.day(), 2);
        return (year < 0 ? QStringLiteral("-") : QString())
               + QString::number(qAbs(qint64(year))).rightJustified(4, u'0')
               + QString(reinterpret_cast<const QChar *>(md), 4);
    }
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

// The whole text a date, as formatDate writes it; invalid QDate when it is not.
QDate parseDateAt(QStringView text)
{
    if (text.size() == 8) {
        const int y = takeDigits(text, 0, 4), m = takeDigits(text, 4, 2), d = takeDigits(text, 6, 2);
        if (y < 0 || m < 0 || d < 0 || !QDate::isValid(y, m, d))
            return {};
        return QDate(y, m, d);
    }
    const qsizetype yearEnd = text.size() - 4;
    QStringView year = text.first(qMax<qsizetype>(yearEnd, 0));
    const bool minus = year.startsWith(u'-');
    if (minus)
        year = year.sliced(1);
    if (year.size() < 4 || year.size() > 10)
        return {};
    qint64 y = 0;
    for (QChar c : year) {
        if (c < u'0' || c > u'9')
            return {};
        y = y * 10 + (c.unicode() - u'0');
    }
    if (minus)
        y = -y;
    const int m = takeDigits(text, yearEnd, 2), d = takeDigits(text, yearEnd + 2, 2);
    if (y < std::numeric_limits<int>::min() || y > std::numeric_limits<int>::max() || m < 0 || d < 0
        || !QDate::isValid(int(y), m, d))
        return {};
    return QDate(int(y), m, d);
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
        const QDate d = parseDateAt(text);
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
        const qsizetype at = text.indexOf(u'T');
        const QDate d = at >= 0 ? parseDateAt(QStringView(text).first(at)) : QDate();
        const QTime t = d.isValid() ? parseTimeAt(text, at + 1) : QTime();
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
// A name that an earlier field already has (two columns of a query named alike) gets an
// "F<n>" too: an element cannot carry one attribute twice.
QStringList tagNames(const QList<FieldDef> &fields)
{
    QStringList tags;
    QSet<QString> used;
    for (const FieldDef &f : fields)
        if (isXmlName(f.name))
            used.insert(f.name);
    used.insert(QStringLiteral("RowState"));
    QSet<QString> named;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QString &name = fields.at(i).name;
        if (isXmlName(name) && name != u"RowState" && !named.contains(name)) {
            named.insert(name);
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

bool packetformat::isXmlSafe(const QString &s)
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
            // Rows already read hold a value for each field known then.
            if (!records.isEmpty())
                throw bad("field after the rows");
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
    try {
        checkShape(p);
    } catch (const PacketError &e) {
        throw bad(e.what());
    }
    return p;
}

} // namespace quillon
