// px_Tuner: the dispatch and its dialog ownership, the skin dialog with the configuration
// file, the cipher tool, and the log and update windows against a real in-process
// application server (SQLite here, PostgreSQL as "pg.").
#include "baseforms/dbcontrols.h"
#include "baseforms/environment.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/linecipher.h"
#include "host/uintf.h"
#include "modules/tuner/fdencrypt.h"
#include "modules/tuner/fstyleset.h"
#include "modules/tuner/fsyslog.h"
#include "modules/tuner/logcaptions.h"
#include "modules/tuner/fsysupdate.h"
#include "modules/tuner/modalframe.h"
#include "modules/tuner/udm_func.h"
#include "server/oplog.h"
#include "server/tests/testserver.h"
#include "tests/support/testday.h"
#include "tests/support/windowtest.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tuner;
using quillon::TMyDataSet;

namespace {

class TunerDialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        tessera::setAppPath(m_dir.path());
        tessera::setConfigFileName(m_dir.filePath(QStringLiteral("waylink.ini")));
        auto p = std::make_unique<host::ScriptedPresenter>();
        presenter = p.get();
        host::setDialogPresenter(std::move(p));
        host::g_FuncObj = host::CFuncObj();
        DM_Func()->openScript = [this](const QString &path) {
            scripts << path;
            return true;
        };
        DM_Func()->terminate = [this](int code) { exits << code; };
        host::g_lstVars->setValue(QStringLiteral("BackSkin"), QString());
    }
    void TearDown() override
    {
        if (DM_Func()->fStyleSet)
            delete DM_Func()->fStyleSet->frame();
        host::setDialogPresenter(nullptr);
        tessera::setConfigFileName(QString());
        tessera::setAppPath(QString());
    }

    void writePreviews()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("_jpg"));
        for (int n = 1; n <= 10; ++n) {
            QImage img(40, 30, QImage::Format_RGB32);
            img.fill(QColor::fromHsv(n * 30, 200, 200));
            ASSERT_TRUE(img.save(m_dir.filePath(QStringLiteral("_jpg/fg%1.jpg").arg(n))));
        }
    }
    QStringList readConfig()
    {
        QFile f(tessera::configFileName());
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
    void writeConfig(const QStringList &lines)
    {
        QFile f(tessera::configFileName());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    }
    static QString enc(const QString &s) { return host::g_FuncObj->EncryptStr(s, 0); }
    static QString dec(const QString &s) { return host::g_FuncObj->DecryptStr(s, 0); }
    TfStyleSet *openStyleSet()
    {
        DM_Func()->ExecFunc(QStringLiteral("fStyleSet"), QStringLiteral("界面风格"), {}, {}, 0);
        return DM_Func()->fStyleSet;
    }
    QStringList shownTexts() const
    {
        QStringList t;
        for (const auto &s : presenter->shown)
            t << s.text;
        return t;
    }

    QTemporaryDir m_dir;
    host::ScriptedPresenter *presenter = nullptr;
    QStringList scripts;
    QList<int> exits;
};

TEST_F(TunerDialogs, CipherDialogIsKeptAndSkinDialogMadeAfreshForEachCall)
{
    writePreviews();
    DM_Func()->ExecFunc(QStringLiteral("fDEncrypt"), QStringLiteral("加密解密"), {}, {}, 0);
    QPointer<TfDEncrypt> first = DM_Func()->fDEncrypt;
    ASSERT_TRUE(first);
    first->mmoSource->setPlainText(QStringLiteral("保留的文字"));
    first->close(); // closing only hides it
    DM_Func()->ExecFunc(QStringLiteral("FDENCRYPT"), QStringLiteral("加密解密"), {}, {}, 0);
    ASSERT_EQ(presenter->dialogsShown.size(), 2);
    EXPECT_EQ(presenter->dialogsShown.at(0), presenter->dialogsShown.at(1));
    EXPECT_EQ(DM_Func()->fDEncrypt, first);
    EXPECT_EQ(first->mmoSource->toPlainText(), QStringLiteral("保留的文字"));

    QPointer<TfStyleSet> a = openStyleSet();
    ASSERT_TRUE(a);
    a->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(a);                 // freed with its dialog
    EXPECT_FALSE(DM_Func()->fStyleSet);
    QPointer<TfStyleSet> b = openStyleSet();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->lstImg->count(), 10);
    EXPECT_TRUE(shownTexts().isEmpty()) << qPrintable(shownTexts().join(u'|'));

    // Unknown functions are ignored.
    EXPECT_NO_THROW(DM_Func()->ExecFunc(QStringLiteral("fNothing"), {}, {}, {}, 0));
}

TEST_F(TunerDialogs, SkinListSelectsTheStoredNumberAndWarnsOfMissingPictures)
{
    writePreviews();
    const struct
    {
        const char *backSkin;
        int row;
    } cases[] = {{"", 0}, {"abc", 0}, {"4", 3}, {"10", 9}, {"11", 0}, {"0", 0}, {"-2", 0}};
    for (const auto &c : cases) {
        host::g_lstVars->setValue(QStringLiteral("BackSkin"), QString::fromLatin1(c.backSkin));
        TfStyleSet *form = openStyleSet();
        EXPECT_EQ(form->lstImg->currentRow(), c.row) << c.backSkin;
        EXPECT_FALSE(form->imgView->pixmap().isNull()) << c.backSkin;
        EXPECT_EQ(form->lstImg->item(0)->text(), QStringLiteral("默认"));
        EXPECT_EQ(form->lstImg->item(9)->text(), QStringLiteral("风格9"));
        delete form->frame();
    }
    // A missing preview: the warning names the file, the old picture stays.
    QFile::remove(m_dir.filePath(QStringLiteral("_jpg/fg3.jpg")));
    TfStyleSet *form = openStyleSet();
    const qint64 before = form->imgView->pixmap().cacheKey();
    form->lstImg->setCurrentRow(2);
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown.first().kind, host::MessageKind::Warning);
    EXPECT_TRUE(presenter->shown.first().text.startsWith(QStringLiteral("文件不存在!")));
    EXPECT_TRUE(presenter->shown.first().text.endsWith(QStringLiteral("fg3.jpg")));
    EXPECT_EQ(form->imgView->pixmap().cacheKey(), before);
}

TEST_F(TunerDialogs, SavingWritesTheNumberEncryptedAndKeepsColourLinesPlain)
{
    writePreviews();
    writeConfig({enc(QStringLiteral("[Config]")), enc(QStringLiteral("apptitle=快递管理")),
                 enc(QStringLiteral("SysType=1")), enc(QStringLiteral("BackSkin=2")),
                 QStringLiteral("[C_sysColor]"), QStringLiteral("C_MainColor=16250356")});
    QFile script(m_dir.filePath(QStringLiteral("ReStart.sh")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.close();
    TfStyleSet *form = openStyleSet();
    form->lstImg->setCurrentRow(3); // 风格3
    presenter->answers = {host::Answer::No};
    form->executeAction(form->actSave);
    EXPECT_EQ(host::g_lstVars->value(QStringLiteral("BackSkin")), QStringLiteral("4"));
    QStringList lines = readConfig();
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(dec(lines.at(3)), QStringLiteral("BackSkin=4"));
    EXPECT_NE(lines.at(3), QStringLiteral("BackSkin=4"));
    EXPECT_EQ(dec(lines.at(1)), QStringLiteral("apptitle=快递管理"));
    EXPECT_EQ(lines.at(4), QStringLiteral("[C_sysColor]"));
    EXPECT_EQ(lines.at(5), QStringLiteral("C_MainColor=16250356"));
    EXPECT_TRUE(scripts.isEmpty()); // declined: the program goes on

    // A file without the key gets it in the first section; yes restarts the program.
    writeConfig({enc(QStringLiteral("[Config]")), enc(QStringLiteral("SysType=1")),
                 QStringLiteral("[C_sysColor]"), QStringLiteral("C_MainColor=1")});
    form->lstImg->setCurrentRow(0);
    presenter->answers = {host::Answer::Yes};
    form->executeAction(form->actSave);
    lines = readConfig();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(dec(lines.at(2)), QStringLiteral("BackSkin=1"));
    EXPECT_EQ(lines.at(3), QStringLiteral("[C_sysColor]"));
    ASSERT_EQ(scripts.size(), 1);
    EXPECT_TRUE(scripts.first().endsWith(QStringLiteral("ReStart.sh")));
    EXPECT_EQ(exits, QList<int>{0});
}

TEST_F(TunerDialogs, ConfigurationFileKeepsItsFormAndIsNeverHalfWritten)
{
    writePreviews();
    // A plain file stays plain.
    writeConfig({QStringLiteral("[Config]"), QStringLiteral("BackSkin=1"), QStringLiteral("SvrLst=本机")});
    EXPECT_TRUE(TfStyleSet::SaveIniValue(QStringLiteral("backskin"), QStringLiteral("7")));
    EXPECT_EQ(readConfig(), (QStringList{QStringLiteral("[Config]"), QStringLiteral("BackSkin=7"),
                                         QStringLiteral("SvrLst=本机")}));

    // A line that does not decrypt stops the save before anything is written.
    const QStringList damaged = {enc(QStringLiteral("[Config]")), QStringLiteral("WL1:broken"),
                                 enc(QStringLiteral("BackSkin=2"))};
    writeConfig(damaged);
    TfStyleSet *form = openStyleSet();
    form->lstImg->setCurrentRow(5);
    form->executeAction(form->actSave);
    EXPECT_EQ(readConfig(), damaged);
    ASSERT_FALSE(presenter->shown.isEmpty());
    EXPECT_TRUE(presenter->shown.last().text.contains(QStringLiteral("第 2 行无法解密")))
        << qPrintable(presenter->shown.last().text);
    EXPECT_TRUE(scripts.isEmpty());

    // No configuration file: the number lives in the shared variables only.
    QFile::remove(tessera::configFileName());
    presenter->answers = {host::Answer::No};
    form->executeAction(form->actSave);
    EXPECT_EQ(host::g_lstVars->value(QStringLiteral("BackSkin")), QStringLiteral("6"));
    EXPECT_FALSE(QFile::exists(tessera::configFileName()));
}

TEST_F(TunerDialogs, CipherToolConvertsLineByLineAndStopsAtABadLine)
{
    DM_Func()->ExecFunc(QStringLiteral("fDEncrypt"), QString(), {}, {}, 0);
    TfDEncrypt *d = DM_Func()->fDEncrypt;
    ASSERT_TRUE(d);
    d->mmoSource->setPlainText(QStringLiteral("SvrLst=本机\n\n  LogOnUser=001.zhang "));
    d->btnEncrypt->click();
    const QStringList encrypted = d->mmoResult->toPlainText().split(u'\n');
    ASSERT_EQ(encrypted.size(), 2);
    EXPECT_NE(encrypted.at(0), QStringLiteral("SvrLst=本机"));
    d->mmoSource->setPlainText(encrypted.join(u'\n'));
    d->btnDecrypt->click();
    EXPECT_EQ(d->mmoResult->toPlainText(), QStringLiteral("SvrLst=本机\n  LogOnUser=001.zhang "));

    // Blank input leaves the output as it is.
    d->mmoSource->setPlainText(QStringLiteral("  \n \n"));
    d->btnEncrypt->click();
    EXPECT_EQ(d->mmoResult->toPlainText(), QStringLiteral("SvrLst=本机\n  LogOnUser=001.zhang "));

    // A bad line: the lines before it stay, the user learns which line failed.
    d->mmoSource->setPlainText(encrypted.at(0) + QStringLiteral("\nnot a cipher line\n") + encrypted.at(1));
    presenter->shown.clear();
    d->btnDecrypt->click();
    EXPECT_EQ(d->mmoResult->toPlainText(), QStringLiteral("SvrLst=本机"));
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_TRUE(presenter->shown.first().text.startsWith(QStringLiteral("第 2 行无法解密")))
        << qPrintable(presenter->shown.first().text);
}

// ---- against the application server ------------------------------------------------------

class TunerServer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_srv = new server::test::TestServer(20);
        // The window is under test here, not the roles: the site clerk may write the register
        // and read the operation log.
        auto c = s_srv->backend->acquireForServer();
        server::test::grantToEveryone(*c, QStringLiteral("sys_update"));
        for (const char *table : {"sys_log", "sys_logchain", "SYS_TABLES"})
            server::test::grantToEveryone(*c, QString::fromLatin1(table), QStringLiteral("R"));
    }
    static void TearDownTestSuite()
    {
        delete s_srv;
        s_srv = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // Rows stored "now" and windows that open on today: the test runs within one day.
        testsupport::settledNow();
        presenter = testsupport::prepareWindowTest(m_dir.path());
        testsupport::pointAt(m_conn, s_srv->http->port(), QStringLiteral("101"), QStringLiteral("001.zhang"));
        host::setConnection(&m_conn);
        DM_Func()->InitConn();
        host::g_lstVars->setValue(QStringLiteral("sysid"), QStringLiteral("001"));
        host::g_lstVars->setValue(QStringLiteral("LogOnSiteName"), QStringLiteral("上海浦东"));
        host::g_lstVars->setValue(QStringLiteral("LogOnEmpName"), QStringLiteral("马超"));
        host::ParentCtrl = &m_tabs;
    }
    void TearDown() override
    {
        while (m_tabs.count() > 0)
            delete m_tabs.widget(0);
        host::ParentCtrl = nullptr;
        host::setConnection(nullptr);
        DM_Func()->cnServer = nullptr;
        host::setDialogPresenter(nullptr);
        tessera::setAppPath(QString());
    }
    template<class Form> Form *open(const QString &func)
    {
        DM_Func()->ExecFunc(func, QString(), {}, {}, 0);
        return m_tabs.count() ? qobject_cast<Form *>(m_tabs.currentWidget()) : nullptr;
    }
    static qlonglong count(const QString &sql, const QVariantList &params = {})
    {
        return s_srv->native(sql, params).rows.value(0).value(0).toLongLong();
    }
    static void addLog(const QString &sysid, const QString &table, const QString &type)
    {
        auto c = s_srv->backend->acquireForServer();
        server::Transaction t(*c);
        server::OpLogEntry e;
        e.tableName = table;
        e.key = QStringLiteral("660000009999");
        e.opType = type;
        e.content = QStringLiteral("WEIGHT: 1 -> 2");
        server::appendOpLog(*c, sysid, {e});
        t.commit();
    }
    static QStringList column(TMyDataSet *ds, const char *field)
    {
        QStringList out;
        for (ds->First(); !ds->Eof(); ds->Next())
            out << ds->FieldByName(QString::fromLatin1(field))->AsString();
        return out;
    }

    static inline server::test::TestServer *s_srv = nullptr;
    QTemporaryDir m_dir;
    quillon::TMySktConnection m_conn;
    host::ScriptedPresenter *presenter = nullptr;
    QTabWidget m_tabs;
};

TEST_F(TunerServer, LogQueryFollowsTimeTableAndKind)
{
    addLog(QStringLiteral("002"), QStringLiteral("TAB_ACCOUNT"), QStringLiteral("UPT"));
    // The day is taken before the window opens: a run that crosses midnight still agrees.
    const QString today = testsupport::settledNow().date().toString(QStringLiteral("yyyy-MM-dd"));
    auto *log = open<TfSysLog>(QStringLiteral("FSYSLOG"));
    ASSERT_TRUE(log);
    addLog(QStringLiteral("001"), QStringLiteral("TAB_HAND"), QStringLiteral("UPT"));
    EXPECT_EQ(log->objectName(), QStringLiteral("fSysLog"));
    // The table list: an empty item, the tables SYS_TABLES lists, then those the server
    // always logs, by their captions.
    ASSERT_EQ(log->cboTable->count(), 1 + 3 + int(tuner::loggedAlways().size()));
    EXPECT_EQ(log->cboTable->itemText(0), QString());
    EXPECT_EQ(log->cboTable->findText(QStringLiteral("TAB_HAND")), -1);
    EXPECT_EQ(log->cboType->currentIndex(), -1);

    const QVariantList range = {QVariant(today + QStringLiteral(" 00:00:00")),
                                QVariant(today + QStringLiteral(" 23:59:59"))};
    log->executeAction(log->actQuery);
    const QStringList ids = column(log->cdsData, "ID");
    EXPECT_EQ(ids.size(), count(QStringLiteral("select count(*) from sys_log where sysid='001' and optime "
                                               "between ? and ?"),
                                range));
    EXPECT_GT(ids.size(), 1);
    const QString foreignId = s_srv->native(QStringLiteral("select id from sys_log where sysid='002'"))
                                  .rows.value(0).value(0).toString();
    EXPECT_FALSE(ids.contains(foreignId));

    log->cboTable->setEditText(QStringLiteral("TAB_HAND")); // not in the list
    log->executeAction(log->actQuery);
    EXPECT_EQ(column(log->cdsData, "TABLENAME"), QStringList{QStringLiteral("TAB_HAND")});

    log->cboTable->setCurrentIndex(0);
    log->cboType->setCurrentIndex(2); // 删除
    log->dtDateB->setDateTime(QDateTime::currentDateTime().addDays(-12));
    log->executeAction(log->actQuery);
    const QStringList types = column(log->cdsData, "OPTYPE");
    ASSERT_FALSE(types.isEmpty());
    EXPECT_EQ(types.count(QStringLiteral("DEL")), types.size());
    EXPECT_EQ(types.size(), count(QStringLiteral("select count(*) from sys_log where sysid='001' and optype='DEL'")));
    EXPECT_TRUE(log->actExport->isEnabled());
}

// Every kind the log holds can be chosen; tables, kinds and columns show with the windows'
// captions and their technical names; 切换 is on the tool bar.
TEST_F(TunerServer, LogShowsCaptionsEveryKindAndSwitch)
{
    addLog(QStringLiteral("001"), QStringLiteral("sys_user"), QStringLiteral("INS"));
    auto *log = open<TfSysLog>(QStringLiteral("FSYSLOG"));
    ASSERT_TRUE(log);
    QStringList kinds;
    for (int i = 0; i < log->cboType->count(); ++i)
        kinds << log->cboType->itemText(i);
    EXPECT_EQ(kinds.mid(0, 3), (QStringList{QString(), QStringLiteral("修改"), QStringLiteral("删除")}));
    EXPECT_TRUE(kinds.contains(QStringLiteral("新增"))) << qPrintable(kinds.join(u','));
    const int account = log->cboTable->findText(QStringLiteral("中心账单（TAB_ACCOUNT）"));
    ASSERT_GT(account, 0);
    EXPECT_EQ(log->cboTable->itemData(account, Qt::ToolTipRole).toString(), QStringLiteral("TAB_ACCOUNT"));
    EXPECT_GT(log->cboTable->findText(QStringLiteral("用户（sys_user）")), 0);

    log->cboType->setCurrentIndex(int(kinds.indexOf(QStringLiteral("新增"))));
    log->executeAction(log->actQuery);
    EXPECT_EQ(column(log->cdsData, "OPTYPE"), QStringList{QStringLiteral("INS")});
    EXPECT_EQ(column(log->cdsData, "OPTYPECAPTION"), QStringList{QStringLiteral("新增")});
    EXPECT_EQ(column(log->cdsData, "TABLECAPTION"), QStringList{QStringLiteral("用户")});

    log->cboType->setCurrentIndex(0);
    log->cboTable->setCurrentIndex(account);
    log->dtDateB->setDateTime(QDateTime::currentDateTime().addDays(-12));
    log->executeAction(log->actQuery);
    const QStringList shown = column(log->cdsData, "CONTENTSHOWN");
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(column(log->cdsData, "TABLENAME").count(QStringLiteral("TAB_ACCOUNT")), shown.size());
    EXPECT_TRUE(shown.join(u'\n').contains(QStringLiteral("重量(WEIGHT): "))) << qPrintable(shown.first());

    bool switchShown = false;
    for (QAction *a : log->tbTool->actions())
        switchShown = switchShown || (a->objectName() == QLatin1String("tbSwitchHolder") && a->isVisible());
    EXPECT_TRUE(switchShown);
    const Qt::LayoutDirection before = log->gbOption->layoutDirection();
    log->executeAction(log->actSwitch);
    EXPECT_NE(log->gbOption->layoutDirection(), before);
}

TEST(TunerCaptions, ContentShowsColumnCaptionsBesideTheirNames)
{
    EXPECT_EQ(tuner::contentWithCaptions(QStringLiteral("TAB_DFKRECORD"),
                                         QStringLiteral("WEIGHT: 1 -> 2; REMARK: a: b -> c; NOPE: 1 -> 2")),
              QStringLiteral("重量(WEIGHT): 1 -> 2; 备注(REMARK): a: b -> c; NOPE: 1 -> 2"));
    EXPECT_EQ(tuner::contentWithCaptions(QStringLiteral("tab_dfkrecord"),
                                         QStringLiteral("删除记录: BILLCODE: 66; MONEY: 5")),
              QStringLiteral("删除记录: 运单编号(BILLCODE): 66; 到付款(MONEY): 5"));
    EXPECT_EQ(tuner::contentWithCaptions(QStringLiteral("UNKNOWN"), QStringLiteral("WEIGHT: 1 -> 2")),
              QStringLiteral("WEIGHT: 1 -> 2"));
    EXPECT_EQ(tuner::opTypeCaption(QStringLiteral("XYZ")), QStringLiteral("XYZ"));
}

TEST_F(TunerServer, UpdateRegisterNewRowsNameFilterAndFlag)
{
    for (const char *name : {"xa'b%_y.dll", "xa'bXYy.dll", "a'b.dll"})
        s_srv->backend->acquireForServer()->execute(
            QStringLiteral("insert into sys_update (id, utheme, udllname, utime, UFLAG, sysid) values "
                           "(?, '测试', ?, ?, '0', '001')"),
            {int(5000 + qHash(QString::fromUtf8(name)) % 1000), QString::fromUtf8(name),
             QDateTime::currentDateTime()});
    auto *w = open<TfSysUpdate>(QStringLiteral("fSysUpdate"));
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->rzszpnl1->isVisibleTo(w));
    w->edtDllName->setText(QStringLiteral("a'b%_"));
    w->executeAction(w->actQuery);
    EXPECT_EQ(column(w->cdsData, "UDLLNAME"), QStringList{QStringLiteral("xa'b%_y.dll")});
    w->edtDllName->clear();
    w->executeAction(w->actQuery);
    EXPECT_GE(w->cdsData->RecordCount(), 3);

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    w->executeAction(w->actNew);
    ASSERT_EQ(w->cdsData->State(), quillon::DataSetState::Insert);
    const qlonglong id = w->cdsData->FieldByName(QStringLiteral("ID"))->AsLargeInt();
    EXPECT_GE(id, 0);
    EXPECT_LT(id, 999999999);
    EXPECT_GE(w->cdsData->FieldByName(QStringLiteral("UTIME"))->AsDateTime(), before);
    EXPECT_EQ(w->cdsData->FieldByName(QStringLiteral("UEMP"))->AsString(), QStringLiteral("马超"));
    w->edtUTHEME->setText(QStringLiteral("新版本"));
    w->edtUTHEME->updateRecord();
    w->chkFlag->setChecked(true);
    EXPECT_EQ(w->cdsData->FieldByName(QStringLiteral("UFLAG"))->AsString(), QStringLiteral("1"));
    w->chkFlag->setChecked(false);
    EXPECT_EQ(w->cdsData->FieldByName(QStringLiteral("UFLAG"))->AsString(), QStringLiteral("0"));
    w->chkFlag->setChecked(true);
    w->executeAction(w->actSave);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_update where id=? and UFLAG='1' and "
                                   "utheme='新版本' and uemp='马超' and sysid='001'"),
                    {id}),
              1);
}

TEST_F(TunerServer, ACollidingNewIdIsToldAndTheRowStaysPending)
{
    auto *w = open<TfSysUpdate>(QStringLiteral("fSysUpdate"));
    ASSERT_TRUE(w);
    w->executeAction(w->actQuery);
    w->executeAction(w->actNew);
    w->cdsData->FieldByName(QStringLiteral("ID"))->SetAsInteger(100000); // a seeded release
    w->cdsData->FieldByName(QStringLiteral("UTHEME"))->SetAsString(QStringLiteral("重复编号"));
    const qlonglong before = count(QStringLiteral("select count(*) from sys_update"));
    w->executeAction(w->actSave);
    ASSERT_FALSE(presenter->shown.isEmpty());
    EXPECT_TRUE(presenter->shown.last().text.contains(QStringLiteral("编号与已有记录重复")))
        << qPrintable(presenter->shown.last().text);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_update")), before);
    EXPECT_GT(w->cdsData->ChangeCount(), 0); // still pending, now under a fresh id
    EXPECT_NE(w->cdsData->FieldByName(QStringLiteral("ID"))->AsInteger(), 100000);
    w->executeAction(w->actSave);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_update where utheme='重复编号'")), 1);
    EXPECT_EQ(w->cdsData->ChangeCount(), 0);
}

TEST_F(TunerServer, AFailureWhileNewIdsAreGivenIsToldAndNoIdIsClaimed)
{
    auto *w = open<TfSysUpdate>(QStringLiteral("fSysUpdate"));
    ASSERT_TRUE(w);
    w->executeAction(w->actQuery);
    w->executeAction(w->actNew);
    w->cdsData->FieldByName(QStringLiteral("ID"))->SetAsInteger(100000); // a seeded release
    w->cdsData->FieldByName(QStringLiteral("UTHEME"))->SetAsString(QStringLiteral("重复编号二"));
    w->cdsData->Post();
    // The renumbering cannot post its change.
    w->cdsData->BeforePost = [](quillon::TMyDataSet &) {
        throw quillon::DataSetError(QStringLiteral("不能保存这一行"));
    };
    w->executeAction(w->actSave);
    ASSERT_FALSE(presenter->shown.isEmpty());
    const QString text = presenter->shown.last().text;
    EXPECT_TRUE(text.contains(QStringLiteral("换新编号时出错，编号没有改动"))) << qPrintable(text);
    EXPECT_FALSE(text.contains(QStringLiteral("已为新增记录换了新编号"))) << qPrintable(text);
    EXPECT_EQ(w->cdsData->State(), quillon::DataSetState::Browse);
    EXPECT_FALSE(w->cdsData->ControlsDisabled());
    ASSERT_TRUE(w->cdsData->Locate(QStringLiteral("UTHEME"), QStringLiteral("重复编号二")));
    EXPECT_EQ(w->cdsData->FieldByName(QStringLiteral("ID"))->AsInteger(), 100000);
    EXPECT_GT(w->cdsData->ChangeCount(), 0);
    w->cdsData->BeforePost = nullptr;
}

TEST(TunerPattern, DllNameIsOneLiteralPattern)
{
    EXPECT_EQ(TfSysUpdate::containsPattern(QStringLiteral("a'b%_\\")),
              QStringLiteral("'%a''b\\%\\_\\\\%' escape '\\'"));
}


// The window's own question, asked on a server connection that no deployment restricts:
// what it would return if the server's filter ever failed.
static QStringList unfiltered(server::test::TestServer *srv, const QString &sql, const char *field)
{
    auto c = srv->backend->acquireForServer();
    const server::QueryResult r = c->query(c->translate(sql).sql, {}, true);
    int col = -1;
    for (int i = 0; i < r.fields.size(); ++i)
        if (r.fields.at(i).name.compare(QLatin1String(field), Qt::CaseInsensitive) == 0)
            col = i;
    EXPECT_GE(col, 0) << field;
    QStringList out;
    for (const QVariantList &row : r.rows)
        out << row.value(col).toString();
    return out;
}

TEST_F(TunerServer, LogWindowAsksForChangesOfItsOwnDeploymentAndTakesAnyTableName)
{
    addLog(QStringLiteral("002"), QStringLiteral("TAB_ACCOUNT"), QStringLiteral("UPT"));
    addLog(QStringLiteral("001"), QStringLiteral("TAB_O'X"), QStringLiteral("DEL"));
    const QString foreignId = s_srv->native(QStringLiteral("select max(id) from sys_log where sysid='002'"))
                                  .rows.value(0).value(0).toString();
    auto *log = open<TfSysLog>(QStringLiteral("fSysLog"));
    ASSERT_TRUE(log);
    log->dtDateB->setDateTime(QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
    log->dtDateE->setDateTime(QDateTime(QDate::currentDate().addDays(2), QTime(0, 0)));

    // 修改 lists the changes, every one of them.
    log->cboType->setCurrentIndex(1);
    ASSERT_EQ(log->cboType->currentText(), QStringLiteral("修改"));
    log->executeAction(log->actQuery);
    const QStringList types = column(log->cdsData, "OPTYPE");
    const qlonglong changes = count(QStringLiteral("select count(*) from sys_log where sysid='001' and optype='UPT'"));
    ASSERT_GT(changes, 0);
    EXPECT_EQ(types.size(), changes);
    EXPECT_EQ(types.count(QStringLiteral("UPT")), types.size());
    // Past the server's filter the window's text still asks for 001 only.
    const QStringList ids = unfiltered(s_srv, log->GetSql(), "id");
    EXPECT_EQ(ids.size(), changes);
    EXPECT_FALSE(ids.contains(foreignId));

    // A typed table name with a quote is one literal.
    log->cboType->setCurrentIndex(0);
    log->cboTable->setEditText(QStringLiteral("TAB_O'X"));
    log->executeAction(log->actQuery);
    EXPECT_TRUE(presenter->shown.isEmpty()) << qPrintable(presenter->shown.value(0).text);
    EXPECT_EQ(column(log->cdsData, "TABLENAME"), QStringList{QStringLiteral("TAB_O'X")});
}

TEST_F(TunerServer, UpdateRegisterListsItsDeploymentWithinBothDateBounds)
{
    const QDateTime now = QDateTime::currentDateTime();
    const struct
    {
        int id;
        const char *dll;
        int daysAgo;
        const char *sysid;
    } rows[] = {{7001, "old.dll", 10, "001"}, {7002, "new.dll", 0, "001"}, {7003, "foreign.dll", 0, "002"}};
    for (const auto &r : rows)
        s_srv->native(QStringLiteral("insert into sys_update (id, utheme, udllname, utime, UFLAG, sysid) values "
                                     "(?, '范围', ?, ?, '0', ?)"),
                      {r.id, QString::fromLatin1(r.dll), now.addDays(-r.daysAgo), QString::fromLatin1(r.sysid)});
    auto *w = open<TfSysUpdate>(QStringLiteral("fSysUpdate"));
    ASSERT_TRUE(w);
    w->edtDllName->setText(QStringLiteral(".dll"));
    w->executeAction(w->actQuery);
    QStringList names = column(w->cdsData, "UDLLNAME");
    EXPECT_TRUE(names.contains(QStringLiteral("new.dll")));
    EXPECT_FALSE(names.contains(QStringLiteral("old.dll"))); // before today's start
    EXPECT_FALSE(names.contains(QStringLiteral("foreign.dll")));
    names = unfiltered(s_srv, w->GetSql(), "udllname");
    EXPECT_TRUE(names.contains(QStringLiteral("new.dll")));
    EXPECT_FALSE(names.contains(QStringLiteral("foreign.dll")));
    EXPECT_FALSE(names.contains(QStringLiteral("old.dll")));

    w->dtDateB->setDateTime(now.addDays(-11));
    w->executeAction(w->actQuery);
    names = column(w->cdsData, "UDLLNAME");
    EXPECT_TRUE(names.contains(QStringLiteral("old.dll")));
    EXPECT_TRUE(names.contains(QStringLiteral("new.dll")));
    EXPECT_FALSE(unfiltered(s_srv, w->GetSql(), "udllname").contains(QStringLiteral("foreign.dll")));
    s_srv->native(QStringLiteral("delete from sys_update where id in (7001, 7002, 7003)"));
}

} // namespace
