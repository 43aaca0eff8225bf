// The two executables as administrators and scripts use them: init, seed, user add and
// passwd of waylink-server, and waylink-sql against a running server.
#include "testserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

using namespace server;

namespace {

struct ToolRun
{
    int code = -1;
    QString out, err;
};

ToolRun run(const QString &program, const QStringList &args, const QByteArray &input = QByteArray(),
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationDirPath() + QLatin1Char('/') + program, args);
    if (!input.isEmpty()) {
        p.write(input);
        p.closeWriteChannel();
    }
    ToolRun r;
    if (!p.waitForFinished(60000))
        return r;
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

bool haveTools()
{
    const QString dir = QCoreApplication::applicationDirPath();
    return QFile::exists(dir + QStringLiteral("/waylink-server")) && QFile::exists(dir + QStringLiteral("/waylink-sql"));
}

TEST(CommandLine, AdministrationAndScriptedChecks)
{
    if (!haveTools())
        GTEST_SKIP() << "waylink-server and waylink-sql are not built";
    QTemporaryDir dir;
    const QString db = server::test::testDatabase(dir, QStringLiteral("cli.sqlite"));
    const QString server = QStringLiteral("waylink-server");
    EXPECT_EQ(run(server, {QStringLiteral("init"), QStringLiteral("--db"), db}).code, 0);
    EXPECT_EQ(run(server, {QStringLiteral("seed"), QStringLiteral("--db"), db, QStringLiteral("--waybills"), QStringLiteral("20")}).code, 0);
    const ToolRun again = run(server, {QStringLiteral("seed"), QStringLiteral("--db"), db});
    EXPECT_EQ(again.code, 1);
    EXPECT_TRUE(again.err.contains(QStringLiteral("already"))) << qPrintable(again.err);
    EXPECT_EQ(run(server, {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("--db"), db, QStringLiteral("001.cli"),
                           QStringLiteral("-"), QStringLiteral("--site"), QStringLiteral("102"), QStringLiteral("--name"),
                           QStringLiteral("郭婷")},
                  "first\n").code,
              0);
    EXPECT_EQ(run(server, {QStringLiteral("passwd"), QStringLiteral("--db"), db, QStringLiteral("001.cli"), QStringLiteral("second")}).code, 0);
    EXPECT_EQ(run(server, {QStringLiteral("serve"), QStringLiteral("--db"), db}).code, 1); // no file area
    EXPECT_NE(run(server, {QStringLiteral("nonsense")}).code, 0);

    auto backend = Backend::open(db);
    ServerOptions so;
    so.port = 0;
    so.quiet = true;
    HttpServer http(*backend, dir.filePath(QStringLiteral("files")), so);
    http.start();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAYLINK_PORT"), QString::number(http.port()));
    env.insert(QStringLiteral("WAYLINK_SITE"), QStringLiteral("102"));
    env.insert(QStringLiteral("WAYLINK_USER"), QStringLiteral("001.cli"));
    env.insert(QStringLiteral("WAYLINK_PASSWORD"), QStringLiteral("second"));
    const QString sql = QStringLiteral("waylink-sql");

    ToolRun r = run(sql, {QStringLiteral("session")}, {}, env);
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_TRUE(r.out.contains(QStringLiteral("LogOnSiteName=上海闵行")));
    r = run(sql, {QStringLiteral("query"), QStringLiteral("select SiteCode, SiteName from tab_Site where SiteCode=:1 and sysid='001'"),
                  QStringLiteral("101")}, {}, env);
    EXPECT_EQ(r.out, QStringLiteral("SITECODE\tSITENAME\n101\t上海浦东\n"));
    r = run(sql, {QStringLiteral("call"), QStringLiteral("ReverseString"), QStringLiteral("abc")}, {}, env);
    EXPECT_EQ(r.out, QStringLiteral("Result: cba\n"));

    const QString local = dir.filePath(QStringLiteral("a.bin"));
    QFile f(local);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x00\x01\xff body", 8));
    f.close();
    EXPECT_EQ(run(sql, {QStringLiteral("upload"), local, QStringLiteral("cli\\a.bin")}, {}, env).code, 0);
    const QString back = dir.filePath(QStringLiteral("b.bin"));
    EXPECT_EQ(run(sql, {QStringLiteral("download"), QStringLiteral("cli\\a.bin"), back}, {}, env).code, 0);
    QFile b(back);
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), QByteArray("\x00\x01\xff body", 8));
    EXPECT_EQ(run(sql, {QStringLiteral("download"), QStringLiteral("cli\\none.bin"), back}, {}, env).code, 1);

    env.insert(QStringLiteral("WAYLINK_PASSWORD"), QStringLiteral("first"));
    r = run(sql, {QStringLiteral("session")}, {}, env);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("用户名或密码错误"))) << qPrintable(r.err);
}

} // namespace
