#pragma once

// What the encodings of a data packet share: the binary form's magic and version, the
// row-state codes of both forms, the range rules of integer fields and the checks of a
// packet's shape. Private to the packet library.

#include "dataaccess/packet/datapacket.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

#include <limits>

namespace quillon::packetformat {

inline constexpr char kMagic[4] = {'W', 'L', 'D', 'P'};
inline constexpr quint8 kVersion = 1;
inline constexpr qint64 kMsecsPerDay = 86400000;

// Row-state codes shared by both encodings (the XML form's "RowState" values).
inline constexpr int kStateOriginal = 1;
inline constexpr int kStateDeleted = 2;
inline constexpr int kStateInserted = 4;
inline constexpr int kStateModified = 8;

int stateCode(RowState state);

// True when the integer fits a field of that type (SmallInt 16 bits, Integer 32 bits).
inline bool fitsField(FieldType type, qint64 n)
{
    if (type == FieldType::SmallInt)
        return n >= -32768 && n <= 32767;
    if (type == FieldType::Integer)
        return n >= std::numeric_limits<qint32>::min() && n <= std::numeric_limits<qint32>::max();
    return true;
}

// Milliseconds since the start of Julian day 0 split into day and time of day, without
// overflow for any value.
inline void splitDateTime(qint64 ms, qint64 *day, int *msecsOfDay)
{
    qint64 rest = ms % kMsecsPerDay;
    qint64 d = ms / kMsecsPerDay;
    if (rest < 0) {
        rest += kMsecsPerDay;
        --d;
    }
    *day = d;
    *msecsOfDay = int(rest);
}

// The largest Julian day whose date-time still fits the binary form's 64-bit milliseconds.
inline constexpr qint64 kMaxDateTimeDay = std::numeric_limits<qint64>::max() / kMsecsPerDay - 1;

// Throws PacketError when rows and change log do not fit together.
void checkShape(const DataPacket &p);

// True when XML 1.0 can carry the text in an attribute.
bool isXmlSafe(const QString &s);

// The value converted to the field's type; PacketError naming the field when it cannot be.
QVariant encodableValue(const FieldDef &field, const QVariant &value);

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

} // namespace quillon::packetformat
