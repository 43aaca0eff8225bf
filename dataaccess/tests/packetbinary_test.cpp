// The binary form's reader, whole and streamed, and its row-by-row writer: every layout
// the CBOR allows reads the same, a stream hands rows on before its end, damage is refused
// with PacketError (never a crash, a huge allocation or an overflow).
#include "dataaccess/packet/packetstream.h"
#include "dataaccess/recordstore.h"

#include <gtest/gtest.h>

#include <QCborStreamWriter>
#include <QDateTime>
#include <QRandomGenerator>

#include <functional>

using namespace quillon;

namespace {

DataPacket sample(int rows)
{
    DataPacket p;
    p.fields = {{QStringLiteral("ID"), FieldType::Integer, 0, true},
                {QStringLiteral("NAME"), FieldType::String, 40, false},
                {QStringLiteral("AMOUNT"), FieldType::Float, 0, false},
                {QStringLiteral("AT"), FieldType::DateTime, 0, false},
                {QStringLiteral("DAY"), FieldType::Date, 0, false},
                {QStringLiteral("T"), FieldType::Time, 0, false},
                {QStringLiteral("BIG"), FieldType::LargeInt, 0, false},
                {QStringLiteral("OK"), FieldType::Boolean, 0, false},
                {QStringLiteral("RAW"), FieldType::Blob, 0, false}};
    for (int i = 0; i < rows; ++i)
        p.rows.append({i, i % 3 ? QVariant(QStringLiteral("站点%1").arg(i % 7)) : QVariant(),
                       i * 1.25, QDateTime(QDate(2024, 1, 1 + i % 28), QTime(i % 24, 30)),
                       QDate(2023, 12, 1 + i % 31), QTime(1, 2, 3, i % 1000), qlonglong(i) << 40,
                       i % 2 == 0, QByteArray(i % 5, char(i))});
    if (rows > 2) {
        DataPacket::Change modified{RowState::Modified, 1, p.rows.at(1)};
        p.rows[1][1] = QStringLiteral("改过");
        p.changes = {{RowState::Inserted, 2, {}}, modified,
                     {RowState::Deleted, -1, p.rows.at(0)}};
    }
    return p;
}

void expectEqual(const DataPacket &a, const DataPacket &b)
{
    ASSERT_EQ(a.fields.size(), b.fields.size());
    for (qsizetype i = 0; i < a.fields.size(); ++i) {
        EXPECT_EQ(a.fields[i].name, b.fields[i].name);
        EXPECT_EQ(a.fields[i].type, b.fields[i].type);
    }
    ASSERT_EQ(a.rows.size(), b.rows.size());
    for (qsizetype r = 0; r < a.rows.size(); ++r)
        ASSERT_EQ(a.rows[r], b.rows[r]) << "row " << r;
    ASSERT_EQ(a.changes.size(), b.changes.size());
    for (qsizetype c = 0; c < a.changes.size(); ++c) {
        EXPECT_EQ(a.changes[c].state, b.changes[c].state);
        EXPECT_EQ(a.changes[c].row, b.changes[c].row);
        EXPECT_EQ(a.changes[c].original, b.changes[c].original);
    }
}

// Rows of a store as a packet, to compare with what fromBinary reads.
DataPacket fromStore(const RecordStore &store, const RecordStoreLoader &loader)
{
    DataPacket p;
    p.fields = loader.fields;
    for (size_t r = 0; r < store.size(); ++r)
        p.rows.append(store.row(int(r)));
    p.changes = loader.changeLog;
    return p;
}

// Streams the bytes in pieces of the given sizes (cycled) into a store.
DataPacket streamed(const QByteArray &bytes, const QList<int> &pieces)
{
    RecordStore store;
    RecordStoreLoader loader(store);
    PacketStreamReader reader(loader);
    qsizetype at = 0;
    for (int i = 0; at < bytes.size(); ++i) {
        const qsizetype n = qMin<qsizetype>(pieces.at(i % pieces.size()), bytes.size() - at);
        reader.feed(QByteArrayView(bytes.constData() + at, n));
        at += n;
    }
    reader.finish();
    store.finishLoading();
    return fromStore(store, loader);
}

// A sink that only counts what it was handed.
struct CountingSink : PacketSink
{
    int begun = 0;
    int rows = 0;
    int cells = 0;
    bool changesSeen = false;
    void begin(const QList<FieldDef> &, qsizetype) override { ++begun; }
    void null(int) override { ++cells; }
    bool text(int, QByteArrayView) override { ++cells; return true; }
    void integer(int, qint64) override { ++cells; }
    void real(int, double) override { ++cells; }
    void date(int, qint64) override { ++cells; }
    void time(int, int) override { ++cells; }
    void dateTime(int, qint64, int) override { ++cells; }
    void boolean(int, bool) override { ++cells; }
    void blob(int, QByteArrayView) override { ++cells; }
    void endRow() override { ++rows; }
    void row(QVariantList &&) override { ++rows; }
    void changes(QList<DataPacket::Change> &&) override { changesSeen = true; }
};

QByteArray magic()
{
    return QByteArray("WLDP\x01", 5);
}

} // namespace

TEST(PacketStream, AnySplitOfTheBytesReadsAsTheWhole)
{
    const DataPacket p = sample(300);
    const QByteArray bytes = p.toBinary();
    const DataPacket whole = DataPacket::fromBinary(bytes);
    expectEqual(p, whole);
    // One byte at a time, odd pieces, and pieces larger than the reader's blocks: texts and
    // rows cut by a piece's end, the store's shared texts pointing into earlier pieces.
    expectEqual(whole, streamed(bytes, {1}));
    expectEqual(whole, streamed(bytes, {7, 1, 300, 13}));
    expectEqual(whole, streamed(bytes, {int(bytes.size())}));
    DataPacket big = sample(30000);
    const QByteArray bigBytes = big.toBinary();
    ASSERT_GT(bigBytes.size(), 1 << 20);
    expectEqual(DataPacket::fromBinary(bigBytes), streamed(bigBytes, {65536, 4093}));
}

TEST(PacketStream, RowsArriveBeforeTheLastBytesAndNeverInPart)
{
    const QByteArray bytes = sample(100).toBinary();
    CountingSink sink;
    PacketStreamReader reader(sink);
    // All but the change log and the last row's final byte.
    const qsizetype rowsEnd = bytes.indexOf(QByteArray("\x67" "changes", 8));
    ASSERT_GT(rowsEnd, 0);
    reader.feed(QByteArrayView(bytes.constData(), rowsEnd - 1));
    EXPECT_EQ(sink.begun, 1);
    EXPECT_EQ(sink.rows, 99);
    EXPECT_EQ(sink.cells, 99 * 9); // the cut row not begun
    EXPECT_FALSE(reader.finished());
    reader.feed(QByteArrayView(bytes.constData() + rowsEnd - 1, bytes.size() - rowsEnd + 1));
    EXPECT_EQ(sink.rows, 100);
    EXPECT_FALSE(sink.changesSeen); // only finish() knows that nothing follows
    reader.finish();
    EXPECT_TRUE(sink.changesSeen);
    EXPECT_TRUE(reader.finished());
}

TEST(PacketStream, CutOrDamagedStreamsAreRefused)
{
    const QByteArray bytes = sample(20).toBinary();
    for (qsizetype cut : {qsizetype(0), qsizetype(3), bytes.size() / 2, bytes.size() - 1}) {
        CountingSink sink;
        PacketStreamReader reader(sink);
        reader.feed(bytes.left(cut));
        EXPECT_THROW(reader.finish(), PacketError) << "cut at " << cut;
    }
    // Damage is reported as soon as it arrives, not at the end.
    CountingSink sink;
    PacketStreamReader reader(sink);
    QByteArray damaged = bytes;
    damaged[bytes.indexOf("\x64" "rows") + 6] = char(0x1c); // a reserved CBOR head inside the rows
    EXPECT_THROW(reader.feed(damaged.left(damaged.size() - 10)), PacketError);
    // Bytes after the packet's end.
    CountingSink after;
    PacketStreamReader trailing(after);
    trailing.feed(bytes);
    EXPECT_THROW(trailing.feed(QByteArray("\x00", 1)), PacketError);
}

// Other writers may use indefinite lengths, chunked texts, keys in another order and keys
// this version does not know.
TEST(PacketBinaryReader, EveryLayoutOfTheFormatReads)
{
    QByteArray cbor;
    {
        QCborStreamWriter w(&cbor);
        w.startMap(4);
        w.append(QLatin1String("fields"));
        w.startArray(2);
        const char *const defs[][2] = {{"N", "i4"}, {"S", "string"}};
        for (const auto &d : defs) {
            w.startArray();
            w.append(QLatin1String(d[0]));
            w.append(QLatin1String(d[1]));
            w.append(0);
            w.append(false);
            w.endArray();
        }
        w.endArray();
        w.append(QLatin1String("changes")); // before the rows
        w.startArray(1);
        w.startArray(3);
        w.append(4);
        w.append(1);
        w.appendNull();
        w.endArray();
        w.endArray();
        w.append(QLatin1String("later")); // unknown, nested
        w.startMap();
        w.append(QLatin1String("x"));
        w.startArray();
        w.append(QByteArray("y"));
        w.append(QCborTag(1));
        w.append(2);
        w.endArray();
        w.endMap();
        w.append(QLatin1String("rows"));
        w.startArray(); // indefinite
        w.startArray();
        w.append(1);
        w.append(QStringLiteral("一"));
        w.endArray();
        w.startArray(2);
        w.append(2);
        w.appendNull();
        w.endArray();
        w.endArray();
        w.endMap();
    }
    // A chunked text for the first row's name: 0x7f "一" as two chunks, then a break.
    const QByteArray plain = QByteArray("\x63") + QStringLiteral("一").toUtf8();
    const qsizetype at = cbor.indexOf(plain);
    ASSERT_GT(at, 0);
    cbor.replace(at, plain.size(), QByteArray("\x7f\x61\xe4\x62\xb8\x80\xff", 7) /* split mid-character */);
    // Mid-character chunks are not valid UTF-8 each, but the joined text is.
    const QByteArray bytes = magic() + cbor;
    for (const DataPacket &p : {DataPacket::fromBinary(bytes), streamed(bytes, {3})}) {
        ASSERT_EQ(p.fields.size(), 2);
        ASSERT_EQ(p.rows.size(), 2);
        EXPECT_EQ(p.rows[0], (QVariantList{1, QStringLiteral("一")}));
        EXPECT_EQ(p.rows[1], (QVariantList{2, QVariant()}));
        ASSERT_EQ(p.changes.size(), 1);
        EXPECT_EQ(p.changes[0].state, RowState::Inserted);
        EXPECT_EQ(p.changes[0].row, 1);
    }
}

TEST(PacketBinaryReader, HostileLayoutsAreRefusedCheaply)
{
    const QByteArray fields = QByteArray("\x66" "fields" "\x81\x84\x61N\x62i4\x00\xf4", 16);
    struct Case
    {
        const char *name;
        QByteArray cbor;
    };
    QByteArray deep = QByteArray("\xa2", 1) + fields + QByteArray("\x65" "later", 6);
    deep += QByteArray(100000, char(0x81)); // nesting far beyond any packet
    deep += QByteArray("\x00", 1);
    const Case cases[] = {
        {"two field lists", QByteArray("\xa2", 1) + fields + fields},
        {"rows before fields", QByteArray("\xa2\x64rows\x80", 7) + fields},
        {"2^40 rows announced", QByteArray("\xa2", 1) + fields
                                    + QByteArray("\x64rows\x1b\x00\x00\x01\x00\x00\x00\x00\x00\x81\x01", 16)},
        {"2^63 items in an unknown key", QByteArray("\xa2", 1) + fields
                                             + QByteArray("\x61x\x9b\x80\x00\x00\x00\x00\x00\x00\x00", 11)},
        {"nesting 100000 deep", deep},
        {"date-time at the lowest 64-bit value",
         QByteArray("\xa2\x66" "fields" "\x81\x84\x61" "D\x68" "dateTime\x00\xf4\x64rows\x81\x81"
                    "\x3b\x7f\xff\xff\xff\xff\xff\xff\xff", 39)},
        {"row state unknown", QByteArray("\xa2", 1) + fields + QByteArray("\x67" "changes\x81\x83\x03\x00\xf6", 13)},
        {"change points past the rows", QByteArray("\xa3", 1) + fields
                                            + QByteArray("\x64rows\x81\x81\x01\x67" "changes\x81\x83\x04\x05\xf6", 21)},
        {"map announced longer than the bytes", QByteArray("\xa3", 1) + fields},
    };
    for (const Case &c : cases) {
        const QByteArray bytes = magic() + c.cbor;
        EXPECT_THROW(DataPacket::fromBinary(bytes), PacketError) << c.name;
        CountingSink sink;
        EXPECT_THROW(
            {
                PacketStreamReader reader(sink);
                reader.expectBytes(bytes.size());
                reader.feed(bytes);
                reader.finish();
            },
            PacketError)
            << c.name;
    }
}

TEST(PacketBinaryWriter, RowByRowWritesTheBytesOfTheWholePacket)
{
    DataPacket p = sample(50);
    p.changes.clear();
    p.fields.removeAt(7); // no Boolean: the server's writer has no such column type
    for (QVariantList &row : p.rows)
        row.removeAt(7);
    BinaryPacketWriter w(int(p.fields.size()));
    for (const QVariantList &row : std::as_const(p.rows)) {
        w.beginRow();
        for (qsizetype f = 0; f < row.size(); ++f) {
            const QVariant &v = row.at(f);
            if (v.isNull()) {
                w.null();
                continue;
            }
            switch (p.fields.at(f).type) {
            case FieldType::String: w.text(v.toString().toUtf8()); break;
            case FieldType::Float: w.real(v.toDouble()); break;
            case FieldType::DateTime:
                w.dateTime(v.toDateTime().date().toJulianDay(), v.toDateTime().time().msecsSinceStartOfDay());
                break;
            case FieldType::Date: w.integer(v.toDate().toJulianDay()); break;
            case FieldType::Time: w.integer(v.toTime().msecsSinceStartOfDay()); break;
            case FieldType::Blob: w.blob(v.toByteArray()); break;
            default: w.integer(v.toLongLong()); break;
            }
        }
        w.endRow();
    }
    EXPECT_EQ(w.finish(p.fields), p.toBinary());
}

TEST(PacketBinaryWriter, DateTimesBeyondTheFormatAreRefused)
{
    DataPacket p;
    p.fields = {{QStringLiteral("AT"), FieldType::DateTime, 0, false}};
    // Within QDateTime's range, but its milliseconds since Julian day 0 overflow 64 bits.
    p.rows = {{QDateTime(QDate::fromJulianDay(qint64(106751991166) + 1000), QTime(0, 0))}};
    ASSERT_TRUE(p.rows[0][0].toDateTime().isValid());
    EXPECT_THROW(p.toBinary(), PacketError);
    // The last day the format holds still round-trips.
    p.rows = {{QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999))}};
    EXPECT_EQ(DataPacket::fromBinary(p.toBinary()).rows, p.rows);
}

namespace {

// Rows of `p` (no change log; integer, text, float, date-time, blob and large-integer
// fields) written by a BinaryPacketWriter; `cuts` rows apart the written rows are taken
// as a piece of a streamed packet. Returns the streamed packet's pieces joined.
QByteArray streamedForm(const DataPacket &p, int cut, QList<qsizetype> *pieceEnds = nullptr)
{
    BinaryPacketWriter w(int(p.fields.size()));
    QByteArray out = BinaryPacketWriter::streamHead(p.fields);
    for (qsizetype r = 0; r < p.rows.size(); ++r) {
        w.beginRow();
        for (qsizetype f = 0; f < p.fields.size(); ++f) {
            const QVariant &v = p.rows[r][f];
            if (v.isNull()) {
                w.null();
                continue;
            }
            switch (p.fields[f].type) {
            case FieldType::Integer:
            case FieldType::LargeInt: w.integer(v.toLongLong()); break;
            case FieldType::String: w.text(v.toString().toUtf8()); break;
            case FieldType::Float: w.real(v.toDouble()); break;
            case FieldType::DateTime: {
                const QDateTime dt = v.toDateTime();
                w.dateTime(dt.date().toJulianDay(), dt.time().msecsSinceStartOfDay());
                break;
            }
            case FieldType::Blob: w.blob(v.toByteArray()); break;
            default: ADD_FAILURE() << "type not written by this helper";
            }
        }
        w.endRow();
        if ((r + 1) % cut == 0) {
            out.append(w.takeRows());
            if (pieceEnds)
                pieceEnds->append(out.size());
        }
    }
    out.append(w.takeRows());
    out.append(BinaryPacketWriter::streamEnd());
    return out;
}

DataPacket streamable(int rows)
{
    DataPacket p = sample(rows);
    p.changes.clear();
    // Only the types a database answer streams.
    const QList<int> keep = {0, 1, 2, 3, 6, 8};
    DataPacket q;
    for (int f : keep)
        q.fields.append(p.fields[f]);
    for (const QVariantList &row : p.rows) {
        QVariantList r;
        for (int f : keep)
            r.append(row[f]);
        q.rows.append(r);
    }
    return q;
}

} // namespace

// A packet sent while its rows are stepped reads, whole or while its bytes arrive, as the
// packet written at once; a reader of the whole form reads it too.
TEST(PacketStream, TheStreamedFormReadsAsTheWholePacket)
{
    const DataPacket p = streamable(2000);
    const QByteArray whole = p.toBinary();
    const QByteArray streamedBytes = streamedForm(p, 300);
    ASSERT_NE(streamedBytes, whole);
    expectEqual(DataPacket::fromBinary(whole), DataPacket::fromBinary(streamedBytes));
    expectEqual(DataPacket::fromBinary(whole), streamed(streamedBytes, {1}));
    expectEqual(DataPacket::fromBinary(whole), streamed(streamedBytes, {4093, 17, 65536}));
    // No rows at all, and rows that never reached a piece of their own.
    const DataPacket none = streamable(0);
    expectEqual(none, DataPacket::fromBinary(streamedForm(none, 1)));
    const DataPacket few = streamable(3);
    expectEqual(few, streamed(streamedForm(few, 1000), {5}));
}

// A failure after rows went out ends the packet with the sender's status and text: the
// reader raises it (whole or streamed), it never passes for a shorter answer.
TEST(PacketStream, AnErrorInTheStreamIsRaisedNotAShortAnswer)
{
    const DataPacket p = streamable(500);
    QList<qsizetype> ends;
    const QByteArray full = streamedForm(p, 100, &ends);
    ASSERT_GE(ends.size(), 2);
    const QString text = QStringLiteral("查询结果过大，请缩小查询条件（超过 200 行）");
    const QByteArray broken = full.left(ends[1]) + BinaryPacketWriter::streamError(413, text);
    auto expectAborted = [&](const std::function<void()> &read) {
        try {
            read();
            ADD_FAILURE() << "read as a packet";
        } catch (const PacketAborted &e) {
            EXPECT_EQ(e.status(), 413);
            EXPECT_EQ(e.text(), text);
        }
    };
    expectAborted([&] { DataPacket::fromBinary(broken); });
    expectAborted([&] { streamed(broken, {1}); });
    // The rows before the error reached the sink: the error comes after them, from feed().
    CountingSink sink;
    PacketStreamReader reader(sink);
    expectAborted([&] { reader.feed(broken); });
    EXPECT_EQ(sink.rows, 200);
    EXPECT_FALSE(sink.changesSeen);
    // Cut off without its end (the server gone) is refused too.
    EXPECT_THROW(streamed(full.left(ends[1]), {64}), PacketError);
}

// A sender that finds, after rows went out, that it must answer otherwise starts over with
// the whole packet: the reader hands the new content on from a second begin().
TEST(PacketStream, ARestartReplacesWhatWasSent)
{
    const DataPacket first = streamable(400);
    QList<qsizetype> ends;
    const QByteArray full = streamedForm(first, 100, &ends);
    DataPacket other = sample(50);
    other.changes.clear();
    const QByteArray restarted = full.left(ends[0]) + BinaryPacketWriter::streamRestart(other.toBinary());
    expectEqual(other, DataPacket::fromBinary(restarted));
    expectEqual(other, streamed(restarted, {3, 1000}));
    CountingSink sink;
    PacketStreamReader reader(sink);
    reader.feed(restarted);
    reader.finish();
    EXPECT_EQ(sink.begun, 2);
    EXPECT_EQ(sink.rows, 100 + 50);
}

TEST(PacketBinaryReader, AFieldNameThatXmlCannotCarryIsRefused)
{
    // A packet read from the wire is written again as XML (ApplyData, cache files): a
    // field name with a control character would make that fail later, far from its cause.
    DataPacket p;
    p.fields = {{QStringLiteral("A\x1f"), FieldType::Integer, 0, false}};
    p.rows = {{QVariant(1)}};
    const QByteArray bytes = p.toBinary();
    EXPECT_THROW(DataPacket::fromBinary(bytes), PacketError);
    EXPECT_THROW(streamed(bytes, {7}), PacketError);
    p.fields[0].name = QStringLiteral("BILLCODE");
    EXPECT_EQ(DataPacket::fromBinary(p.toBinary()).rows.size(), 1);
}
