#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
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

    // XML form (documented in docs/), carrying rows and change log. Throws PacketError.
    QString toXml() const;
    static DataPacket fromXml(const QString &xml);
};

} // namespace quillon
