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
#include <QPushButton>
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

    // fParamSet: the user changes a name and, by mistake, gives the first goods type the
    // second one's code. The server refuses the save: the window stays open with both edits
    // and says what to do. He corrects the code and saves again; the window closes.
    const QString sql =
        QStringLiteral("select * from tab_GoodsType where sysid='001' order by Code");
    QString shownCode, refusal;
    bool closedOnRefusal = true;
    int savedResult = 0;
    presenter->onDialog = [&](QWidget *w) {
        auto *dialog = qobject_cast<QDialog *>(w);
        ASSERT_TRUE(dialog);
        auto *grid = w->findChild<tessera::TDBGridEh *>(QStringLiteral("DBGridParam"));
        auto *save = w->findChild<QPushButton *>(QStringLiteral("btnSave"));
        ASSERT_TRUE(grid && save);
        tessera::TColumnEh *name = grid->columnByField(QStringLiteral("CNAME"));
        tessera::TColumnEh *code = grid->columnByField(QStringLiteral("CODE"));
        ASSERT_TRUE(name && code);
        QAbstractItemModel *m = grid->gridModel();
        ASSERT_GT(m->rowCount(), 1);
        const QString secondCode = m->index(1, code->index()).data().toString();
        EXPECT_TRUE(m->setData(m->index(0, name->index()), QStringLiteral("改过的类型"), Qt::EditRole));
        EXPECT_TRUE(m->setData(m->index(0, code->index()), secondCode, Qt::EditRole));
        const int before = int(presenter->shown.size());
        save->click();
        closedOnRefusal = dialog->result() == QDialog::Accepted;
        for (int i = before; i < presenter->shown.size(); ++i)
            if (presenter->shown[i].kind == host::MessageKind::Warning)
                refusal = presenter->shown[i].text;
        shownCode = m->index(0, code->index()).data().toString() + u'|'
                    + m->index(0, name->index()).data().toString();
        EXPECT_EQ(shownCode, secondCode + QStringLiteral("|改过的类型"));

        EXPECT_TRUE(m->setData(m->index(0, code->index()), QStringLiteral("Z9"), Qt::EditRole));
        save->click();
        savedResult = dialog->result();
    };
    toolbox::execute(QStringLiteral("fParamSet"),
                     toolbox::Params({QStringLiteral("ParamSql=") + sql}));
    EXPECT_FALSE(closedOnRefusal);
    EXPECT_TRUE(refusal.contains(QStringLiteral("没有保存"))) << qPrintable(refusal);
    EXPECT_TRUE(refusal.contains(QStringLiteral("请改正后再按“保存”"))) << qPrintable(refusal);
    EXPECT_EQ(savedResult, int(QDialog::Accepted));
    EXPECT_EQ(presenter->shown.last().text, QStringLiteral("参数已保存。"));
    quillon::TMyDataSet check;
    check.SetMyConn(&conn);
    check.SetCommandText(
        QStringLiteral("select * from tab_GoodsType where sysid='001' and Code='Z9'"));
    check.Open();
    EXPECT_EQ(check.FieldByName(QStringLiteral("CNAME"))->AsString(), QStringLiteral("改过的类型"));

    host::setConnection(nullptr);
    host::g_DBConn = nullptr;
    host::setDialogPresenter(nullptr);
    host::g_lstVars->remove(QStringLiteral("ReturnData"));
}
