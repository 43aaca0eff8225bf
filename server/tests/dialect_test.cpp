// The Oracle-dialect translation: its text for the structural rewrites, and the values
// that translated expressions give on SQLite.
#include "qtprint.h"
#include "server/provider.h"
#include "server/schema.h"
#include "server/sql/backend.h"
#include "testserver.h"
#include "server/sql/oracledialect.h"
#include "server/sql/pgbackend.h"
#include "server/sql/sqlitebackend.h"

#include <QCborArray>
#include <QCborMap>
#include <QDateTime>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace server;
using server::test::testDatabase;

namespace {

TranslatedSql tr(const char *sql)
{
    return translateOracle(QString::fromUtf8(sql), DialectTarget());
}

struct Rewrite
{
    const char *oracle;
    const char *sqlite;
};

TEST(OracleDialect, RewritesTheClientsConstructs)
{
    const Rewrite cases[] = {
        {"select nvl(SIGNED,0) from t", "select ifnull(SIGNED,0) from t"},
        {"select * from T where 1=1  and rownum<=20  and (lower(NAME) like '%ab%')",
         "select * from T where 1=1  and 1=1  and(lower(NAME) like '%ab%') LIMIT 20"},
        {"select * from t where rownum < 5", "select * from t where 1=1 LIMIT 4"},
        {"select * from t where x in (select y from u where rownum<=1)",
         "select * from t where x in(select y from u where 1=1 LIMIT 1)"},
        {"select * from t where (rownum<=5 and x=1) order by x",
         "select * from t where(1=1 and x=1) order by x LIMIT 5"},
        {"select sysdate from dual", "select wl_sysdate() from dual"},
        {"where OPTIME >=trunc(sysdate-10) ",
         "where OPTIME >=wl_trunc(wl_datearith(wl_sysdate(),'-',10))"},
        {"select to_Date('2026-01-01','YYYY-MM-DD') + 1 from dual",
         "select wl_datearith(wl_to_date('2026-01-01','YYYY-MM-DD'),'+',1) from dual"},
        {"select 'rownum<=3 sysdate nvl(' from dual", "select 'rownum<=3 sysdate nvl(' from dual"},
        {"select a -- rownum<=2\n from t", "select a -- rownum<=2\n from t"},
        {" begin select F_GetWeight('1',0,'001') as mResult from dual; end;",
         " select F_GetWeight('1',0,'001') as mResult from dual"},
        {"select a from t;", "select a from t"},
    };
    for (const Rewrite &c : cases)
        EXPECT_EQ(tr(c.oracle).sql, QString::fromUtf8(c.sqlite)) << c.oracle;
}

TEST(OracleDialect, NamedArgumentsFollowTheDeclaredOrder)
{
    const TranslatedSql t = tr(" begin select F_CalcJSFee( Pi_sysid=>:2, Pi_FirstSite=>:1, "
                               "Pi_Dest => 'x') as wResult from dual; end;");
    EXPECT_EQ(t.sql, QStringLiteral(" select F_CalcJSFee(?1, 'x',NULL,NULL,NULL,NULL,NULL,NULL,NULL,"
                                    "NULL,NULL,NULL,NULL,NULL,?2) as wResult from dual"));
    EXPECT_EQ(t.parameterNames, (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
}

TEST(OracleDialect, RefusesWhatItCannotRunSafely)
{
    const char *bad[] = {
        "select 1 from dual; delete from tab_Site",         // two statements
        "select (1 from dual",                               // unbalanced
        "select 'abc from dual",                             // open string
        "begin select 1 from dual;",                         // block without end
        "select F_Unknown(a=>1) from dual",                  // named arguments, unknown function
        "select F_CalcJSFee(Pi_Dest=>1, Pi_Dest=>2) from dual", // parameter twice
        "select * from t where rownum > 3",                  // no Oracle meaning we keep
        "",
    };
    for (const char *sql : bad)
        EXPECT_THROW(tr(sql), DbError) << sql;
}

TEST(OracleDialect, DateFormatsAreReadLenientlyLikeOracle)
{
    struct Case
    {
        const char *text, *format, *expected; // expected nullptr: refused
    } cases[] = {
        {"2026-12-07 08:09:10", "YYYY-MM-DD HH24:MI:SS", "2026-12-07 08:09:10"},
        {"2026-12-0700:00:00 ", "yyyy-mm-dd hh24:mi:ss", "2026-12-07 00:00:00"},
        {"2026-12-07 23:59:59 ", "yyyy-mm-dd HH24:mi:ss", "2026-12-07 23:59:59"},
        {"2026/1/5", "YYYY-MM-DD", "2026-01-05 00:00:00"},
        {"20261207", "YYYYMMDD", "2026-12-07 00:00:00"},
        {"2026-02-30", "YYYY-MM-DD", nullptr},
        {"2026-12-07 24:00:00", "YYYY-MM-DD HH24:MI:SS", nullptr},
        {"2026-12-07 x", "YYYY-MM-DD", nullptr},
        {"", "YYYY-MM-DD", nullptr},
    };
    for (const Case &c : cases) {
        QDateTime dt;
        const bool ok = parseOracleDate(QString::fromUtf8(c.text), QString::fromUtf8(c.format), &dt);
        if (!c.expected) {
            EXPECT_FALSE(ok) << c.text;
            continue;
        }
        ASSERT_TRUE(ok) << c.text;
        EXPECT_EQ(canonicalDate(dt), QString::fromUtf8(c.expected)) << c.text;
    }
    EXPECT_EQ(formatOracleDate(QDateTime(QDate(2026, 1, 5), QTime(7, 8, 9)),
                               QStringLiteral("YYYY-MM-DD HH24:MI:SS")),
              QStringLiteral("2026-01-05 07:08:09"));
}

class DialectOnBackend : public ::testing::Test
{
protected:
    void SetUp() override
    {
        backend = Backend::open(testDatabase(dir, QStringLiteral("d.sqlite")), true);
        conn = backend->acquireForServer();
        createSchema(*conn);
        conn->execute(QStringLiteral("create table t (NAME VARCHAR2(10), N INTEGER, D DATE, "
                                     "\"MixedCase\" INTEGER)"));
        conn->execute(QStringLiteral("insert into t values ('Abc', 1, '2026-12-07 10:00:00', 5), "
                                     "('abd', 2, null, 6), ('xyz', null, '2026-12-01 00:00:00', 7)"));
    }
    QVariant value(const QString &sql, const QCborValue &params = QCborValue())
    {
        const quillon::DataPacket p = runProviderQuery(*conn, sql, params);
        EXPECT_EQ(p.rows.size(), 1) << qPrintable(sql);
        return p.rows.isEmpty() ? QVariant() : p.rows.first().first();
    }

    QTemporaryDir dir;
    std::unique_ptr<Backend> backend;
    Backend::Lease conn;
};

TEST_F(DialectOnBackend, DateFunctionsAndArithmeticGiveOracleValues)
{
    const QDate today = QDate::currentDate();
    EXPECT_EQ(value(QStringLiteral("select to_date('2026-12-07 08:09:10','YYYY-MM-DD HH24:MI:SS') d from dual")),
              QVariant(QDateTime(QDate(2026, 12, 7), QTime(8, 9, 10))));
    EXPECT_EQ(value(QStringLiteral("select trunc(sysdate-10) from dual")),
              QVariant(QDateTime(today.addDays(-10), QTime(0, 0))));
    EXPECT_EQ(value(QStringLiteral("select to_date('2026-12-07','YYYY-MM-DD')+0.5 from dual")),
              QVariant(QDateTime(QDate(2026, 12, 7), QTime(12, 0))));
    EXPECT_DOUBLE_EQ(value(QStringLiteral("select to_date('2026-12-07','YYYY-MM-DD') - "
                                          "to_date('2026-12-01','YYYY-MM-DD') from dual"))
                         .toDouble(),
                     6.0);
    EXPECT_EQ(value(QStringLiteral("select to_char(to_date('2026-1-5','YYYY-MM-DD'),'YYYYMMDD') from dual")),
              QVariant(QStringLiteral("20260105")));
    const QDateTime now = value(QStringLiteral("select sysdate from dual")).toDateTime();
    EXPECT_LE(qAbs(now.secsTo(QDateTime::currentDateTime())), 2);
    EXPECT_EQ(value(QStringLiteral("select count(*) from t where D between to_date('2026-12-07 00:00:00',"
                                   "'YYYY-MM-DD HH24:MI:SS') and to_date('2026-12-07 23:59:59',"
                                   "'YYYY-MM-DD HH24:MI:SS')")),
              QVariant(1));
    EXPECT_THROW(value(QStringLiteral("select to_date('2026-13-01','YYYY-MM-DD') from dual")), DbError);
}

TEST_F(DialectOnBackend, ValuesNamesAndParameters)
{
    EXPECT_EQ(value(QStringLiteral("select nvl(N,0) from t where NAME='xyz'")), QVariant(0));
    EXPECT_DOUBLE_EQ(value(QStringLiteral("select trunc(3.79, 1) from dual")).toDouble(), 3.7);
    // like is case-sensitive, as in Oracle.
    EXPECT_EQ(value(QStringLiteral("select count(*) from t where NAME like 'a%'")), QVariant(1));
    EXPECT_EQ(value(QStringLiteral("select count(*) from t where lower(NAME) like 'a%'")), QVariant(2));
    EXPECT_EQ(value(QStringLiteral("select count(*) from t where rownum<=2")), QVariant(3))
        << "count(*) is one row; the limit applies to the result rows";

    quillon::DataPacket p = runProviderQuery(*conn, QStringLiteral("select NAME, n, 1 as wResult, "
                                                                   "2 as \"keepMe\", \"MixedCase\", "
                                                                   "1 as a, 2 as A from t"));
    QStringList names;
    for (const auto &f : p.fields)
        names.append(f.name);
    EXPECT_EQ(names, (QStringList{"NAME", "N", "WRESULT", "keepMe", "MixedCase", "A", "A_1"}));
    EXPECT_EQ(p.fields.at(0).type, quillon::FieldType::String);
    EXPECT_EQ(p.fields.at(0).size, 10);
    EXPECT_EQ(p.fields.at(1).type, quillon::FieldType::Integer);

    p = runProviderQuery(*conn, QStringLiteral("select D from t where NAME=:1"), QCborArray{QStringLiteral("Abc")});
    EXPECT_EQ(p.fields.at(0).type, quillon::FieldType::DateTime);
    EXPECT_EQ(p.rows.value(0).value(0), QVariant(QDateTime(QDate(2026, 12, 7), QTime(10, 0))));
    QCborMap byName;
    byName.insert(QStringLiteral("who"), QStringLiteral("abd"));
    EXPECT_EQ(value(QStringLiteral("select N from t where NAME=:who"), byName), QVariant(2));
    EXPECT_THROW(value(QStringLiteral("select N from t where NAME=:1")), DbError);
}

TEST_F(DialectOnBackend, ProviderRefusesWritingStatements)
{
    for (const char *sql : {"delete from t", "update t set N=1", "insert into t (N) values (1)",
                            "drop table t", "create table x (a)", "pragma journal_mode=delete"}) {
        EXPECT_THROW(runProviderQuery(*conn, QString::fromUtf8(sql)), DbError) << sql;
    }
    EXPECT_EQ(value(QStringLiteral("select count(*) from t")), QVariant(3));
    // Password hashes and the token key are not for clients, however the name is written.
    for (const char *sql : {"select * from sys_user", "select PWHASH from SYS_USER u",
                            "select 1 from dual where exists (select 1 from \"sys_server\")"})
        EXPECT_THROW(runProviderQuery(*conn, QString::fromUtf8(sql)), DbError) << sql;
    EXPECT_EQ(value(QStringLiteral("select 'sys_user' from dual")), QVariant(QStringLiteral("sys_user")));
}

} // namespace

namespace {
TEST_F(DialectOnBackend, ARunawayQueryIsStopped)
{
    SqliteBackend::setStatementTimeLimit(200);
    PgBackend::setStatementTimeLimit(200);
    EXPECT_THROW(runProviderQuery(*conn, QStringLiteral("with recursive c(x) as (select 1 union all "
                                                        "select x+1 from c) select count(*) from c")),
                 DbError);
    SqliteBackend::setStatementTimeLimit(120000);
    PgBackend::setStatementTimeLimit(120000);
    EXPECT_EQ(value(QStringLiteral("select count(*) from t")), QVariant(3));
}
} // namespace

// What ApplyData and the administration rely on: table descriptions with the declared
// spelling and the key in key order, "?" placeholders beside literals, null-safe "IS ?".
TEST_F(DialectOnBackend, TableInfoAndNativeStatementsAgreeOnEveryBackend)
{
    const TableInfo account = conn->tableInfo(QStringLiteral("tab_account"));
    EXPECT_EQ(account.name, QStringLiteral("TAB_ACCOUNT"));
    EXPECT_EQ(account.primaryKey,
              (QStringList{"BILLCODE", "STATIONCODE", "SCANTYPE", "sysid"}));
    const int weight = account.columnIndex(QStringLiteral("weight"));
    ASSERT_GE(weight, 0);
    EXPECT_EQ(account.columns.at(weight), QStringLiteral("WEIGHT"));
    EXPECT_EQ(account.types.at(weight), quillon::FieldType::Float);
    const int sysid = account.columnIndex(QStringLiteral("SYSID"));
    ASSERT_GE(sysid, 0);
    EXPECT_EQ(account.sizes.at(sysid), 3);
    EXPECT_FALSE(conn->tableInfo(QStringLiteral("no_such_table")).exists());
    EXPECT_FALSE(conn->tableInfo(QStringLiteral("t; drop table t")).exists());

    EXPECT_EQ(conn->query(QStringLiteral("select count(*) from t where NAME <> '?' and NAME = ?"),
                          {QStringLiteral("abd")}, true)
                  .rows.value(0)
                  .value(0)
                  .toInt(),
              1);
    // "IS ?" matches a null with a null and a value with the same value only.
    EXPECT_EQ(conn->execute(QStringLiteral("update t set N = 9 where N IS ? and NAME = ?"),
                            {QVariant(), QStringLiteral("xyz")}),
              1);
    EXPECT_EQ(conn->execute(QStringLiteral("update t set N = 8 where N IS ? and NAME = ?"),
                            {QVariant(), QStringLiteral("xyz")}),
              0);
    EXPECT_EQ(conn->execute(QStringLiteral("delete from t where N IS ?"), {2}), 1);
    EXPECT_EQ(conn->query(QStringLiteral("select count(*) from t"), {}, true).rows.value(0).value(0).toInt(), 2);
}
