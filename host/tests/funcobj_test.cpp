#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/uintf.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct PresenterGuard
{
    host::ScriptedPresenter *p;
    PresenterGuard()
    {
        auto owned = std::make_unique<host::ScriptedPresenter>();
        p = owned.get();
        host::setDialogPresenter(std::move(owned));
    }
    ~PresenterGuard() { host::setDialogPresenter(nullptr); }
};

} // namespace

TEST(FuncObj, MessagesGoThroughThePresenterWithTheirCaptions)
{
    PresenterGuard g;
    host::IFuncObj *f = host::CFuncObj();
    EXPECT_EQ(f, host::CFuncObj()); // one instance per process
    f->MsgBox(QStringLiteral("保存成功"));
    g.p->answers = {host::Answer::No, host::Answer::Yes};
    EXPECT_FALSE(f->MsgQuestion(QStringLiteral("确定退出吗？")));
    EXPECT_TRUE(f->MsgQuestion(QStringLiteral("确定退出吗？")));
    ASSERT_EQ(g.p->shown.size(), 3);
    EXPECT_EQ(g.p->shown[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(g.p->shown[0].kind, host::MessageKind::Information);
    EXPECT_EQ(g.p->shown[1].caption, QStringLiteral("询问"));
    EXPECT_EQ(g.p->shown[1].kind, host::MessageKind::Question);
}

TEST(FuncObj, FileListMatchesMaskSortedWithFullNames)
{
    QTemporaryDir dir;
    for (const char *n : {"cdsSite.cds", "cdsMenu.CDS", "readme.txt", "b.cds"}) {
        QFile f(dir.filePath(QString::fromLatin1(n)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QDir(dir.path()).mkdir(QStringLiteral("sub.cds"));
    QStringList list{QStringLiteral("kept")};
    host::CFuncObj()->GetFileList(dir.path(), list, QStringLiteral("*.cds"), 1);
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list[0], QStringLiteral("kept"));
    EXPECT_EQ(list[1], dir.filePath(QStringLiteral("b.cds")));
    EXPECT_EQ(list[2], dir.filePath(QStringLiteral("cdsMenu.CDS")));
    EXPECT_EQ(list[3], dir.filePath(QStringLiteral("cdsSite.cds")));

    QStringList none;
    host::CFuncObj()->GetFileList(dir.filePath(QStringLiteral("absent")), none,
                                  QStringLiteral("*.cds"), 1);
    EXPECT_TRUE(none.isEmpty());
}

TEST(FuncObj, ServerTimeUsesTheInstalledClockAndConnectionSeam)
{
    const QDateTime fixed(QDate(2026, 3, 4), QTime(5, 6, 7));
    host::setServerClock([fixed] { return fixed; });
    EXPECT_EQ(host::CFuncObj()->GetServerTime(), QStringLiteral("2026-03-04 05:06:07"));
    host::setServerClock({});
    EXPECT_NE(host::CFuncObj()->GetServerTime(), QStringLiteral("2026-03-04 05:06:07"));

    QObject conn;
    EXPECT_EQ(host::CdbCommObj()->GetConnection(), nullptr);
    host::setConnection(&conn);
    EXPECT_EQ(host::CdbCommObj()->GetConnection(), &conn);
    host::setConnection(nullptr);
}

TEST(FuncObj, CipherPairRoundTripsAndRefusesForeignLines)
{
    host::IFuncObj *f = host::CFuncObj();
    const QString line = f->EncryptStr(QStringLiteral("LogOnUser=001.张三"));
    EXPECT_EQ(f->DecryptStr(line), QStringLiteral("LogOnUser=001.张三"));
    EXPECT_THROW(f->DecryptStr(QStringLiteral("LogOnUser=001.张三")), host::UserError);
}
