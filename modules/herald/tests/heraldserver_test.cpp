// Publishing and reading notices end to end: the windows of px_Herald against the
// application server, started in-process on a loopback port with a seeded SQLite database.
#include "baseforms/environment.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/moduleservice.h"
#include "host/uintf.h"
#include "modules/herald/fmanagermessage.h"
#include "modules/herald/fnoreadmessage.h"
#include "modules/herald/fquerymessage.h"
#include "modules/herald/freadqmessage.h"
#include "baseforms/fdblookupdlg.h"
#include "baseforms/mydbxedit.h"
#include "modules/herald/fsendmessage.h"
#include "modules/herald/udm_func.h"
#include "richedit/richeditor.h"
#include "server/tables.h"
#include "server/tests/testserver.h"
#include "tests/support/testday.h"
#include "tests/support/windowtest.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QFileInfo>
#include <QLabel>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace herald;
using quillon::TMyDataSet;

namespace {

// Stands in for px_Toolbox: answers each lookup with the next prepared "ReturnData".
class FakeToolbox : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &callfunc, const QString &, const QString &, const QStringList &,
                  int) override
    {
        calls << callfunc + QLatin1Char(':') + host::g_lstVars->value(QStringLiteral("DlgSelectSQL"))
                     + QLatin1Char(':') + host::g_lstVars->value(QStringLiteral("DlgReturn"));
        host::g_lstVars->setValue(QStringLiteral("ReturnData"),
                                  answers.isEmpty() ? QStringLiteral("CANCEL") : answers.takeFirst());
    }
    QStringList answers;
    QStringList calls;
};

class HeraldServer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_srv = new server::test::TestServer(5);
        // These tests read as readers of other sites (their variables, one session): receipts
        // may name another reader, as for a holder of notice management. Who-did-it refusals
        // are the server tests' subject.
        auto c = s_srv->backend->acquireForServer();
        server::test::grantToEveryone(*c, QStringLiteral("TAB_MSGREAD"), QStringLiteral("RIU"));
        // 001.zhang, whose session these tests use, reads every notice as a notice manager
        // does, through a function of his role (网点财务) that 001.wang's lacks; 001.wang
        // reads only her own notices (what else she cannot see: the server tests, NoticeScope).
        for (const QString &t : server::noticeTables())
            c->execute(QStringLiteral("insert into sys_functable (FUNCNAME, TABLENAME, OPS, sysid) "
                                      "values ('px_Tally.fDFKEdt', ?, 'R', '001')"),
                       {t});
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
        signOn(m_conn, QStringLiteral("101"), QStringLiteral("001.zhang"));
        host::setConnection(&m_conn);
        DM_Func()->InitConn();
        DM_Func()->openLocalFile = [this](const QString &f) {
            opened << f;
            return true;
        };
        setUser(QStringLiteral("上海浦东"), QStringLiteral("马超"));
        host::ModuleService::instance().registerModule(QStringLiteral("px_Toolbox"), &toolbox);

        m_employees = new TMyDataSet;
        m_employees->SetMyConn(DM_Func()->cnServer);
        DM_Func()->OpenCds(m_employees, QStringLiteral("select EmpCode,EmpName,BELONGSITE from "
                                                       "tab_Employee where sysid='001'"));
        host::g_lstVars->attachTo(QStringLiteral("cdsEmployeeAll"), m_employees);
    }

    void TearDown() override
    {
        host::ModuleService::instance().registerModule(QStringLiteral("px_Toolbox"), nullptr);
        host::g_lstVars->remove(QStringLiteral("cdsEmployeeAll"));
        delete m_employees;
        host::ParentCtrl = nullptr;
        host::setConnection(nullptr);
        DM_Func()->cnServer = nullptr;
        DM_Func()->cdsMSGData->Close();
        host::setDialogPresenter(nullptr);
        tessera::setAppPath(QString());
    }

    static void signOn(quillon::TMySktConnection &c, const QString &site, const QString &user)
    {
        testsupport::pointAt(c, s_srv->http->port(), site, user);
    }
    static void setUser(const QString &site, const QString &name)
    {
        host::g_lstVars->setValue(QStringLiteral("sysid"), QStringLiteral("001"));
        host::g_lstVars->setValue(QStringLiteral("LogOnSiteName"), site);
        host::g_lstVars->setValue(QStringLiteral("LogOnEmpName"), name);
    }
    static int count(const QString &sql, const QVariantList &params = {})
    {
        return s_srv->native(sql, params).rows.value(0).value(0).toInt();
    }
    static QVariantList row(const QString &sql, const QVariantList &params = {})
    {
        return s_srv->native(sql, params).rows.value(0);
    }
    QStringList shownTexts() const
    {
        QStringList t;
        for (const auto &s : presenter->shown)
            t << s.text;
        return t;
    }
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    // The keys listed by the unread function for the current user.
    QStringList unreadKeys()
    {
        // The window opens in a page control of its own that goes with it.
        QTabWidget tabs;
        const QPointer<QTabWidget> previous = host::ParentCtrl;
        host::ParentCtrl = &tabs;
        struct Restore
        {
            QPointer<QTabWidget> p;
            ~Restore() { host::ParentCtrl = p; }
        } restore{previous};
        DM_Func()->new_execute(QStringLiteral("fNoReadMessage"), QStringLiteral("未阅读公告"), {}, {}, 0);
        QStringList keys;
        TMyDataSet *d = DM_Func()->cdsMSGData;
        for (d->First(); !d->Eof(); d->Next())
            keys << d->FieldByName(QStringLiteral("MSGID"))->AsString();
        return keys;
    }
    TfSendMessage *newSendWindow()
    {
        auto *form = tessera::createForm<TfSendMessage>();
        m_forms.emplace_back(form);
        form->show();
        return form;
    }

    static inline server::test::TestServer *s_srv = nullptr;
    QTemporaryDir m_dir;
    quillon::TMySktConnection m_conn;
    host::ScriptedPresenter *presenter = nullptr;
    FakeToolbox toolbox;
    TMyDataSet *m_employees = nullptr;
    QStringList opened;
    std::vector<std::unique_ptr<QWidget>> m_forms;
};

} // namespace

TEST_F(HeraldServer, PublishedNoticeReachesRecipientsAndIsReadOnce)
{
    TfSendMessage *send = newSendWindow();
    send->edtObject->setText(QStringLiteral("端到端公告"));
    send->LMDRichEdit->setPlainText(QStringLiteral("请各网点查收附件。"));
    // Sites through the chooser (names), employees through the chooser (codes): 10201 works
    // at 上海闵行, 20102 at the chosen site 北京朝阳 and is skipped.
    toolbox.answers = {QStringLiteral("北京朝阳"), QStringLiteral("10201,20102,99999")};
    send->actChooseSites->trigger();
    send->actChooseEmps->trigger();
    ASSERT_EQ(toolbox.calls.size(), 2);
    EXPECT_TRUE(toolbox.calls[0].startsWith(
        QStringLiteral("fLookupDlg:select SiteCode,SiteName,BELONGSITE From tab_Site where sysid='001':1")));
    EXPECT_TRUE(toolbox.calls[1].endsWith(QStringLiteral("tab_Employee where sysid='001':0")));
    EXPECT_EQ(send->edtSites->text(), QStringLiteral("北京朝阳"));
    const QString emp102 = row(QStringLiteral("select EmpName from tab_Employee where EmpCode='10201'"))[0].toString();
    const QString emp201 = row(QStringLiteral("select EmpName from tab_Employee where EmpCode='20102'"))[0].toString();
    EXPECT_EQ(send->edtEmps->text(), emp102 + u',' + emp201); // the unknown code is skipped
    EXPECT_EQ(send->employeeSites(), (QStringList{"上海闵行", "北京朝阳"}));
    // A cancelled chooser leaves the field as it was.
    send->actChooseSites->trigger();
    // Choosing employees again replaces the list and its sites.
    toolbox.answers = {QStringLiteral("20101"), QStringLiteral("10201,20102,99999")};
    send->actChooseEmps->trigger();
    EXPECT_EQ(send->employeeSites(), QStringList{"北京朝阳"});
    send->actChooseEmps->trigger();
    EXPECT_EQ(send->employeeSites(), (QStringList{"上海闵行", "北京朝阳"}));
    EXPECT_EQ(send->edtSites->text(), QStringLiteral("北京朝阳"));

    const QByteArray attachment(300000, 'a');
    send->edtFile->setText(writeFile(QStringLiteral("报表.xls"), attachment));
    send->ChkReadOnly->setChecked(true);
    send->actSaveExecute();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("公告发表成功")});
    EXPECT_TRUE(send->edtObject->text().isEmpty());
    EXPECT_TRUE(send->edtFile->text().isEmpty());
    EXPECT_TRUE(send->LMDRichEdit->plainText().isEmpty());
    EXPECT_TRUE(send->ChkReadOnly->isChecked());

    const QString key = send->lastNoticeKey();
    ASSERT_GE(key.size(), 15);
    // The body's local copy only fed the upload; publishing day after day must not fill the temp folder.
    EXPECT_FALSE(QFile::exists(send->lastBodyFile())) << send->lastBodyFile().toStdString();
    const QVariantList rec = row(QStringLiteral("select MSGOBJECT, MSGCONTENT, MSGFILE, MSGTYPE, OPSITE, "
                                                "OPEMP, sysid from TAB_MSGRECORD where MSGID=?"), {key});
    ASSERT_EQ(rec.size(), 7);
    EXPECT_EQ(rec[0].toString(), QStringLiteral("端到端公告"));
    EXPECT_TRUE(rec[1].toString().startsWith(QStringLiteral("notice\\")));
    EXPECT_TRUE(rec[1].toString().endsWith(QStringLiteral(".rtf")));
    EXPECT_TRUE(rec[2].toString().endsWith(QStringLiteral("}.xls")));
    EXPECT_EQ(rec[3].toString(), QStringLiteral("必读"));
    EXPECT_EQ(rec[4].toString(), QStringLiteral("上海浦东"));
    EXPECT_EQ(rec[5].toString(), QStringLiteral("马超"));
    EXPECT_EQ(rec[6].toString(), QStringLiteral("001"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID=? and MSGSITE='北京朝阳'"), {key}), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID=?"), {key}), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGEMP where MSGID=?"), {key}), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGEMP where MSGID=? and MSGEMP=? and MSGSITE='上海闵行'"),
                    {key, emp102}), 1);
    EXPECT_EQ(row(QStringLiteral("select MSGFILENAME from TAB_MSGRECORD where MSGID=?"), {key})[0].toString(),
              QStringLiteral("报表.xls"));
    QFile stored(s_srv->dir.filePath(QStringLiteral("files/001/") + rec[2].toString().replace(u'\\', u'/')));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), attachment);

    // The employee of another site finds it among his unread notices.
    setUser(QStringLiteral("上海闵行"), emp102);
    EXPECT_TRUE(unreadKeys().contains(key));

    // 宋佳 of 北京朝阳, signed on elsewhere, opens it.
    quillon::TMySktConnection other;
    signOn(other, QStringLiteral("201"), QStringLiteral("001.wang"));
    host::setConnection(&other);
    DM_Func()->InitConn();
    setUser(QStringLiteral("北京朝阳"), QStringLiteral("宋佳"));
    QTabWidget tabs;
    host::ParentCtrl = &tabs;
    DM_Func()->ExecFunc(QStringLiteral("fNoReadMessage"), QStringLiteral("未阅读公告"), {}, {}, 0);
    ASSERT_EQ(tabs.count(), 1);
    auto *unread = qobject_cast<TfNoReadMessage *>(tabs.widget(0));
    ASSERT_TRUE(unread);
    QTreeWidgetItem *item = nullptr;
    for (int i = 0; i < unread->lvMsg->topLevelItemCount(); ++i)
        if (unread->lvMsg->topLevelItem(i)->text(TfNoReadMessage::ColId) == key)
            item = unread->lvMsg->topLevelItem(i);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->text(TfNoReadMessage::ColSite), QStringLiteral("北京朝阳"));
    EXPECT_EQ(item->text(TfNoReadMessage::ColType), QStringLiteral("必读"));
    EXPECT_EQ(item->text(TfNoReadMessage::ColFile), QStringLiteral("报表.xls"));
    const QString receipts = QStringLiteral("select count(*) from TAB_MSGREAD where MSGID=? and "
                                            "MSGReadSite='北京朝阳' and MSGReader='宋佳' and sysid='001'");
    EXPECT_EQ(count(receipts, {key}), 0);
    unread->lvMsg->setCurrentItem(item);
    unread->lvMsgClick();
    unread->lvMsgClick();
    EXPECT_EQ(count(receipts, {key}), 1);
    EXPECT_EQ(unread->LMDRichEdit->plainText().trimmed(), QStringLiteral("请各网点查收附件。"));
    EXPECT_TRUE(item->treeWidget()); // reading leaves the list as it was

    unread->lvMsgDblClick();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(QFileInfo(opened[0]).fileName(), QStringLiteral("报表.xls")); // its own name
    QFile local(opened[0]);
    ASSERT_TRUE(local.open(QIODevice::ReadOnly));
    EXPECT_EQ(local.readAll(), attachment);

    EXPECT_FALSE(unreadKeys().contains(key));
    // Her session reads only her notices, whatever site and name her window asks for.
    setUser(QStringLiteral("上海浦东"), QStringLiteral("马超"));
    EXPECT_EQ(unreadKeys(), QStringList());
    unread->close();
    host::setConnection(&m_conn);
}

TEST_F(HeraldServer, RecipientsMessageTypeAndSubjectLength)
{
    struct Case
    {
        QString subject, sites, empCodes;
        bool mustRead;
        int siteRows, empRows;
    };
    const QString fifty(50, u'通');
    const Case cases[] = {
        {fifty, QStringLiteral("上海闵行,杭州西湖"), QString(), false, 2, 0},
        {QStringLiteral("只发员工"), QString(), QStringLiteral("10201"), true, 0, 1},
        // The employee of a chosen site gets no row of his own; a repeated site one row.
        {QStringLiteral("两者"), QStringLiteral("上海闵行 上海闵行"), QStringLiteral("10202,20101"), false, 1, 1},
    };
    for (const Case &c : cases) {
        presenter->shown.clear();
        TfSendMessage *send = newSendWindow();
        send->edtObject->setText(c.subject);
        send->edtSites->setText(c.sites);
        if (!c.empCodes.isEmpty()) {
            toolbox.answers = {c.empCodes};
            send->edtEmpsButtonClick();
        }
        send->ChkReadOnly->setChecked(c.mustRead);
        send->actSaveExecute();
        ASSERT_EQ(shownTexts(), QStringList{QStringLiteral("公告发表成功")}) << c.subject.toStdString();
        const QString key = send->lastNoticeKey();
        EXPECT_EQ(row(QStringLiteral("select MSGTYPE from TAB_MSGRECORD where MSGID=?"), {key})[0].toString(),
                  c.mustRead ? QStringLiteral("必读") : QStringLiteral("普通"));
        EXPECT_TRUE(row(QStringLiteral("select MSGFILE from TAB_MSGRECORD where MSGID=?"), {key})[0]
                        .toString().isEmpty());
        EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID=?"), {key}), c.siteRows);
        EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGEMP where MSGID=?"), {key}), c.empRows);
    }
    // One character more is refused.
    TfSendMessage *send = newSendWindow();
    presenter->shown.clear();
    send->edtObject->setText(fifty + u'x');
    send->edtSites->setText(QStringLiteral("上海闵行"));
    send->actSaveExecute();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("主题长度不能起过50个字符(25个汉字)!")});
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGOBJECT=?"), {QVariant(fifty + u'x')}), 0);
}

TEST_F(HeraldServer, FailedPublicationLeavesNothingAndARetryPublishesOnce)
{
    TfSendMessage *send = newSendWindow();
    const QString subject = QStringLiteral("附件丢失/重试");
    send->edtObject->setText(subject);
    send->edtSites->setText(QStringLiteral("杭州西湖"));
    const QString missing = m_dir.filePath(QStringLiteral("gone.doc"));
    send->edtFile->setText(missing);
    EXPECT_THROW(send->actSaveExecute(), host::SilentAbort);
    EXPECT_EQ(shownTexts(), (QStringList{QStringLiteral("文件[") + missing + QStringLiteral("]不存在."),
                                         QStringLiteral("公告发表失败!")}));
    const QString failedKey = send->lastNoticeKey();
    EXPECT_EQ(send->edtObject->text(), subject); // inputs stay for a retry
    EXPECT_FALSE(send->cdsMSG->Active() && send->cdsMSG->ChangeCount() > 0);
    EXPECT_FALSE(send->cdsSiteMSG->Active() && send->cdsSiteMSG->ChangeCount() > 0);

    // Apply failure of the employee rows (an employee without a site): the site rows that
    // were already stored are taken back, the notice row never goes.
    auto *emps = new TMyDataSet(m_employees);
    emps->SetFieldDefs({{QStringLiteral("EmpCode"), quillon::FieldType::String, 10},
                        {QStringLiteral("EmpName"), quillon::FieldType::String, 20},
                        {QStringLiteral("BELONGSITE"), quillon::FieldType::String, 20}});
    emps->CreateDataSet();
    emps->Append();
    emps->Fields(0)->SetAsString(QStringLiteral("X1"));
    emps->Fields(1)->SetAsString(QStringLiteral("无站员工"));
    emps->Post();
    host::g_lstVars->attachTo(QStringLiteral("cdsEmployeeAll"), emps);
    toolbox.answers = {QStringLiteral("X1")};
    send->edtEmpsButtonClick();
    send->edtFile->clear();
    presenter->shown.clear();
    send->actSaveExecute();
    // The failure says why, in Chinese; the server's own text is the folded detail.
    ASSERT_EQ(shownTexts().size(), 1);
    EXPECT_TRUE(shownTexts().first().startsWith(QStringLiteral("公告发表失败：")))
        << shownTexts().first().toStdString();
    EXPECT_TRUE(host::looksChinese(shownTexts().first().mid(7)));
    const QString applyFailedKey = send->lastNoticeKey();
    EXPECT_EQ(send->edtObject->text(), subject);
    for (const QString &k : {failedKey, applyFailedKey}) {
        EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID=?"), {k}), 0);
        EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID=?"), {k}), 0);
    }

    // The retry (the employee removed) publishes exactly one notice with one site row.
    send->edtEmps->clear();
    presenter->shown.clear();
    send->actSaveExecute();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("公告发表成功")});
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGOBJECT=?"), {subject}), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE a, TAB_MSGRECORD b where "
                                   "a.MSGID=b.MSGID and b.MSGOBJECT=?"), {subject}), 1);
    host::g_lstVars->attachTo(QStringLiteral("cdsEmployeeAll"), m_employees);
}

TEST_F(HeraldServer, UnreadListCoversTenDaysFromMidnightAndSkipsReadNotices)
{
    // Notices to a site of their own, stored directly with chosen publication times.
    const QString site = QStringLiteral("边界网点");
    setUser(site, QStringLiteral("测试员"));
    const QDateTime now = testsupport::settledNow();
    const QDateTime midnight(now.date().addDays(-10), QTime(0, 0));
    struct Notice
    {
        const char *id;
        QDateTime when;
        bool listed;
    };
    const Notice notices[] = {{"B1", midnight, true},
                              {"B2", midnight.addSecs(-1), false},
                              {"B3", now.addSecs(-60), true}};
    TMyDataSet rec, sites;
    rec.SetMyConn(DM_Func()->cnServer);
    sites.SetMyConn(DM_Func()->cnServer);
    DM_Func()->OpenCds(&rec, QStringLiteral("select * from TAB_MSGRECORD where 1=0"));
    DM_Func()->OpenCds(&sites, QStringLiteral("select * from TAB_MSGSITE where 1=0"));
    for (const Notice &n : notices) {
        rec.Append();
        rec.FieldByName(QStringLiteral("MSGID"))->SetAsString(QString::fromLatin1(n.id));
        rec.FieldByName(QStringLiteral("MSGOBJECT"))->SetAsString(QStringLiteral("边界"));
        rec.FieldByName(QStringLiteral("OPTIME"))->SetAsDateTime(n.when);
        rec.FieldByName(QStringLiteral("sysid"))->SetAsString(QStringLiteral("001"));
        rec.Post();
        sites.Append();
        sites.FieldByName(QStringLiteral("MSGID"))->SetAsString(QString::fromLatin1(n.id));
        sites.FieldByName(QStringLiteral("MSGSITE"))->SetAsString(site);
        sites.FieldByName(QStringLiteral("sysid"))->SetAsString(QStringLiteral("001"));
        sites.Post();
    }
    rec.ApplyUpdates(0);
    sites.ApplyUpdates(0);

    QStringList keys = unreadKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"B1", "B3"}));

    // A receipt of this reader at this site hides it; one of another reader does not.
    TMyDataSet receipt;
    receipt.SetMyConn(DM_Func()->cnServer);
    EXPECT_TRUE(DM_Func()->WriteReadReceipt(&receipt, QStringLiteral("B3")));
    EXPECT_FALSE(DM_Func()->WriteReadReceipt(&receipt, QStringLiteral("B3")));
    setUser(site, QStringLiteral("别人"));
    keys = unreadKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"B1", "B3"}));
    setUser(site, QStringLiteral("测试员"));
    EXPECT_EQ(unreadKeys(), QStringList{"B1"});

    // Quotes in the user's values stay inside the text of the query.
    setUser(QStringLiteral("x' or '1'='1"), QStringLiteral("o'neil"));
    EXPECT_TRUE(unreadKeys().isEmpty());
}

TEST_F(HeraldServer, QueryWindowListsByReadStateAndKeepsItsResult)
{
    // A notice of today to the reader's site and to him personally: listed once.
    const QString site = QStringLiteral("查询网点");
    setUser(site, QStringLiteral("查询员"));
    const QString id = QStringLiteral("Q%1").arg(QDateTime::currentMSecsSinceEpoch());
    const QDateTime settled = testsupport::settledNow();
    const QDate today = settled.date();
    const QString now = settled.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    {
        auto c = s_srv->backend->acquireForServer();
        c->execute(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, OPTIME, OPSITE, "
                                  "OPEMP, MSGTYPE, sysid) values (?,?,?,?,?,?,?,?)"),
                   {id, QStringLiteral("查询公告"), QStringLiteral("正文就在这里"), now,
                    QStringLiteral("总部"), QStringLiteral("张伟"), QStringLiteral("普通 "), QStringLiteral("001")});
        c->execute(QStringLiteral("insert into TAB_MSGSITE (MSGID, MSGSITE, MSGTime, sysid) values (?,?,?,?)"),
                   {id, site, now, QStringLiteral("001")});
        c->execute(QStringLiteral("insert into TAB_MSGEMP (MSGID, MSGEMP, MSGSITE, MSGTime, sysid) values (?,?,?,?,?)"),
                   {id, QStringLiteral("查询员"), site, now, QStringLiteral("001")});
    }
    EXPECT_EQ(unreadKeys().count(id), 1);
    auto *form = tessera::createForm<TfQueryMessage>();
    m_forms.emplace_back(form);
    form->show();
    EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("未阅读"));
    EXPECT_EQ(form->ComboBox1->count(), 3);
    EXPECT_EQ(form->BDate->date(), today);
    EXPECT_EQ(form->EDate->date(), today);

    auto listed = [form] {
        QStringList ids;
        for (int i = 0; i < form->lvMsg->topLevelItemCount(); ++i)
            ids << form->lvMsg->topLevelItem(i)->text(TfNoReadMessage::ColId);
        return ids;
    };
    form->actQueryExecute();
    ASSERT_EQ(listed(), QStringList{id});
    EXPECT_EQ(form->lvMsg->topLevelItem(0)->text(TfNoReadMessage::ColType), QStringLiteral("普通"));

    // Reading writes the receipt and shows the body text; the query result stays.
    form->lvMsg->setCurrentItem(form->lvMsg->topLevelItem(0));
    form->lvMsgClick();
    EXPECT_EQ(form->LMDRichEdit->plainText(), QStringLiteral("正文就在这里"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID=?"), {id}), 1);
    EXPECT_EQ(form->cdsData->RecordCount(), 1); // the export has it once too
    EXPECT_TRUE(form->cdsData->FindField(QStringLiteral("MSGOBJECT")));
    form->lvMsgDblClick(); // a body held as text has no file to open
    EXPECT_TRUE(opened.isEmpty());

    // Unread finds nothing now (and leaves the list), read finds it, all finds it.
    form->actQueryExecute();
    EXPECT_EQ(form->cdsData->RecordCount(), 0);
    EXPECT_EQ(listed(), QStringList{id});
    form->ComboBox1->setCurrentIndex(1);
    form->lvMsg->clear();
    form->actQueryExecute();
    EXPECT_EQ(listed(), QStringList{id});
    form->ComboBox1->setCurrentIndex(0);
    form->lvMsg->clear();
    form->actQueryExecute();
    EXPECT_EQ(listed(), QStringList{id});

    // Coming back to the window (hidden and shown again, as a page is) keeps the list.
    form->hide();
    form->show();
    EXPECT_EQ(listed(), QStringList{id});

    // A range that ended yesterday lists nothing; a reversed range is refused.
    form->lvMsg->clear();
    form->BDate->setDate(today.addDays(-3));
    form->EDate->setDate(today.addDays(-1));
    form->actQueryExecute();
    EXPECT_TRUE(listed().isEmpty());
    presenter->shown.clear();
    form->BDate->setDate(today);
    form->actQueryExecute();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("开始日期不能大于结束日期")});
}

TEST_F(HeraldServer, ManagementListsCountsTicksAndDeletesTheTickedNotices)
{
    // Four notices of a publishing site of their own, published today.
    const QString publisher = QStringLiteral("管理测试站");
    const QString now = testsupport::settledNow().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QStringList ids;
    {
        auto c = s_srv->backend->acquireForServer();
        for (int i = 0; i < 4; ++i) {
            const QString id = QStringLiteral("M%1").arg(i);
            ids << id;
            // M1 has an attachment stored before its original name was kept.
            c->execute(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, MSGFILE, OPTIME, "
                                      "OPSITE, OPEMP, sysid) values (?,?,?,?,?,?,?,?)"),
                       {id, QStringLiteral("管理%1").arg(i), QStringLiteral("notice\\d\\{M%1}.rtf").arg(i),
                        i == 1 ? QVariant(QStringLiteral("notice\\d\\{M1F}.pdf")) : QVariant(), now,
                        publisher, QStringLiteral("张伟"), QStringLiteral("001")});
            for (const char *site : {"上海浦东", "北京朝阳"})
                c->execute(QStringLiteral("insert into TAB_MSGSITE (MSGID, MSGSITE, MSGTime, sysid) values (?,?,?,?)"),
                           {id, QString::fromUtf8(site), now, QStringLiteral("001")});
            if (i == 0)
                c->execute(QStringLiteral("insert into TAB_MSGEMP (MSGID, MSGEMP, MSGSITE, MSGTime, sysid) "
                                          "values (?,?,?,?,?)"),
                           {id, QStringLiteral("马超"), QStringLiteral("上海浦东"), now, QStringLiteral("001")});
        }
    }
    // 马超 of 上海浦东 has read M0.
    TMyDataSet receipt;
    receipt.SetMyConn(DM_Func()->cnServer);
    ASSERT_TRUE(DM_Func()->WriteReadReceipt(&receipt, QStringLiteral("M0")));
    // Deleting notices needs the notice management's grant, which the administrator holds.
    signOn(m_conn, QStringLiteral("000"), QStringLiteral("001.admin"));
    auto *form = tessera::createForm<TfManagerMessage>();
    m_forms.emplace_back(form);
    form->show();
    form->edtSite->setText(publisher);
    form->actQueryExecute();
    TMyDataSet *d = form->cdsData;
    ASSERT_EQ(d->RecordCount(), 4);
    auto valueOf = [d](const QString &id, const char *field) {
        EXPECT_TRUE(d->Locate(QStringLiteral("MSGID"), id));
        return d->FieldByName(QString::fromLatin1(field))->AsString();
    };
    EXPECT_EQ(valueOf(QStringLiteral("M0"), "SiteCnt"), QStringLiteral("2"));
    EXPECT_EQ(valueOf(QStringLiteral("M0"), "EmpCnt"), QStringLiteral("1"));
    EXPECT_EQ(valueOf(QStringLiteral("M1"), "EmpCnt"), QStringLiteral("0"));
    EXPECT_EQ(valueOf(QStringLiteral("M1"), "Sel"), QStringLiteral("0"));

    // Details of M0, then of M1 (which has no employee rows: its grid is emptied).
    d->Locate(QStringLiteral("MSGID"), QStringLiteral("M0"));
    form->DBGridDataMouseDown();
    EXPECT_EQ(form->cdsSiteMsg->RecordCount(), 2);
    EXPECT_EQ(form->cdsEmpMsg->RecordCount(), 1);
    // The read state that the receipt left, as users read it.
    auto readState = [](TMyDataSet *ds, const QString &key, const QString &value) {
        EXPECT_TRUE(ds->Locate(key, value)) << value.toStdString();
        return ds->FieldByName(QStringLiteral("HASREAD"))->AsString();
    };
    EXPECT_EQ(readState(form->cdsSiteMsg, QStringLiteral("MSGSITE"), QStringLiteral("上海浦东")), QStringLiteral("是"));
    EXPECT_EQ(form->cdsSiteMsg->FieldByName(QStringLiteral("READEMP"))->AsString(), QStringLiteral("马超"));
    EXPECT_FALSE(form->cdsSiteMsg->FieldByName(QStringLiteral("READTIME"))->IsNull());
    EXPECT_EQ(readState(form->cdsSiteMsg, QStringLiteral("MSGSITE"), QStringLiteral("北京朝阳")), QStringLiteral("否"));
    EXPECT_EQ(readState(form->cdsEmpMsg, QStringLiteral("MSGEMP"), QStringLiteral("马超")), QStringLiteral("是"));
    // An attachment without a kept name shows the name part of its server path.
    EXPECT_EQ(valueOf(QStringLiteral("M1"), "MSGFILENAME"), QStringLiteral("{M1F}.pdf"));
    EXPECT_EQ(d->ChangeCount(), 0);
    d->Locate(QStringLiteral("MSGID"), QStringLiteral("M1"));
    form->DBGridDataMouseDown();
    EXPECT_EQ(form->cdsSiteMsg->RecordCount(), 2);
    EXPECT_FALSE(form->cdsEmpMsg->Active() && form->cdsEmpMsg->RecordCount() > 0);

    // The body column opens the body file; other columns open nothing.
    QDir().mkpath(TDM_Func::localFileFolder());
    QFile body(TDM_Func::localFileFolder() + QStringLiteral("{M1}.rtf"));
    ASSERT_TRUE(body.open(QIODevice::WriteOnly));
    body.close();
    form->DBGridDataDblClick(QStringLiteral("MSGOBJECT"));
    EXPECT_TRUE(opened.isEmpty());
    form->DBGridDataDblClick(QStringLiteral("MSGCONTENT"));
    EXPECT_EQ(opened, QStringList{body.fileName()});

    // Nothing ticked: refused. Invert twice gives back the ticks; tick all; untick one.
    presenter->shown.clear();
    form->actDelExecute();
    EXPECT_EQ(shownTexts(), (QStringList{QStringLiteral("您确认是否删除当前选中的公告？"),
                                         QStringLiteral("操作失败,没有选中需要删除的公告!")}));
    auto ticked = [d] {
        QStringList t;
        for (d->First(); !d->Eof(); d->Next())
            if (d->FieldByName(QStringLiteral("Sel"))->AsInteger() == 1)
                t << d->FieldByName(QStringLiteral("MSGID"))->AsString();
        t.sort();
        return t;
    };
    d->Locate(QStringLiteral("MSGID"), QStringLiteral("M2"));
    d->Edit();
    d->FieldByName(QStringLiteral("Sel"))->SetAsInteger(1);
    d->Post();
    form->actUnSelAllExecute();
    EXPECT_EQ(ticked(), (QStringList{"M0", "M1", "M3"}));
    form->actUnSelAllExecute();
    EXPECT_EQ(ticked(), QStringList{"M2"});
    form->actSelAllExecute();
    EXPECT_EQ(ticked(), (QStringList{"M0", "M1", "M2", "M3"}));
    d->Locate(QStringLiteral("MSGID"), QStringLiteral("M3"));
    d->Edit();
    d->FieldByName(QStringLiteral("Sel"))->SetAsInteger(0);
    d->Post();

    // A declined question deletes nothing; a confirmed one exactly the three ticked.
    presenter->answers = {host::Answer::No};
    form->actDelExecute();
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where OPSITE=?"), {publisher}), 4);
    presenter->shown.clear();
    form->actDelExecute();
    EXPECT_EQ(shownTexts().value(1), QStringLiteral("操作成功!"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where OPSITE=?"), {publisher}), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID='M3'")), 1);
    ASSERT_EQ(d->RecordCount(), 1); // reloaded
    EXPECT_EQ(d->FieldByName(QStringLiteral("MSGID"))->AsString(), QStringLiteral("M3"));
    // The database took the deleted notices' recipients and receipts with them.
    for (const char *table : {"TAB_MSGSITE", "TAB_MSGEMP", "TAB_MSGREAD"})
        EXPECT_EQ(count(QStringLiteral("select count(*) from %1 where MSGID in ('M0','M1','M2')")
                            .arg(QLatin1String(table))),
                  0)
            << table;
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID='M3'")), 2);

    // A quote in the site field stays inside the literal.
    form->edtSite->setText(QStringLiteral("x' or '1'='1"));
    form->actQueryExecute();
    EXPECT_EQ(d->RecordCount(), 0);

    // A site operator may list and tick, but the server refuses the deletion in Chinese
    // and nothing is deleted.
    signOn(m_conn, QStringLiteral("201"), QStringLiteral("001.wang"));
    form->edtSite->setText(publisher);
    form->actQueryExecute();
    ASSERT_EQ(d->RecordCount(), 1);
    d->Edit();
    d->FieldByName(QStringLiteral("Sel"))->SetAsInteger(1);
    d->Post();
    presenter->shown.clear();
    form->updateActions();
    form->executeAction(form->actDel);
    EXPECT_FALSE(shownTexts().contains(QStringLiteral("操作成功!")));
    EXPECT_TRUE(shownTexts().join(u'|').contains(QStringLiteral("没有删除数据表 TAB_MSGRECORD 的权限")))
        << qPrintable(shownTexts().join(u'|'));
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID='M3'")), 1);
}

TEST_F(HeraldServer, ReceiptQueryListsReadersAndShowsTheNotice)
{
    const QString now = testsupport::settledNow().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    {
        auto c = s_srv->backend->acquireForServer();
        c->execute(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, MSGFILE, OPTIME, "
                                  "OPSITE, OPEMP, sysid) values (?,?,?,?,?,?,?,?)"),
                   {QStringLiteral("R1"), QStringLiteral("阅读查询"), QStringLiteral("直接的正文"),
                    QStringLiteral("notice\\d\\{R}.doc"), now, QStringLiteral("总部"),
                    QStringLiteral("张伟"), QStringLiteral("001")});
        for (const char *reader : {"甲", "乙"})
            c->execute(QStringLiteral("insert into TAB_MSGREAD (MSGID, MSGReadSite, MSGReader, MSGReadTime, sysid) "
                                      "values (?,?,?,?,?)"),
                       {QStringLiteral("R1"), QStringLiteral("阅读站"), QString::fromUtf8(reader), now,
                        QStringLiteral("001")});
    }
    auto *form = tessera::createForm<TfReadQMessage>();
    m_forms.emplace_back(form);
    form->show();
    auto readers = [form] {
        QStringList r;
        TMyDataSet *d = form->cdsData;
        for (d->First(); !d->Eof(); d->Next())
            if (d->FieldByName(QStringLiteral("MSGID"))->AsString() == QLatin1String("R1"))
                r << d->FieldByName(QStringLiteral("MSGREADER"))->AsString();
        r.sort();
        return r;
    };
    form->executeAction(form->actQuery);
    EXPECT_EQ(readers(), (QStringList{"乙", "甲"}));
    form->edtEmp->setText(QStringLiteral("甲"));
    EXPECT_TRUE(form->GetSql().endsWith(QStringLiteral(" and b.MSGREADER='甲'")));
    form->cdsData->Close();
    form->cdsData->SetCommandText(form->GetSql());
    form->cdsData->Open();
    EXPECT_EQ(readers(), QStringList{"甲"});
    ASSERT_TRUE(form->cdsData->Locate(QStringLiteral("MSGID"), QStringLiteral("R1")));
    form->DBGridDataDblClick();
    EXPECT_EQ(form->lblObject->text(), QStringLiteral("阅读查询"));
    EXPECT_EQ(form->lblRecSite->text(), QStringLiteral("阅读站"));
    EXPECT_EQ(form->lblUser->text(), QStringLiteral("张伟"));
    EXPECT_TRUE(form->lblLuyan->text().startsWith(QStringLiteral("附件名: ")));
    EXPECT_TRUE(form->lblLuyan->text().contains(QStringLiteral(">{R}.doc<")));
    EXPECT_EQ(form->LMDRichEdit->plainText(), QStringLiteral("直接的正文"));

    // A quote typed into a field stays inside its literal.
    form->edtEmp->setText(QStringLiteral("x' or '1'='1"));
    form->cdsData->Close();
    form->cdsData->SetCommandText(form->GetSql());
    form->cdsData->Open();
    EXPECT_TRUE(readers().isEmpty());
}

TEST_F(HeraldServer, AnUnpublishedNoticeAsksBeforeItsWindowCloses)
{
    TfSendMessage *send = newSendWindow();
    const QString subject = QStringLiteral("草稿守护");
    auto published = [&] {
        return count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGOBJECT=?"), {subject});
    };
    EXPECT_TRUE(send->CloseQuery()) << "an empty window closes without a question";
    EXPECT_TRUE(presenter->shown.isEmpty());

    send->LMDRichEdit->setPlainText(QStringLiteral("只写了正文"));
    EXPECT_TRUE(send->hasDraft());
    // Stay: the window, its text and the server stay as they were.
    presenter->answers = {host::Answer::Cancel};
    EXPECT_FALSE(send->close());
    EXPECT_TRUE(send->isVisible());
    EXPECT_EQ(send->LMDRichEdit->plainText(), QStringLiteral("只写了正文"));
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].kind, host::MessageKind::Question);

    // Publish, but the notice cannot go (no subject, no recipients): the window stays.
    presenter->shown.clear();
    presenter->answers = {host::Answer::Yes};
    EXPECT_FALSE(send->CloseQuery());
    EXPECT_EQ(shownTexts().value(1), QStringLiteral("请输入公告主题内容!"));

    // Publish, and the server refuses it (an employee without a site): the window stays.
    send->edtObject->setText(subject);
    auto *emps = new TMyDataSet(m_employees);
    emps->SetFieldDefs({{QStringLiteral("EmpCode"), quillon::FieldType::String, 10},
                        {QStringLiteral("EmpName"), quillon::FieldType::String, 20},
                        {QStringLiteral("BELONGSITE"), quillon::FieldType::String, 20}});
    emps->CreateDataSet();
    emps->Append();
    emps->Fields(0)->SetAsString(QStringLiteral("X1"));
    emps->Fields(1)->SetAsString(QStringLiteral("无站员工"));
    emps->Post();
    host::g_lstVars->attachTo(QStringLiteral("cdsEmployeeAll"), emps);
    toolbox.answers = {QStringLiteral("X1")};
    send->edtEmpsButtonClick();
    presenter->shown.clear();
    presenter->answers = {host::Answer::Yes};
    EXPECT_FALSE(send->CloseQuery());
    EXPECT_TRUE(shownTexts().value(1).startsWith(QStringLiteral("公告发表失败：")))
        << shownTexts().value(1).toStdString();
    EXPECT_EQ(published(), 0);
    EXPECT_EQ(send->edtObject->text(), subject);
    host::g_lstVars->attachTo(QStringLiteral("cdsEmployeeAll"), m_employees);

    // Publish with a recipient: published once, then it closes.
    send->edtEmps->clear();
    send->edtSites->setText(QStringLiteral("杭州西湖"));
    presenter->shown.clear();
    presenter->answers = {host::Answer::Yes};
    EXPECT_TRUE(send->CloseQuery());
    EXPECT_EQ(shownTexts().value(1), QStringLiteral("公告发表成功"));
    EXPECT_EQ(published(), 1);

    // Discard: the program's close asks every window; this one lets go of its draft.
    TfSendMessage *other = newSendWindow();
    other->edtObject->setText(QStringLiteral("放弃的草稿"));
    presenter->shown.clear();
    presenter->answers = {host::Answer::No};
    EXPECT_TRUE(tessera::TfBase::CloseQueryAll());
    EXPECT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGOBJECT='放弃的草稿'")), 0);
}

TEST_F(HeraldServer, ReceiptWindowLooksUpSitesAndReadersAndOpensBothBodyLayouts)
{
    // The receipts below are of today, the day the window opens on.
    const QString now = testsupport::settledNow().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    // The shared lookup lists of the log-on.
    TMyDataSet sites, readers;
    for (TMyDataSet *ds : {&sites, &readers})
        ds->SetMyConn(DM_Func()->cnServer);
    DM_Func()->OpenCds(&sites, QStringLiteral("select * from tab_Site where sysid='001'"));
    DM_Func()->OpenCds(&readers, QStringLiteral("select * from tab_Employee where sysid='001'"));
    host::g_lstVars->attachTo(QStringLiteral("cdsSiteSub"), &sites);
    host::g_lstVars->attachTo(QStringLiteral("cdsEmployeeSub"), &readers);
    struct Detach
    {
        ~Detach()
        {
            host::g_lstVars->remove(QStringLiteral("cdsSiteSub"));
            host::g_lstVars->remove(QStringLiteral("cdsEmployeeSub"));
        }
    } detach;

    auto *form = tessera::createForm<TfReadQMessage>();
    m_forms.emplace_back(form);
    form->show();
    QApplication::setActiveWindow(form);
    form->activateWindow();
    QApplication::processEvents();
    // F4 opens the list of the unbound search field; the choice becomes its text.
    QStringList captions;
    presenter->onDialog = [&](QWidget *frame) {
        auto *dlg = frame->findChild<tessera::TfDBLookupDlg *>();
        ASSERT_TRUE(dlg);
        captions << frame->windowTitle();
        dlg->edtFindValue->setText(captions.size() == 1 ? QStringLiteral("北京朝阳") : QStringLiteral("宋佳"));
        dlg->btnOkClick();
    };
    presenter->dialogResults = {QDialog::Accepted, QDialog::Accepted};
    form->edtSite->setFocus();
    QTest::keyClick(form->edtSite, Qt::Key_F4);
    EXPECT_EQ(form->edtSite->text(), QStringLiteral("北京朝阳"));
    form->edtEmp->EditButtonClick(); // the ellipsis button
    EXPECT_EQ(form->edtEmp->text(), QStringLiteral("宋佳"));
    EXPECT_EQ(captions.size(), 2);
    EXPECT_TRUE(form->GetSql().endsWith(QStringLiteral(" and b.MSGREADSITE='北京朝阳' and b.MSGREADER='宋佳'")));
    presenter->onDialog = nullptr;

    // Bodies of both layouts: a body file of the publishing window, and an older notice
    // whose MSGCONTENT is the publisher's local path (it even names a folder "notice").
    auto serverFile = [](const QString &path, const QByteArray &bytes) {
        const QString local = s_srv->dir.filePath(QStringLiteral("files/001/") + QString(path).replace(u'\\', u'/'));
        QDir().mkpath(QFileInfo(local).path());
        QFile f(local);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const QString current = QStringLiteral("notice\\20261207\\20261207080000_{L1}.rtf");
    serverFile(current, "{\\rtf1 current layout}");
    serverFile(QStringLiteral("MSGData\\L2.rtf"), "{\\rtf1 older layout}");
    {
        auto c = s_srv->backend->acquireForServer();
        const struct
        {
            const char *id;
            QString content;
        } notices[] = {{"L1", current}, {"L2", QStringLiteral("C:\\Temp\\notice\\L2旧公告.rtf")}};
        for (const auto &n : notices) {
            c->execute(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, OPTIME, sysid) "
                                      "values (?,?,?,?,?)"),
                       {QString::fromLatin1(n.id), QStringLiteral("布局"), n.content, now, QStringLiteral("001")});
            c->execute(QStringLiteral("insert into TAB_MSGREAD (MSGID, MSGReadSite, MSGReader, MSGReadTime, sysid) "
                                      "values (?,?,?,?,?)"),
                       {QString::fromLatin1(n.id), QStringLiteral("北京朝阳"), QStringLiteral("宋佳"), now,
                        QStringLiteral("001")});
        }
    }
    form->executeAction(form->actQuery);
    for (const char *id : {"L1", "L2"}) {
        ASSERT_TRUE(form->cdsData->Locate(QStringLiteral("MSGID"), QString::fromLatin1(id))) << id;
        form->DBGridDataDblClick();
    }
    EXPECT_EQ(form->LMDRichEdit->plainText().trimmed(), QStringLiteral("older layout"));
    EXPECT_TRUE(QFileInfo::exists(tessera::appPath() + QStringLiteral("OutPut/L2.rtf")));
    ASSERT_TRUE(form->cdsData->Locate(QStringLiteral("MSGID"), QStringLiteral("L1")));
    form->DBGridDataDblClick();
    EXPECT_EQ(form->LMDRichEdit->plainText().trimmed(), QStringLiteral("current layout"));

    // A body file that the server does not have: the labels show, the user is told where
    // the copy should have been.
    {
        auto c = s_srv->backend->acquireForServer();
        c->execute(QStringLiteral("update TAB_MSGRECORD set MSGCONTENT=? where MSGID='L1'"),
                   {QStringLiteral("notice\\20261207\\gone_{L1}.rtf")});
    }
    form->executeAction(form->actQuery);
    ASSERT_TRUE(form->cdsData->Locate(QStringLiteral("MSGID"), QStringLiteral("L1")));
    try {
        form->DBGridDataDblClick();
        ADD_FAILURE() << "no message";
    } catch (const host::UserError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("gone_{L1}.rtf"))) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains(QDir::toNativeSeparators(TDM_Func::localFileFolder())));
    }
    EXPECT_EQ(form->lblObject->text(), QStringLiteral("布局"));
    EXPECT_TRUE(form->LMDRichEdit->plainText().isEmpty());
}
