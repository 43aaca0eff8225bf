// The centre account windows of px_Tally against a real application server: queries,
// the routing refresh, the fee runs, failures in the middle of a run, stopping a long run,
// and saved values read back from the server.
#include "modules/tally/tests/tallyfixture.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "modules/tally/fcenaccedt.h"
#include "modules/tally/fcenaccquery.h"
#include "server/seedfinance.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace tally;
using namespace tally::test;

namespace {

class CenAcc : public TallyServer
{
protected:
    // The edit window showing the lines of the test station.
    TfcenAccEdt *openEdit()
    {
        auto *w = open<TfcenAccEdt>();
        w->boxes.edtSite->setText(QString::fromUtf16(kStation));
        QTest::mouseClick(w->tbQuery, Qt::LeftButton);
        return w;
    }
    static bool go(TfFinanceEdit *w, const QString &scanType)
    {
        return w->cdsData->Locate(QStringLiteral("SCANTYPE"), scanType);
    }
    static QString value(TfFinanceEdit *w, const QString &scanType, const char *field)
    {
        EXPECT_TRUE(go(w, scanType)) << qPrintable(scanType);
        return w->cdsData->FieldByName(QString::fromLatin1(field))->AsString();
    }
    // Marks the rows with a control-click in the grid, as the user does.
    static void mark(TfFinanceEdit *w, const QStringList &scanTypes)
    {
        for (const QString &t : scanTypes) {
            ASSERT_TRUE(go(w, t));
            const int row = w->DBGridData->gridRow(w->cdsData->currentPosition());
            QTableView *view = w->DBGridData->view();
            view->scrollTo(view->model()->index(row, 2));
            const QRect r = view->visualRect(view->model()->index(row, 2));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, r.center());
        }
        ASSERT_EQ(w->DBGridData->SelectedRows().size(), scanTypes.size());
    }
    static QString signedBill()
    {
        return scalar(QStringLiteral("select min(BILLCODE) from TAB_SIGN where sysid='001'")).toString();
    }
    static double maxWeight(const QString &bill)
    {
        return scalar(QStringLiteral("select max(w) from (select WEIGHT w from TAB_PICKUP where BILLCODE=?1 "
                                     "union all select WEIGHT from TAB_SCAN where BILLCODE=?1 union all "
                                     "select WEIGHT from TAB_BILLENTRY where BILLCODE=?1 union all select "
                                     "WEIGHT from TAB_WAYBILL where BILLCODE=?1) e"),
                      {bill})
            .toDouble();
    }
};

// Answers the next server call of the window's function dataset from a dead address, as a
// lost connection does, once `after` rows are done.
void failCallsAfter(TfFinanceEdit *w, int after, quillon::TMySktConnection *dead)
{
    dead->SetHost(QStringLiteral("127.0.0.1"));
    dead->SetPort(1);
    // One line per request, so that the lines after the switch really go to the dead address.
    w->setCallsPerRequest(1);
    QObject::connect(w, &TfFinanceEdit::rowDone, w, [w, after, dead](int done) {
        if (done == after)
            w->cdsTmp->SetMyConn(dead);
    });
}

} // namespace

TEST_F(CenAcc, SignStatusFiltersAndAnEmptyFlagCountsAsUnsigned)
{
    insertLine(QStringLiteral("T1"), QStringLiteral("a"), {{"SIGNED", 1}});
    insertLine(QStringLiteral("T1"), QStringLiteral("b"), {{"SIGNED", 0}});
    insertLine(QStringLiteral("T1"), QStringLiteral("c"), {{"SIGNED", QVariant()}});
    auto *q = open<TfcenAccQuery>();
    q->boxes.edtSite->setText(QString::fromUtf16(kStation));
    const int expected[] = {3, 1, 2};
    for (int item = 0; item < 3; ++item) {
        q->filters->cboSignType->setCurrentIndex(item);
        q->executeAction(q->actQuery);
        EXPECT_EQ(q->cdsData->RecordCount(), expected[item]) << item;
    }
    // A goods type nobody has finds nothing; the empty item finds all.
    q->filters->cboSignType->setCurrentIndex(0);
    q->filters->cboGoodsType->addItem(QStringLiteral("无此类"));
    q->filters->cboGoodsType->setCurrentText(QStringLiteral("无此类"));
    q->executeAction(q->actQuery);
    EXPECT_EQ(q->cdsData->RecordCount(), 0);
    EXPECT_FALSE(q->actExport->isEnabled());
}

TEST_F(CenAcc, RefreshStepsReadTheLineAsTheEarlierStepsLeftIt)
{
    // a: 寄件站刷上一站 then 上一站刷寄件站 copies SEND_SITE there and back.
    insertLine(QStringLiteral("T2"), QStringLiteral("a"),
               {{"SEND_SITE", QStringLiteral("上海浦东")}, {"PRIORSTATIONCODE", QStringLiteral("旧上一站")},
                {"DEST", QStringLiteral("旧目的地")}});
    // b: 签收站刷下一站 then 下一站刷目的地 gives DEST the signing site.
    insertLine(QStringLiteral("T2"), QStringLiteral("b"),
               {{"SIGNSITE", QStringLiteral("北京朝阳")}, {"NEXTSTATIONCODE", QStringLiteral("旧下一站")},
                {"DEST", QStringLiteral("旧目的地")}});
    // c: nothing to copy from: every column stays.
    insertLine(QStringLiteral("T2"), QStringLiteral("c"),
               {{"PRIORSTATIONCODE", QStringLiteral("P")}, {"DEST", QStringLiteral("D")}});
    insertLine(QStringLiteral("T2"), QStringLiteral("d"), {{"DEST", QStringLiteral("未选中")}});
    TfcenAccEdt *w = openEdit();
    ASSERT_EQ(w->cdsData->RecordCount(), 4);
    w->cboPriorSite->setCurrentIndex(1);
    w->cboNextSite->setCurrentIndex(1);
    w->cboMdd->setCurrentIndex(3);
    w->cboFirstSite->setCurrentIndex(1);
    w->executeAction(w->actRefresh);
    // Without marks: the warning and nothing else.
    QTest::mouseClick(w->sbRefresh, Qt::LeftButton);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("请先选择需要刷新的记录!")});
    mark(w, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    QTest::mouseClick(w->sbRefresh, Qt::LeftButton);
    EXPECT_EQ(shownTexts().last(), QStringLiteral("刷新操作完成!"));
    // The refresh leaves the marks.
    EXPECT_EQ(w->DBGridData->SelectedRows().size(), 3);
    w->executeAction(w->actSave);

    const QString a = QStringLiteral("a"), b = QStringLiteral("b"), c = QStringLiteral("c");
    EXPECT_EQ(stored(QStringLiteral("T2"), a, QStringLiteral("PRIORSTATIONCODE")).toString(), QStringLiteral("上海浦东"));
    EXPECT_EQ(stored(QStringLiteral("T2"), a, QStringLiteral("SEND_SITE")).toString(), QStringLiteral("上海浦东"));
    EXPECT_EQ(stored(QStringLiteral("T2"), a, QStringLiteral("DEST")).toString(), QStringLiteral("旧目的地"));
    EXPECT_EQ(stored(QStringLiteral("T2"), b, QStringLiteral("NEXTSTATIONCODE")).toString(), QStringLiteral("北京朝阳"));
    EXPECT_EQ(stored(QStringLiteral("T2"), b, QStringLiteral("DEST")).toString(), QStringLiteral("北京朝阳"));
    EXPECT_EQ(stored(QStringLiteral("T2"), c, QStringLiteral("DEST")).toString(), QStringLiteral("D"));
    EXPECT_EQ(stored(QStringLiteral("T2"), c, QStringLiteral("SEND_SITE")).toString(), QStringLiteral("P"));
    EXPECT_EQ(stored(QStringLiteral("T2"), QStringLiteral("d"), QStringLiteral("DEST")).toString(), QStringLiteral("未选中"));
}

TEST_F(CenAcc, LookupRefreshesAndTheWeightThatIsNeverLowered)
{
    const QString bill = signedBill();
    ASSERT_FALSE(bill.isEmpty());
    const double most = maxWeight(bill);
    ASSERT_GT(most, 0);
    insertLine(bill, QStringLiteral("heavy"), {{"WEIGHT", most + 10}, {"DEST", QStringLiteral("旧")}});
    insertLine(bill, QStringLiteral("light"), {{"WEIGHT", 0.01}});
    insertLine(bill, QStringLiteral("none"), {{"WEIGHT", QVariant()}});
    // No events for this number: every lookup comes back empty and the columns stay.
    insertLine(QStringLiteral("NOSUCHBILL"), QStringLiteral("unknown"),
               {{"WEIGHT", 2.0}, {"DEST", QStringLiteral("原目的地")}, {"PRIORSTATIONCODE", QStringLiteral("原站")}});
    TfcenAccEdt *w = openEdit();
    w->cboPriorSite->setCurrentIndex(2); // site of issue
    w->cboMdd->setCurrentIndex(1);       // destination of the entry
    w->chkWeight->setChecked(true);
    w->executeAction(w->actSelAll);
    ASSERT_EQ(w->DBGridData->SelectedRows().size(), 4);
    w->sbRefreshClick();
    w->executeAction(w->actSave);

    const QString issued = scalar(QStringLiteral("select SITENAME from TAB_BILLISSUE where BILLSTART<=? and BILLEND>=?"),
                                  {bill, bill}).toString();
    const QString entryDest = scalar(QStringLiteral("select DEST from TAB_BILLENTRY where BILLCODE=?"), {bill}).toString();
    EXPECT_EQ(stored(bill, QStringLiteral("heavy"), QStringLiteral("PRIORSTATIONCODE")).toString(), issued);
    EXPECT_EQ(stored(bill, QStringLiteral("heavy"), QStringLiteral("DEST")).toString(), entryDest);
    EXPECT_DOUBLE_EQ(stored(bill, QStringLiteral("heavy"), QStringLiteral("WEIGHT")).toDouble(), most + 10);
    EXPECT_DOUBLE_EQ(stored(bill, QStringLiteral("light"), QStringLiteral("WEIGHT")).toDouble(), most);
    EXPECT_DOUBLE_EQ(stored(bill, QStringLiteral("none"), QStringLiteral("WEIGHT")).toDouble(), most);
    EXPECT_EQ(stored(QStringLiteral("NOSUCHBILL"), QStringLiteral("unknown"), QStringLiteral("DEST")).toString(),
              QStringLiteral("原目的地"));
    EXPECT_EQ(stored(QStringLiteral("NOSUCHBILL"), QStringLiteral("unknown"), QStringLiteral("PRIORSTATIONCODE")).toString(),
              QStringLiteral("原站"));
    EXPECT_DOUBLE_EQ(stored(QStringLiteral("NOSUCHBILL"), QStringLiteral("unknown"), QStringLiteral("WEIGHT")).toDouble(), 2.0);
}

TEST_F(CenAcc, FeesOfTheCurrentLineOnlyAndOfTheMarkedLinesReadBack)
{
    // 北京中心's transit rule, three pieces, 2.3 kg to 深圳, 生鲜.
    const QVariantMap fresh{{"FINANCECENTER", QStringLiteral("北京中心")}, {"PCS", 3}, {"WEIGHT", 2.3},
                            {"DEST", QStringLiteral("深圳")}, {"GOODSTYPE", QStringLiteral("生鲜")},
                            {"AR_TRANS_FEE", 9.99}, {"SCANMONEY", 9.99}, {"AP_SEND_FEE", 9.99},
                            {"OTHERCHARGE", 9.99}};
    for (const char *t : {"a", "b", "c"})
        insertLine(QStringLiteral("T4"), QString::fromLatin1(t), fresh);
    auto *w = open<TfcenAccEdt>();
    w->boxes.edtFinance->setEnabled(true);
    w->boxes.edtFinance->clear();
    w->boxes.edtSite->setText(QString::fromUtf16(kStation));
    w->executeAction(w->actQuery);
    ASSERT_EQ(w->cdsData->RecordCount(), 3);

    // 批带 without marks: only the hint; nothing changes.
    QTest::mouseClick(w->tbCalcAll, Qt::LeftButton);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("操作完成!")});
    EXPECT_EQ(w->cdsData->ChangeCount(), 0);

    // 单带 works on the focused line even while others are marked.
    mark(w, {QStringLiteral("b"), QStringLiteral("c")});
    ASSERT_TRUE(go(w, QStringLiteral("a")));
    QTest::mouseClick(w->tbCalcOne, Qt::LeftButton);
    EXPECT_EQ(value(w, QStringLiteral("a"), "AR_TRANS_FEE"), QStringLiteral("2.1")); // 1.2 + 1.5 kg x 0.6
    EXPECT_EQ(value(w, QStringLiteral("a"), "SCANMONEY"), QStringLiteral("0.25"));   // 0.1 + 3 x 0.05
    EXPECT_EQ(value(w, QStringLiteral("a"), "AP_SEND_FEE"), QStringLiteral("2"));     // 深圳
    EXPECT_EQ(value(w, QStringLiteral("a"), "OTHERCHARGE"), QStringLiteral("2"));     // 生鲜
    EXPECT_EQ(value(w, QStringLiteral("b"), "AR_TRANS_FEE"), QStringLiteral("9.99"));
    EXPECT_EQ(w->DBGridData->SelectedRows().size(), 2);

    // The fifteen parameters of the last call, with their types.
    const QList<quillon::TParam> params = w->cdsTmp->Params();
    ASSERT_EQ(params.size(), 15);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(params[i].name, QString::number(i + 1));
    using quillon::FieldType;
    EXPECT_EQ(params[2].value.toString(), QStringLiteral("其他费"));
    EXPECT_EQ(params[3].type, FieldType::Integer);
    EXPECT_EQ(params[3].value.toInt(), 3);
    EXPECT_EQ(params[4].type, FieldType::Float);
    EXPECT_DOUBLE_EQ(params[5].value.toDouble(), 2.3);
    EXPECT_EQ(params[10].value.toString(), QStringLiteral("北京中心"));
    EXPECT_EQ(params[11].value.toString(), QString::fromUtf16(kStation));
    EXPECT_EQ(params[13].type, FieldType::DateTime);
    EXPECT_TRUE(params[13].value.toDateTime().isValid());
    EXPECT_EQ(params[14].value.toString(), QStringLiteral("001"));

    QTest::mouseClick(w->tbCalcAll, Qt::LeftButton);
    w->executeAction(w->actSave);
    for (const char *t : {"a", "b", "c"}) {
        EXPECT_DOUBLE_EQ(stored(QStringLiteral("T4"), QString::fromLatin1(t), QStringLiteral("AR_TRANS_FEE")).toDouble(), 2.1) << t;
        EXPECT_DOUBLE_EQ(stored(QStringLiteral("T4"), QString::fromLatin1(t), QStringLiteral("OTHERCHARGE")).toDouble(), 2.0) << t;
    }
}

TEST_F(CenAcc, TheValidityTimeReachesTheFeeRule)
{
    // A rule for 北京中心's other fee that was valid in 2020 only.
    s_srv->native(QStringLiteral("insert into TAB_FEERULE (RULEID, FEETYPE, FINANCE, FIRSTSITE, DEST, GOODSTYPE, "
                                 "WEIGHTFROM, BASEFEE, MINFEE, VALIDFROM, VALIDTO, sysid) values "
                                 "(900, '其他费', '北京中心', '*', '*', '*', 0, 7.5, 7.5, ?, ?, '001')"),
                  {QDateTime(QDate(2020, 1, 1), QTime(0, 0)), QDateTime(QDate(2020, 12, 31), QTime(23, 59))});
    insertLine(QStringLiteral("T5"), QStringLiteral("old"),
               {{"FINANCECENTER", QStringLiteral("北京中心")}, {"SCANTIME", QDateTime(QDate(2020, 6, 1), QTime(10, 0))}});
    insertLine(QStringLiteral("T5"), QStringLiteral("new"), {{"FINANCECENTER", QStringLiteral("北京中心")}});
    auto *w = open<TfcenAccEdt>();
    w->boxes.edtFinance->setEnabled(true);
    w->boxes.edtFinance->setText(QStringLiteral("北京中心"));
    w->boxes.edtSite->setText(QString::fromUtf16(kStation));
    w->filters->dtB->setDate(QDate(2020, 1, 1));
    w->executeAction(w->actQuery);
    EXPECT_EQ(w->cdsData->RecordCount(), 2);
    w->executeAction(w->actSelAll);
    w->CalcFees(true);
    s_srv->native(QStringLiteral("delete from TAB_FEERULE where RULEID=900"));
    EXPECT_EQ(value(w, QStringLiteral("old"), "OTHERCHARGE"), QStringLiteral("7.5"));
    EXPECT_EQ(value(w, QStringLiteral("new"), "OTHERCHARGE"), QStringLiteral("0"));
}

TEST_F(CenAcc, MarksAreClearedByANewQuery)
{
    insertLine(QStringLiteral("T6"), QStringLiteral("a"));
    insertLine(QStringLiteral("T6"), QStringLiteral("b"));
    TfcenAccEdt *w = openEdit();
    QTest::mouseClick(w->findChild<QToolButton *>(QStringLiteral("tbSelAll")), Qt::LeftButton);
    EXPECT_EQ(w->DBGridData->SelectedRows().size(), 2);
    QTest::mouseClick(w->tbQuery, Qt::LeftButton);
    EXPECT_TRUE(w->DBGridData->SelectedRows().isEmpty());
    w->executeAction(w->actSelAll);
    QTest::mouseClick(w->findChild<QToolButton *>(QStringLiteral("tbUnSelAll")), Qt::LeftButton);
    EXPECT_TRUE(w->DBGridData->SelectedRows().isEmpty());
}

TEST_F(CenAcc, AFailingLookupStopsTheRefreshAndKeepsTheLinesBefore)
{
    for (const char *t : {"a", "b", "c"})
        insertLine(QStringLiteral("T7"), QString::fromLatin1(t), {{"WEIGHT", 0.01}});
    TfcenAccEdt *w = openEdit();
    quillon::TMySktConnection dead;
    failCallsAfter(w, 1, &dead);
    w->chkWeight->setChecked(true);
    w->cdsData->SetIndexFieldNames(QStringLiteral("SCANTYPE"));
    w->executeAction(w->actSelAll);
    w->sbRefreshClick();
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].kind, host::MessageKind::Error);
    EXPECT_TRUE(presenter->shown[0].text.contains(QStringLiteral("运单[T7]获取最大重量失败")))
        << qPrintable(presenter->shown[0].text);
    EXPECT_TRUE(presenter->shown[0].text.contains(QStringLiteral("之前已处理的1条")));
    // T7 has no events, so the first line got nothing; but it ran, and the rest did not.
    EXPECT_EQ(w->cdsData->State(), quillon::DataSetState::Browse);
    EXPECT_FALSE(w->cdsData->ControlsDisabled());
    EXPECT_EQ(w->rgb->value(), 0);
    EXPECT_FALSE(w->running());
    EXPECT_TRUE(w->DBGridData->isEnabled());
    w->updateActions();
    EXPECT_TRUE(w->actSave->isEnabled());
    EXPECT_EQ(w->DBGridData->SelectedRows().size(), 3);
}

TEST_F(CenAcc, AFailingFeeCallLeavesTheFeeAndStopsAtThatLine)
{
    for (const char *t : {"a", "b", "c"})
        insertLine(QStringLiteral("T8"), QString::fromLatin1(t),
                   {{"AR_TRANS_FEE", 9.99}, {"SCANMONEY", 9.99}, {"AP_SEND_FEE", 9.99}, {"OTHERCHARGE", 9.99}});
    TfcenAccEdt *w = openEdit();
    quillon::TMySktConnection dead;
    failCallsAfter(w, 1, &dead);
    w->cdsData->SetIndexFieldNames(QStringLiteral("SCANTYPE"));
    w->executeAction(w->actSelAll);
    w->CalcFees(true);
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_TRUE(presenter->shown[0].text.contains(QStringLiteral("运单[T8]的中转费计算失败")))
        << qPrintable(presenter->shown[0].text);
    // The first line has its new fees; the failing one and the one after keep theirs.
    EXPECT_EQ(value(w, QStringLiteral("a"), "AR_TRANS_FEE"), QStringLiteral("1"));
    EXPECT_EQ(value(w, QStringLiteral("a"), "SCANMONEY"), QStringLiteral("0.15"));
    for (const char *t : {"b", "c"})
        for (const char *f : {"AR_TRANS_FEE", "SCANMONEY", "AP_SEND_FEE", "OTHERCHARGE"})
            EXPECT_EQ(value(w, QString::fromLatin1(t), f), QStringLiteral("9.99")) << t << f;
    EXPECT_EQ(w->cdsData->ChangeCount(), 1);

    // 单带 on a failing line changes nothing of it and says why.
    presenter->shown.clear();
    ASSERT_TRUE(go(w, QStringLiteral("b")));
    w->CalcFees(false);
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_TRUE(presenter->shown[0].text.contains(QStringLiteral("这条记录没有改动")));
    EXPECT_EQ(value(w, QStringLiteral("b"), "AR_TRANS_FEE"), QStringLiteral("9.99"));
    EXPECT_EQ(w->cdsData->ChangeCount(), 1);
}

TEST_F(CenAcc, ALongRunKeepsPaintingAndStopsWhenAsked)
{
    for (int i = 0; i < 20; ++i)
        insertLine(QStringLiteral("T9"), QStringLiteral("s%1").arg(i, 2, 10, QLatin1Char('0')),
                   {{"AR_TRANS_FEE", 9.99}});
    TfcenAccEdt *w = openEdit();
    w->cdsData->SetIndexFieldNames(QStringLiteral("SCANTYPE"));
    w->executeAction(w->actSelAll);
    bool refusedClose = false;
    bool progressShown = false;
    // Runs while the window paints between rows, as a user's clicks do.
    QTimer::singleShot(0, w, [&] {
        progressShown = w->rgb->isVisible() && w->btnStop->isVisible() && w->rgb->value() == 1;
        refusedClose = !w->close();
        QTest::mouseClick(w->btnStop, Qt::LeftButton);
    });
    w->CalcFees(true);
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(refusedClose);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("已停止：处理了1条，其余19条没有改动。")});
    EXPECT_EQ(value(w, QStringLiteral("s00"), "AR_TRANS_FEE"), QStringLiteral("1"));
    EXPECT_EQ(value(w, QStringLiteral("s01"), "AR_TRANS_FEE"), QStringLiteral("9.99"));
    EXPECT_FALSE(w->btnStop->isVisible());
    EXPECT_TRUE(w->isVisible());
}

// The demo's finance volume: enough lines of this month, every kind the windows filter and
// refresh, on either backend.
TEST(FinanceVolume, CoversTheFiltersAndRefusesASecondRun)
{
    QTemporaryDir dir;
    auto backend = server::Backend::open(server::test::testDatabase(dir, QStringLiteral("volume.sqlite")), true);
    auto c = backend->acquire();
    server::createSchema(*c);
    server::SeedOptions o;
    o.waybills = 5;
    o.fastHash = true;
    server::seedDemo(*c, o);
    server::FinanceVolumeOptions v;
    v.waybills = 300;
    server::seedFinanceVolume(*c, v);
    auto count = [&](const QString &where) {
        return c->query(QStringLiteral("select count(*) from TAB_ACCOUNT where BILLCODE like '88%' and ") + where,
                        {}, true)
            .rows.value(0)
            .value(0)
            .toInt();
    };
    const QString monthStart = QDate(v.now.date().year(), v.now.date().month(), 1).toString(Qt::ISODate);
    const int lines = count(QStringLiteral("SCANTIME >= '") + monthStart + u'\'');
    EXPECT_GT(lines, 500);
    EXPECT_EQ(lines, count(QStringLiteral("1=1")));
    EXPECT_GT(count(QStringLiteral("SIGNED = 1")), 0);
    EXPECT_GT(count(QStringLiteral("SIGNED = 0")), 0);
    EXPECT_GT(count(QStringLiteral("SIGNED is null")), 0);
    EXPECT_GT(count(QStringLiteral("SEND_SITE is null")), 0);
    EXPECT_GT(count(QStringLiteral("PRIORSTATIONCODE is not null")), 0);
    EXPECT_GT(count(QStringLiteral("NEXTSTATIONCODE is not null")), 0);
    for (const char *centre : {"上海中心", "北京中心", "广州中心"})
        EXPECT_GT(count(QStringLiteral("FINANCECENTER = '") + QString::fromUtf8(centre) + u'\''), 0) << centre;
    // Lines whose weight is below the largest recorded one, for the weight refresh.
    EXPECT_GT(c->query(QStringLiteral("select count(*) from TAB_ACCOUNT a where a.BILLCODE like '88%' and "
                                      "a.WEIGHT < (select max(s.WEIGHT) from TAB_SCAN s where s.BILLCODE=a.BILLCODE)"),
                       {}, true).rows.value(0).value(0).toInt(), 0);
    EXPECT_EQ(c->query(QStringLiteral("select count(*) from TAB_DFKRECORD where BILLCODE like '88%'"), {}, true)
                  .rows.value(0).value(0).toInt(), 300);
    EXPECT_GT(c->query(QStringLiteral("select count(*) from TAB_DFKRECORD where BILLCODE like '88%' and REMARK is not null"),
                       {}, true).rows.value(0).value(0).toInt(), 0);
    EXPECT_EQ(c->query(QStringLiteral("select count(*) from TAB_DFPFRECORD where BILLCODE like '88%'"), {}, true)
                  .rows.value(0).value(0).toInt(), 300);
    EXPECT_THROW(server::seedFinanceVolume(*c, v), server::DbError);
}
