// Decimals keep every digit from the client to the database and back, on both backends:
// what ApplyData writes from the XML form is what a later query answers.
#include "testserver.h"

#include <QCborArray>

using namespace server;
using namespace server::test;
using quillon::DataPacket;
using quillon::RowState;

TEST(DecimalRoundTrip, ValuesWithMoreThanSixDigitsComeBackExactly)
{
    TestServer srv(5);
    {
        auto c = srv.backend->acquireForServer();
        c->executeScript(
            QStringLiteral("create table T_DECIMAL (ID INTEGER not null, AMOUNT NUMBER(12,2), "
                           "RATIO NUMBER, sysid VARCHAR2(3) not null, primary key (ID, sysid));"));
        c->finishSchema(); // clients' rights on the new table, as for the others
        grantToEveryone(*c, QStringLiteral("T_DECIMAL"));
    }
    auto t = srv.client();
    const QString select = QStringLiteral("select ID, AMOUNT, RATIO, sysid from T_DECIMAL order by ID");
    DataPacket p = query(*t, select);
    ASSERT_EQ(p.fields.size(), 4);

    // Amounts with two decimals fit the column's scale; the ratio column has none, so even
    // the nearest double to 0.1 + 0.2 is kept as it is.
    const QList<QPair<double, double>> values = {
        {12345.67, 0.1 + 0.2}, {1234567.89, 1.0 / 3.0}, {9999999999.99, 123456789.123456789},
        {-0.07, 2.5e-9}};
    for (int i = 0; i < values.size(); ++i) {
        p.rows.append(QVariantList{i + 1, values[i].first, values[i].second, QStringLiteral("001")});
        p.changes.append({RowState::Inserted, int(i), {}});
    }
    const QCborArray r = t->callMethod(QStringLiteral("ApplyData"),
                                       {QStringLiteral("T_DECIMAL"), p.toXml(), 0, QCborValue()});
    ASSERT_TRUE(r.at(4).toBool());

    auto expectExact = [&](const DataPacket &back, const char *where) {
        ASSERT_EQ(back.rows.size(), values.size()) << where;
        for (int i = 0; i < values.size(); ++i) {
            EXPECT_EQ(back.rows[i][1].toDouble(), values[i].first) << where << " row " << i;
            EXPECT_EQ(back.rows[i][2].toDouble(), values[i].second) << where << " row " << i;
        }
    };
    expectExact(DataPacket::fromBinary(r.at(3).toByteArray()), "answer of ApplyData");
    expectExact(query(*t, select), "fresh query");

    // A modification with originals of many digits finds its row (no false conflict) and
    // writes the new value exactly.
    DataPacket again = query(*t, select);
    DataPacket::Change ch{RowState::Modified, 1, again.rows[1]};
    again.rows[1][1] = 7654321.09;
    again.changes = {ch};
    const QCborArray r2 = t->callMethod(QStringLiteral("ApplyData"),
                                        {QStringLiteral("T_DECIMAL"), again.toXml(), 0, QCborValue()});
    ASSERT_TRUE(r2.at(4).toBool());
    EXPECT_EQ(query(*t, select).rows[1][1].toDouble(), 7654321.09);
}
