// Refresh options and filters of the finance windows that read different server events
// for the same waybill: each waybill below has a pick-up site, a site of issue, an entry
// and a signature that all name different places, so a refresh that reads the wrong event
// (or a filter on the wrong column) gives a visibly wrong line.
#include "modules/tally/tests/tallyfixture.h"

#include "baseforms/dbgrideh.h"
#include "modules/tally/fcenaccedt.h"
#include "modules/tally/fcenaccquery.h"
#include "modules/tally/fdfkedt.h"
#include "modules/tally/fdfkquery.h"
#include "modules/tally/fdfpfedt.h"

#include <QComboBox>
#include <QTest>

using namespace tally;
using namespace tally::test;

namespace {

class Refresh : public TallyServer
{
protected:
    void SetUp() override
    {
        TallyServer::SetUp();
        const QDateTime t = QDateTime::currentDateTime().addSecs(-3600);
        for (const char *bill : {"TR1001", "TR1002"}) {
            const QString b = QString::fromLatin1(bill);
            // Picked up at 上海闵行 (and later, at 上海浦东: the earliest counts).
            s_srv->native(QStringLiteral("insert into TAB_PICKUP (BILLCODE, SITENAME, EMPNAME, WEIGHT, PICKTIME, sysid) "
                                         "values (?, '上海闵行', '王磊', 1, ?, '001')"), {b, t});
            s_srv->native(QStringLiteral("insert into TAB_PICKUP (BILLCODE, SITENAME, EMPNAME, WEIGHT, PICKTIME, sysid) "
                                         "values (?, '上海浦东', '王磊', 1, ?, '001')"), {b, t.addSecs(60)});
            // Entered at 杭州西湖 for 杭州.
            s_srv->native(QStringLiteral("insert into TAB_BILLENTRY (BILLCODE, SENDSITE, DEST, WEIGHT, ENTRYTIME, sysid) "
                                         "values (?, '杭州西湖', '杭州', 1, ?, '001')"), {b, t});
            // Signed for at 深圳南山, whose default dispatch destination is 深圳.
            s_srv->native(QStringLiteral("insert into TAB_SIGN (BILLCODE, SIGNSITE, SIGNPERSON, SIGNTIME, sysid) "
                                         "values (?, '深圳南山', '李娜', ?, '001')"), {b, t});
        }
        // Numbers TR1000..TR1009 were issued to 天津和平.
        s_srv->native(QStringLiteral("insert into TAB_BILLISSUE (BILLSTART, BILLEND, SITENAME, ISSUETIME, sysid) "
                                     "values ('TR1000', 'TR1009', '天津和平', ?, '001')"), {t});
    }
    void TearDown() override
    {
        for (const char *table : {"TAB_PICKUP", "TAB_BILLENTRY", "TAB_SIGN", "TAB_DFKRECORD", "TAB_DFPFRECORD"})
            s_srv->native(QStringLiteral("delete from ") + QLatin1String(table)
                          + QStringLiteral(" where BILLCODE like 'TR%'"));
        s_srv->native(QStringLiteral("delete from TAB_BILLISSUE where BILLSTART like 'TR%'"));
        TallyServer::TearDown();
    }

    static void insertRecord(const char *table, const QString &bill, const QVariantMap &values = {})
    {
        insertRow(table,
                  {{"BILLCODE", bill},
                   {"FIRSTSITE", QString::fromUtf16(kStation)},
                   {"FIRSTCENTER", QStringLiteral("上海中心")},
                   {"DEST", QStringLiteral("原目的地")},
                   {"WEIGHT", 1.0},
                   {"CREATETIME", QDateTime::currentDateTime()},
                   {"sysid", QStringLiteral("001")}},
                  values);
    }
};

// The BILLCODE of every loaded row, sorted.
template<class W> QStringList loadedBills(W *w)
{
    QStringList out;
    w->cdsData->First();
    while (!w->cdsData->Eof()) {
        out << w->cdsData->FieldByName(QStringLiteral("BILLCODE"))->AsString();
        w->cdsData->Next();
    }
    out.sort();
    return out;
}

} // namespace

TEST_F(Refresh, PickUpSiteAndTheSigningSitesDestinationReachTheCentreAccountLine)
{
    insertLine(QStringLiteral("TR1001"), QStringLiteral("a"),
               {{"PRIORSTATIONCODE", QStringLiteral("原上一站")}, {"DEST", QStringLiteral("原目的地")}});
    insertLine(QStringLiteral("TR1002"), QStringLiteral("a"),
               {{"PRIORSTATIONCODE", QStringLiteral("原上一站")}, {"DEST", QStringLiteral("原目的地")}});
    auto *w = open<TfcenAccEdt>();
    w->boxes.edtSite->setText(QString::fromUtf16(kStation));
    w->executeAction(w->actQuery);
    ASSERT_EQ(w->cdsData->RecordCount(), 2);
    ASSERT_EQ(w->cboPriorSite->itemText(3), QStringLiteral("收件网点刷上一站"));
    ASSERT_EQ(w->cboMdd->itemText(2), QStringLiteral("签收站默认发件地刷目的地"));
    w->cboPriorSite->setCurrentIndex(3);
    w->cboMdd->setCurrentIndex(2);
    ASSERT_TRUE(w->cdsData->Locate(QStringLiteral("BILLCODE"), QStringLiteral("TR1001")));
    w->DBGridData->selectRow(w->DBGridData->gridRow(w->cdsData->currentPosition()));
    w->sbRefreshClick();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("刷新操作完成!")});
    w->executeAction(w->actSave);
    // Not the site of issue (天津和平), nor the entry's (杭州西湖), nor the later pick-up.
    EXPECT_EQ(stored(QStringLiteral("TR1001"), QStringLiteral("a"), QStringLiteral("PRIORSTATIONCODE")).toString(),
              QStringLiteral("上海闵行"));
    // Not the entry's destination (杭州), nor the signing site itself.
    EXPECT_EQ(stored(QStringLiteral("TR1001"), QStringLiteral("a"), QStringLiteral("DEST")).toString(), QStringLiteral("深圳"));
    // The unmarked line keeps its values.
    EXPECT_EQ(stored(QStringLiteral("TR1002"), QStringLiteral("a"), QStringLiteral("PRIORSTATIONCODE")).toString(),
              QStringLiteral("原上一站"));
    EXPECT_EQ(stored(QStringLiteral("TR1002"), QStringLiteral("a"), QStringLiteral("DEST")).toString(), QStringLiteral("原目的地"));
}

TEST_F(Refresh, SiteOfIssueAndTheSigningSitesDestinationReachTheDeliveryFeeRecord)
{
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TR1001"));
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TR1002"));
    auto *w = open<TfDFPFEdt>();
    w->boxes.edtJZSite->setText(QString::fromUtf16(kStation));
    w->executeAction(w->actQuery);
    ASSERT_EQ(w->cdsData->RecordCount(), 2);
    ASSERT_EQ(w->cboFirstSite->itemText(1), QStringLiteral("发放刷寄件站"));
    ASSERT_EQ(w->cboMdd->itemText(2), QStringLiteral("签收站默认发件地刷目的地"));
    w->cboFirstSite->setCurrentIndex(1);
    w->cboMdd->setCurrentIndex(2);
    ASSERT_TRUE(w->cdsData->Locate(QStringLiteral("BILLCODE"), QStringLiteral("TR1002")));
    w->DBGridData->selectRow(w->DBGridData->gridRow(w->cdsData->currentPosition()));
    w->sbRefreshClick();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("刷新操作完成!")});
    EXPECT_TRUE(w->DBGridData->SelectedRows().isEmpty());
    w->executeAction(w->actSave);
    // The site of issue, not the entry's sending site (杭州西湖) or the pick-up site.
    EXPECT_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TR1002"), "FIRSTSITE").toString(), QStringLiteral("天津和平"));
    EXPECT_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TR1002"), "DEST").toString(), QStringLiteral("深圳"));
    EXPECT_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TR1001"), "FIRSTSITE").toString(), QString::fromUtf16(kStation));
    EXPECT_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TR1001"), "DEST").toString(), QStringLiteral("原目的地"));
}

TEST_F(Refresh, TheSigningStationFilterOfBothRecordWindows)
{
    for (const char *table : {"TAB_DFKRECORD", "TAB_DFPFRECORD"}) {
        insertRecord(table, QStringLiteral("TR2001"), {{"SIGNSITE", QStringLiteral("北京朝阳")}, {"FIRSTSITE", QStringLiteral("北京朝阳")}});
        insertRecord(table, QStringLiteral("TR2002"), {{"SIGNSITE", QStringLiteral("北京海淀")}});
        insertRecord(table, QStringLiteral("TR2003"));
    }
    auto check = [&](auto *w) {
        w->boxes.edtPZSite->setText(QStringLiteral("北京朝阳"));
        w->executeAction(w->actQuery);
        EXPECT_EQ(loadedBills(w), QStringList{QStringLiteral("TR2001")}) << qPrintable(w->objectName());
        w->boxes.edtPZSite->setText(QStringLiteral("北京海淀"));
        w->executeAction(w->actQuery);
        EXPECT_EQ(loadedBills(w), QStringList{QStringLiteral("TR2002")}) << qPrintable(w->objectName());
    };
    check(open<TfDFKEdt>());
    check(open<TfDFKQuery>());
    check(open<TfDFPFEdt>());
    check(open<TfDFPFQuery>());
}

TEST_F(Refresh, TheNextFinanceCentreFilterOfBothCentreAccountWindows)
{
    insertLine(QStringLiteral("TR3001"), QStringLiteral("a"),
               {{"NEXTFINANCE", QStringLiteral("北京中心")}, {"PRIORFINANCE", QStringLiteral("广州中心")}});
    insertLine(QStringLiteral("TR3002"), QStringLiteral("a"),
               {{"NEXTFINANCE", QStringLiteral("广州中心")}, {"PRIORFINANCE", QStringLiteral("北京中心")}});
    insertLine(QStringLiteral("TR3003"), QStringLiteral("a"));
    auto check = [&](auto *w) {
        w->boxes.edtSite->setText(QString::fromUtf16(kStation));
        w->boxes.edtnfSite->setText(QStringLiteral("北京中心"));
        w->executeAction(w->actQuery);
        EXPECT_EQ(loadedBills(w), QStringList{QStringLiteral("TR3001")}) << qPrintable(w->objectName());
        w->boxes.edtnfSite->setText(QStringLiteral("广州中心"));
        w->executeAction(w->actQuery);
        EXPECT_EQ(loadedBills(w), QStringList{QStringLiteral("TR3002")}) << qPrintable(w->objectName());
    };
    check(open<TfcenAccEdt>());
    check(open<TfcenAccQuery>());
}
