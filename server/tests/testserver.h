#pragma once

#include "qtprint.h"
#include "dataaccess/packet/datapacket.h"
#include "dataaccess/protocol/transport.h"
#include "server/auth.h"
#include "server/authz.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"
#include "tests/support/testbackend.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <functional>
#include <memory>

namespace server::test {

// The PostgreSQL cluster of this test run ("postgresql://..."), empty when the tests run
// on SQLite: WAYLINK_TEST_PG_URL, or the file named by WAYLINK_TEST_PG_URL_FILE.
inline QString pgClusterUrl()
{
    static const QString url = [] {
        QString u = qEnvironmentVariable("WAYLINK_TEST_PG_URL");
        if (u.isEmpty() && qEnvironmentVariableIsSet("WAYLINK_TEST_PG_URL_FILE")) {
            QFile f(qEnvironmentVariable("WAYLINK_TEST_PG_URL_FILE"));
            if (f.open(QIODevice::ReadOnly))
                u = QString::fromUtf8(f.readAll()).trimmed();
            if (u.isEmpty())
                ADD_FAILURE() << "no PostgreSQL test cluster URL in "
                              << qPrintable(qEnvironmentVariable("WAYLINK_TEST_PG_URL_FILE"));
        }
        if (u.isEmpty() && waylink::test::expectsPostgres())
            ADD_FAILURE() << "started for PostgreSQL, but no cluster URL reached the test";
        return u;
    }();
    return url;
}

inline bool onPostgres()
{
    return !pgClusterUrl().isEmpty();
}

// Where a test keeps its database: a file of the temporary folder on SQLite; a new
// database of the test cluster on PostgreSQL (made by Backend::open(..., true)).
inline QString testDatabase(const QTemporaryDir &dir, const QString &fileName)
{
    waylink::test::noteDatabase(onPostgres());
    if (!onPostgres())
        return dir.filePath(fileName);
    static QAtomicInt counter;
    QString stem = fileName.section(QLatin1Char('.'), 0, 0);
    QUrl u(pgClusterUrl());
    u.setPath(QStringLiteral("/wl_%1_%2_%3")
                  .arg(stem)
                  .arg(QCoreApplication::applicationPid())
                  .arg(counter.fetchAndAddRelaxed(1)));
    return u.toString();
}

// A seeded temporary database with an in-process server on an ephemeral loopback port.
struct TestServer
{
    explicit TestServer(int waybills = 200, qint64 tokenTtl = 3600,
                        const std::function<void(ServerOptions &)> &tune = {})
    {
        EXPECT_TRUE(dir.isValid());
        dbPath = testDatabase(dir, QStringLiteral("test.sqlite"));
        backend = Backend::open(dbPath, true);
        EXPECT_EQ(backend->describe().startsWith(QLatin1String("PostgreSQL")), onPostgres())
            << qPrintable(backend->describe());
        {
            auto c = backend->acquireForServer();
            createSchema(*c);
            SeedOptions o;
            o.waybills = waybills;
            o.fastHash = true;
            seedDemo(*c, o);
        }
        ServerOptions so;
        so.port = 0;
        so.threads = 4;
        so.quiet = true;
        so.tokenTtl = tokenTtl;
        if (tune)
            tune(so);
        http = std::make_unique<HttpServer>(*backend, dir.filePath(QStringLiteral("files")), so);
        http->start();
    }

    quillon::protocol::Transport::Options options() const
    {
        quillon::protocol::Transport::Options o;
        o.host = QStringLiteral("127.0.0.1");
        o.port = http->port();
        o.timeoutMs = 10000;
        return o;
    }

    static quillon::protocol::SessionRequest logOnRequest(const QString &site, const QString &user,
                                                          const QString &password)
    {
        quillon::protocol::SessionRequest r;
        r.authenticationUser =
            quillon::protocol::AuthUser{QStringLiteral("0A1B2C3D4E5F"), QStringLiteral("1"), site, user}
                .join();
        r.authenticationPassword = password;
        return r;
    }

    // A transport logged on as the given user (default: 001.zhang of 上海浦东).
    std::unique_ptr<quillon::protocol::Transport> client(const QString &site = QStringLiteral("101"),
                                                         const QString &user = QStringLiteral("001.zhang"))
    {
        auto t = std::make_unique<quillon::protocol::Transport>(options());
        t->openSession(logOnRequest(site, user, QStringLiteral("123456")));
        return t;
    }

    // Runs the backend's own SQL directly, bypassing the server ("?" placeholders).
    QueryResult native(const QString &sql, const QVariantList &params = {})
    {
        auto c = backend->acquireForServer();
        return c->query(sql, params, false);
    }

    // The session the server makes for a user of the database (for the engine-level
    // checks): deployment, site, finance centre and employee name.
    SessionInfo sessionOf(const QString &user)
    {
        const QVariantList row = native(QStringLiteral("select u.sysid, s.SiteName, s.FINANCECENTER, u.EMPNAME "
                                                       "from sys_user u join tab_Site s on s.SiteCode=u.SITECODE "
                                                       "and s.sysid=u.sysid where u.USERCODE=?"),
                                        {user})
                                     .rows.value(0);
        SessionInfo s;
        s.user = user;
        s.sysid = row.value(0).toString();
        s.siteName = row.value(1).toString();
        s.finance = row.value(2).toString();
        s.empName = row.value(3).toString();
        return s;
    }
    // What that session's client statements may read.
    ClientScope scopeOf(const QString &user)
    {
        auto c = backend->acquireForServer();
        const SessionInfo s = sessionOf(user);
        return clientScope(loadRights(*c, user, s.sysid), s);
    }

    QTemporaryDir dir;
    QString dbPath;
    std::unique_ptr<Backend> backend;
    std::unique_ptr<HttpServer> http;
};

// Lets every user of the demo deployment read and write a table, as a grant to "*" does (for
// tables that a test makes itself, and for tests about something else than rights). Every
// row of the table, whatever the user's role limits otherwise. Call it before the users'
// first request: rights are cached per token generation.
inline void grantToEveryone(Connection &c, const QString &table, const QString &ops = QStringLiteral("IUD"))
{
    QString withRead = ops;
    if (!withRead.contains(QLatin1Char('R')))
        withRead.prepend(QLatin1Char('R'));
    c.execute(QStringLiteral("delete from sys_functable where FUNCNAME='*' and TABLENAME=? and sysid='001'"),
              {table});
    c.execute(QStringLiteral("insert into sys_functable (FUNCNAME, TABLENAME, OPS, sysid) values ('*',?,?,'001')"),
              {table, withRead});
}

// Gives a user of a deployment that a test makes itself a role with these functions, and
// the deployment the standard tables of the functions.
inline void giveRole(Connection &c, const QString &sysid, const QString &user, const QString &role,
                     const QStringList &functions)
{
    seedFunctionTables(c, sysid);
    c.execute(QStringLiteral("insert into sys_role (ROLENAME, REMARK, sysid) values (?, '', ?)"), {role, sysid});
    for (const QString &f : functions)
        c.execute(QStringLiteral("insert into sys_rolegrant (ROLENAME, FUNCNAME, sysid) values (?,?,?)"),
                  {role, f, sysid});
    c.execute(QStringLiteral("insert into sys_userrole (USERCODE, ROLENAME, sysid) values (?,?,?)"),
              {user, role, sysid});
}

inline quillon::DataPacket query(quillon::protocol::Transport &t, const QString &sql,
                                 const QCborValue &params = QCborValue())
{
    return quillon::DataPacket::fromBinary(t.provider(sql, params));
}

} // namespace server::test
