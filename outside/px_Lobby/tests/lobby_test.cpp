// The start page against an in-process application server, and its shortcuts.
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/uintf.h"
#include "lobby.h"
#include "sentry.h"
#include "server/tests/testserver.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(LobbyRules, ShortcutsComeFromMenuEntriesWithAFunction)
{
    const QChar s(0x0E);
    auto rec = [s](const char *seq, const char *pos, const char *name, const char *func) {
        return QStringList{QString::fromUtf8(seq),
                           QString::fromUtf8(pos),
                           QString::fromUtf8(name),
                           QString::fromUtf8(func),
                           {},
                           {},
                           QStringLiteral("1"),
                           {}}
            .join(s);
    };
    const QString menu =
        QStringList{rec("100", "001.000.000", "公告", ""),
                    rec("101", "001.001.000", "公告管理", ""),
                    rec("101", "001.001.001", "公告发表", "px_Herald.fSendMessage"),
                    rec("101", "@", "隐藏", "px_Herald.fHidden"),
                    rec("101", "002.000.000", "通知", "px_Sentry.fNotify"),
                    rec("102", "002.001.001", "查询", "px_Tally.fDFKQuery")}
            .join(u'/');
    const auto all = lobby::shortcutsFromMenu(menu, 10);
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0].first, QStringLiteral("公告发表"));
    EXPECT_EQ(all[1].second, QStringLiteral("px_Sentry.fNotify"));
    EXPECT_EQ(lobby::shortcutsFromMenu(menu, 2).size(), 2);
    EXPECT_TRUE(lobby::shortcutsFromMenu(QString(), 5).isEmpty());
    EXPECT_THROW(lobby::execute(QStringLiteral("fNoSuch"), {}), host::UserError);
}

TEST(LobbyRules, FiguresAreThoseOfTheUsersSiteCentreOrCompany)
{
    using lobby::Scope;
    const auto site = lobby::figureScopeOf(QStringLiteral("上海浦东"), QStringLiteral("上海中心"),
                                           QStringLiteral("0"), QStringLiteral("上海中心"));
    EXPECT_EQ(site.scope, Scope::Site);
    EXPECT_EQ(site.name, QStringLiteral("上海浦东"));
    const auto centre = lobby::figureScopeOf(QStringLiteral("北京中心"), QStringLiteral("总部"),
                                             QStringLiteral("1"), QStringLiteral("北京中心"));
    EXPECT_EQ(centre.scope, Scope::Centre);
    const auto company = lobby::figureScopeOf(QStringLiteral("总部"), QString(), QStringLiteral("1"),
                                              QStringLiteral("总部"));
    EXPECT_EQ(company.scope, Scope::Company);
    EXPECT_TRUE(company.heading().contains(QStringLiteral("全公司")));

    // Each figure names its scope and restricts to it; quotes in a name stay inside SQL text.
    const auto figures = lobby::todayFigures(QStringLiteral("001"), {Scope::Site, QStringLiteral("O'Hare")});
    ASSERT_EQ(figures.size(), 3);
    EXPECT_TRUE(figures[0].caption.startsWith(QStringLiteral("本网点")));
    for (const auto &f : figures) {
        EXPECT_TRUE(f.sql.contains(QStringLiteral("'O''Hare'"))) << f.sql.toStdString();
        EXPECT_TRUE(f.sql.contains(QStringLiteral("sysid='001'")));
    }
    for (const auto &f : lobby::todayFigures(QStringLiteral("001"), company))
        EXPECT_FALSE(f.sql.contains(QStringLiteral("SITE=")) || f.sql.contains(QStringLiteral("CENTER=")));
}

TEST(LobbyOnServer, StartPageShowsTheUsersFigures)
{
    server::test::TestServer srv(50);
    QTemporaryDir dir;
    quillon::TMySktConnection conn;
    host::g_lstVars->clear();
    host::g_DBConn = host::CdbCommObj();
    host::setConnection(&conn);
    host::setDialogPresenter(std::make_unique<host::ScriptedPresenter>());
    host::VarList &v = *host::g_lstVars;
    v.setValue(QStringLiteral("iExePath"), dir.path() + u'/');
    v.setValue(QStringLiteral("Host"), QStringLiteral("127.0.0.1:%1").arg(srv.http->port()));
    v.setValue(QStringLiteral("LogOnSiteCode"), QStringLiteral("101"));
    v.setValue(QStringLiteral("LogOnUser"), QStringLiteral("001.zhang"));
    v.setValue(QStringLiteral("LogOnPass"), QStringLiteral("123456"));
    v.setValue(QStringLiteral("sysid"), QStringLiteral("001"));
    sentry::fVefify();
    ASSERT_EQ(v.value(QStringLiteral("LVerify")), QStringLiteral("TRUE"));
    v.setValue(QStringLiteral("OffLine"), QStringLiteral("FALSE"));

    lobby::TfStart page;
    auto *scope = page.findChild<QLabel *>(QStringLiteral("lblScope"));
    ASSERT_TRUE(scope);
    EXPECT_TRUE(scope->text().contains(QStringLiteral("上海浦东"))) << scope->text().toStdString();
    bool ok = false;
    EXPECT_GT(page.noticeLabel()->text().toInt(&ok), 0);
    EXPECT_TRUE(ok) << page.noticeLabel()->text().toStdString();
    for (QLabel *l : page.figureLabels()) {
        l->text().toInt(&ok);
        EXPECT_TRUE(ok) << l->text().toStdString();
    }

    // Offline nothing is asked of the server.
    v.setValue(QStringLiteral("OffLine"), QStringLiteral("TRUE"));
    page.refresh();
    EXPECT_EQ(page.noticeLabel()->text(), QStringLiteral("—"));
    host::setConnection(nullptr);
    host::setDialogPresenter(nullptr);
    host::g_lstVars->clear();
}
