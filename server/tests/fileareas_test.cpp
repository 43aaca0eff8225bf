// File areas: every deployment has its own; the update files are shared, read-only for
// everyone but the administrator; links never lead out of an area, not even into a sibling
// folder whose name begins with the area's name.
#include "testserver.h"

#include "server/auth.h"

#include <QCborArray>
#include <QDir>
#include <QFile>

using namespace server;
using namespace server::test;
using quillon::protocol::ProtocolError;
using quillon::protocol::Transport;

namespace {

int statusOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const ProtocolError &e) {
        return e.status();
    }
    return 200;
}

QCborArray up(Transport &t, const QString &path, const QByteArray &data)
{
    return t.callMethod(QStringLiteral("MyUpDownFile"), {path, data, QCborValue(), 0});
}
QCborArray down(Transport &t, const QString &path)
{
    return t.callMethod(QStringLiteral("MyUpDownFile"), {path, QByteArray(), QCborValue(), 1});
}
QString list(Transport &t, const QString &folder)
{
    return t.callMethod(QStringLiteral("GetLstFile"), {folder}).at(1).toString();
}

TEST(FileAreas, EachDeploymentSeesOnlyItsOwnFilesAndOnlyTheAdministratorReplacesUpdates)
{
    TestServer s(10);
    {
        auto c = s.backend->acquireForServer();
        c->execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, sysid) values ('101','北京朝阳','002')"));
        addUser(*c, QStringLiteral("002.wu"), QStringLiteral("123456"), QStringLiteral("101"),
                QStringLiteral("吴"), true);
    }
    auto zhang = s.client();
    auto wu = s.client(QStringLiteral("101"), QStringLiteral("002.wu"));
    auto dk = s.client(QStringLiteral("000"), QStringLiteral("dk"));
    const QString secret = QStringLiteral("notice\\20261207\\secret.rtf");

    ASSERT_TRUE(up(*wu, secret, "deployment 002 only").at(4).toBool());
    EXPECT_TRUE(QFile::exists(s.dir.filePath(QStringLiteral("files/002/notice/20261207/secret.rtf"))));
    // 001 neither lists, reads nor dates 002's file, and its own file of the same name is its own.
    EXPECT_EQ(list(*zhang, QStringLiteral("notice")), QString());
    EXPECT_EQ(list(*zhang, QString()), QString());
    EXPECT_FALSE(down(*zhang, secret).at(4).toBool());
    EXPECT_EQ(statusOf([&] { zhang->callMethod(QStringLiteral("DownloadByStream"), {secret}); }), 404);
    EXPECT_EQ(zhang->callMethod(QStringLiteral("GetFileVer"), {secret}).at(1).toString(), QString());
    for (const QString &path : {QStringLiteral("..\\002\\notice\\20261207\\secret.rtf"),
                                QStringLiteral("update\\..\\002\\notice\\20261207\\secret.rtf")})
        EXPECT_EQ(statusOf([&] { down(*zhang, path); }), 403) << qPrintable(path);
    ASSERT_TRUE(up(*zhang, secret, "mine").at(4).toBool());
    EXPECT_EQ(down(*wu, secret).at(2).toByteArray(), QByteArray("deployment 002 only"));
    EXPECT_EQ(down(*zhang, secret).at(2).toByteArray(), QByteArray("mine"));
    EXPECT_EQ(list(*wu, QStringLiteral("notice")), QStringLiteral("20261207\\secret.rtf"));

    // The update files: the administrator replaces them, every deployment reads them,
    // nobody else writes them, whatever the spelling of the folder.
    const QString dll = QStringLiteral("update\\px_Sentry.dll");
    ASSERT_TRUE(up(*dk, dll, "version 2").at(4).toBool());
    for (const QString &path : {dll, QStringLiteral("UPDATE\\px_Sentry.dll"), QStringLiteral("update/px_Sentry.dll"),
                                QStringLiteral(".\\update\\px_Sentry.dll"), QStringLiteral("update\\new.dll")}) {
        EXPECT_EQ(statusOf([&] { up(*zhang, path, "evil"); }), 403) << qPrintable(path);
        EXPECT_EQ(statusOf([&] { zhang->callMethod(QStringLiteral("UploadByStream"), {path, QByteArray("evil")}); }),
                  403)
            << qPrintable(path);
    }
    for (Transport *t : {zhang.get(), wu.get()}) {
        EXPECT_EQ(down(*t, dll).at(2).toByteArray(), QByteArray("version 2"));
        EXPECT_EQ(list(*t, QStringLiteral("update")), QStringLiteral("px_Sentry.dll"));
        EXPECT_TRUE(t->callMethod(QStringLiteral("GetFileVer"), {dll}).at(1).toString().endsWith(QStringLiteral("|9")));
    }
    EXPECT_FALSE(QFile::exists(s.dir.filePath(QStringLiteral("files/update/new.dll"))));
}

TEST(FileAreas, LinksLeadNeitherIntoSiblingFoldersNorNowhere)
{
    TestServer s(10);
    auto zhang = s.client();
    ASSERT_TRUE(up(*zhang, QStringLiteral("own.txt"), "x").at(4).toBool()); // the area exists
    const QString area = s.dir.filePath(QStringLiteral("files/001"));
    // "<area>2" and "<area>-x" begin with the area's name but are other folders.
    for (const QString &sibling : {QStringLiteral("files/0012"), QStringLiteral("files/001-x"),
                                   QStringLiteral("files/002")}) {
        const QString target = s.dir.filePath(sibling);
        QDir().mkpath(target);
        QFile f(target + QStringLiteral("/x.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("sibling");
        f.close();
        const QString name = QStringLiteral("to") + QFileInfo(sibling).fileName();
        ASSERT_TRUE(QFile::link(target, area + QLatin1Char('/') + name));
        EXPECT_EQ(statusOf([&] { down(*zhang, name + QStringLiteral("\\x.txt")); }), 403) << qPrintable(sibling);
        EXPECT_EQ(statusOf([&] { up(*zhang, name + QStringLiteral("\\y.txt"), "y"); }), 403) << qPrintable(sibling);
        EXPECT_EQ(statusOf([&] { list(*zhang, name); }), 403) << qPrintable(sibling);
        EXPECT_FALSE(QFile::exists(target + QStringLiteral("/y.txt")));
    }
    // A link that leads nowhere yet: writing through it would create a file outside.
    const QString nowhere = s.dir.filePath(QStringLiteral("nowhere.txt"));
    ASSERT_TRUE(QFile::link(nowhere, area + QStringLiteral("/dangling.txt")));
    EXPECT_EQ(statusOf([&] { up(*zhang, QStringLiteral("dangling.txt"), "z"); }), 403);
    EXPECT_FALSE(QFile::exists(nowhere));
    // A link inside the area stays usable.
    QDir().mkpath(area + QStringLiteral("/real"));
    ASSERT_TRUE(QFile::link(area + QStringLiteral("/real"), area + QStringLiteral("/alias")));
    EXPECT_TRUE(up(*zhang, QStringLiteral("alias\\in.txt"), "in").at(4).toBool());
    EXPECT_TRUE(QFile::exists(area + QStringLiteral("/real/in.txt")));
}

} // namespace
