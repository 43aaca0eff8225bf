// px_Toolbox against an in-process application server: the lookup query runs through
// the host's connection and ReturnData comes back; the parameter window saves edits.
#include "baseforms/dbgrideh.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/uintf.h"
#include "lookupchooser.h"
#include "server/tests/testserver.h"
#include "toolbox.h"

#include <QDialog>
#include <QTableWidget>
#include <gtest/gtest.h>

TEST(ToolboxOnServer, LookupReturnsChosenSitesAndParameterWindowSaves)
{
    server::test::TestServer srv(20);
    quillon::TMySktConnection conn;
    conn.SetHost(QStringLiteral("127.0.0.1"));
    conn.SetPort(srv.http->port());
    // The administrator's role holds the parameter window's grant.
    conn.SetSiteCode(QStringLiteral("000"));
    conn.SetUsername(QStringLiteral("001.admin"));
    conn.SetPassword(QStringLiteral("123456"));
    host::g_DBConn = host::CdbCommObj();
    host::setConnection(&conn);
    auto p = std::make_unique<host::ScriptedPresenter>();
    auto *presenter = p.get();
    host::setDialogPresenter(std::move(p));

    const QStringList lines{
        QStringLiteral(
            "DlgSelectSQL=select SiteCode,SiteName,BELONGSITE From tab_Site where sysid='001'"),
        QStringLiteral("DlgFlag=1"),
        QStringLiteral("DlgSelText=上海浦东"),
        QStringLiteral("DlgCaption=请选择"),
        QStringLiteral("DlgCode=SiteCode"),
        QStringLiteral("DlgName=SiteName"),
        QStringLiteral("DlgBelong=BELONGSITE"),
        QStringLiteral("DlgReturn=1")};
    int rows = 0;
    presenter->onDialog = [&](QWidget *w) {
        auto *d = qobject_cast<toolbox::LookupChooser *>(w);
        ASSERT_TRUE(d);
        rows = d->table()->rowCount();
    };
    presenter->dialogResults = {QDialog::Accepted, QDialog::Rejected};
    toolbox::execute(QStringLiteral("px_Toolbox.fLookupDlg"), toolbox::Params(lines));
    EXPECT_GT(rows, 1);
    EXPECT_EQ(host::g_lstVars->value(QStringLiteral("ReturnData")), QStringLiteral("上海浦东"));

    toolbox::execute(QStringLiteral("px_Toolbox.fLookupDlg"), toolbox::Params(lines));
    EXPECT_EQ(host::g_lstVars->value(QStringLiteral("ReturnData")), QStringLiteral("CANCEL"));

    // A query the server refuses leaves "CANCEL" and reports the error.
    QStringList bad = lines;
    bad[0] = QStringLiteral("DlgSelectSQL=select nothing from no_such_table");
    EXPECT_ANY_THROW(toolbox::execute(QStringLiteral("fLookupDlg"), toolbox::Params(bad)));
    EXPECT_EQ(host::g_lstVars->value(QStringLiteral("ReturnData")), QStringLiteral("CANCEL"));

    // fParamSet: the user changes a value in the parameter window; OK saves it.
    presenter->onDialog = [&](QWidget *w) {
        auto *grid = w->findChild<tessera::TDBGridEh *>(QStringLiteral("DBGridParam"));
        ASSERT_TRUE(grid);
        tessera::TColumnEh *name = grid->columnByField(QStringLiteral("CNAME"));
        ASSERT_TRUE(name);
        QAbstractItemModel *m = grid->gridModel();
        ASSERT_GT(m->rowCount(), 0);
        EXPECT_TRUE(
            m->setData(m->index(0, name->index()), QStringLiteral("改过的类型"), Qt::EditRole));
    };
    presenter->dialogResults = {QDialog::Accepted};
    const QString sql =
        QStringLiteral("select * from tab_GoodsType where sysid='001' order by Code");
    toolbox::execute(QStringLiteral("fParamSet"),
                     toolbox::Params({QStringLiteral("ParamSql=") + sql}));
    quillon::TMyDataSet check;
    check.SetMyConn(&conn);
    check.SetCommandText(sql);
    check.Open();
    EXPECT_EQ(check.FieldByName(QStringLiteral("CNAME"))->AsString(), QStringLiteral("改过的类型"));

    host::setConnection(nullptr);
    host::g_DBConn = nullptr;
    host::setDialogPresenter(nullptr);
    host::g_lstVars->remove(QStringLiteral("ReturnData"));
}
