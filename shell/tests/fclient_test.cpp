#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/linecipher.h"
#include "host/passwordverifier.h"
#include "host/moduleservice.h"
#include "host/uintf.h"
#include "host/errordisplay.h"
#include "shell/fclient.h"
#include "shell/tests/menucache.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace shell;

namespace {

// Stands in for the notice functions of the outside module px_Sentry.
class FakeSentry : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &callfunc, const QString &, const QString &, const QStringList &,
                  int) override
    {
        calls.append(callfunc);
        if (callfunc == QLatin1String("fVefify"))
            host::g_lstVars->setValue(QStringLiteral("LVerify"), QStringLiteral("TRUE"));
        showNotify.append(host::g_lstVars->value(QStringLiteral("ShowNotiFy")));
        if (fail)
            throw host::UserError(QStringLiteral("server unreachable"));
    }
    QStringList calls;
    QStringList showNotify;
    bool fail = false;
};

FakeSentry &sentry()
{
    static FakeSentry s;
    static bool registered = false;
    if (!registered) {
        host::ModuleService::instance().registerModule(QStringLiteral("px_Sentry"), &s);
        registered = true;
    }
    return s;
}

class ClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host::g_lstVars->clear();
        auto p = std::make_unique<host::ScriptedPresenter>();
        presenter = p.get();
        host::setDialogPresenter(std::move(p));
        sentry().calls.clear();
        sentry().showNotify.clear();
        sentry().fail = false;
    }
    void TearDown() override
    {
        host::setDialogPresenter(nullptr);
        host::g_lstVars->clear();
    }

    void write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    void writeEncrypted(const QString &name, const QStringList &lines)
    {
        QByteArray out;
        for (const QString &l : lines)
            out += host::CFuncObj()->EncryptStr(l).toUtf8() + "\r\n";
        write(name, out);
    }

    std::unique_ptr<TfClient> makeClient()
    {
        TfClient::Options o;
        o.exeDir = dir.path();
        o.configName = QStringLiteral("waylink");
        o.tickSource = [this] { return tick; };
        o.terminate = [this](int code) { terminated.append(code); };
        o.openScript = [this](const QString &path) {
            scripts.append(path);
            return true;
        };
        o.reportProblems = false;
        return std::make_unique<TfClient>(o);
    }

    QTemporaryDir dir;
    host::ScriptedPresenter *presenter = nullptr;
    quint32 tick = 0;
    QList<int> terminated;
    QStringList scripts;
};

} // namespace

TEST_F(ClientTest, StartUpFillsVariablesFieldsAndSkinFromTheFiles)
{
    write(QStringLiteral("ShowMsg.ini"), "[MsgList]\r\nMsg33=退出吗？\r\n");
    write(QStringLiteral("waylink.ini"),
          "[Config]\r\napptitle=测试系统\r\nSysType=1\r\nBackSkin=3\r\n"
          "SvrLst=总部服务器;\"备用 服务器\"\r\n总部服务器=10.0.0.1\r\n");
    writeEncrypted(QStringLiteral("localdata/ClientData.xml"),
                   {QStringLiteral("LogOnSiteCode=001"), QStringLiteral("LogOnUser=001.wang")});
    auto c = makeClient();

    EXPECT_TRUE(c->startupProblems().isEmpty()) << c->startupProblems().join(u'\n').toStdString();
    EXPECT_EQ(host::ParentCtrl, c->RzPgeCtrl);
    EXPECT_EQ(host::g_FuncObj, host::CFuncObj());
    EXPECT_EQ(host::g_DBConn, host::CdbCommObj());
    ASSERT_NE(host::g_DBConn->GetConnection(), nullptr);
    EXPECT_EQ(host::g_DBConn->GetConnection()->parent(), c.get());
    // Before an online log-on the server time is the local clock, not an error.
    EXPECT_LE(qAbs(QDateTime::fromString(host::g_FuncObj->GetServerTime(),
                                         QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                       .secsTo(QDateTime::currentDateTime())),
              2);
    EXPECT_EQ(host::g_lstVars->value(QStringLiteral("iexepath")), c->exePath());
    EXPECT_TRUE(c->exePath().endsWith(u'/'));
    EXPECT_EQ(host::g_lstVars->value(QStringLiteral("Msg33")), QStringLiteral("退出吗？"));
    EXPECT_EQ(c->windowTitle(), QStringLiteral("测试系统"));
    EXPECT_EQ(c->skinName(), QStringLiteral("Skinkd3"));
    EXPECT_TRUE(c->hasBackgroundImage());

    ASSERT_EQ(c->cboServer->count(), 2);
    EXPECT_EQ(c->cboServer->itemText(1), QStringLiteral("备用 服务器"));
    EXPECT_EQ(c->cboServer->currentIndex(), 0);
    EXPECT_EQ(c->cboOffLine->currentText(), QStringLiteral("否"));
    EXPECT_EQ(c->edtSite->text(), QStringLiteral("001"));
    EXPECT_EQ(c->edtUser->text(), QStringLiteral("001.wang"));
    EXPECT_EQ(c->focusProxy(), c->edtPwd);

    EXPECT_FALSE(c->RzPgeCtrl->isVisibleTo(c.get()));
    EXPECT_FALSE(c->PnlTop->isVisibleTo(c.get()));
    EXPECT_TRUE(c->GrpLogIn->isVisibleTo(c.get()));
    EXPECT_FALSE(c->imglogin->pixmap().isNull()); // built-in picture when the file is absent
    EXPECT_EQ(c->state(), TfClient::State::LogOn);
}

TEST_F(ClientTest, MissingOrDamagedFilesAreNamedAndTheLogOnScreenStillWorks)
{
    // No message table, an encrypted configuration with one damaged line, and a cache
    // with one damaged line.
    QByteArray config;
    for (const char *l : {"[Config]", "SvrLst=总部", "总部=10.0.0.1"})
        config += host::CFuncObj()->EncryptStr(QString::fromUtf8(l)).toUtf8() + "\r\n";
    config.insert(config.indexOf("\r\n") + 2, "WL1:broken\r\n");
    write(QStringLiteral("waylink.ini"), config);
    QByteArray cache = host::CFuncObj()->EncryptStr(QStringLiteral("LogOnSiteCode=002")).toUtf8();
    cache += "\r\nnot a cache line\r\n";
    write(QStringLiteral("localdata/ClientData.xml"), cache);

    auto c = makeClient();
    const QString problems = c->startupProblems().join(u'\n');
    EXPECT_TRUE(problems.contains(QStringLiteral("ShowMsg.ini"))) << problems.toStdString();
    EXPECT_TRUE(problems.contains(QStringLiteral("waylink.ini")));
    EXPECT_TRUE(problems.contains(QStringLiteral("第 2 行")));
    EXPECT_TRUE(problems.contains(QStringLiteral("ClientData.xml")));
    // What could be read was read, and the later steps ran.
    EXPECT_EQ(c->cboServer->count(), 1);
    EXPECT_EQ(c->edtSite->text(), QStringLiteral("002"));
    EXPECT_EQ(c->focusProxy(), c->edtUser);
    EXPECT_EQ(c->skinName(), QString());
    EXPECT_EQ(c->size(), QSize(1170, 777).boundedTo(c->screen()->availableGeometry().size()));
    EXPECT_TRUE(c->edtSite->isEnabled());

    // The problems are shown once, after the window is up.
    TfClient::Options o;
    o.exeDir = dir.path();
    o.configName = QStringLiteral("waylink");
    o.terminate = [](int) {};
    TfClient shown(o);
    EXPECT_TRUE(presenter->shown.isEmpty());
    QApplication::processEvents();
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].caption, QStringLiteral("警告"));
}

TEST_F(ClientTest, LogOnPanelPlacementAndKeys)
{
    auto c = makeClient();
    c->show();
    c->resize(1000, 700);
    EXPECT_EQ(c->GrpLogIn->pos(), QPoint(356, 200)); // the 289-wide panel centred
    EXPECT_EQ(c->RzPgeCtrl->height(), 700 - 117);

    QSignalSpy spy(c.get(), &TfClient::logOnRequested);
    emit c->edtPwd->returnPressed();
    EXPECT_EQ(spy.size(), 1);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(c->lblLogOn, &press);
    EXPECT_EQ(spy.size(), 2);
    c->RzBtnCancel->click();
    EXPECT_EQ(terminated, QList<int>{0});
}

TEST_F(ClientTest, ClosingAsksThenHonoursCloseFlagThenWritesTheCache)
{
    write(QStringLiteral("ShowMsg.ini"), "[MsgList]\r\nMsg33=确定退出？\r\n");
    write(QStringLiteral("waylink.ini"), "[Config]\r\nCloseFlag=1\r\n");
    shell::test::writeMenuCache(dir.filePath(QStringLiteral("LocalData/cds/cdsSysMenu.cds")),
                                {{"001.000.000", "公告", "", 1, "GG"}});
    sentry();
    auto c = makeClient();
    // The cache keeps the values of a successful online log-on.
    c->edtSite->setText(QStringLiteral("003"));
    c->edtUser->setText(QStringLiteral("001.wang"));
    c->edtPwd->setText(QStringLiteral("p@ss"));
    c->RzBtnLogIn->click();
    ASSERT_EQ(c->state(), TfClient::State::Working);
    c->RzPgeCtrl->addTab(new QWidget, QStringLiteral("公告发表"));

    presenter->answers = {host::Answer::No};
    QCloseEvent e1;
    QApplication::sendEvent(c.get(), &e1);
    EXPECT_FALSE(e1.isAccepted());
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].text, QStringLiteral("确定退出？"));

    QCloseEvent e2; // yes, but a module window is open and CloseFlag is 1
    QApplication::sendEvent(c.get(), &e2);
    EXPECT_FALSE(e2.isAccepted());
    EXPECT_EQ(presenter->shown.last().text,
              QStringLiteral("为安全起见,请先退出所有的子窗口再退出系统!"));
    EXPECT_TRUE(terminated.isEmpty());
    EXPECT_FALSE(QFile::exists(c->localDataPath()));

    // Closing the last tab hides the page control; now the close goes through.
    c->RzPgeCtrl->show();
    c->RzPgeCtrl->tabCloseRequested(0);
    EXPECT_EQ(c->RzPgeCtrl->count(), 0);
    EXPECT_FALSE(c->RzPgeCtrl->isVisibleTo(c.get()));
    QCloseEvent e3;
    QApplication::sendEvent(c.get(), &e3);
    EXPECT_TRUE(e3.isAccepted());
    EXPECT_EQ(terminated, QList<int>{0});

    QFile cache(c->localDataPath());
    ASSERT_TRUE(cache.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = cache.readAll().split('\n');
    ASSERT_EQ(lines.size(), 8); // seven lines, each ended by CR LF
    EXPECT_EQ(host::CFuncObj()->DecryptStr(QString::fromUtf8(lines[0])),
              QStringLiteral("LogOnSiteCode=003"));
    // The password line holds a salted verifier, never the password.
    const QString pass = host::CFuncObj()->DecryptStr(QString::fromUtf8(lines[2]));
    ASSERT_TRUE(pass.startsWith(QStringLiteral("LogOnPass=$argon2id$"))) << pass.toStdString();
    EXPECT_FALSE(pass.contains(QStringLiteral("p@ss")));
    EXPECT_TRUE(host::matchesPasswordVerifier(pass.mid(10), QStringLiteral("p@ss")));
}

TEST_F(ClientTest, OfflineCloseLeavesTheCacheAloneAndNoFlagAllowsOpenWindows)
{
    write(QStringLiteral("localdata/ClientData.xml"), "old cache\r\n");
    auto c = makeClient();
    c->RzPgeCtrl->addTab(new QWidget, QStringLiteral("窗口"));
    host::g_lstVars->setValue(QStringLiteral("OffLine"), QStringLiteral("TRUE"));
    QCloseEvent e;
    QApplication::sendEvent(c.get(), &e);
    EXPECT_TRUE(e.isAccepted());
    QFile cache(c->localDataPath());
    ASSERT_TRUE(cache.open(QIODevice::ReadOnly));
    EXPECT_EQ(cache.readAll(), QByteArray("old cache\r\n"));
}

namespace {
// Stands in for the base forms' registry of open windows.
class PendingWindows : public QObject
{
    Q_OBJECT
public:
    bool answer = false;
    int asked = 0;
    Q_INVOKABLE bool CloseQueryAll()
    {
        ++asked;
        return answer;
    }
};
} // namespace

TEST_F(ClientTest, WindowsWithUnsavedChangesAreAskedBeforeTheProgramEnds)
{
    auto c = makeClient();
    PendingWindows windows;
    qApp->setProperty("TesseraForms", QVariant::fromValue<QObject *>(&windows));
    QCloseEvent stay; // a window answers "stay": the program keeps running
    QApplication::sendEvent(c.get(), &stay);
    EXPECT_FALSE(stay.isAccepted());
    EXPECT_EQ(windows.asked, 1);
    EXPECT_TRUE(terminated.isEmpty());

    windows.answer = true; // saved or discarded: now it ends
    QCloseEvent go;
    QApplication::sendEvent(c.get(), &go);
    qApp->setProperty("TesseraForms", QVariant());
    EXPECT_TRUE(go.isAccepted());
    EXPECT_EQ(windows.asked, 2);
    EXPECT_EQ(terminated, QList<int>{0});
}

TEST_F(ClientTest, RestartRunsTheScriptOrStaysWhenItCannot)
{
    // The working folder is one of the places searched: keep it an empty one of our own, so
    // that whatever folder the tests run in cannot change the outcome.
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    struct Restore
    {
        QString path;
        ~Restore() { QDir::setCurrent(path); }
    } restore{previous};

    shell::test::writeMenuCache(dir.filePath(QStringLiteral("LocalData/cds/cdsSysMenu.cds")),
                                {{"001.000.000", "公告", "", 1, "GG"}});
    sentry();
    auto c = makeClient();
    c->edtSite->setText(QStringLiteral("003"));
    c->edtUser->setText(QStringLiteral("001.wang"));
    c->edtPwd->setText(QStringLiteral("p@ss"));
    c->RzBtnLogIn->click();
    ASSERT_EQ(c->state(), TfClient::State::Working);
    presenter->shown.clear();

    presenter->answers = {host::Answer::No};
    c->actRLogOnExecute();
    EXPECT_TRUE(scripts.isEmpty());

    // No script beside the program or in the working folder: the user is told and the
    // program stays.
    c->actRLogOnExecute();
    EXPECT_TRUE(scripts.isEmpty());
    EXPECT_TRUE(terminated.isEmpty());
    EXPECT_EQ(presenter->shown.last().caption, QStringLiteral("错误"));

#ifdef Q_OS_WIN
    const QString script = QStringLiteral("ReStart.bat");
#else
    const QString script = QStringLiteral("ReStart.sh");
#endif
    // Found in the working folder when the program's folder has none.
    QFile inWork(work.filePath(script));
    ASSERT_TRUE(inWork.open(QIODevice::WriteOnly));
    inWork.close();
    c->actRLogOnExecute();
    ASSERT_EQ(scripts.size(), 1);
    EXPECT_EQ(QFileInfo(scripts[0]).absolutePath(), QFileInfo(work.path()).absoluteFilePath());
    scripts.clear();
    terminated.clear();
    QFile::remove(c->localDataPath());

    // A window that wants to stay keeps the program; nothing is written.
    write(script, "exit 0\n");
    PendingWindows windows;
    qApp->setProperty("TesseraForms", QVariant::fromValue<QObject *>(&windows));
    c->actRLogOnExecute();
    EXPECT_EQ(windows.asked, 1);
    EXPECT_TRUE(scripts.isEmpty());
    EXPECT_FALSE(QFile::exists(c->localDataPath()));

    // Otherwise the script beside the program runs, after the offline cache and the
    // remembered user were written as a normal close writes them.
    windows.answer = true;
    c->actRLogOnExecute();
    qApp->setProperty("TesseraForms", QVariant());
    ASSERT_EQ(scripts.size(), 1);
    EXPECT_TRUE(scripts[0].endsWith(script));
    EXPECT_EQ(QFileInfo(scripts[0]).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
    EXPECT_EQ(terminated, QList<int>{0});
    QFile cache(c->localDataPath());
    ASSERT_TRUE(cache.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = cache.readAll().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(host::CFuncObj()->DecryptStr(QString::fromUtf8(lines[0])),
              QStringLiteral("LogOnSiteCode=003"));
    EXPECT_EQ(host::CFuncObj()->DecryptStr(QString::fromUtf8(lines[1])),
              QStringLiteral("LogOnUser=001.wang"));
}

TEST_F(ClientTest, NoticeMonitorCallsAtMostOncePerMinuteAndRetriesFailures)
{
    sentry();
    auto c = makeClient();
    tick = 30000;
    c->tmMonitorTimer(); // less than a minute since the start (tick 0)
    EXPECT_TRUE(sentry().calls.isEmpty());
    tick = 61000;
    c->tmMonitorTimer();
    EXPECT_EQ(sentry().calls, QStringList{QStringLiteral("fNotify")});
    EXPECT_EQ(c->lastNoticeTick(), 61000u);
    tick = 100000;
    c->tmMonitorTimer();
    EXPECT_EQ(sentry().calls.size(), 1);

    sentry().fail = true;
    tick = 125000;
    c->tmMonitorTimer(); // fails: swallowed, the tick is not taken
    EXPECT_EQ(sentry().calls.size(), 2);
    EXPECT_EQ(c->lastNoticeTick(), 61000u);
    sentry().fail = false;
    tick = 126000;
    c->tmMonitorTimer(); // retried at the next tick
    EXPECT_EQ(sentry().calls.size(), 3);
    EXPECT_EQ(c->lastNoticeTick(), 126000u);
    EXPECT_TRUE(presenter->shown.isEmpty());
}

TEST_F(ClientTest, IndicatorBlinksWhileNewNoticesWaitAndClickForcesShowNotify)
{
    sentry();
    auto c = makeClient();
    c->tmMonitorTimer();
    EXPECT_TRUE(c->noticeGlyphVisible());
    host::g_lstVars->setValue(QStringLiteral("NewMsg"), QStringLiteral("1"));
    c->tmMonitorTimer();
    EXPECT_FALSE(c->noticeGlyphVisible());
    c->tmMonitorTimer();
    EXPECT_TRUE(c->noticeGlyphVisible());
    host::g_lstVars->setValue(QStringLiteral("NewMsg"), QStringLiteral("0"));
    c->tmMonitorTimer();
    c->tmMonitorTimer();
    EXPECT_TRUE(c->noticeGlyphVisible());

    host::g_lstVars->setValue(QStringLiteral("ShowNotiFy"), QStringLiteral("0"));
    sentry().calls.clear();
    sentry().fail = true;
    c->Rzstat6Click();
    EXPECT_EQ(sentry().showNotify.last(), QStringLiteral("1"));
    EXPECT_EQ(host::g_lstVars->value(QStringLiteral("ShowNotiFy")), QStringLiteral("0"));
    EXPECT_TRUE(presenter->shown.isEmpty());
}

TEST_F(ClientTest, NotifyIntervalStartsTheTimer)
{
    auto c = makeClient();
    EXPECT_FALSE(c->tmMonitor->isActive());
    host::g_lstVars->setValue(QStringLiteral("NotifyInterval"), QStringLiteral("abc"));
    c->StartNoticeMonitor();
    EXPECT_TRUE(c->tmMonitor->isActive());
    EXPECT_EQ(c->tmMonitor->interval(), 60000);
    EXPECT_TRUE(c->noticeGlyphVisible());
    host::g_lstVars->setValue(QStringLiteral("NotifyInterval"), QStringLiteral("0"));
    c->StartNoticeMonitor();
    EXPECT_FALSE(c->tmMonitor->isActive());
}

TEST_F(ClientTest, ModuleBarFromTheMenuRecords)
{
    sentry();
    auto c = makeClient();
    c->resize(1170, 777);
    const QChar s(0x0E);
    auto rec = [s](const QString &seq, const QString &pos, const QString &name, const QString &func,
                   const QString &offline = QStringLiteral("1")) {
        return QStringList{seq, pos, name, func, QString(), QString(), offline, QString()}.join(s);
    };
    const QStringList recs = {
        rec(QStringLiteral("100"), QStringLiteral("001.000.000"), QStringLiteral("公告"), {}),
        rec(QStringLiteral("101"), QStringLiteral("001.001.000"), QStringLiteral("公告管理"), {}),
        rec(QStringLiteral("101"), QStringLiteral("001.001.001"), QStringLiteral("公告发表"),
            QStringLiteral("px_Herald.fSendMessage"), QStringLiteral("0")),
        rec(QStringLiteral("101"), QStringLiteral("@"), QStringLiteral("隐藏"),
            QStringLiteral("px_Herald.fHidden")),
        rec(QStringLiteral("101"), QStringLiteral("002.000.000"), QStringLiteral("通知"),
            QStringLiteral("px_Sentry.fNotify")),
        rec(QStringLiteral("102"), QStringLiteral("002.001.000"), QStringLiteral("未读"),
            QStringLiteral("px_Sentry.fNotify")),
    };
    host::g_lstVars->setValue(QStringLiteral("SysMenu"), recs.join(u'/'));
    host::g_lstVars->setValue(QStringLiteral("OffLine"), QStringLiteral("TRUE"));
    c->BuildModuleBar();

    ASSERT_EQ(c->controlCount(), 4 + 2);
    EXPECT_EQ(c->control(4).CtlID, 101);
    EXPECT_EQ(c->control(5).CtlID, 102);
    EXPECT_EQ(c->control(5).x, 7 + 72 + 18); // gap (1170 - 936) / 13
    EXPECT_EQ(c->ippMenu().size(), 6);
    EXPECT_EQ(c->ippMenu()[0].mPngName, QStringLiteral("System"));

    QMenu *m = c->BuildModuleMenu(101);
    ASSERT_EQ(m->actions().size(), 1);
    QMenu *group = m->actions()[0]->menu();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(m->actions()[0]->text(), QStringLiteral("公告管理"));
    ASSERT_EQ(group->actions().size(), 1);
    EXPECT_EQ(group->actions()[0]->text(), QStringLiteral("公告发表"));
    EXPECT_FALSE(group->actions()[0]->isEnabled()); // offline and not offline-enabled


    // A module header with its own function runs it instead of opening a menu.
    c->ShowPPMenu(c->ppSys, 102);
    EXPECT_EQ(sentry().calls, QStringList{QStringLiteral("fNotify")});

    // The system-menu button unchecks every module button.
    c->SetModuleCheck(101);
    c->SkinClick(-5, 0);
    QApplication::processEvents();
    EXPECT_FALSE(c->control(4).bCheck);
    c->ppSys->hide();

    // Offline: the super administrator's items stay hidden, offline-only rules apply.
    EXPECT_FALSE(c->menuItem(QStringLiteral("MIOR"))->isVisible());
    EXPECT_FALSE(c->menuItem(QStringLiteral("MIOpLog"))->isVisible());
    EXPECT_TRUE(c->menuItem(QStringLiteral("MIAbort"))->isVisible());
    EXPECT_TRUE(c->menuItem(QStringLiteral("MIN1"))->isVisible());

    // A group whose entries are all hidden offline is a plain item without a function:
    // choosing it does nothing (no message about function names).
    host::g_lstVars->setValue(
        QStringLiteral("SysMenu"),
        QStringList{rec(QStringLiteral("100"), QStringLiteral("003.000.000"), QStringLiteral("财务"), {}),
                    rec(QStringLiteral("101"), QStringLiteral("003.001.000"), QStringLiteral("到付款"), {})}
            .join(u'/'));
    c->BuildModuleBar();
    QMenu *empty = c->BuildModuleMenu(101);
    ASSERT_GE(empty->actions().size(), 1);
    // Offline it says why it does nothing, and stays off.
    EXPECT_EQ(empty->actions()[0]->text(), QStringLiteral("到付款（需要联网）"));
    EXPECT_FALSE(empty->actions()[0]->isEnabled());
    const qsizetype before = presenter->shown.size();
    sentry().calls.clear();
    empty->actions()[0]->trigger();
    EXPECT_TRUE(sentry().calls.isEmpty());
    EXPECT_EQ(presenter->shown.size(), before);
}

TEST_F(ClientTest, ABadMenuSequenceNumberFailsTheBuild)
{
    auto c = makeClient();
    host::g_lstVars->setValue(QStringLiteral("SysMenu"), QStringLiteral("x\x0e"
                                                                        "001.000.000"));
    EXPECT_THROW(c->BuildModuleBar(), host::UserError);
}

TEST(ErrorDisplay, UserErrorsAreShownAndSilentAbortsSwallowed)
{
    auto p = std::make_unique<host::ScriptedPresenter>();
    auto *presenter = p.get();
    host::setDialogPresenter(std::move(p));
    host::guarded([] { throw host::UserError(QStringLiteral("网点不存在")); });
    host::guarded([] { throw host::SilentAbort(); });
    host::guarded([] { throw std::runtime_error("disk full"); });
    ASSERT_EQ(presenter->shown.size(), 2);
    EXPECT_EQ(presenter->shown[0].caption, QStringLiteral("错误"));
    EXPECT_EQ(presenter->shown[0].text, QStringLiteral("网点不存在"));
    // A technical text is wrapped: Chinese for the user, the original folded away.
    EXPECT_TRUE(host::looksChinese(presenter->shown[1].text));
    EXPECT_EQ(presenter->shown[1].details, QStringLiteral("disk full"));
    host::setDialogPresenter(nullptr);
}

TEST_F(ClientTest, TrayMessagesAndThePageMenu)
{
    auto c = makeClient();
    c->show();
    c->WMTrayNotify(Qt::LeftButton);
    EXPECT_FALSE(c->isVisible());
    c->WMTrayNotify(Qt::LeftButton);
    EXPECT_TRUE(c->isVisible());
    c->WMTrayNotify(Qt::RightButton);
    EXPECT_TRUE(c->isVisible());

    c->RzPgeCtrl->addTab(new QWidget, QStringLiteral("公告发表"));
    c->RzPgeCtrl->addTab(new QWidget, QStringLiteral("中心账查询"));
    c->RzPgeCtrl->setCurrentIndex(0);
    auto *button = c->RzPgeCtrl->findChild<QToolButton *>(QStringLiteral("RzPgeCtrlMenu"));
    ASSERT_NE(button, nullptr);
    QMenu *menu = button->menu();
    emit menu->aboutToShow();
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_TRUE(menu->actions()[0]->isChecked());
    EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("中心账查询"));
    menu->actions()[1]->trigger();
    EXPECT_EQ(c->RzPgeCtrl->currentIndex(), 1);
}

#include "fclient_test.moc"
