// The query lookup edit against an in-process application server: the statements it builds
// run on the server, the rows fetched become the lookup dataset, and the pick and the check
// use them.
#include "baseforms/fdbbase.h"
#include "baseforms/fdbmultibase_batch.h"
#include "baseforms/myqdbxedit.h"
#include "dataaccess/mysktconnection.h"
#include "lookuptestenv.h"
#include "server/tests/testserver.h"

#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using namespace tessera;

namespace {

class QueryEditOnServer : public lookuptest::Env
{
};

bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    for (int waited = 0; !done() && waited < ms; waited += 20)
        QTest::qWait(20);
    return done();
}

} // namespace

TEST_F(QueryEditOnServer, TypingQueriesTheServerAndTheCheckUsesTheRowsFetched)
{
    server::test::TestServer srv(10);
    quillon::TMySktConnection conn;
    conn.SetHost(QStringLiteral("127.0.0.1"));
    conn.SetPort(srv.http->port());
    conn.SetSiteCode(QStringLiteral("101"));
    conn.SetUsername(QStringLiteral("001.zhang"));
    conn.SetPassword(QStringLiteral("123456"));

    for (const QString &command :
         {QStringLiteral("tab_Site"),
          QStringLiteral("select SiteCode,SiteName from tab_Site where sysid='001'")}) {
        SCOPED_TRACE(command.toStdString());
        quillon::TMyDataSet lookup;
        lookup.SetMyConn(&conn);
        lookup.SetCommandText(command);
        QWidget window;
        auto *l = new QVBoxLayout(&window);
        auto *edit = new TMyQDBXEdit(&window);
        auto *other = new QLineEdit(&window);
        l->addWidget(edit);
        l->addWidget(other);
        edit->SetMSD_Caption(QStringLiteral("网点"));
        edit->SetMSD_LookupCds(&lookup);
        edit->SetMSD_CodeField(QStringLiteral("SiteCode"));
        edit->SetMSD_NameField(QStringLiteral("SiteName"));
        lookuptest::showActive(&window);
        edit->setFocus();

        lookuptest::typeText(edit, QStringLiteral("上海"));
        ASSERT_TRUE(waitFor([&] { return edit->listVisible(); }));
        EXPECT_TRUE(presenter->shown.isEmpty());
        const QStringList names = edit->listNames();
        EXPECT_EQ(names.size(), 3) << names.join(QLatin1Char(',')).toStdString();
        for (const QString &n : names)
            EXPECT_TRUE(n.contains(QStringLiteral("上海"))) << n.toStdString();
        // The lookup dataset now holds exactly the rows of the list.
        EXPECT_EQ(lookup.RecordCount(), names.size());

        QTest::keyClick(edit, Qt::Key_Down);
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(edit->text(), names.at(1));
        EXPECT_EQ(lookup.FieldByName(QStringLiteral("SiteName"))->AsString(), names.at(1));

        // A code of a fetched row is accepted and completed to its name.
        edit->setText(lookup.FieldByName(QStringLiteral("SiteCode"))->AsString());
        edit->setModified(true);
        CancelModeEvent e;
        QCoreApplication::sendEvent(edit, &e);
        EXPECT_FALSE(e.refused());
        EXPECT_EQ(edit->text(), names.at(1));

        // Typing a text that matches nothing on the server hides the list.
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("zzqq"));
        ASSERT_TRUE(waitFor([&] { return !edit->timer()->isActive(); }));
        EXPECT_FALSE(edit->listVisible());
        EXPECT_TRUE(presenter->shown.isEmpty());
    }
}

namespace {
class GoodsTypes : public TfDBMultiBase_Batch
{
public:
    explicit GoodsTypes(TfIDM *dm)
        : m_dm(dm)
    {}
    void InitPDM() override { SetPDM(m_dm); }
    QString GetSql() override
    {
        return QStringLiteral("select * from tab_GoodsType where sysid='001' order by Code");
    }
    TfIDM *m_dm;
};

QStringList serverNames(quillon::TMySktConnection &conn)
{
    quillon::TMyDataSet check;
    check.SetMyConn(&conn);
    check.SetCommandText(
        QStringLiteral("select Cname from tab_GoodsType where sysid='001' order by Code"));
    check.Open();
    QStringList names;
    for (check.First(); !check.Eof(); check.Next())
        names << check.FieldByName(QStringLiteral("Cname"))->AsString();
    return names;
}
} // namespace

TEST_F(QueryEditOnServer, BatchFormSavesDeletesAndSavesOnClose)
{
    server::test::TestServer srv(10);
    quillon::TMySktConnection conn;
    conn.SetHost(QStringLiteral("127.0.0.1"));
    conn.SetPort(srv.http->port());
    // The administrator's role may write the goods types (parameter grant).
    conn.SetSiteCode(QStringLiteral("000"));
    conn.SetUsername(QStringLiteral("001.admin"));
    conn.SetPassword(QStringLiteral("123456"));
    testdata::RecordingDM dm;
    dm.cnServer = &conn;

    auto *f = createForm<GoodsTypes>(&dm);
    QPointer<GoodsTypes> alive(f);
    f->executeAction(f->actQuery);
    quillon::TMyDataSet *ds = f->cdsData;
    const QStringList before = serverNames(conn);
    ASSERT_GE(ds->RecordCount(), 3) << shownTexts().join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(before.size(), ds->RecordCount());

    ds->First();
    ds->Edit();
    ds->FieldByName(QStringLiteral("Cname"))->SetAsString(QStringLiteral("改过的类型"));
    f->updateActions();
    f->executeAction(f->actSave);
    EXPECT_TRUE(presenter->shown.isEmpty());
    EXPECT_EQ(ds->ChangeCount(), 0);
    EXPECT_EQ(serverNames(conn).value(0), QStringLiteral("改过的类型"));

    presenter->answers = {host::Answer::Yes};
    ds->Last();
    f->updateActions();
    f->executeAction(f->actDel);
    EXPECT_EQ(serverNames(conn).size(), before.size() - 1);

    // A change left unsaved: closing asks, "yes" saves it and the window closes.
    ds->First();
    ds->Edit();
    ds->FieldByName(QStringLiteral("Cname"))->SetAsString(QStringLiteral("关闭前保存"));
    presenter->answers = {host::Answer::Yes};
    EXPECT_TRUE(f->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
    EXPECT_EQ(serverNames(conn).value(0), QStringLiteral("关闭前保存"));
}
