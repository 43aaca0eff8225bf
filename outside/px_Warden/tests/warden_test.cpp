// The administration windows of px_Warden driven against the application server, started
// in-process on a loopback port with the seeded demo deployment.
#include "baseforms/environment.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/transport.h"
#include "fconfigmenu.h"
#include "fpassedt.h"
#include "frole.h"
#include "fsites.h"
#include "fusers.h"
#include "host/dialogpresenter.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "server/tests/testserver.h"
#include "udm_func.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace warden;

namespace {

class Warden : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A fresh deployment per test: the tests change users, roles and passwords.
        srv = std::make_unique<server::test::TestServer>(5);
        ASSERT_TRUE(m_dir.isValid());
        tessera::setAppPath(m_dir.path());
        auto p = std::make_unique<host::ScriptedPresenter>();
        presenter = p.get();
        host::setDialogPresenter(std::move(p));
        host::CdbCommObj();
        host::setConnection(&conn);
        signOn(QStringLiteral("000"), QStringLiteral("001.admin"), QStringLiteral("张伟"));
        DM_Func()->InitConn();
    }
    void TearDown() override
    {
        forms.clear();
        host::setConnection(nullptr);
        DM_Func()->cnServer = nullptr;
        host::setDialogPresenter(nullptr);
        host::g_lstVars->clear();
        tessera::setAppPath(QString());
    }
    void signOn(const QString &site, const QString &user, const QString &name,
                const QString &password = QStringLiteral("123456"))
    {
        conn.SetHost(QStringLiteral("127.0.0.1"));
        conn.SetPort(srv->http->port());
        conn.SetSiteCode(site);
        conn.SetUsername(user);
        conn.SetPassword(password);
        host::VarList &v = *host::g_lstVars;
        v.setValue(QStringLiteral("sysid"), user == QLatin1String("dk") ? QStringLiteral("dk") : user.left(3));
        v.setValue(QStringLiteral("LogOnUser"), user);
        v.setValue(QStringLiteral("LogOnEmpName"), name);
        v.setValue(QStringLiteral("LogOnPass"), password);
    }
    template<class Form> Form *open()
    {
        auto *f = tessera::createForm<Form>();
        forms.emplace_back(f);
        f->show();
        return f;
    }
    // Runs an action as a click does, with its enabling brought up to date first.
    static void run(tessera::TfDBBase *f, QAction *a)
    {
        f->updateActions();
        f->executeAction(a);
    }
    QStringList texts() const
    {
        QStringList t;
        for (const auto &s : presenter->shown)
            t << s.text;
        return t;
    }
    qlonglong count(const QString &sql, const QVariantList &params = {})
    {
        return srv->native(sql, params).rows.value(0).value(0).toLongLong();
    }
    bool logsOn(const QString &site, const QString &user, const QString &password)
    {
        quillon::protocol::Transport t(srv->options());
        try {
            t.openSession(server::test::TestServer::logOnRequest(site, user, password));
            return true;
        } catch (const quillon::protocol::ProtocolError &) {
            return false;
        }
    }

    std::unique_ptr<server::test::TestServer> srv;
    QTemporaryDir m_dir;
    quillon::TMySktConnection conn;
    host::ScriptedPresenter *presenter = nullptr;
    std::vector<std::unique_ptr<QWidget>> forms;
};

TEST_F(Warden, PasswordChangeRefusesTheOldPasswordAtLogOn)
{
    signOn(QStringLiteral("201"), QStringLiteral("001.wang"), QStringLiteral("宋佳"));
    auto *f = open<TfPassEdt>();
    EXPECT_TRUE(f->edtUser->text().contains(QStringLiteral("001.wang")));

    // Typing errors are caught before anything reaches the server.
    f->edtOldPass->setText(QStringLiteral("123456"));
    f->edtNewPass->setText(QStringLiteral("Beijing2026"));
    f->edtConfirm->setText(QStringLiteral("Beijing2062"));
    run(f, f->actSave);
    EXPECT_TRUE(texts().last().contains(QStringLiteral("不一致"))) << qPrintable(texts().last());
    EXPECT_TRUE(f->edtConfirm->text().isEmpty());
    // The server's refusals come back as warnings in Chinese.
    f->edtOldPass->setText(QStringLiteral("654321"));
    f->edtConfirm->setText(QStringLiteral("Beijing2026"));
    run(f, f->actSave);
    EXPECT_EQ(presenter->shown.last().kind, host::MessageKind::Warning);
    EXPECT_TRUE(texts().last().contains(QStringLiteral("原密码不正确"))) << qPrintable(texts().last());
    f->edtOldPass->setText(QStringLiteral("123456"));
    f->edtNewPass->setText(QStringLiteral("short1"));
    f->edtConfirm->setText(QStringLiteral("short1"));
    run(f, f->actSave);
    EXPECT_TRUE(texts().last().contains(QStringLiteral("至少8位"))) << qPrintable(texts().last());
    EXPECT_TRUE(logsOn(QStringLiteral("201"), QStringLiteral("001.wang"), QStringLiteral("123456")));

    f->edtNewPass->setText(QStringLiteral("Beijing2026"));
    f->edtConfirm->setText(QStringLiteral("Beijing2026"));
    run(f, f->actSave);
    EXPECT_TRUE(texts().last().contains(QStringLiteral("密码已修改"))) << qPrintable(texts().last());
    EXPECT_FALSE(logsOn(QStringLiteral("201"), QStringLiteral("001.wang"), QStringLiteral("123456")));
    EXPECT_TRUE(logsOn(QStringLiteral("201"), QStringLiteral("001.wang"), QStringLiteral("Beijing2026")));
    // The program goes on with the new password, online and for the offline cache.
    EXPECT_EQ(host::g_lstVars->value(QStringLiteral("LogOnPass")), QStringLiteral("Beijing2026"));
    EXPECT_EQ(conn.Password(), QStringLiteral("Beijing2026"));
    EXPECT_NO_THROW(DM_Func()->AdminCall(QStringLiteral("MyRights")));
}

TEST_F(Warden, UsersAreAddedChangedDisabledAndResetThroughTheWindow)
{
    auto *f = open<TfUsers>();
    ASSERT_TRUE(f->cdsData->Active());
    EXPECT_EQ(f->cdsData->RecordCount(), 4); // the deployment's users, not dk
    ASSERT_TRUE(f->cdsData->Locate(QStringLiteral("USERCODE"), QStringLiteral("001.wang")));
    EXPECT_EQ(f->edtName->text(), QStringLiteral("宋佳"));
    EXPECT_EQ(f->checkedRoles(), QStringList{QStringLiteral("网点操作员")});
    EXPECT_EQ(f->cbSite->currentData().toString(), QStringLiteral("201"));

    run(f, f->actNew);
    ASSERT_TRUE(f->isNew());
    EXPECT_EQ(f->edtUser->text(), QStringLiteral("001."));
    f->edtUser->setText(QStringLiteral("001.zhao"));
    f->edtName->setText(QStringLiteral("赵六"));
    f->cbSite->setCurrentIndex(f->cbSite->findData(QStringLiteral("102")));
    f->setCheckedRoles({QStringLiteral("网点操作员")});
    run(f, f->actSave); // no password yet
    EXPECT_TRUE(texts().last().contains(QStringLiteral("初始密码"))) << qPrintable(texts().last());
    f->edtPassword->setText(QStringLiteral("Songjiang2026"));
    run(f, f->actSave);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_user where USERCODE='001.zhao' and SITECODE='102'")), 1);
    EXPECT_EQ(f->edtUser->text(), QStringLiteral("001.zhao"));
    EXPECT_TRUE(logsOn(QStringLiteral("102"), QStringLiteral("001.zhao"), QStringLiteral("Songjiang2026")));

    // Another role; the list shows it after the save.
    f->setCheckedRoles({QStringLiteral("网点财务")});
    run(f, f->actSave);
    EXPECT_EQ(f->cdsData->FieldByName(QStringLiteral("ROLES"))->AsString(), QStringLiteral("网点财务"));
    // Disable after a confirmation, then enable again.
    presenter->answers = {host::Answer::Yes};
    run(f, f->actEnable);
    EXPECT_FALSE(logsOn(QStringLiteral("102"), QStringLiteral("001.zhao"), QStringLiteral("Songjiang2026")));
    EXPECT_EQ(f->cdsData->FieldByName(QStringLiteral("STATE"))->AsString(), QStringLiteral("停用"));
    f->updateActions();
    EXPECT_EQ(f->actEnable->text(), QStringLiteral("启用"));
    run(f, f->actEnable);
    f->edtPassword->setText(QStringLiteral("newpass2027"));
    run(f, f->actResetPwd);
    EXPECT_TRUE(logsOn(QStringLiteral("102"), QStringLiteral("001.zhao"), QStringLiteral("newpass2027")));
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_log where key='001.zhao'")), 5);

    // A declined question changes nothing.
    presenter->answers = {host::Answer::No};
    run(f, f->actEnable);
    EXPECT_EQ(count(QStringLiteral("select ENABLED from sys_user where USERCODE='001.zhao'")), 1);
}

TEST_F(Warden, AClerkIsToldThatUserAdministrationIsNotTheirs)
{
    signOn(QStringLiteral("201"), QStringLiteral("001.wang"), QStringLiteral("宋佳"));
    auto *f = open<TfUsers>();
    ASSERT_FALSE(texts().isEmpty());
    EXPECT_EQ(presenter->shown.last().kind, host::MessageKind::Warning);
    EXPECT_TRUE(texts().last().contains(QStringLiteral("没有"))) << qPrintable(texts().last());
    // What he lacks is user administration, not a look at the sites (which the window
    // asked for first, and so warned about).
    EXPECT_TRUE(texts().last().contains(QStringLiteral("用户管理"))) << qPrintable(texts().last());
    EXPECT_FALSE(texts().last().contains(QStringLiteral("网点"))) << qPrintable(texts().last());
    EXPECT_FALSE(f->cdsData->Active());
}

// The buttons themselves, clicked as an administrator clicks them (not the handlers called
// directly): 停用 and 重置密码 ask, reach the server, and end the other user's session,
// which then says why instead of "用户名或密码错误".
TEST_F(Warden, DisableAndResetClickedOnTheToolBarEndTheUsersSession)
{
    quillon::TMySktConnection wang;
    wang.SetHost(QStringLiteral("127.0.0.1"));
    wang.SetPort(srv->http->port());
    wang.SetSiteCode(QStringLiteral("201"));
    wang.SetUsername(QStringLiteral("001.wang"));
    wang.SetPassword(QStringLiteral("123456"));
    const QString probe = QStringLiteral("select SITENAME from tab_Site where sysid='001'");
    ASSERT_NO_THROW(wang.providerFetch(QStringLiteral("dspPublic"), probe, {}));

    auto *f = open<TfUsers>();
    auto *btnEnable = f->findChild<QToolButton *>(QStringLiteral("btnEnable"));
    auto *btnReset = f->findChild<QToolButton *>(QStringLiteral("btnResetPwd"));
    ASSERT_TRUE(btnEnable && btnReset);
    ASSERT_TRUE(f->cdsData->Locate(QStringLiteral("USERCODE"), QStringLiteral("001.wang")));
    f->updateActions();
    ASSERT_TRUE(btnReset->isEnabled());

    // 重置密码: a question, the call, a hint; his open session ends with its own text.
    f->edtPassword->setText(QStringLiteral("Chaoyang2027"));
    presenter->answers = {host::Answer::Yes};
    const qsizetype before = presenter->shown.size();
    btnReset->click();
    ASSERT_GT(presenter->shown.size(), before + 1) << "the click reached no handler";
    EXPECT_EQ(presenter->shown.at(before).kind, host::MessageKind::Question);
    EXPECT_TRUE(texts().last().contains(QStringLiteral("已重置"))) << qPrintable(texts().last());
    EXPECT_TRUE(logsOn(QStringLiteral("201"), QStringLiteral("001.wang"), QStringLiteral("Chaoyang2027")));
    try {
        wang.providerFetch(QStringLiteral("dspPublic"), probe, {});
        ADD_FAILURE() << "the old session still works after the reset";
    } catch (const quillon::protocol::ProtocolError &e) {
        EXPECT_TRUE(e.userText().contains(QStringLiteral("密码已被修改或重置"))) << qPrintable(e.userText());
        EXPECT_FALSE(e.userText().contains(QStringLiteral("用户名或密码错误"))) << qPrintable(e.userText());
    }

    // 停用: he logs on with the new password, then the account is disabled under him.
    wang.SetPassword(QStringLiteral("Chaoyang2027"));
    ASSERT_NO_THROW(wang.providerFetch(QStringLiteral("dspPublic"), probe, {}));
    ASSERT_TRUE(f->cdsData->Locate(QStringLiteral("USERCODE"), QStringLiteral("001.wang")));
    f->updateActions();
    presenter->answers = {host::Answer::Yes};
    btnEnable->click();
    EXPECT_EQ(count(QStringLiteral("select ENABLED from sys_user where USERCODE='001.wang'")), 0);
    EXPECT_FALSE(logsOn(QStringLiteral("201"), QStringLiteral("001.wang"), QStringLiteral("Chaoyang2027")));
    try {
        wang.providerFetch(QStringLiteral("dspPublic"), probe, {});
        ADD_FAILURE() << "a disabled user's session still works";
    } catch (const quillon::protocol::ProtocolError &e) {
        EXPECT_TRUE(e.userText().contains(QStringLiteral("停用"))) << qPrintable(e.userText());
    }
    // Reopened, the window shows him disabled and offers 启用.
    ASSERT_TRUE(f->cdsData->Locate(QStringLiteral("USERCODE"), QStringLiteral("001.wang")));
    f->updateActions();
    EXPECT_EQ(f->actEnable->text(), QStringLiteral("启用"));
}

TEST_F(Warden, RoleGrantsAreTickedInTheMenuTree)
{
    auto *f = open<TfRole>();
    ASSERT_EQ(f->lstRoles->count(), 4);
    EXPECT_NE(f->itemOf(QStringLiteral("px_Tally.fcenAccEdt")), nullptr);
    EXPECT_EQ(f->itemOf(QStringLiteral("px_Warden.fConfigMenu")), nullptr); // dk's only
    int clerk = -1;
    for (int i = 0; i < f->lstRoles->count(); ++i)
        if (f->lstRoles->item(i)->text().startsWith(QStringLiteral("网点操作员")))
            clerk = i;
    ASSERT_GE(clerk, 0);
    f->lstRoles->setCurrentRow(clerk);
    EXPECT_EQ(f->edtName->text(), QStringLiteral("网点操作员"));
    EXPECT_TRUE(f->checkedFunctions().contains(QStringLiteral("px_Herald.fSendMessage")));
    // Ticking a group ticks its entries (the tree is tri-state).
    QTreeWidgetItem *entry = f->itemOf(QStringLiteral("px_Tally.fcenAccEdt"));
    entry->parent()->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(f->checkedFunctions().contains(QStringLiteral("px_Tally.fcenAccQuery")));
    run(f, f->actSave);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_rolegrant where ROLENAME='网点操作员' and "
                                   "FUNCNAME in ('px_Tally.fcenAccEdt','px_Tally.fcenAccQuery')")),
              2);

    // A new role, then deleting it; a role in use stays.
    run(f, f->actNew);
    f->edtName->setText(QStringLiteral("仓管员"));
    f->setCheckedFunctions({QStringLiteral("px_Herald.fQueryMessage")});
    run(f, f->actSave);
    ASSERT_EQ(f->lstRoles->count(), 5);
    EXPECT_EQ(f->edtName->text(), QStringLiteral("仓管员"));
    run(f, f->actDel);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_role where ROLENAME='仓管员'")), 0);
    f->lstRoles->setCurrentRow(clerk);
    presenter->shown.clear();
    run(f, f->actDel);
    EXPECT_TRUE(texts().value(0).contains(QStringLiteral("还有"))) << qPrintable(texts().value(0));
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_role where ROLENAME='网点操作员'")), 1);
}

TEST_F(Warden, TheMenuEditorIsTheSuperAdministrators)
{
    auto *refused = open<TfConfigMenu>();
    EXPECT_TRUE(texts().last().contains(QStringLiteral("dk"))) << qPrintable(texts().last());
    refused->updateActions();
    EXPECT_FALSE(refused->actSave->isEnabled());

    signOn(QStringLiteral("000"), QStringLiteral("dk"), QStringLiteral("超级管理员"));
    auto *f = open<TfConfigMenu>();
    ASSERT_EQ(f->sysid(), QStringLiteral("001"));
    ASSERT_EQ(f->cdsData->RecordCount(), 29);
    ASSERT_TRUE(f->cdsData->Locate(QStringLiteral("FUNCNAME"), QStringLiteral("px_Herald.fSendMessage")));
    f->cdsData->Edit();
    f->cdsData->FieldByName(QStringLiteral("MENUNAME"))->SetAsString(QStringLiteral("发表公告"));
    run(f, f->actSave);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_menu where MENUNAME='发表公告' and sysid='001'")), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_menu where sysid='001'")), 29);

    // An entry without its group is refused and nothing changes.
    run(f, f->actNew);
    f->cdsData->FieldByName(QStringLiteral("POSID"))->SetAsString(QStringLiteral("001.009.001"));
    f->cdsData->FieldByName(QStringLiteral("MENUNAME"))->SetAsString(QStringLiteral("孤儿"));
    run(f, f->actSave);
    EXPECT_TRUE(texts().last().contains(QStringLiteral("分组"))) << qPrintable(texts().last());
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_menu where sysid='001'")), 29);
}

TEST_F(Warden, SitesFormATreeAndChangeThroughThePanel)
{
    auto *f = open<TfSites>();
    ASSERT_EQ(f->tvSites->topLevelItemCount(), 1);
    EXPECT_EQ(f->tvSites->topLevelItem(0)->text(0), QStringLiteral("总部"));
    EXPECT_EQ(f->tvSites->topLevelItem(0)->childCount(), 3);
    ASSERT_TRUE(f->selectSite(QStringLiteral("100")));
    run(f, f->actNew);
    EXPECT_EQ(f->cbParent->currentText(), QStringLiteral("上海中心")); // below the selected site
    f->edtCode->setText(QStringLiteral("104"));
    f->edtName->setText(QStringLiteral("上海松江"));
    run(f, f->actSave);
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site where SiteCode='104' and BELONGSITE='上海中心' "
                                   "and FINANCECENTER='上海中心' and sysid='001'")),
              1);
    EXPECT_EQ(f->currentCode(), QStringLiteral("104"));
    // Its own parent below itself is refused by the server.
    ASSERT_TRUE(f->selectSite(QStringLiteral("100")));
    f->cbParent->setCurrentIndex(f->cbParent->findText(QStringLiteral("上海松江")));
    run(f, f->actSave);
    EXPECT_TRUE(texts().last().contains(QStringLiteral("上级网点"))) << qPrintable(texts().last());
    ASSERT_TRUE(f->selectSite(QStringLiteral("104")));
    run(f, f->actDel);
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site where SiteCode='104'")), 0);
}

TEST_F(Warden, FunctionNamesOpenTheirWindows)
{
    QTabWidget tabs;
    host::ParentCtrl = &tabs;
    for (const char *name : {"FPASSEDT", "fUsers", "fRole", "fSites", "fConfigMenu", "fNoSuch"})
        DM_Func()->new_execute(QString::fromLatin1(name), QString(), {}, {}, 0);
    QStringList names;
    for (int i = 0; i < tabs.count(); ++i)
        names << tabs.widget(i)->objectName();
    EXPECT_EQ(names, (QStringList{"fPassEdt", "fUsers", "fRole", "fSites", "fConfigMenu"}));
    while (tabs.count() > 0)
        delete tabs.widget(0);
    host::ParentCtrl = nullptr;
}

} // namespace
