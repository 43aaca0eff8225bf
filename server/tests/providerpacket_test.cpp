// The provider's packet written straight from the database's rows is byte for byte the
// packet of the typed rows, also for values that need the typed path (which it falls
// back to): the two ways of answering must never disagree.
#include "server/provider.h"
#include "testserver.h"

using namespace server;
using namespace server::test;

namespace {

void expectSameAnswer(Backend &backend, const QString &sql)
{
    auto c = backend.acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const QByteArray typed = runProviderQuery(*c, sql).toBinary();
    const QByteArray direct = runProviderQueryBinary(*c, sql);
    EXPECT_EQ(direct.toHex().toStdString(), typed.toHex().toStdString()) << sql.toStdString();
    // And it reads back as a packet.
    EXPECT_NO_THROW(quillon::DataPacket::fromBinary(direct)) << sql.toStdString();
}

} // namespace

TEST(ProviderPacket, DirectAnswerEqualsTheTypedRowsOne)
{
    TestServer srv(30);
    for (const char *sql : {"select * from TAB_ACCOUNT where rownum<=200",
                            "select BILLCODE, WEIGHT, SCANTIME, PCS, BILLCODE from TAB_ACCOUNT",
                            "select BILLCODE \"BillCode\", PCS from TAB_ACCOUNT",
                            "select count(*), max(WEIGHT) from TAB_ACCOUNT",
                            "select * from TAB_ACCOUNT where 1=0",
                            "select * from tab_Site"})
        expectSameAnswer(*srv.backend, QString::fromUtf8(sql));
}

TEST(ProviderPacket, ValuesOutsideTheDeclaredTypeFallBackToTheTypedRows)
{
    if (onPostgres())
        GTEST_SKIP() << "PostgreSQL keeps every value in its column's type";
    TestServer srv(5);
    {
        auto c = srv.backend->acquireForServer();
        c->executeScript(QStringLiteral(
            "create table T_ODD (ID INTEGER, N INTEGER, S SMALLINT, F NUMBER(10,2), D DATE, "
            "T VARCHAR2(20), B BLOB, sysid VARCHAR2(3));"
            "insert into T_ODD values (1, 7, 1, 2.5, '2026-01-31 08:00:00', '普通', x'00ff', '001');"
            "insert into T_ODD values (2, 'abc', 1, 2.5, null, null, null, '001');"
            "insert into T_ODD values (3, 5000000000, 1, 2.5, null, null, null, '001');"
            "insert into T_ODD values (4, 1, 1, 'x', null, null, null, '001');"
            "insert into T_ODD values (5, 1, 1, 1, '2026-01-31', null, null, '001');"
            "insert into T_ODD values (6, 1, 1, 1, '2026-01-31 25:00:00', null, null, '001');"
            "insert into T_ODD values (7, 1, 1, 1, null, cast(x'c328' as text), null, '001');"
            "insert into T_ODD values (8, 1, 1, 1, null, cast(x'efbbbf41' as text), null, '001');"
            "insert into T_ODD values (9, 1, 1, 1, null, 12, 'text', '001');"
            "insert into T_ODD values (10, 1, 1, 1, null, cast(x'410042' as text), null, '001');"));
        c->finishSchema();
    }
    for (int id = 1; id <= 10; ++id)
        expectSameAnswer(*srv.backend, QStringLiteral("select * from T_ODD where ID=%1").arg(id));
    expectSameAnswer(*srv.backend, QStringLiteral("select * from T_ODD order by ID"));
    // A small integer beyond its range is refused either way.
    srv.backend->acquireForServer()->execute(QStringLiteral("insert into T_ODD values (11, 1, 40000, 1, null, null, null, '001')"));
    auto c = srv.backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const QString big = QStringLiteral("select S from T_ODD where ID=11");
    EXPECT_ANY_THROW(runProviderQuery(*c, big).toBinary());
    EXPECT_ANY_THROW(runProviderQueryBinary(*c, big));
}

// Three-byte characters are checked in one step: an overlong form, an encoded surrogate
// and a character cut off at the end must still send the cell through the typed rows,
// and good Chinese texts must come out as they are.
TEST(ProviderPacket, ThreeByteCharactersAreCheckedWholly)
{
    if (onPostgres())
        GTEST_SKIP() << "PostgreSQL refuses such bytes in a text column itself";
    TestServer srv(5);
    {
        auto c = srv.backend->acquireForServer();
        c->executeScript(QStringLiteral(
            "create table T_UTF (ID INTEGER, T VARCHAR2(40), sysid VARCHAR2(3));"
            "insert into T_UTF values (1, '上海浦东 abc 总部', '001');"
            "insert into T_UTF values (2, cast(x'e08080' as text), '001');"
            "insert into T_UTF values (3, cast(x'eda080' as text), '001');"
            "insert into T_UTF values (4, cast(x'41e4b8' as text), '001');"
            "insert into T_UTF values (5, cast(x'e4b8ade4' as text), '001');"
            "insert into T_UTF values (6, cast(x'efbfbf' as text), '001');"));
        c->finishSchema();
    }
    for (int id = 1; id <= 6; ++id)
        expectSameAnswer(*srv.backend, QStringLiteral("select * from T_UTF where ID=%1").arg(id));
    auto c = srv.backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const auto back = quillon::DataPacket::fromBinary(
        runProviderQueryBinary(*c, QStringLiteral("select T from T_UTF where ID=1")));
    EXPECT_EQ(back.rows.at(0).at(0).toString(), QStringLiteral("上海浦东 abc 总部"));
}

// A header larger than the room kept for it before the rows (many long column names)
// is written the other way, to the same bytes.
TEST(ProviderPacket, AWideHeaderGivesTheSameBytes)
{
    TestServer srv(5);
    QString columns, values;
    for (int i = 0; i < 240; ++i) {
        columns += QStringLiteral("COLUMN_WITH_A_RATHER_LONG_NAME_%1 VARCHAR2(10), ").arg(i);
        values += QStringLiteral("'v%1', ").arg(i);
    }
    {
        auto c = srv.backend->acquireForServer();
        c->executeScript(QStringLiteral("create table T_WIDE (%1sysid VARCHAR2(3));"
                                        "insert into T_WIDE values (%2'001');"
                                        "insert into T_WIDE values (%2'001');")
                             .arg(columns, values));
        c->finishSchema();
    }
    expectSameAnswer(*srv.backend, QStringLiteral("select * from T_WIDE"));
    expectSameAnswer(*srv.backend, QStringLiteral("select * from TAB_ACCOUNT where rownum<=50"));
}
