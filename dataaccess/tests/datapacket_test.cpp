#include "dataaccess/packet/datapacket.h"

#include <gtest/gtest.h>
#include <limits>

#include <QCborStreamWriter>
#include <QDateTime>
#include <functional>

using namespace quillon;

namespace {

// One field of every type, so each round trip exercises every value encoding.
DataPacket everyType()
{
    DataPacket p;
    p.fields = {
        {QStringLiteral("S"), FieldType::String, 20, true},
        {QStringLiteral("W"), FieldType::WideString, 30, false},
        {QStringLiteral("I2"), FieldType::SmallInt, 0, false},
        {QStringLiteral("I4"), FieldType::Integer, 0, false},
        {QStringLiteral("I8"), FieldType::LargeInt, 0, false},
        {QStringLiteral("F"), FieldType::Float, 0, false},
        {QStringLiteral("C"), FieldType::Currency, 0, false},
        {QStringLiteral("B"), FieldType::BCD, 0, false},
        {QStringLiteral("FB"), FieldType::FMTBCD, 0, false},
        {QStringLiteral("D"), FieldType::Date, 0, false},
        {QStringLiteral("T"), FieldType::Time, 0, false},
        {QStringLiteral("DT"), FieldType::DateTime, 0, false},
        {QStringLiteral("BOOL"), FieldType::Boolean, 0, false},
        {QStringLiteral("M"), FieldType::Memo, 0, false},
        {QStringLiteral("BL"), FieldType::Blob, 0, false},
    };
    p.rows.append(QVariantList{
        QStringLiteral("总部 <&\"'>"), QStringLiteral("line1\nline2\ttab\r"), -32768, 2147483647,
        qlonglong(-9007199254740993LL), 0.1, 12.34, -1e-300, 1e300,
        QDate(1899, 12, 30), QTime(23, 59, 59, 999),
        QDateTime(QDate(2024, 2, 29), QTime(0, 0, 0, 1)), true,
        QStringLiteral("ctrl\x0e" "char and emoji \U0001F600"), QByteArray("\x00\x01\xff", 3)});
    // Every value null except the required string; an empty string is not null.
    QVariantList nulls(p.fields.size());
    nulls[0] = QString();
    nulls[1] = QStringLiteral("");
    p.rows.append(nulls);
    p.rows.append(QVariantList{QStringLiteral("x"), QString(), 0, 0, qlonglong(0), -0.5, 0.0, 0.0, 0.0,
                               QDate(2000, 1, 1), QTime(0, 0), QDateTime(QDate(1970, 1, 1), QTime(0, 0)),
                               false, QStringLiteral(""), QByteArray()});
    return p;
}

DataPacket withChangeLog()
{
    DataPacket p;
    p.fields = {{QStringLiteral("ID"), FieldType::Integer, 0, true},
                {QStringLiteral("NAME"), FieldType::String, 10, false}};
    p.rows = {{1, QStringLiteral("a")}, {2, QStringLiteral("b2")}, {3, QStringLiteral("c")},
              {4, QStringLiteral("new")}};
    p.changes = {
        {RowState::Deleted, -1, {9, QStringLiteral("gone")}},
        {RowState::Modified, 1, {2, QStringLiteral("b")}},
        {RowState::Inserted, 3, {}},
        {RowState::Deleted, -1, {8, QVariant()}},
    };
    return p;
}

void expectSame(const DataPacket &a, const DataPacket &b)
{
    ASSERT_EQ(a.fields.size(), b.fields.size());
    for (qsizetype i = 0; i < a.fields.size(); ++i) {
        EXPECT_EQ(a.fields[i].name, b.fields[i].name);
        EXPECT_EQ(a.fields[i].type, b.fields[i].type) << a.fields[i].name.toStdString();
        EXPECT_EQ(a.fields[i].size, b.fields[i].size);
        EXPECT_EQ(a.fields[i].required, b.fields[i].required);
    }
    auto sameRow = [&](const QVariantList &x, const QVariantList &y, const std::string &where) {
        ASSERT_EQ(x.size(), y.size()) << where;
        for (qsizetype c = 0; c < x.size(); ++c) {
            EXPECT_EQ(x[c].isNull(), y[c].isNull()) << where << " column " << c;
            if (!x[c].isNull()) {
                EXPECT_EQ(x[c].typeId(), y[c].typeId()) << where << " column " << c;
                EXPECT_EQ(x[c], y[c]) << where << " column " << c << ": "
                                      << x[c].toString().toStdString() << " vs "
                                      << y[c].toString().toStdString();
            }
        }
    };
    ASSERT_EQ(a.rows.size(), b.rows.size());
    for (qsizetype r = 0; r < a.rows.size(); ++r)
        sameRow(a.rows[r], b.rows[r], "row " + std::to_string(r));
    ASSERT_EQ(a.changes.size(), b.changes.size());
    for (qsizetype c = 0; c < a.changes.size(); ++c) {
        EXPECT_EQ(a.changes[c].state, b.changes[c].state) << "change " << c;
        EXPECT_EQ(a.changes[c].row, b.changes[c].row) << "change " << c;
        sameRow(a.changes[c].original, b.changes[c].original, "original of change " + std::to_string(c));
    }
}

} // namespace

TEST(DataPacketRoundTrip, EveryTypeNullsAndAwkwardTextSurviveBothEncodings)
{
    const DataPacket p = everyType();
    expectSame(p, DataPacket::fromBinary(p.toBinary()));
    expectSame(p, DataPacket::fromXml(p.toXml()));
    // Text that XML cannot carry as such still comes back character for character.
    EXPECT_EQ(DataPacket::fromXml(p.toXml()).rows[0][13].toString().at(4), QChar(0x0e));
}

TEST(DataPacketRoundTrip, ChangeLogKeepsOrderOriginalsAndDeletedRows)
{
    const DataPacket p = withChangeLog();
    expectSame(p, DataPacket::fromBinary(p.toBinary()));
    const QString xml = p.toXml();
    expectSame(p, DataPacket::fromXml(xml));
    // The XML form names each row's state as the platform layout does.
    EXPECT_TRUE(xml.contains(u"RowState=\"8\""));
    EXPECT_TRUE(xml.contains(u"RowState=\"1\""));
    EXPECT_TRUE(xml.contains(u"RowState=\"4\""));
    EXPECT_TRUE(xml.contains(u"RowState=\"2\""));
    EXPECT_TRUE(xml.contains(u"CHANGE_LOG="));
}

TEST(DataPacketRoundTrip, EmptyPacketsAndOddFieldNames)
{
    DataPacket empty;
    expectSame(empty, DataPacket::fromBinary(empty.toBinary()));
    expectSame(empty, DataPacket::fromXml(empty.toXml()));

    DataPacket p;
    p.fields = {{QStringLiteral("COUNT(*)"), FieldType::LargeInt, 0, false},
                {QStringLiteral("F1"), FieldType::String, 5, false},
                {QStringLiteral("RowState"), FieldType::Integer, 0, false},
                {QStringLiteral("名称"), FieldType::WideString, 10, false},
                {QStringLiteral("2nd"), FieldType::Integer, 0, false}};
    p.rows = {{qlonglong(5), QStringLiteral("a"), 7, QStringLiteral("站点"), 2}};
    expectSame(p, DataPacket::fromXml(p.toXml()));
    EXPECT_EQ(p.fieldIndex(QStringLiteral("count(*)")), 0);
    EXPECT_EQ(p.fieldIndex(QStringLiteral("rowstate")), 2);
    EXPECT_EQ(p.fieldIndex(QStringLiteral("missing")), -1);
}

TEST(DataPacketRoundTrip, ValuesAreStoredInTheFieldsType)
{
    // Text typed by a user is converted to the field's type on encoding.
    DataPacket p;
    p.fields = {{QStringLiteral("N"), FieldType::Integer, 0, false},
                {QStringLiteral("X"), FieldType::Float, 0, false},
                {QStringLiteral("D"), FieldType::DateTime, 0, false}};
    p.rows = {{QStringLiteral("42"), QStringLiteral("2.5"), QStringLiteral("2024-01-31 08:30:00")}};
    const DataPacket back = DataPacket::fromBinary(p.toBinary());
    EXPECT_EQ(back.rows[0][0].typeId(), QMetaType::Int);
    EXPECT_EQ(back.rows[0][0].toInt(), 42);
    EXPECT_DOUBLE_EQ(back.rows[0][1].toDouble(), 2.5);
    EXPECT_EQ(back.rows[0][2].toDateTime(), QDateTime(QDate(2024, 1, 31), QTime(8, 30)));

    p.rows = {{QStringLiteral("abc"), QVariant(), QVariant()}};
    EXPECT_THROW(p.toBinary(), PacketError);
    EXPECT_THROW(p.toXml(), PacketError);
}

TEST(DataPacketRoundTrip, InconsistentPacketsAreRefusedOnEncoding)
{
    const std::vector<std::function<void(DataPacket &)>> breakers = {
        [](DataPacket &p) { p.rows[0].removeLast(); },
        [](DataPacket &p) { p.changes[1].row = 99; },
        [](DataPacket &p) { p.changes[1].original.removeLast(); },
        [](DataPacket &p) { p.changes[2].original = {1, 2}; },
        [](DataPacket &p) { p.changes[0].row = 0; },
        [](DataPacket &p) { p.changes.append({RowState::Inserted, 1, {}}); },
        [](DataPacket &p) { p.changes.append({RowState::Unchanged, 0, {}}); },
    };
    for (size_t i = 0; i < breakers.size(); ++i) {
        DataPacket p = withChangeLog();
        breakers[i](p);
        EXPECT_THROW(p.toBinary(), PacketError) << "case " << i;
        EXPECT_THROW(p.toXml(), PacketError) << "case " << i;
    }
}

TEST(DataPacketMalformed, BinaryInputRaisesPacketError)
{
    const QByteArray good = withChangeLog().toBinary();
    EXPECT_THROW(DataPacket::fromBinary(QByteArray()), PacketError);
    EXPECT_THROW(DataPacket::fromBinary(QByteArray("WLDX\x01")), PacketError);
    QByteArray wrongVersion = good;
    wrongVersion[4] = char(99);
    EXPECT_THROW(DataPacket::fromBinary(wrongVersion), PacketError);
    // Every truncation is refused, never half-read.
    for (qsizetype n = 0; n < good.size(); ++n)
        EXPECT_THROW(DataPacket::fromBinary(good.left(n)), PacketError) << "cut at " << n;
    // Flipping bytes never crashes; it either fails cleanly or decodes a consistent packet.
    for (qsizetype n = 5; n < good.size(); ++n) {
        QByteArray b = good;
        b[n] = char(b[n] ^ 0x5a);
        try {
            const DataPacket p = DataPacket::fromBinary(b);
            for (const QVariantList &row : p.rows)
                EXPECT_EQ(row.size(), p.fields.size());
        } catch (const PacketError &) {
        }
    }
}

TEST(DataPacketMalformed, WrongValueTypesInBinaryAreRefused)
{
    // A text where the integer field expects a number: patch the packet's CBOR by hand.
    DataPacket p;
    p.fields = {{QStringLiteral("ID"), FieldType::Integer, 0, false}};
    p.rows = {{7}};
    QByteArray b = p.toBinary();
    const qsizetype at = b.lastIndexOf(char(0x07)); // the value 7 as a CBOR small integer
    ASSERT_GT(at, 0);
    b[at] = char(0x60); // an empty text string
    EXPECT_THROW(DataPacket::fromBinary(b), PacketError);
}

TEST(DataPacketMalformed, XmlInputRaisesPacketError)
{
    const QString head = QStringLiteral(
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
        "<FIELD attrname=\"ID\" fieldtype=\"i4\"/><FIELD attrname=\"D\" fieldtype=\"date\"/>"
        "</FIELDS>");
    const QStringList cases = {
        QString(),
        QStringLiteral("not xml at all"),
        QStringLiteral("<OTHER/>"),
        head + QStringLiteral("</METADATA><ROWDATA><ROW ID=\"1\"></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("</METADATA><ROWDATA><ROW ID=\"x\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("</METADATA><ROWDATA><ROW ID=\"99999999999\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("</METADATA><ROWDATA><ROW D=\"20241332\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("</METADATA><ROWDATA><ROW D=\"2024-01-01\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("</METADATA><ROWDATA><ROW D=\"2024010\"/></ROWDATA></DATAPACKET>"),
        QStringLiteral("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"T\" fieldtype=\"time\"/></FIELDS></METADATA>"
                       "<ROWDATA><ROW T=\"24:00:00\"/></ROWDATA></DATAPACKET>"),
        QStringLiteral("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"T\" fieldtype=\"time\"/></FIELDS></METADATA>"
                       "<ROWDATA><ROW T=\"12:00:00.5\"/></ROWDATA></DATAPACKET>"),
        QStringLiteral("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"T\" fieldtype=\"dateTime\"/></FIELDS></METADATA>"
                       "<ROWDATA><ROW T=\"20240101 12:00:00\"/></ROWDATA></DATAPACKET>"),
        QStringLiteral("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"T\" fieldtype=\"dateTime\"/></FIELDS></METADATA>"
                       "<ROWDATA><ROW T=\"20240101T12:0a:00\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("</METADATA><ROWDATA><ROW NOPE=\"1\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("</METADATA><ROWDATA><ROW RowState=\"16\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("</METADATA><ROWDATA><ROW RowState=\"8\" ID=\"1\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("<PARAMS CHANGE_LOG=\"1 0\"/></METADATA><ROWDATA><ROW RowState=\"4\" ID=\"1\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("<PARAMS CHANGE_LOG=\"2 0 4\"/></METADATA><ROWDATA><ROW RowState=\"4\" ID=\"1\"/></ROWDATA></DATAPACKET>"),
        head + QStringLiteral("<PARAMS CHANGE_LOG=\"\"/></METADATA><ROWDATA><ROW RowState=\"2\" ID=\"1\"/></ROWDATA></DATAPACKET>"),
        QStringLiteral("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"weird\"/></FIELDS></METADATA></DATAPACKET>"),
        QStringLiteral("<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\"/><FIELD attrname=\"A\" fieldtype=\"i4\"/></FIELDS></METADATA></DATAPACKET>"),
    };
    for (const QString &xml : cases)
        EXPECT_THROW(DataPacket::fromXml(xml), PacketError) << xml.toStdString();
}

TEST(DataPacketXml, RowStatesWithoutChangeLogAreReadInDocumentOrder)
{
    // A hand-written packet with row states but no change-log parameter.
    const QString xml = QStringLiteral(
        "<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
        "<FIELD attrname=\"ID\" fieldtype=\"i4\"/><FIELD attrname=\"NAME\" fieldtype=\"string\" WIDTH=\"8\"/>"
        "</FIELDS></METADATA><ROWDATA>"
        "<ROW ID=\"1\" NAME=\"old\" RowState=\"1\"/><ROW ID=\"1\" NAME=\"new\" RowState=\"8\"/>"
        "<ROW ID=\"2\" RowState=\"4\"/><ROW ID=\"3\" NAME=\"\"/><ROW ID=\"5\" RowState=\"2\"/>"
        "</ROWDATA></DATAPACKET>");
    const DataPacket p = DataPacket::fromXml(xml);
    ASSERT_EQ(p.rows.size(), 3);
    EXPECT_EQ(p.rows[0][1].toString(), u"new");
    EXPECT_TRUE(p.rows[1][1].isNull());
    EXPECT_FALSE(p.rows[2][1].isNull());
    EXPECT_EQ(p.fields[1].size, 8);
    ASSERT_EQ(p.changes.size(), 3);
    EXPECT_EQ(p.changes[0].state, RowState::Modified);
    EXPECT_EQ(p.changes[0].original[1].toString(), u"old");
    EXPECT_EQ(p.changes[1].state, RowState::Inserted);
    EXPECT_EQ(p.changes[1].row, 1);
    EXPECT_EQ(p.changes[2].state, RowState::Deleted);
    EXPECT_EQ(p.changes[2].original[0].toInt(), 5);
}

TEST(ConvertValue, ConvertsTypedTextAndRefusesWhatDoesNotFit)
{
    struct Case
    {
        FieldType type;
        QVariant in;
        bool ok;
        QVariant out;
    };
    const QList<Case> cases = {
        {FieldType::Integer, QStringLiteral(" 12 "), true, 12},
        {FieldType::Integer, QStringLiteral("12.0"), true, 12},
        {FieldType::Integer, QStringLiteral("12.5"), false, {}},
        {FieldType::Integer, QStringLiteral(""), true, {}},
        {FieldType::Integer, qlonglong(3000000000LL), false, {}},
        {FieldType::SmallInt, 40000, false, {}},
        {FieldType::LargeInt, 3000000000.0, true, qlonglong(3000000000LL)},
        // Numbers no whole number type holds are refused (never cast: out of range it is
        // undefined behaviour, which the sanitizer build stops at).
        {FieldType::LargeInt, 1e300, false, {}},
        {FieldType::LargeInt, QStringLiteral("-1e300"), false, {}},
        {FieldType::Integer, std::numeric_limits<double>::quiet_NaN(), false, {}},
        {FieldType::Float, QStringLiteral("1e3"), true, 1000.0},
        {FieldType::Currency, QStringLiteral("1,5"), false, {}},
        {FieldType::Date, QStringLiteral("2024-02-29"), true, QDate(2024, 2, 29)},
        {FieldType::Date, QStringLiteral("2023-02-29"), false, {}},
        {FieldType::DateTime, QStringLiteral("2024-01-31"), true, QDateTime(QDate(2024, 1, 31), QTime(0, 0))},
        {FieldType::DateTime, QDate(2024, 1, 31), true, QDateTime(QDate(2024, 1, 31), QTime(0, 0))},
        {FieldType::Time, QStringLiteral("8:05"), true, QTime(8, 5)},
        {FieldType::Boolean, QStringLiteral("true"), true, true},
        {FieldType::Boolean, QStringLiteral("0"), true, false},
        {FieldType::Boolean, QStringLiteral("maybe"), false, {}},
        {FieldType::String, 5, true, QStringLiteral("5")},
        {FieldType::Blob, QStringLiteral("ab"), true, QByteArray("ab")},
        {FieldType::Blob, 5, false, {}},
    };
    for (const Case &c : cases) {
        bool ok = !c.ok;
        const QVariant v = convertValue(c.type, c.in, &ok);
        EXPECT_EQ(ok, c.ok) << fieldTypeName(c.type).toStdString() << " " << c.in.toString().toStdString();
        EXPECT_EQ(v, c.out) << fieldTypeName(c.type).toStdString() << " " << c.in.toString().toStdString();
    }
}

TEST(DataPacketMalformed, RandomDamageNeverCrashesEitherDecoder)
{
    const DataPacket source = everyType();
    DataPacket logged = withChangeLog();
    const QByteArray binary = source.toBinary() + QByteArray();
    const QByteArray logBinary = logged.toBinary();
    const QString xml = logged.toXml();
    quint32 seed = 2026;
    auto rnd = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % quint32(n));
    };
    int decoded = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray b = round % 2 ? binary : logBinary;
        QString x = xml;
        for (int k = 0; k < 3; ++k) {
            const int at = 5 + rnd(int(b.size()) - 5);
            switch (rnd(3)) {
            case 0: b[at] = char(rnd(256)); break;
            case 1: b.remove(at, 1 + rnd(4)); break;
            default: b.insert(at, char(rnd(256))); break;
            }
            const int xa = rnd(int(x.size()));
            x[xa] = QChar(u"<>\"=/ 0aZ&;"[rnd(11)]);
        }
        try {
            const DataPacket p = DataPacket::fromBinary(b);
            p.validate(); // whatever decodes is consistent
            ++decoded;
        } catch (const PacketError &) {
        }
        try {
            DataPacket::fromXml(x).validate();
        } catch (const PacketError &) {
        }
    }
    EXPECT_LT(decoded, 3000); // most damage is noticed
}

// The binary form sits in cache files on users' disks: the bytes written for a packet of
// every type and a change log must not drift, and those bytes must read back.
TEST(DataPacketBinaryFormat, BytesAreStableAndReadBack)
{
    struct Case
    {
        const char *name;
        DataPacket packet;
        const char *hex;
    };
    const Case cases[] = {
        {"every type", everyType(),
             "574c445001a3666669656c64738f84615366737472696e6714f58461576a737472696e672e756e69"
             "181ef48462493262693200f48462493462693400f48462493862693800f484614662723800f48461"
             "43656d6f6e657900f484614265666978656400f484624642686669786564464d5400f48461446464"
             "61746500f48461546474696d6500f484624454686461746554696d6500f48464424f4f4c67626f6f"
             "6c65616e00f484614d646d656d6f00f48462424c64626c6f6200f464726f7773838f6ce680bbe983"
             "a8203c2622273e706c696e65310a6c696e6532097461620d397fff1a7fffffff3b00200000000000"
             "00fb3fb999999999999afb4028ae147ae147aefb81a56e1fc2f8f359fb7e37e43c8800759c1a0024"
             "d9ab1a05265bff1b0000c156330f7801f578186374726c0e6368617220616e6420656d6f6a6920f0"
             "9f9880430001ff8f6060f6f6f6f6f6f6f6f6f6f6f6f6f68f617860000000fbbfe0000000000000fb"
             "0000000000000000fb0000000000000000fb00000000000000001a00256859001b0000bfc840e650"
             "00f46040676368616e67657380"},
        {"change log", withChangeLog(),
             "574c445001a3666669656c6473828462494462693400f584644e414d4566737472696e670af46472"
             "6f777384820161618202626232820361638204636e6577676368616e67657384830220820964676f"
             "6e6583080182026162830403f68302208208f6"},
    };
    for (const Case &c : cases) {
        const QByteArray bytes = c.packet.toBinary();
        EXPECT_EQ(bytes.toHex().toStdString(), std::string(c.hex)) << c.name;
        expectSame(c.packet, DataPacket::fromBinary(QByteArray::fromHex(c.hex)));
    }
}

// Packets from other CBOR writers (indefinite lengths, chunked texts, float widths, keys
// of a later version, extra items in a field entry) still read, with the same values.
TEST(DataPacketBinaryFormat, OtherWritersLayoutsStillRead)
{
    QByteArray cbor;
    {
        QCborStreamWriter w(&cbor);
        w.startMap(); // indefinite
        w.append(QLatin1String("later"));
        w.append(42);
        w.append(QLatin1String("fields"));
        w.startArray();
        const char *defs[][2] = {{"NAME", "string"}, {"N", "i4"}, {"F", "r8"}, {"DT", "dateTime"}};
        for (const auto &d : defs) {
            w.startArray(5);
            w.append(QLatin1String(d[0]));
            w.append(QLatin1String(d[1]));
            w.append(0);
            w.append(false);
            w.append(QLatin1String("extra"));
            w.endArray();
        }
        w.endArray();
        w.append(QLatin1String("rows"));
        w.startArray();
        w.startArray(4);
        w.appendTextString("ab\xe7\xab\x99", 5);
        w.append(7);
        w.append(1.5f);
        w.append(qint64(QDate(2024, 3, 1).toJulianDay() * 86400000LL + 3600000));
        w.endArray();
        w.endArray();
        w.endMap();
    }
    const DataPacket p = DataPacket::fromBinary(QByteArray("WLDP\x01", 5) + cbor);
    ASSERT_EQ(p.fields.size(), 4);
    ASSERT_EQ(p.rows.size(), 1);
    EXPECT_EQ(p.rows[0][0], QVariant(QStringLiteral("ab站")));
    EXPECT_EQ(p.rows[0][1], QVariant(7));
    EXPECT_EQ(p.rows[0][2], QVariant(1.5));
    EXPECT_EQ(p.rows[0][3], QVariant(QDateTime(QDate(2024, 3, 1), QTime(1, 0))));
    EXPECT_TRUE(p.changes.isEmpty());
}

// Texts that need care on the direct path: a leading byte-order mark, characters outside
// the basic plane, lone surrogates, long and many mostly equal texts.
TEST(DataPacketBinaryFormat, TextsRoundTripExactly)
{
    DataPacket p;
    p.fields = {{QStringLiteral("T"), FieldType::String, 0, false},
                {QStringLiteral("M"), FieldType::Memo, 0, false}};
    const QString samples[] = {
        QStringLiteral("\uFEFFstarts with a BOM"),
        QStringLiteral("\U0001F600 emoji and 总部"),
        QString(QChar(0xd800)) + QStringLiteral("x"),
        QString(5000, QChar(u'长')),
        QStringLiteral("é"),
        QString(),
    };
    for (int i = 0; i < 2000; ++i)
        p.rows.append({samples[i % 6], QStringLiteral("memo %1").arg(i % 3)});
    const DataPacket back = DataPacket::fromBinary(p.toBinary());
    ASSERT_EQ(back.rows.size(), p.rows.size());
    for (qsizetype r = 0; r < p.rows.size(); ++r) {
        const QString want = p.rows[r][0].toString();
        // A lone surrogate cannot be carried as UTF-8; everything else must be exact.
        if (!want.contains(QChar(0xd800))) {
            ASSERT_EQ(back.rows[r][0].toString(), want) << "row " << r;
        }
        ASSERT_EQ(back.rows[r][1], p.rows[r][1]) << "row " << r;
    }
}

// Damage that the direct path must not accept: invalid UTF-8, a half-width float, a row
// one value short, trailing bytes and an integer too big for its field.
TEST(DataPacketMalformed, DirectPathRefusesWhatTheFormatForbids)
{
    DataPacket p;
    p.fields = {{QStringLiteral("S"), FieldType::String, 0, false},
                {QStringLiteral("N"), FieldType::SmallInt, 0, false},
                {QStringLiteral("F"), FieldType::Float, 0, false}};
    p.rows = {{QStringLiteral("é"), 5, 2.0}};
    const QByteArray good = p.toBinary();
    ASSERT_NO_THROW(DataPacket::fromBinary(good));
    const qsizetype text = good.indexOf(QByteArray("\x62\xc3\xa9", 3));
    const qsizetype small = good.indexOf(QByteArray("\x05\xfb", 2));
    ASSERT_GT(text, 0);
    ASSERT_GT(small, 0);

    QByteArray badUtf8 = good;
    badUtf8[text + 2] = char(0x41); // lead byte without its continuation
    QByteArray halfFloat = good;
    halfFloat.replace(small + 1, 9, QByteArray("\xf9\x40\x00", 3));
    QByteArray trailing = good + QByteArray("\x00", 1);
    QByteArray tooBig = good;
    tooBig.replace(small, 1, QByteArray("\x1a\x00\x01\x00\x00", 5)); // 65536 in a SmallInt
    QByteArray shortRow = good;
    shortRow[shortRow.indexOf(char(0x83))] = char(0x82);

    struct Case { const char *name; QByteArray bytes; bool mayRead; };
    const Case cases[] = {
        {"invalid UTF-8", badUtf8, false},
        {"half-width float", halfFloat, false},
        {"integer too big", tooBig, false},
        {"row one value short", shortRow, false},
        {"trailing byte", trailing, true}, // ignored as before, but never misread
    };
    for (const Case &c : cases) {
        if (c.mayRead) {
            try {
                const DataPacket d = DataPacket::fromBinary(c.bytes);
                EXPECT_EQ(d.rows.value(0), p.rows[0]) << c.name;
            } catch (const PacketError &) {
            }
        } else {
            EXPECT_THROW(DataPacket::fromBinary(c.bytes), PacketError) << c.name;
        }
    }
}

TEST(DataPacketRoundTrip, DecimalsKeepEveryDigitInBothForms)
{
    // Money and ratios with more digits than a default-precision text would keep.
    const QList<double> values = {12345.67,      1234567.89, 0.1 + 0.2, 9999999999.99, -0.07,
                                  1.0 / 3.0,     2.5e-9,     123456789.123456789, 1e21, -1234.5678e-10};
    DataPacket p;
    p.fields = {{QStringLiteral("F"), FieldType::Float, 0, false},
                {QStringLiteral("C"), FieldType::Currency, 0, false},
                {QStringLiteral("B"), FieldType::BCD, 0, false},
                {QStringLiteral("FB"), FieldType::FMTBCD, 0, false}};
    for (double v : values)
        p.rows.append(QVariantList{v, v, v, v});
    // Originals of a modified row travel the same way.
    p.changes = {{RowState::Modified, 1, QVariantList{0.1 + 0.2, 1234567.89, 12345.67, 1.0 / 3.0}}};
    for (const DataPacket &back : {DataPacket::fromBinary(p.toBinary()), DataPacket::fromXml(p.toXml())}) {
        ASSERT_EQ(back.rows.size(), p.rows.size());
        for (qsizetype r = 0; r < p.rows.size(); ++r)
            for (int f = 0; f < 4; ++f)
                EXPECT_EQ(back.rows[r][f].toDouble(), values[r]) << "row " << r << " field " << f;
        ASSERT_EQ(back.changes.size(), 1);
        EXPECT_EQ(back.changes[0].original, p.changes[0].original);
    }
    // The XML text carries the shortest digits that read back the same double.
    const QString xml = p.toXml();
    EXPECT_TRUE(xml.contains(u"F=\"1234567.89\""));
    EXPECT_TRUE(xml.contains(u"F=\"0.30000000000000004\""));
    // Text typed by a user converts without losing digits either.
    EXPECT_EQ(convertValue(FieldType::Currency, QStringLiteral(" 1234567.89 ")).toDouble(), 1234567.89);
}
