// Backup and restore keep the operation log verifiable; a database made by the previous
// release (kept as a fixture) is upgraded by "waylink-server upgrade" and served.
#include "testserver.h"

#include "server/backup.h"
#include "server/oplog.h"
#include "server/schema.h"

#include <QCborArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>

using namespace server;
using namespace server::test;
using quillon::DataPacket;
using quillon::RowState;

namespace {

QString serverBinary()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/waylink-server");
}

// Runs waylink-server; returns its exit code, its output in *out.
int runServer(const QStringList &args, QString *out = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(serverBinary(), args);
    if (!p.waitForFinished(120000))
        return -1;
    if (out)
        *out = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// pg_dump and pg_restore call set_config, which the test cluster keeps from ordinary logins
// (a production database owner has it): granted to the server's login in one database, by
// the cluster's superuser.
void allowDumpTools(const QString &url)
{
    if (!onPostgres())
        return;
    Backend::open(url, true);
    QUrl su(url);
    const QString login = su.userName();
    su.setUserName(QStringLiteral("postgres"));
    QProcess psql;
    psql.setProcessChannelMode(QProcess::MergedChannels);
    psql.start(QStringLiteral("/usr/lib/postgresql/15/bin/psql"),
               {QStringLiteral("-q"), QStringLiteral("-d"), su.toString(), QStringLiteral("-c"),
                QStringLiteral("grant execute on function pg_catalog.set_config(text, text, boolean) to %1")
                    .arg(login)});
    ASSERT_TRUE(psql.waitForFinished(30000));
    ASSERT_EQ(psql.exitCode(), 0) << psql.readAll().constData();
}

QString fixture(const QString &name)
{
    return QStringLiteral(WAYLINK_SOURCE_DIR "/server/tests/fixtures/") + name;
}

} // namespace

TEST(Backup, ARestoredBackupKeepsTheOperationLogVerifiable)
{
    TestServer s(20);
    // Logged changes through the server: the chain has rows of this run.
    auto t = s.client(QStringLiteral("000"), QStringLiteral("001.admin"));
    DataPacket p = query(*t, QStringLiteral("select * from TAB_ACCOUNT where sysid='001' order by BILLCODE"));
    ASSERT_GE(p.rows.size(), 2);
    for (int r = 0; r < 2; ++r) {
        DataPacket::Change ch;
        ch.state = RowState::Modified;
        ch.row = r;
        ch.original = p.rows.at(r);
        p.rows[r][p.fieldIndex(QStringLiteral("WEIGHT"))] = 77.5 + r;
        p.changes.append(ch);
    }
    ASSERT_TRUE(t->callMethod(QStringLiteral("ApplyData"),
                              {QStringLiteral("TAB_ACCOUNT"), p.toXml(), 0, QCborValue()})
                    .at(4)
                    .toBool());
    QList<OpLogAudit> before;
    {
        auto c = s.backend->acquireForServer();
        before = verifyOpLog(*c, QStringLiteral("001"));
    }
    ASSERT_EQ(before.size(), 1);
    ASSERT_TRUE(before.first().intact);

    // Through the commands, as an administrator would, while the server keeps running.
    const QString file = s.dir.filePath(QStringLiteral("backup.dump"));
    QString out;
    allowDumpTools(s.dbPath);
    ASSERT_EQ(runServer({QStringLiteral("backup"), QStringLiteral("--db"), s.dbPath,
                         QStringLiteral("--to"), file},
                        &out),
              0)
        << qPrintable(out);
    ASSERT_TRUE(QFile::exists(file));
    const QString target = testDatabase(s.dir, QStringLiteral("restored.sqlite"));
    allowDumpTools(target);
    ASSERT_EQ(runServer({QStringLiteral("restore"), QStringLiteral("--db"), target,
                         QStringLiteral("--from"), file},
                        &out),
              0)
        << qPrintable(out);
    EXPECT_EQ(runServer({QStringLiteral("audit"), QStringLiteral("verify"), QStringLiteral("--db"), target}, &out), 0)
        << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("chain intact"))) << qPrintable(out);

    auto restored = Backend::open(target);
    EXPECT_EQ(restored->describe().startsWith(QLatin1String("PostgreSQL")), onPostgres());
    auto c = restored->acquireForServer();
    const QList<OpLogAudit> after = verifyOpLog(*c, QStringLiteral("001"));
    ASSERT_EQ(after.size(), 1);
    EXPECT_TRUE(after.first().intact) << qPrintable(after.first().problem);
    EXPECT_EQ(after.first().rows, before.first().rows);
    EXPECT_EQ(after.first().headHash, before.first().headHash);
    EXPECT_EQ(c->query(QStringLiteral("select count(*) from TAB_ACCOUNT where WEIGHT in (77.5, 78.5)"), {}, false)
                  .rows.value(0)
                  .value(0)
                  .toLongLong(),
              2);

    // A restore from a file that is not there changes nothing and says so.
    EXPECT_NE(runServer({QStringLiteral("restore"), QStringLiteral("--db"), target, QStringLiteral("--from"),
                         s.dir.filePath(QStringLiteral("missing.dump"))},
                        &out),
              0);
    EXPECT_TRUE(out.contains(QStringLiteral("no such backup file"))) << qPrintable(out);
}

TEST(Upgrade, TheDatabaseOfThePreviousReleaseIsBroughtForwardAndServes)
{
    QTemporaryDir dir;
    const QString db = testDatabase(dir, QStringLiteral("release1.sqlite"));
    if (onPostgres()) {
        Backend::open(db, true); // an empty database, filled by the release's dump
        QProcess psql;
        psql.setProcessChannelMode(QProcess::MergedChannels);
        psql.start(QStringLiteral("/usr/lib/postgresql/15/bin/psql"),
                   {QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                    QStringLiteral("-d"), db, QStringLiteral("-f"), fixture(QStringLiteral("release1.pg.sql"))});
        ASSERT_TRUE(psql.waitForFinished(120000));
        ASSERT_EQ(psql.exitCode(), 0) << psql.readAll().constData();
    } else {
        ASSERT_TRUE(QFile::copy(fixture(QStringLiteral("release1.sqlite")), db));
        QFile::setPermissions(db, QFile::ReadOwner | QFile::WriteOwner);
    }
    {
        auto b = Backend::open(db);
        auto c = b->acquireForServer();
        ASSERT_EQ(storedSchemaVersion(*c), 1);
        EXPECT_FALSE(c->tableInfo(QStringLiteral("sys_request")).exists());
    }
    QString out;
    ASSERT_EQ(runServer({QStringLiteral("upgrade"), QStringLiteral("--db"), db}, &out), 0) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("from version 1 to %1").arg(schemaVersion()))) << qPrintable(out);
    ASSERT_EQ(runServer({QStringLiteral("upgrade"), QStringLiteral("--db"), db}, &out), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("is current"))) << qPrintable(out);

    auto backend = Backend::open(db);
    {
        auto c = backend->acquireForServer();
        EXPECT_EQ(storedSchemaVersion(*c), schemaVersion());
        const QList<OpLogAudit> audits = verifyOpLog(*c, QStringLiteral("001"));
        ASSERT_EQ(audits.size(), 1);
        EXPECT_TRUE(audits.first().intact) << qPrintable(audits.first().problem);
        // The release's 200 entries and the one that records the chain's move from the
        // database's key to the key file.
        EXPECT_EQ(audits.first().rows, 201);
    }
    // It serves: the release's users log on, read, and write with a request id.
    ServerOptions so;
    so.port = 0;
    so.quiet = true;
    HttpServer http(*backend, dir.filePath(QStringLiteral("files")), so);
    http.start();
    quillon::protocol::Transport::Options o;
    o.host = QStringLiteral("127.0.0.1");
    o.port = http.port();
    quillon::protocol::Transport t(o);
    t.openSession(TestServer::logOnRequest(QStringLiteral("000"), QStringLiteral("001.admin"),
                                           QStringLiteral("123456")));
    DataPacket p = query(t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    QVariantList row;
    for (const auto &f : std::as_const(p.fields))
        row.append(f.name.toUpper() == QLatin1String("MSGID") ? QVariant(QStringLiteral("U1"))
                   : f.name.toUpper() == QLatin1String("MSGREADSITE") ? QVariant(QStringLiteral("总部"))
                   : f.name.toUpper() == QLatin1String("MSGREADER")   ? QVariant(QStringLiteral("管理员"))
                                                                      : QVariant());
    p.rows.append(row);
    DataPacket::Change ch;
    ch.state = RowState::Inserted;
    ch.row = 0;
    p.changes.append(ch);
    EXPECT_TRUE(t.callMethod(QStringLiteral("ApplyData"), {QStringLiteral("TAB_MSGREAD"), p.toXml(), 0, QCborValue()})
                    .at(4)
                    .toBool());
    EXPECT_GT(query(t, QStringLiteral("select * from TAB_ACCOUNT")).rows.size(), 0);

    // A database of a newer release is refused, not half-understood.
    {
        auto c = backend->acquireForServer();
        c->execute(QStringLiteral("update sys_server set VALUE=? where NAME='schema_version'"),
                   {QByteArray::number(schemaVersion() + 1)});
    }
    EXPECT_NE(runServer({QStringLiteral("upgrade"), QStringLiteral("--db"), db}, &out), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("newer release"))) << qPrintable(out);
}

TEST(ServerCommand, ReadsItsConfigurationFileAndRefusesPlainHttpBeyondLoopback)
{
    QTemporaryDir dir;
    QString db = testDatabase(dir, QStringLiteral("conf.sqlite"));
    Backend::open(db, true);
    if (onPostgres())
        db += QStringLiteral("?connect_timeout=10&application_name=waylink"); // taken as written
    const QString conf = dir.filePath(QStringLiteral("server.conf"));
    auto writeConf = [&](const QByteArray &extra) {
        QFile f(conf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# settings\n[server]\ndb = " + db.toUtf8() + "\nfiles = " + dir.filePath(QStringLiteral("files")).toUtf8()
                + "\n" + extra);
    };
    writeConf("");
    QString out;
    EXPECT_EQ(runServer({QStringLiteral("upgrade"), QStringLiteral("--config"), conf}, &out), 0) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("from version 0 to %1").arg(schemaVersion()))) << qPrintable(out);

    // Beyond loopback without a certificate: refused before anything is served.
    EXPECT_EQ(runServer({QStringLiteral("serve"), QStringLiteral("--config"), conf, QStringLiteral("--listen"),
                         QStringLiteral("0.0.0.0"), QStringLiteral("--port"), QStringLiteral("0")},
                        &out),
              1);
    EXPECT_TRUE(out.contains(QStringLiteral("without TLS"))) << qPrintable(out);

    // A misspelt setting stops the command with its line.
    writeConf("listen = 127.0.0.1\nthreds = 4\n");
    EXPECT_EQ(runServer({QStringLiteral("upgrade"), QStringLiteral("--config"), conf}, &out), 1);
    EXPECT_TRUE(out.contains(QStringLiteral("server.conf:6: unknown setting threds"))) << qPrintable(out);
}
