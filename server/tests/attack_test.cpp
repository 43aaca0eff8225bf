// Attacks from a logged-on client of deployment 001 on what belongs to deployment 002 and
// to the server: every spelling of a name, every detour the SQL dialect offers. The
// database engine must stop them whatever the text says, so most checks run the text both
// through the server and straight on a restricted connection, past the server's own text
// checks.
#include "testserver.h"

#include "server/auth.h"
#include "server/provider.h"

#include <QCborArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

using namespace server;
using namespace server::test;
using quillon::protocol::ProtocolError;
using quillon::protocol::Transport;

namespace {

const QString kForeignNotice = QStringLiteral("另一部署的公告");

class Attack : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        srv = new TestServer(20);
        auto c = srv->backend->acquireForServer();
        c->execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, sysid) values ('101','北京朝阳','002')"));
        c->execute(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, OPSITE, sysid) "
                                  "values ('X2','全网',?,'北京朝阳','002')"),
                   {kForeignNotice});
        addUser(*c, QStringLiteral("002.wu"), QStringLiteral("123456"), QStringLiteral("101"),
                QStringLiteral("吴"), true);
        key = tokenKey(*c);
    }
    static void TearDownTestSuite()
    {
        delete srv;
        srv = nullptr;
    }

    // Whether a result holds anything of deployment 002 or of the server's secrets.
    static QString leak(const QList<QVariantList> &rows)
    {
        const QList<QByteArray> secrets = {key, key.toHex(), key.toBase64(), key.toHex().toUpper()};
        for (const QVariantList &row : rows) {
            for (const QVariant &v : row) {
                const QString text = v.toString();
                const QByteArray bytes = v.toByteArray();
                if (text.contains(kForeignNotice) || text.contains(QLatin1String("002.wu"))
                    || text.contains(QLatin1String("argon2id")) || text == QLatin1String("002"))
                    return text.left(80);
                for (const QByteArray &s : secrets)
                    if (bytes.contains(s) || text.toUtf8().contains(s))
                        return QStringLiteral("the signing key");
            }
        }
        return QString();
    }

    // The text through the provider and through GetData: refused, or nothing to see.
    static void expectNoLeakOverHttp(Transport &t, const QString &sql)
    {
        try {
            const auto p = query(t, sql);
            EXPECT_EQ(leak(p.rows), QString()) << "provider: " << qPrintable(sql);
        } catch (const ProtocolError &e) {
            EXPECT_TRUE(e.status() == 400 || e.status() == 403) << e.status() << " " << qPrintable(sql);
        }
        try {
            const QCborArray r = t.callMethod(QStringLiteral("GetData"), {sql, 1});
            const auto p = quillon::DataPacket::fromBinary(r.at(2).toByteArray());
            EXPECT_EQ(leak(p.rows), QString()) << "GetData: " << qPrintable(sql);
        } catch (const ProtocolError &e) {
            EXPECT_TRUE(e.status() == 400 || e.status() == 403) << e.status() << " " << qPrintable(sql);
        }
    }

    // The translated text straight on a connection restricted to 001: the engine alone.
    // Returns true when the engine refused the statement.
    static bool engineRefuses(const QString &sql)
    {
        auto c = srv->backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
        try {
            const TranslatedSql t = c->translate(sql);
            const QueryResult r = c->query(t.sql, {}, true);
            EXPECT_EQ(leak(r.rows), QString()) << "engine: " << qPrintable(sql);
            return false;
        } catch (const DbError &) {
            return true;
        }
    }

    static qlonglong count(const QString &sql)
    {
        return srv->native(sql).rows.value(0).value(0).toLongLong();
    }

    static TestServer *srv;
    static QByteArray key;
};

TestServer *Attack::srv = nullptr;
QByteArray Attack::key;

TEST_F(Attack, QualifiedQuotedAndLiteralNamesReachNeitherOtherDeploymentsNorSecrets)
{
    auto t = srv->client();
    QStringList texts;
    if (!onPostgres()) {
        texts = {
            QStringLiteral("select * from main.TAB_MSGRECORD where sysid='002'"),
            QStringLiteral("select * from \"main\".\"TAB_MSGRECORD\""),
            QStringLiteral("select * from MAIN . TAB_MSGRECORD"),
            QStringLiteral("select count(*) from main.TAB_MSGRECORD"),
            QStringLiteral("select m.MSGCONTENT from tab_Site s join main.TAB_MSGRECORD m on 1=1"),
            QStringLiteral("select (select MSGCONTENT from main.TAB_MSGRECORD where sysid='002') from dual"),
            QStringLiteral("with TAB_MSGRECORD as (select * from main.TAB_MSGRECORD) select * from TAB_MSGRECORD"),
            QStringLiteral("select * from (select * from main.TAB_MSGRECORD) TAB_MSGRECORD"),
            QStringLiteral("select * from 'sys_server'"),
            QStringLiteral("select * from main.'sys_user'"),
            QStringLiteral("select * from temp.sys_user"),
            QStringLiteral("select name, sql from sqlite_temp_master"),
            QStringLiteral("select name from main.sqlite_schema"),
            QStringLiteral("select * from pragma_table_list"),
            QStringLiteral("select * from pragma_table_info('sys_user')"),
            QStringLiteral("select load_extension('/tmp/x') from dual"),
            QStringLiteral("select readfile('/etc/passwd') from dual"),
        };
    } else {
        texts = {
            QStringLiteral("select * from public.TAB_MSGRECORD where sysid='002'"),
            QStringLiteral("select * from \"public\".\"tab_msgrecord\""),
            QStringLiteral("select count(*) from public.TAB_MSGRECORD"),
            QStringLiteral("select query_to_xml('select * from sys_server',true,false,'') from dual"),
            QStringLiteral("select query_to_xml('select * from tab_msgrecord where sysid=''002''',true,false,'') from dual"),
            QStringLiteral("select table_to_xml('sys_user',true,false,'') from dual"),
            QStringLiteral("select * from U&\"sys\\005fserver\""),
            QStringLiteral("select * from U&\"sys\\005fuser\""),
            QStringLiteral("select \"pg_read_file\"('/etc/passwd') from dual"),
            QStringLiteral("select \"pg_ls_dir\"('.') from dual"),
            QStringLiteral("select rolpassword from pg_authid"),
            QStringLiteral("select * from sys_tenant"),
        };
    }
    texts += {QStringLiteral("select * from sys_server"), QStringLiteral("select PWHASH from sys_user"),
              QStringLiteral("select * from sys_user where USERCODE='002.wu'")};
    for (const QString &sql : std::as_const(texts)) {
        expectNoLeakOverHttp(*t, sql);
        engineRefuses(sql);
    }
    // Reading a business table past the filter, or a server table, is refused outright by the
    // engine itself (the text checks of the server are not involved here).
    for (const QString &sql : {QStringLiteral("select * from sys_server"),
                               QStringLiteral("select PWHASH from sys_user")})
        EXPECT_TRUE(engineRefuses(sql)) << qPrintable(sql);
    if (!onPostgres()) {
        for (const QString &sql : {QStringLiteral("select * from main.TAB_MSGRECORD"),
                                   QStringLiteral("select * from \"main\".\"TAB_MSGRECORD\""),
                                   QStringLiteral("with TAB_MSGRECORD as (select * from main.TAB_MSGRECORD) "
                                                  "select * from TAB_MSGRECORD"),
                                   QStringLiteral("select * from 'sys_server'")})
            EXPECT_TRUE(engineRefuses(sql)) << qPrintable(sql);
    }
    // The filtered reads still work.
    EXPECT_EQ(query(*t, QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID='X2'")).rows.value(0).value(0).toInt(), 0);
    EXPECT_FALSE(query(*t, QStringLiteral("select SiteName from tab_Site")).rows.isEmpty());
}

TEST_F(Attack, WritingThroughTheProviderChangesNothing)
{
    auto t = srv->client();
    const QString schema = onPostgres() ? QStringLiteral("public") : QStringLiteral("main");
    const QStringList texts = {
        QStringLiteral("with x as (select 1) delete from %1.TAB_MSGRECORD").arg(schema),
        QStringLiteral("with x as (select 1) delete from TAB_MSGRECORD"),
        QStringLiteral("with x as (select 1) update %1.TAB_MSGRECORD set MSGCONTENT='x'").arg(schema),
        QStringLiteral("with x as (select 1) update TAB_MSGRECORD set sysid='002'"),
        QStringLiteral("with x as (select 1) insert into %1.TAB_MSGRECORD (MSGID, sysid) values ('Z','002')").arg(schema),
        QStringLiteral("with x as (select 1) insert into TAB_MSGRECORD (MSGID, sysid) select MSGID||'c', '002' from TAB_MSGRECORD"),
        QStringLiteral("with d as (delete from %1.TAB_MSGRECORD returning MSGID) select * from d").arg(schema),
        QStringLiteral("with x as (select 1) delete from %1.sys_user").arg(schema),
        QStringLiteral("with x as (select 1) update %1.sys_user set PWHASH='x'").arg(schema),
    };
    const qlonglong notices = count(QStringLiteral("select count(*) from TAB_MSGRECORD"));
    const QString content = srv->native(QStringLiteral("select MSGCONTENT from TAB_MSGRECORD where sysid='002'"))
                                .rows.value(0).value(0).toString();
    const qlonglong users = count(QStringLiteral("select count(*) from sys_user"));
    for (const QString &sql : texts) {
        expectNoLeakOverHttp(*t, sql);
        EXPECT_TRUE(engineRefuses(sql)) << qPrintable(sql);
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD")), notices);
    EXPECT_EQ(srv->native(QStringLiteral("select MSGCONTENT from TAB_MSGRECORD where sysid='002'"))
                  .rows.value(0).value(0).toString(),
              content);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_user")), users);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_user where PWHASH='x'")), 0);
}

TEST_F(Attack, WhatOneRequestChangesInItsSessionDoesNotReachTheNext)
{
    auto first = srv->client();
    auto second = srv->client(QStringLiteral("201"), QStringLiteral("001.wang"));
    const QString target = QDir::temp().filePath(
        QStringLiteral("wl_attack_%1.txt").arg(QCoreApplication::applicationPid()));
    QStringList texts;
    if (onPostgres()) {
        texts = {QStringLiteral("select \"set_config\"('waylink.sysid','002',false) from dual"),
                 QStringLiteral("select set_config('waylink.sysid','002',false) from dual"),
                 QStringLiteral("select \"set_config\"('role','none',false) from dual"),
                 QStringLiteral("select \"set_config\"('statement_timeout','1',false) from dual"),
                 QStringLiteral("select \"lo_export\"(\"lo_from_bytea\"(0, 'x'::bytea), '%1') from dual").arg(target),
                 QStringLiteral("select \"lo_import\"('/etc/passwd') from dual"),
                 QStringLiteral("select \"pg_read_file\"('/etc/passwd') from dual")};
    } else {
        texts = {QStringLiteral("select writefile('%1', 'x') from dual").arg(target),
                 QStringLiteral("select load_extension('/tmp/none') from dual")};
    }
    for (const QString &sql : std::as_const(texts)) {
        expectNoLeakOverHttp(*first, sql);
        // Another session of the deployment, most likely on the same pooled connection.
        for (Transport *t : {first.get(), second.get()}) {
            const auto notices = query(*t, QStringLiteral("select MSGCONTENT, sysid from TAB_MSGRECORD"));
            EXPECT_FALSE(notices.rows.isEmpty());
            EXPECT_EQ(leak(notices.rows), QString()) << "after " << qPrintable(sql);
        }
    }
    EXPECT_FALSE(QFile::exists(target));
    if (onPostgres()) {
        // A client's query runs as the deployment's own login: no superuser, no other rights,
        // no memberships; its settings are the server's again after a request.
        const auto who = query(*second, QStringLiteral(
            "select r.rolsuper or r.rolcreaterole or r.rolcreatedb or r.rolbypassrls or r.rolreplication, "
            "(select count(*) from pg_auth_members m where m.member = r.oid), "
            "current_setting('statement_timeout'), session_user = current_user "
            "from pg_roles r where r.rolname = session_user"));
        ASSERT_EQ(who.rows.size(), 1);
        EXPECT_EQ(who.rows.at(0).at(0).toInt(), 0);
        EXPECT_EQ(who.rows.at(0).at(1).toInt(), 0);
        EXPECT_NE(who.rows.at(0).at(2).toString(), QStringLiteral("1ms"));
        EXPECT_EQ(who.rows.at(0).at(3).toInt(), 1);
        // Nor does the server itself log in as a superuser.
        EXPECT_EQ(srv->native(QStringLiteral("select rolsuper from pg_roles where rolname = current_user"))
                      .rows.value(0).value(0).toInt(),
                  0);
    }
}


// The server's own reads (log-on, administration, lookups) go through the same read-only
// query as the provider, on a connection that no deployment restricts: a writing statement
// dressed as a query must not run there either.
TEST_F(Attack, AReadOnlyQueryOnAServerConnectionRunsNoWritingStatement)
{
    const qlonglong sites = count(QStringLiteral("select count(*) from tab_Site"));
    const qlonglong users = count(QStringLiteral("select count(*) from sys_user"));
    ASSERT_GT(sites, 0);
    const QStringList texts = {
        QStringLiteral("with x as (select 1) delete from tab_Site"),
        QStringLiteral("with x as (select 1) update tab_Site set SiteName='x'"),
        QStringLiteral("with x as (select 1) insert into tab_Site (SiteCode, SiteName, sysid) values ('Z9','x','009')"),
        QStringLiteral("delete from sys_user"),
    };
    for (const QString &sql : texts) {
        auto c = srv->backend->acquireForServer();
        EXPECT_THROW(c->query(sql, {}, true), DbError) << qPrintable(sql);
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site")), sites);
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site where SiteName='x'")), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_user")), users);
    // The same connection still reads.
    auto c = srv->backend->acquireForServer();
    EXPECT_EQ(c->query(QStringLiteral("with x as (select 1) select count(*) from tab_Site"), {}, true)
                  .rows.value(0).value(0).toLongLong(),
              sites);
}

// The refusal is the engine's, not only the text checks': a query whose text reads but whose
// function writes is stopped as well, alone and inside a transaction, and a transaction
// writes again after its read-only query.
TEST_F(Attack, TheEngineKeepsAReadOnlyQueryFromWritingWhateverItsText)
{
    const qlonglong sites = count(QStringLiteral("select count(*) from tab_Site"));
    ASSERT_GT(sites, 0);
    QStringList texts = {QStringLiteral("with x as (select 1) delete from tab_Site")};
    if (onPostgres()) {
        auto c = srv->backend->acquireForServer();
        c->executeScript(QStringLiteral(
            "create or replace function wl_test_wipe_sites() returns integer language plpgsql as "
            "$$ begin delete from tab_Site; return 1; end $$"));
        texts << QStringLiteral("select wl_test_wipe_sites()");
    }
    for (const QString &sql : texts) {
        {
            auto c = srv->backend->acquireForServer();
            EXPECT_THROW(c->query(sql, {}, true), DbError) << qPrintable(sql);
        }
        {
            auto c = srv->backend->acquireForServer();
            c->begin();
            EXPECT_THROW(c->query(sql, {}, true), DbError) << "in a transaction: " << qPrintable(sql);
            c->rollback();
        }
        EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site")), sites) << qPrintable(sql);
    }

    auto c = srv->backend->acquireForServer();
    c->begin();
    EXPECT_EQ(c->query(QStringLiteral("select count(*) from tab_Site"), {}, true).rows.value(0).value(0).toLongLong(),
              sites);
    EXPECT_EQ(c->execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, sysid) values ('Z8','只读之后','009')")), 1);
    c->commit();
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site where SiteCode='Z8'")), 1);
    c->execute(QStringLiteral("delete from tab_Site where SiteCode='Z8'"));
}

// The column list of a server table is not for clients: the engine refuses it on a
// client's connection even when the statement never passes the server's text checks.
TEST_F(Attack, TheEngineRefusesAClientTheColumnsOfServerTables)
{
    auto c = srv->backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const auto refusedOrEmpty = [&](const QString &sql) {
        try {
            return c->query(sql, {}, true).rows.isEmpty();
        } catch (const DbError &) {
            return true;
        }
    };
    if (!onPostgres()) {
        for (const QString &sql : {QStringLiteral("pragma table_info(sys_user)"),
                                   QStringLiteral("pragma table_info('sys_server')"),
                                   QStringLiteral("pragma main.table_info(sys_user)"),
                                   QStringLiteral("pragma table_xinfo(sys_user)"),
                                   QStringLiteral("pragma table_info(sys_tenant)")})
            EXPECT_TRUE(refusedOrEmpty(sql)) << qPrintable(sql);
        // A business table's column list stays readable (the lookup dialogs ask for it).
        EXPECT_FALSE(refusedOrEmpty(QStringLiteral("pragma table_info(TAB_MSGRECORD)")));
    } else {
        for (const QString &sql :
             {QStringLiteral("select column_name from information_schema.columns where table_name in "
                             "('sys_user','sys_server','sys_tenant')"),
              QStringLiteral("select a.attname from pg_attribute a join pg_class r on r.oid=a.attrelid "
                             "where r.relname='sys_user' and has_column_privilege(r.oid, a.attnum, 'SELECT')")})
            EXPECT_TRUE(refusedOrEmpty(sql)) << qPrintable(sql);
        EXPECT_FALSE(refusedOrEmpty(QStringLiteral("select column_name from information_schema.columns "
                                                   "where table_name='tab_msgrecord'")));
    }
}

} // namespace
