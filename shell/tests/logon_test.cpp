// The log-on of the main window: field checks, online through the verification function,
// offline against the cache, the super administrator, reload, the error wrap, the menu
// and module bar built from the cached menu, and the cached tables.
#include "dataaccess/mydataset.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/moduleservice.h"
#include "host/uintf.h"
#include "shell/fclient.h"
#include "shell/tests/menucache.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace shell;
using shell::test::MenuRow;

namespace {

// Stands in for px_Sentry and for the start page.
class FakeModule : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &callfunc, const QString &, const QString &, const QStringList &,
                  int) override
    {
        calls.append(callfunc);
        if (callfunc == QLatin1String("fVefify") && onVerify)
            onVerify();
    }
    QStringList calls;
    std::function<void()> onVerify;
};

FakeModule &fake()
{
    static FakeModule m;
    static bool registered = false;
    if (!registered) {
        host::ModuleService::instance().registerModule(QStringLiteral("px_Sentry"), &m);
        host::ModuleService::instance().registerModule(QStringLiteral("px_Lobby"), &m);
        registered = true;
    }
    return m;
}

const QList<MenuRow> kMenu = {
    {"001.000.000", "公告", "", 1, "GG"},
    {"001.001.000", "公告管理", "", 1, ""},
    {"001.001.001", "公告发表", "px_Herald.fSendMessage", 0, ""},
    {"@", "隐藏功能", "px_Herald.fHidden", 1, ""},
    {"002.000.000", "财务/结算", "", 1, "CW"},
    {"002.001.000", "到付款查询", "px_Tally.fDFKQuery", 0, ""},
};

class LogOnTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host::g_lstVars->clear();
        auto p = std::make_unique<host::ScriptedPresenter>();
        presenter = p.get();
        host::setDialogPresenter(std::move(p));
        fake().calls.clear();
        // The verification stand-in: accepts and leaves the caches, like the real one.
        fake().onVerify = [this] {
            host::VarList &v = *host::g_lstVars;
            seenByVerify = {v.value(QStringLiteral("Host")), v.value(QStringLiteral("sysid")),
                            v.value(QStringLiteral("LogOnSiteName"))};
            v.setValue(QStringLiteral("LVerify"), verifyAnswer);
            v.setValue(QStringLiteral("LogOnTime"), QStringLiteral("2026-12-07 08:00:00"));
            if (v.value(QStringLiteral("LogOnUser")) != QLatin1String("dk")) {
                v.setValue(QStringLiteral("LogOnSiteName"), QStringLiteral("上海浦东"));
                v.setValue(QStringLiteral("LogOnEmpName"), QStringLiteral("马超"));
            }
            if (verifyThrows)
                throw host::UserError(QStringLiteral("服务器忙"));
        };
        write(QStringLiteral("ShowMsg.ini"),
              "[MsgList]\r\nMsg39=脱机\r\nMsg40=在线\r\nMsg41=登录失败：\r\nMsg44=请输入网点！\r\n"
              "Msg45=请输入用户！\r\nMsg46=请输入密码！\r\nMsg54=需要更新\r\nMsg57="
              "用户名格式错！\r\n");
        write(QStringLiteral("waylink.ini"),
              "[Config]\r\nSvrLst=演示\r\n演示=127.0.0.1:8801\r\napp_Ver=V9\r\n"
              "StartMenu=px_Lobby.fStart\r\nNotifyInterval=30\r\n");
        shell::test::writeMenuCache(cds(QStringLiteral("cdsSysMenu.cds")), kMenu);
    }
    void TearDown() override
    {
        host::setDialogPresenter(nullptr);
        host::g_lstVars->clear();
    }

    QString cds(const QString &file) const
    {
        return dir.filePath(QStringLiteral("LocalData/cds/") + file);
    }
    void write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    std::unique_ptr<TfClient> makeClient()
    {
        TfClient::Options o;
        o.exeDir = dir.path();
        o.configName = QStringLiteral("waylink");
        o.terminate = [this](int code) { terminated.append(code); };
        o.openScript = [this](const QString &path) {
            scripts.append(QFileInfo(path).completeBaseName());
            return true;
        };
        o.reportProblems = false;
        auto c = std::make_unique<TfClient>(o);
        c->resize(1170, 777);
        return c;
    }
    static void enter(TfClient &c, const QString &site, const QString &user, const QString &pass,
                      bool offline = false)
    {
        c.edtSite->setText(site);
        c.edtUser->setText(user);
        c.edtPwd->setText(pass);
        c.cboOffLine->setCurrentText(offline ? QStringLiteral("是") : QStringLiteral("否"));
    }
    QStringList messages() const
    {
        QStringList out;
        for (const auto &s : presenter->shown)
            out.append(s.text);
        return out;
    }
    static QString var(const char *name)
    {
        return host::g_lstVars->value(QString::fromLatin1(name));
    }
    static QList<int> moduleIds(const TfClient &c)
    {
        QList<int> ids;
        for (int i = 0; i < c.controlCount(); ++i) {
            if (c.control(i).SCType == SCT_MODULEBUTTON)
                ids.append(c.control(i).CtlID);
        }
        return ids;
    }

    QTemporaryDir dir;
    host::ScriptedPresenter *presenter = nullptr;
    QList<int> terminated;
    QStringList scripts;
    QStringList seenByVerify;
    QString verifyAnswer = QStringLiteral("TRUE");
    bool verifyThrows = false;
};

} // namespace

TEST_F(LogOnTest, FieldChecksStopBeforeAnythingElse)
{
    fake();
    struct Case
    {
        const char *site, *user, *pass;
        const char *message;
        const char *focus;
    };
    const Case cases[] = {
        {"", "001.zhang", "x", "请输入网点！", "edtSite"},
        {"101", "", "x", "请输入用户！", "edtUser"},
        {"101", "001.zhang", "", "请输入密码！", "edtPwd"},
        {"101", "DK", "x", "用户名格式错！", "edtUser"}, // only "dk" goes without a full stop
        {"101", "00.1zhang", "x", "用户名格式错！", "edtUser"}, // full stop in third place
        {"101", "001", "x", "用户名格式错！", "edtUser"},
    };
    auto c = makeClient();
    c->show();
    host::g_lstVars->setValue(QStringLiteral("bReload"), QStringLiteral("TRUE"));
    for (const Case &k : cases) {
        presenter->shown.clear();
        enter(*c, QString::fromUtf8(k.site), QString::fromUtf8(k.user), QString::fromUtf8(k.pass));
        c->RzBtnLogIn->click();
        EXPECT_EQ(messages(), QStringList{QString::fromUtf8(k.message)}) << k.user;
        EXPECT_EQ(c->focusWidget() ? c->focusWidget()->objectName() : QString(),
                  QString::fromLatin1(k.focus))
            << k.user;
    }
    EXPECT_TRUE(fake().calls.isEmpty());
    EXPECT_TRUE(scripts.isEmpty()); // no reload check after these stops
    EXPECT_EQ(var("Host"), QStringLiteral("127.0.0.1:8801"));
    EXPECT_EQ(c->state(), TfClient::State::LogOn);
}

TEST_F(LogOnTest, OnlineLogOnBuildsTheWorkingStateFromTheCaches)
{
    fake();
    shell::test::writeTable(cds(QStringLiteral("cdsSite.cds")), 3);
    shell::test::writeTable(cds(QStringLiteral("1abc.cds")), 1);       // not a component name
    shell::test::writeTable(cds(QStringLiteral("tmMonitor.cds")), 1);  // the form's timer
    shell::test::writeTable(cds(QStringLiteral("zzEmployee.cds")), 5); // after both
    write(QStringLiteral("LocalData/cds/cdsBroken.cds"), "not a packet");
    const int waiting = host::g_lstVars->append(QStringLiteral("cdsSite")); // awaits its table

    auto c = makeClient();
    QTimer *timer = c->tmMonitor;
    enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
    c->RzBtnLogIn->click();

    EXPECT_TRUE(messages().isEmpty()) << messages().join(u'\n').toStdString();
    EXPECT_EQ(seenByVerify.value(1), QStringLiteral("001"));
    EXPECT_EQ(var("LogOnPass"), QStringLiteral("123456"));
    EXPECT_EQ(var("OffLine"), QStringLiteral("FALSE"));
    EXPECT_EQ(c->state(), TfClient::State::Working);
    EXPECT_TRUE(c->loggedOnOnline());
    EXPECT_FALSE(c->GrpLogIn->isVisibleTo(c.get()));

    // Status bar.
    EXPECT_EQ(c->Rzstat1->text(), QStringLiteral("上海浦东"));
    EXPECT_EQ(c->Rzstat2->text(), QStringLiteral("马超"));
    EXPECT_EQ(c->Rzstat3->text(), QStringLiteral("2026-12-07 08:00:00"));
    EXPECT_EQ(c->Rzstat5->text(), QStringLiteral("在线"));
    EXPECT_EQ(c->Rzstat7->text(), QStringLiteral("V9"));

    // Menu: a header carries the counter before its increment, its records the one after;
    // "@" takes the current number and does not advance it; "/" in a caption is kept
    // (as a full-width one) instead of splitting the record.
    const QStringList recs = var("SysMenu").split(u'/');
    ASSERT_EQ(recs.size(), 6);
    QStringList seq;
    for (const QString &r : recs)
        seq.append(r.section(QChar(0x0E), 0, 0));
    EXPECT_EQ(seq, (QStringList{"100", "101", "101", "101", "101", "102"}));
    EXPECT_EQ(recs[4].section(QChar(0x0E), 2, 2), QStringLiteral("财务／结算"));
    EXPECT_EQ(var("AllMenuName"), QStringLiteral("公告发表,隐藏功能,到付款查询"));
    EXPECT_EQ(moduleIds(*c), (QList<int>{101, 102}));
    QMenu *m = c->BuildModuleMenu(101);
    ASSERT_EQ(m->actions().size(), 1); // the group; "@" is in no menu
    ASSERT_NE(m->actions()[0]->menu(), nullptr);
    EXPECT_EQ(m->actions()[0]->menu()->actions()[0]->text(), QStringLiteral("公告发表"));
    EXPECT_TRUE(m->actions()[0]->menu()->actions()[0]->isEnabled()); // online
    EXPECT_TRUE(c->control(c->controlCount() - 2).bImage);           // GG

    // Cached tables: published, the waiting line gets its dataset; a clash and a bad name
    // are skipped alone, an unreadable file too.
    EXPECT_EQ(c->cachedTables(), (QStringList{"cdsSite", "cdsSysMenu", "zzEmployee"}));
    EXPECT_EQ(c->skippedCacheFiles().size(), 3);
    auto *site = host::g_lstVars->objectAs<quillon::TMyDataSet>(QStringLiteral("cdsSite"));
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(site->RecordCount(), 3);
    EXPECT_EQ(host::g_lstVars->objectAt(waiting), site);
    EXPECT_EQ(
        host::g_lstVars->objectAs<quillon::TMyDataSet>(QStringLiteral("zzEmployee"))->RecordCount(),
        5);
    EXPECT_EQ(c->tmMonitor, timer);
    EXPECT_EQ(host::g_lstVars->object(QStringLiteral("tmMonitor")), nullptr);

    // Online: start page and notice monitor.
    EXPECT_EQ(fake().calls, (QStringList{"fVefify", "fStart"}));
    EXPECT_TRUE(c->tmMonitor->isActive());
    EXPECT_EQ(c->tmMonitor->interval(), 30000);
    EXPECT_TRUE(c->noticeGlyphVisible());

    // A process logs on once.
    c->RzBtnLogIn->click();
    EXPECT_EQ(fake().calls.size(), 2);
    EXPECT_EQ(moduleIds(*c).size(), 2);
}

TEST_F(LogOnTest, SuperAdministratorReadsTheFullMenuAndSeesItsItems)
{
    fake();
    shell::test::writeMenuCache(cds(QStringLiteral("cdsMenu.cds")),
                                {{"009.000.000", "全部", "", 1, "XT"}});
    auto c = makeClient();
    enter(*c, QStringLiteral("000"), QStringLiteral("dk"), QStringLiteral("pw"));
    c->RzBtnLogIn->click();
    EXPECT_EQ(seenByVerify.value(1), QStringLiteral("dk"));
    EXPECT_EQ(seenByVerify.value(2), QStringLiteral("总部")); // set before the verification
    EXPECT_EQ(var("LogOnEmpName"), QStringLiteral("超级管理员"));
    EXPECT_EQ(c->state(), TfClient::State::Working);
    EXPECT_EQ(moduleIds(*c), QList<int>{101}); // from cdsMenu.cds
    EXPECT_TRUE(c->menuItem(QStringLiteral("MIOR"))->isVisible());
    EXPECT_TRUE(c->menuItem(QStringLiteral("MIMenu"))->isVisible());
    EXPECT_TRUE(c->menuItem(QStringLiteral("MIOpLog"))->isVisible());
}

TEST_F(LogOnTest, FailedVerificationReturnsToThePanelAndStillHonoursReload)
{
    fake();
    verifyAnswer = QStringLiteral("FALSE");
    auto c = makeClient();
    c->show();
    enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("bad"));
    c->RzBtnLogIn->click();
    EXPECT_EQ(c->state(), TfClient::State::LogOn);
    EXPECT_TRUE(c->GrpLogIn->isVisibleTo(c.get()));
    EXPECT_EQ(c->edtPwd->selectedText(), QStringLiteral("bad"));
    EXPECT_TRUE(c->Rzstat1->text().isEmpty()); // no "verifying" text left behind
    EXPECT_EQ(c->focusWidget(), c->edtPwd);
    EXPECT_TRUE(moduleIds(*c).isEmpty());
    EXPECT_FALSE(c->tmMonitor->isActive());
    EXPECT_TRUE(scripts.isEmpty());

    // The verification asks for a reload: it happens although the user was refused.
    write(QStringLiteral("ReLoad.sh"), "exit 0\n");
    write(QStringLiteral("ReLoad.bat"), "exit\r\n");
    fake().onVerify = [] {
        host::g_lstVars->setValue(QStringLiteral("LVerify"), QStringLiteral("FALSE"));
        host::g_lstVars->setValue(QStringLiteral("bReload"), QStringLiteral("TRUE"));
    };
    c->RzBtnLogIn->click();
    EXPECT_EQ(messages(), QStringList{QStringLiteral("需要更新")});
    EXPECT_EQ(scripts, QStringList{QStringLiteral("ReLoad")});
    EXPECT_EQ(terminated, QList<int>{0});
}

TEST_F(LogOnTest, AnErrorIsWrappedWithMsg41AndThePanelComesBack)
{
    fake();
    verifyThrows = true;
    auto c = makeClient();
    enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("x"));
    c->RzBtnLogIn->click();
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].caption, QStringLiteral("错误"));
    EXPECT_EQ(presenter->shown[0].text, QStringLiteral("登录失败：\r\n服务器忙"));
    EXPECT_TRUE(c->GrpLogIn->isVisibleTo(c.get()));
    EXPECT_TRUE(c->PnlTop->isVisibleTo(c.get()));
    EXPECT_EQ(c->state(), TfClient::State::LogOn);

    // A missing menu cache surfaces the same way, naming the file; no button is made.
    verifyThrows = false;
    QFile::remove(cds(QStringLiteral("cdsSysMenu.cds")));
    c->RzBtnLogIn->click();
    ASSERT_EQ(presenter->shown.size(), 2);
    EXPECT_TRUE(presenter->shown[1].text.startsWith(QStringLiteral("登录失败：\r\n")));
    EXPECT_TRUE(presenter->shown[1].text.contains(QStringLiteral("cdsSysMenu.cds")));
    EXPECT_TRUE(moduleIds(*c).isEmpty());
}

TEST_F(LogOnTest, CacheIsWrittenOnlyAfterAnOnlineLogOnAndServesTheOfflineOne)
{
    fake();
    {
        // A refused attempt and a close: the typed password is not kept.
        verifyAnswer = QStringLiteral("FALSE");
        auto c = makeClient();
        enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("typo"));
        c->RzBtnLogIn->click();
        QCloseEvent e;
        QApplication::sendEvent(c.get(), &e);
        EXPECT_TRUE(e.isAccepted());
        EXPECT_FALSE(QFile::exists(c->localDataPath()));
    }
    {
        verifyAnswer = QStringLiteral("TRUE");
        auto c = makeClient();
        enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
        c->RzBtnLogIn->click();
        ASSERT_EQ(c->state(), TfClient::State::Working);
        QCloseEvent e;
        QApplication::sendEvent(c.get(), &e);
        EXPECT_TRUE(QFile::exists(c->localDataPath()));
    }
    host::g_lstVars->clear();
    fake().calls.clear();
    presenter->shown.clear();
    auto c = makeClient();
    // Read back at start: the fields come pre-filled.
    EXPECT_EQ(c->edtSite->text(), QStringLiteral("101"));
    EXPECT_EQ(c->edtUser->text(), QStringLiteral("001.zhang"));

    // Offline mismatches: each names its field and leaves "OffLine" at "TRUE".
    struct Case
    {
        const char *site, *user, *pass, *message;
    };
    const Case cases[] = {{"102", "001.zhang", "123456", "网点输入错误！"},
                          {"101", "001.wang", "123456", "用户输入错误！"},
                          {"101", "001.zhang", "654321", "密码输入错误！"}};
    for (const Case &k : cases) {
        presenter->shown.clear();
        enter(*c, QString::fromUtf8(k.site), QString::fromUtf8(k.user), QString::fromUtf8(k.pass),
              true);
        c->RzBtnLogIn->click();
        EXPECT_EQ(messages(), QStringList{QString::fromUtf8(k.message)});
        EXPECT_EQ(var("OffLine"), QStringLiteral("TRUE"));
        EXPECT_EQ(c->state(), TfClient::State::LogOn);
    }

    // A failed online attempt of this process must not open the offline door for the
    // password it typed.
    verifyAnswer = QStringLiteral("FALSE");
    enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("guess"));
    c->RzBtnLogIn->click();
    presenter->shown.clear();
    enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("guess"), true);
    c->RzBtnLogIn->click();
    EXPECT_EQ(messages(), QStringList{QStringLiteral("密码输入错误！")});

    // The right values log on offline: filtered menu, no start page, no monitor.
    fake().calls.clear();
    presenter->shown.clear();
    enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"), true);
    c->RzBtnLogIn->click();
    EXPECT_TRUE(messages().isEmpty()) << messages().join(u'\n').toStdString();
    EXPECT_EQ(c->state(), TfClient::State::Working);
    EXPECT_EQ(var("LVerify"), QStringLiteral("TRUE"));
    EXPECT_EQ(c->Rzstat5->text(), QStringLiteral("脱机"));
    // The status bar names this log-on: its site and user, and its time (not the time of
    // the last online log-on that the cache keeps).
    EXPECT_EQ(c->Rzstat1->text(), var("LogOnSiteName"));
    EXPECT_FALSE(c->Rzstat1->text().isEmpty());
    EXPECT_FALSE(c->Rzstat2->text().isEmpty());
    EXPECT_NE(c->Rzstat3->text(), QStringLiteral("2026-12-07 08:00:00"));
    EXPECT_LE(QDateTime::fromString(c->Rzstat3->text(), QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                  .secsTo(QDateTime::currentDateTime()),
              60);
    EXPECT_TRUE(fake().calls.isEmpty());
    EXPECT_FALSE(c->tmMonitor->isActive());
    EXPECT_FALSE(c->loggedOnOnline());
    // Only the offline-enabled records: the two headers, the group and "@".
    EXPECT_EQ(var("SysMenu").split(u'/').size(), 4);
    EXPECT_EQ(var("AllMenuName"), QStringLiteral("隐藏功能"));
    EXPECT_EQ(moduleIds(*c), (QList<int>{101, 102}));
    EXPECT_FALSE(c->menuItem(QStringLiteral("MIOpLog"))->isVisible());
    EXPECT_FALSE(c->menuItem(QStringLiteral("MIStart"))->isVisible());
    EXPECT_TRUE(c->menuItem(QStringLiteral("MIAbort"))->isVisible());
    // A module whose functions all need the server says so instead of showing nothing;
    // a group whose entries all need it is marked and off.
    for (int module : {101, 102}) {
        QMenu *menu = c->BuildModuleMenu(module);
        QStringList texts;
        bool anyEnabled = false;
        for (QAction *a : menu->actions()) {
            texts << a->text();
            anyEnabled = anyEnabled || (a->isEnabled() && !a->isSeparator());
        }
        EXPECT_FALSE(anyEnabled) << module;
        EXPECT_TRUE(texts.join(u'|').contains(QStringLiteral("需要联网"))) << texts.join(u'|').toStdString();
    }
    EXPECT_TRUE(c->BuildModuleMenu(101)->actions().value(0)->text().contains(QStringLiteral("公告管理（需要联网）")));

    // Closing after an offline log-on leaves the cache as it was.
    QFile f(c->localDataPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    QCloseEvent e;
    QApplication::sendEvent(c.get(), &e);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}

TEST_F(LogOnTest, TheCacheKeepsAVerifierAndAnOlderCacheIsUpgradedByItsFirstUse)
{
    fake();
    // A cache as older versions wrote it: the password itself in the third line.
    const QStringList older = {QStringLiteral("LogOnSiteCode=101"), QStringLiteral("LogOnUser=001.zhang"),
                               QStringLiteral("LogOnPass=123456"), QStringLiteral("LogOnTime=2026-12-07 08:00:00"),
                               QStringLiteral("LogOnFinance=上海中心"), QStringLiteral("LogOnBelongSite=上海中心"),
                               QStringLiteral("LogOnFBType=网点")};
    QByteArray bytes;
    for (const QString &line : older)
        bytes += host::CFuncObj()->EncryptStr(line, 0).toUtf8() + "\r\n";
    write(QStringLiteral("localdata/ClientData.xml"), bytes);
    auto readBack = [this] {
        QFile f(dir.filePath(QStringLiteral("localdata/ClientData.xml")));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        QStringList lines;
        for (const QByteArray &l : f.readAll().split('\n'))
            if (!l.trimmed().isEmpty())
                lines.append(host::CFuncObj()->DecryptStr(QString::fromUtf8(l).trimmed(), 0));
        return lines;
    };

    {
        auto c = makeClient();
        enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("654321"), true);
        c->RzBtnLogIn->click();
        EXPECT_EQ(messages(), QStringList{QStringLiteral("密码输入错误！")});
        EXPECT_EQ(readBack(), older); // a refused attempt changes nothing
        presenter->shown.clear();
        enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"), true);
        c->RzBtnLogIn->click();
        EXPECT_EQ(c->state(), TfClient::State::Working);
        EXPECT_EQ(var("LogOnPass"), QStringLiteral("123456"));
    }
    // Rewritten at once: the same seven lines, the password replaced by a verifier that
    // neither holds nor decrypts to it.
    const QStringList now = readBack();
    ASSERT_EQ(now.size(), 7);
    for (int i = 0; i < 7; ++i) {
        if (i != 2) {
            EXPECT_EQ(now.at(i), older.at(i));
        }
    }
    ASSERT_TRUE(now.at(2).startsWith(QStringLiteral("LogOnPass=$argon2id$"))) << now.at(2).toStdString();
    EXPECT_FALSE(now.at(2).contains(QStringLiteral("123456")));

    // The upgraded cache serves the next offline log-ons.
    host::g_lstVars->clear();
    presenter->shown.clear();
    auto c = makeClient();
    enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("12345"), true);
    c->RzBtnLogIn->click();
    EXPECT_EQ(messages(), QStringList{QStringLiteral("密码输入错误！")});
    presenter->shown.clear();
    enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"), true);
    c->RzBtnLogIn->click();
    EXPECT_TRUE(messages().isEmpty()) << messages().join(u'\n').toStdString();
    EXPECT_EQ(c->state(), TfClient::State::Working);
    EXPECT_EQ(readBack().at(2), now.at(2)); // a verifier is not rewritten
}

TEST_F(LogOnTest, OfflineWithoutCacheIsRefused)
{
    fake();
    auto c = makeClient();
    enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("x"), true);
    c->RzBtnLogIn->click();
    EXPECT_EQ(messages(), QStringList{QStringLiteral("在线成功登录过的用户才允许脱机登录！")});
    EXPECT_EQ(c->state(), TfClient::State::LogOn);
    EXPECT_TRUE(c->GrpLogIn->isVisibleTo(c.get()));
}

TEST_F(LogOnTest, ModuleWidthSetsTheGapWithinItsLimits)
{
    fake();
    struct Case
    {
        const char *moduleWidth;
        int width;
        int gap;
    };
    const Case cases[] = {
        {"35", 1170, 20}, {"5", 1170, 5}, {"abc", 1170, 18}, {"", 900, 0}, {"-4", 1170, 0}};
    for (const Case &k : cases) {
        host::g_lstVars->clear();
        auto c = makeClient();
        c->resize(k.width, 777);
        host::g_lstVars->setValue(QStringLiteral("ModuleWidth"),
                                  QString::fromLatin1(k.moduleWidth));
        enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
        c->RzBtnLogIn->click();
        ASSERT_EQ(moduleIds(*c).size(), 2) << k.moduleWidth;
        const int first = c->controlCount() - 2;
        EXPECT_EQ(c->control(first + 1).x - c->control(first).x, 72 + k.gap)
            << k.moduleWidth << " " << k.width;
    }
}

// The system menu offers an administration entry only when the user's roles grant its
// function (the rights cache the verification leaves beside the menus), online and offline
// alike; without a rights cache none of them shows.
TEST_F(LogOnTest, SystemMenuShowsOnlyTheGrantedAdministration)
{
    fake();
    auto writeRights = [this](const QStringList &functions) {
        quillon::TMyDataSet ds;
        ds.SetFieldDefs({{QStringLiteral("FUNCNAME"), quillon::FieldType::String, 100}});
        ds.CreateDataSet();
        for (const QString &f : functions) {
            ds.Append();
            ds.FieldByName(QStringLiteral("FUNCNAME"))->SetAsString(f);
            ds.Post();
        }
        ds.SaveToFile(cds(QStringLiteral("cdsMyRights.cds")));
    };
    auto shown = [](TfClient &c) {
        QStringList out;
        for (const char *n : {"MILevel", "MIfUser", "MIfRole", "MIOpLog", "MISysSet"})
            if (c.menuItem(QString::fromLatin1(n))->isVisible())
                out << QString::fromLatin1(n);
        return out;
    };
    writeRights({QStringLiteral("px_Warden.fUsers"), QStringLiteral("px_tuner.fsyslog"),
                 QStringLiteral("px_Herald.fSendMessage")});
    {
        auto c = makeClient();
        enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
        c->RzBtnLogIn->click();
        ASSERT_EQ(c->state(), TfClient::State::Working);
        EXPECT_EQ(shown(*c), (QStringList{"MIfUser", "MIOpLog"}));
        EXPECT_TRUE(c->ppSys->separatorsCollapsible()); // no double lines where entries went
        QCloseEvent e;
        QApplication::sendEvent(c.get(), &e); // writes the offline cache
    }
    // No rights cache (an older verification): nothing of the administration shows.
    QFile::remove(cds(QStringLiteral("cdsMyRights.cds")));
    {
        auto c = makeClient();
        enter(*c, QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
        c->RzBtnLogIn->click();
        ASSERT_EQ(c->state(), TfClient::State::Working);
        EXPECT_TRUE(shown(*c).isEmpty()) << shown(*c).join(u',').toStdString();
    }
}
