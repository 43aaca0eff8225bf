#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <stdexcept>

namespace quillon {

// Field types of a data packet. They keep the distinctions that the windows test
// (integer vs float columns for footer sums, date-time for range conditions ...).
enum class FieldType {
    String,
    WideString,
    SmallInt,
    Integer,
    LargeInt,
    Float,
    Currency,
    BCD,
    FMTBCD,
    Date,
    Time,
    DateTime,
    Boolean,
    Memo,
    Blob,
};

// The type's name in both encodings ("string", "i4", "dateTime" ...) and back.
// fieldTypeFromName returns false for an unknown name.
QString fieldTypeName(FieldType type);
bool fieldTypeFromName(const QString &name, FieldType *type);

// Type families that callers test (footer sums, editors, comparisons).
bool isStringType(FieldType type);   // String, WideString, Memo
bool isIntegerType(FieldType type);  // SmallInt, Integer, LargeInt
bool isNumericType(FieldType type);  // integers, Float, Currency, BCD, FMTBCD

// The value converted to the QVariant type that fields of `type` hold: QString, int
// (SmallInt, Integer), qlonglong, double (Float, Currency, BCD, FMTBCD), QDate, QTime,
// QDateTime, bool, QByteArray (Blob). A null or invalid value gives a null QVariant.
// Text is accepted for every type ("12", "3.5", "2024-01-31 08:00:00", "TRUE").
// On a value that cannot be converted, *ok is set to false and a null QVariant returned.
QVariant convertValue(FieldType type, const QVariant &value, bool *ok = nullptr);

struct FieldDef
{
    QString name;
    FieldType type = FieldType::String;
    int size = 0;          // characters for string types, 0 otherwise
    bool required = false;
};

// What happened to a row since the packet's data was last fetched or applied.
enum class RowState { Unchanged, Inserted, Modified, Deleted };

// A packet that cannot be decoded (bad magic, truncated, wrong types, malformed XML).
class PacketError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A streamed answer that its sender broke off with an error (a failure after the first rows
// were sent): the status and text the sender would have answered with.
class PacketAborted : public PacketError
{
public:
    PacketAborted(int status, const QString &text)
        : PacketError("the answer was broken off by the server: " + text.toStdString())
        , m_status(status)
        , m_text(text)
    {}
    int status() const noexcept { return m_status; }
    const QString &text() const noexcept { return m_text; }

private:
    int m_status;
    QString m_text;
};

struct DataPacket;
class PacketSink;

// One data packet: field definitions, rows and a change log. The same model travels on
// the wire (binary), sits in cache files (binary) and goes to ApplyData (XML).
struct DataPacket
{
    // A change of one row. Inserted and modified changes point at their current row in
    // `rows`; deleted rows are no longer in `rows`, so only their original values remain.
    struct Change
    {
        RowState state = RowState::Unchanged;
        int row = -1;             // index into rows (Inserted, Modified); -1 for Deleted
        QVariantList original;    // original values (Modified, Deleted); empty for Inserted
    };

    QList<FieldDef> fields;
    QList<QVariantList> rows;    // one value per field; a null QVariant is SQL NULL
    QList<Change> changes;

    // Index of the field with that name, compared without regard to case; -1 if none.
    int fieldIndex(const QString &name) const;

    // Throws PacketError when rows and change log do not fit together (a row of the wrong
    // width, a change that points at a missing row or names a row twice ...).
    void validate() const;

    // Binary form: magic "WLDP", version, then CBOR. Throws PacketError on bad input.
    QByteArray toBinary() const;
    static DataPacket fromBinary(const QByteArray &bytes);
    // The same decoding, handing the content to `sink` as it is read (without a QVariant
    // per cell on the usual layout). Throws PacketError, as fromBinary does.
    static void readBinary(const QByteArray &bytes, PacketSink &sink);

    // XML form (documented in docs/), carrying rows and change log. Throws PacketError.
    QString toXml() const;
    static DataPacket fromXml(const QString &xml);
};

// Takes a binary packet's content while it is read, so that a consumer keeps the values
// in its own form. The usual layout arrives cell by cell, already checked against the
// field's type and range, in field order, with endRow() after each row; packets of another
// layout arrive as whole rows of typed values (row()). begin() may come a second time: the
// consumer then starts over. The change log comes last, as values.
class PacketSink
{
public:
    virtual ~PacketSink() = default;
    virtual void begin(const QList<FieldDef> &fields, qsizetype rows) = 0;
    virtual void null(int field) = 0;
    // UTF-8 as the packet holds it; returns false when it is not valid UTF-8.
    virtual bool text(int field, QByteArrayView utf8) = 0;
    virtual void integer(int field, qint64 value) = 0;  // integer types
    virtual void real(int field, double value) = 0;     // float types
    virtual void date(int field, qint64 julianDay) = 0;
    virtual void time(int field, int msecsOfDay) = 0;
    virtual void dateTime(int field, qint64 julianDay, int msecsOfDay) = 0; // local wall time
    virtual void boolean(int field, bool value) = 0;
    virtual void blob(int field, QByteArrayView bytes) = 0;
    virtual void endRow() = 0;
    virtual void row(QVariantList &&values) = 0;
    virtual void changes(QList<DataPacket::Change> &&changes) = 0;
};

// Writes the binary form of a packet without a change log row by row, for a producer that
// holds no DataPacket (a query streaming from the database). The bytes are those toBinary
// writes for the same fields and values. Each row gives one value per field, in order,
// of the field's type: the producer checks ranges (an Integer value fits 32 bits).
class BinaryPacketWriter
{
public:
    explicit BinaryPacketWriter(int fieldCount);
    ~BinaryPacketWriter();
    BinaryPacketWriter(const BinaryPacketWriter &) = delete;
    BinaryPacketWriter &operator=(const BinaryPacketWriter &) = delete;

    void beginRow();
    void null();
    void text(QByteArrayView utf8);   // valid UTF-8, as isValidUtf8 accepts
    void integer(qint64 value);
    void real(double value);
    void dateTime(qint64 julianDay, int msecsOfDay);
    void blob(QByteArrayView bytes);
    void endRow() { ++m_rows; }
    qsizetype rows() const { return m_rows; }
    qsizetype size() const;           // bytes of the rows so far
    QByteArray finish(const QList<FieldDef> &fields);

    // A packet sent while its rows are written (docs/datapacket.md, "Streamed answers"):
    // streamHead(), then takeRows() as often as wanted (the rows written since the last
    // call), then streamEnd(); or, once rows went out, streamError() or streamRestart().
    // The pieces joined are a packet every reader of the binary form reads.
    static QByteArray streamHead(const QList<FieldDef> &fields);
    QByteArray takeRows();
    static QByteArray streamEnd();
    // Ends the rows and breaks the packet off with the answer's status and text: a reader
    // throws PacketAborted.
    static QByteArray streamError(int status, const QString &text);
    // Ends the rows and starts over with the whole packet `packet` (toBinary's form): the
    // reader hands its content to the sink as a new begin().
    static QByteArray streamRestart(const QByteArray &packet);

private:
    class Out;
    QByteArray m_body;
    std::unique_ptr<Out> m_out;
    int m_fieldCount;
    qsizetype m_rows = 0;
};

// True for bytes that the binary form may carry as a text as they are: valid UTF-8 that
// reads back unchanged (no byte-order mark at the start).
bool isValidUtf8(QByteArrayView utf8);

// UTF-8 to text; false for bytes that are not valid UTF-8.
bool decodeUtf8(QByteArrayView utf8, QString *out);

} // namespace quillon
