// The XML form: packets the binary form carries must also survive it.
#include "dataaccess/packet/datapacket.h"

#include <gtest/gtest.h>

#include <QDateTime>

using namespace quillon;

// A query may name two columns alike ("select a X, b X"): the binary form carries that, and
// the XML form (cache files, ApplyData) must too, not write an element with one attribute
// twice, which no XML reader accepts.
TEST(PacketXml, FieldsNamedAlikeSurviveTheXmlForm)
{
    DataPacket p;
    p.fields = {{QStringLiteral("X"), FieldType::Integer, 0, false},
                {QStringLiteral("X"), FieldType::String, 5, false},
                {QStringLiteral("F2"), FieldType::Integer, 0, false},
                {QStringLiteral("x"), FieldType::Integer, 0, false}};
    p.rows = {{1, QStringLiteral("a"), 3, 4}, {QVariant(), QStringLiteral("b"), QVariant(), 5}};
    DataPacket::Change c{RowState::Modified, 1, p.rows.at(1)};
    p.rows[1][1] = QStringLiteral("改");
    p.changes = {c};
    const DataPacket back = DataPacket::fromXml(p.toXml());
    ASSERT_EQ(back.fields.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(back.fields[i].name, p.fields[i].name);
        EXPECT_EQ(back.fields[i].type, p.fields[i].type);
    }
    EXPECT_EQ(back.rows, p.rows);
    ASSERT_EQ(back.changes.size(), 1);
    EXPECT_EQ(back.changes[0].original, p.changes[0].original);
}

// Dates of any year the binary form carries (a database may hold years before Christ or
// past 9999) write to XML and read back, instead of turning into text no reader accepts.
TEST(PacketXml, DatesOfEveryYearSurviveTheXmlForm)
{
    DataPacket p;
    p.fields = {{QStringLiteral("D"), FieldType::Date, 0, false},
                {QStringLiteral("DT"), FieldType::DateTime, 0, false}};
    for (int year : {-4713, -312, -1, 1, 99, 1899, 9999, 10000, 123456})
        p.rows.append({QDate(year, 4, 15), QDateTime(QDate(year, 12, 31), QTime(23, 59, 58, 7))});
    const QString xml = p.toXml();
    EXPECT_TRUE(xml.contains(QStringLiteral("D=\"18990415\""))); // four-digit years as before
    EXPECT_EQ(DataPacket::fromXml(xml).rows, p.rows);
    EXPECT_EQ(DataPacket::fromBinary(p.toBinary()).rows, p.rows);
    // Damaged date texts are still refused.
    for (const char *bad : {"2024041", "-2024041", "x0240415", "20241315", "--20240415", "20240415T"}) {
        const QString damaged = QString(xml).replace(QStringLiteral("D=\"18990415\""),
                                                     QStringLiteral("D=\"%1\"").arg(QLatin1String(bad)));
        EXPECT_THROW(DataPacket::fromXml(damaged), PacketError) << bad;
    }
}

// A row before a field's definition would hold fewer values than the packet has fields
// (ApplyData reads every field of every row): refused, as is any packet whose rows and
// change log do not fit together.
TEST(PacketXml, PacketsWhoseRowsDoNotFitTheFieldsAreRefused)
{
    const QString late = QStringLiteral(
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\"/>"
        "</FIELDS></METADATA><ROWDATA><ROW RowState=\"2\" A=\"1\"/></ROWDATA>"
        "<FIELD attrname=\"B\" fieldtype=\"i4\"/></DATAPACKET>");
    EXPECT_THROW(DataPacket::fromXml(late), PacketError);
    const QString inRow = QStringLiteral(
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\"/>"
        "</FIELDS></METADATA><ROWDATA><ROW A=\"1\"/><ROW A=\"2\"><FIELD attrname=\"B\" fieldtype=\"i4\"/></ROW>"
        "</ROWDATA></DATAPACKET>");
    EXPECT_THROW(DataPacket::fromXml(inRow), PacketError);
}
