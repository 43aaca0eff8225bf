// The pay-on-delivery and delivery-fee windows of px_Tally against a real application
// server: fee runs into both columns, the signing-site refresh with its remark, the
// three refresh steps of the delivery fee, failures, the date column choice and the
// footer sums.
#include "modules/tally/tests/tallyfixture.h"

#include "baseforms/dbgrideh.h"
#include "modules/tally/fdfkedt.h"
#include "modules/tally/fdfkquery.h"
#include "modules/tally/fdfpfedt.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QLabel>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace tally;
using namespace tally::test;

namespace {

class Records : public TallyServer
{
protected:
    void TearDown() override
    {
        for (const char *table : {"TAB_DFKRECORD", "TAB_DFPFRECORD", "TAB_SIGN", "TAB_BILLENTRY", "TAB_WAYBILL"})
            s_srv->native(QStringLiteral("delete from ") + QLatin1String(table)
                          + QStringLiteral(" where BILLCODE like 'T%'"));
        TallyServer::TearDown();
    }
    // A record of the test station, created now, on top of `values`.
    static void insertRecord(const char *table, const QString &bill, const QVariantMap &values = {})
    {
        insertRow(table,
                  {{"BILLCODE", bill},
                   {"FIRSTSITE", QString::fromUtf16(kStation)},
                   {"FIRSTCENTER", QStringLiteral("上海中心")},
                   {"DEST", QStringLiteral("北京")},
                   {"WEIGHT", 1.0},
                   {"CREATETIME", QDateTime::currentDateTime()},
                   {"sysid", QStringLiteral("001")}},
                  values);
    }
    template<class W> W *openQueried()
    {
        W *w = open<W>();
        w->boxes.edtJZSite->setText(QString::fromUtf16(kStation));
        w->executeAction(w->actQuery);
        return w;
    }
    static bool go(TfFinanceEdit *w, const QString &bill)
    {
        return w->cdsData->Locate(QStringLiteral("BILLCODE"), bill);
    }
    static QString value(TfFinanceEdit *w, const QString &bill, const char *field)
    {
        EXPECT_TRUE(go(w, bill)) << qPrintable(bill);
        return w->cdsData->FieldByName(QString::fromLatin1(field))->AsString();
    }
    static void mark(TfFinanceEdit *w, const QStringList &bills)
    {
        for (const QString &b : bills) {
            ASSERT_TRUE(go(w, b));
            w->DBGridData->selectRow(w->DBGridData->gridRow(w->cdsData->currentPosition()));
        }
    }
};

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

TEST_F(Records, HandlingFeeGoesIntoBothColumnsOfTheMarkedRecordsOnly)
{
    for (const char *b : {"TK1", "TK2", "TK3", "TK4"})
        insertRecord("TAB_DFKRECORD", QString::fromLatin1(b),
                     {{"MONEY", 100}, {"JZPAYCHARGE", 9.99}, {"PZGETCHARGE", 9.99}});
    auto *w = openQueried<TfDFKEdt>();
    ASSERT_EQ(w->cdsData->RecordCount(), 4);
    // Without marks: the warning only.
    QTest::mouseClick(w->tbCalcOne, Qt::LeftButton);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("请先选择需要算费的记录!")});
    presenter->shown.clear();
    mark(w, {QStringLiteral("TK1"), QStringLiteral("TK2"), QStringLiteral("TK3")});
    QTest::mouseClick(w->tbCalcOne, Qt::LeftButton);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("操作完成!")});
    EXPECT_TRUE(w->DBGridData->SelectedRows().isEmpty());
    w->executeAction(w->actSave);
    for (const char *b : {"TK1", "TK2", "TK3"}) {
        EXPECT_DOUBLE_EQ(storedIn("TAB_DFKRECORD", QString::fromLatin1(b), QStringLiteral("JZPAYCHARGE")).toDouble(), 1.0) << b;
        EXPECT_DOUBLE_EQ(storedIn("TAB_DFKRECORD", QString::fromLatin1(b), QStringLiteral("PZGETCHARGE")).toDouble(), 1.0) << b;
    }
    EXPECT_DOUBLE_EQ(storedIn("TAB_DFKRECORD", QStringLiteral("TK4"), QStringLiteral("JZPAYCHARGE")).toDouble(), 9.99);
    // The fee call of a record: FIRSTSITE, DEST, one piece, FIRSTCENTER, CREATETIME (the
    // single call's parameters; a run sends the same values in its batch).
    ASSERT_TRUE(go(w, QStringLiteral("TK4")));
    EXPECT_DOUBLE_EQ(w->CalcFee(QStringLiteral("到付款手续费")), 1.0);
    const QList<quillon::TParam> p = w->cdsTmp->Params();
    ASSERT_EQ(p.size(), 15);
    EXPECT_EQ(p[0].value.toString(), QString::fromUtf16(kStation));
    EXPECT_EQ(p[2].value.toString(), QStringLiteral("到付款手续费"));
    EXPECT_EQ(p[3].value.toInt(), 1);
    EXPECT_EQ(p[10].value.toString(), QStringLiteral("上海中心"));
    EXPECT_EQ(p[11].value.toString(), QString::fromUtf16(kStation));
    EXPECT_TRUE(p[8].value.toString().isEmpty());
}

TEST_F(Records, SigningSiteRefreshAddsTheNoteToTheRemark)
{
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK1"), {{"REMARK", QStringLiteral("R")}});
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK2"));
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK3"), {{"REMARK", QStringLiteral("R3")}});
    auto *w = openQueried<TfDFKEdt>();
    EXPECT_TRUE(w->chkGet->isHidden());
    EXPECT_FALSE(w->chkGet->isChecked());
    w->executeAction(w->actRefresh);
    mark(w, {QStringLiteral("TK1"), QStringLiteral("TK2")});
    // No signing site chosen: the warning, nothing changes.
    QTest::mouseClick(w->sbRefresh, Qt::LeftButton);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("请选择签收站!")});
    EXPECT_EQ(w->cdsData->ChangeCount(), 0);
    presenter->shown.clear();

    w->edtSIGNSITE->setText(QStringLiteral("北京朝阳"));
    w->mmoNote->setPlainText(QStringLiteral("N"));
    QTest::mouseClick(w->sbRefresh, Qt::LeftButton);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("刷新操作完成!")});
    EXPECT_TRUE(w->DBGridData->SelectedRows().isEmpty());
    // Without marks now: the warning.
    QTest::mouseClick(w->sbRefresh, Qt::LeftButton);
    EXPECT_EQ(shownTexts().last(), QStringLiteral("请先选择需要刷新的记录!"));
    // A blank note leaves the remark.
    mark(w, {QStringLiteral("TK3")});
    w->mmoNote->setPlainText(QStringLiteral("  \n "));
    w->sbRefreshClick();
    w->executeAction(w->actSave);
    EXPECT_EQ(storedIn("TAB_DFKRECORD", QStringLiteral("TK1"), QStringLiteral("SIGNSITE")).toString(), QStringLiteral("北京朝阳"));
    EXPECT_EQ(storedIn("TAB_DFKRECORD", QStringLiteral("TK1"), QStringLiteral("REMARK")).toString(), QStringLiteral("R;N"));
    EXPECT_EQ(storedIn("TAB_DFKRECORD", QStringLiteral("TK2"), QStringLiteral("REMARK")).toString(), QStringLiteral("N"));
    EXPECT_EQ(storedIn("TAB_DFKRECORD", QStringLiteral("TK3"), QStringLiteral("SIGNSITE")).toString(), QStringLiteral("北京朝阳"));
    EXPECT_EQ(storedIn("TAB_DFKRECORD", QStringLiteral("TK3"), QStringLiteral("REMARK")).toString(), QStringLiteral("R3"));
}

TEST_F(Records, ARemarkThatWouldOverflowIsRefusedAndNothingOfTheRunIsLost)
{
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK1"), {{"REMARK", QStringLiteral("短")}});
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK2"), {{"REMARK", QString(195, QLatin1Char('x'))}});
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK3"));
    auto *w = openQueried<TfDFKEdt>();
    w->cdsData->SetIndexFieldNames(QStringLiteral("BILLCODE"));
    w->executeAction(w->actSelAll);
    w->edtSIGNSITE->setText(QStringLiteral("北京朝阳"));
    w->mmoNote->setPlainText(QStringLiteral("改派到北京朝阳"));
    w->sbRefreshClick();
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_TRUE(presenter->shown[0].text.contains(QStringLiteral("运单[TK2]的备注加上说明后有203个字，超过了200个字的上限")))
        << qPrintable(presenter->shown[0].text);
    EXPECT_TRUE(presenter->shown[0].text.contains(QStringLiteral("请缩短备注说明")));
    EXPECT_EQ(value(w, QStringLiteral("TK1"), "REMARK"), QStringLiteral("短;改派到北京朝阳"));
    EXPECT_EQ(value(w, QStringLiteral("TK2"), "REMARK"), QString(195, QLatin1Char('x')));
    EXPECT_TRUE(value(w, QStringLiteral("TK2"), "SIGNSITE").isEmpty());
    EXPECT_TRUE(value(w, QStringLiteral("TK3"), "SIGNSITE").isEmpty());
    // The marks stay, so the rest can be done after the note is shortened.
    EXPECT_EQ(w->DBGridData->SelectedRows().size(), 3);
    w->executeAction(w->actSave);
    EXPECT_EQ(storedIn("TAB_DFKRECORD", QStringLiteral("TK1"), QStringLiteral("REMARK")).toString(), QStringLiteral("短;改派到北京朝阳"));
}

TEST_F(Records, RemoteSigningSiteThroughTheServerAndItsFailure)
{
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK1"), {{"REMARK", QStringLiteral("R")}});
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK2"), {{"REMARK", QStringLiteral("R")}});
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK3"));
    s_srv->native(QStringLiteral("insert into TAB_SIGN (BILLCODE, SIGNSITE, SIGNPERSON, SIGNTIME, sysid) values (?,?,?,?,'001')"),
                  {QStringLiteral("TK1"), QStringLiteral("广州天河"), QStringLiteral("王磊"), QDateTime::currentDateTime()});
    s_srv->native(QStringLiteral("insert into TAB_SIGN (BILLCODE, SIGNSITE, SIGNPERSON, SIGNTIME, sysid) values (?,?,?,?,'001')"),
                  {QStringLiteral("TK3"), QStringLiteral("深圳南山"), QStringLiteral("王磊"), QDateTime::currentDateTime()});
    auto *w = openQueried<TfDFKEdt>();
    w->cdsData->SetIndexFieldNames(QStringLiteral("BILLCODE"));
    w->chkGet->setChecked(true);
    w->mmoNote->setPlainText(QStringLiteral("远程"));
    mark(w, {QStringLiteral("TK1"), QStringLiteral("TK2")});
    w->sbRefreshClick();
    EXPECT_EQ(value(w, QStringLiteral("TK1"), "SIGNSITE"), QStringLiteral("广州天河"));
    EXPECT_EQ(value(w, QStringLiteral("TK1"), "REMARK"), QStringLiteral("R;远程"));
    // No signature known: the record keeps its values and its remark.
    EXPECT_TRUE(value(w, QStringLiteral("TK2"), "SIGNSITE").isEmpty());
    EXPECT_EQ(value(w, QStringLiteral("TK2"), "REMARK"), QStringLiteral("R"));

    // A failing F_GetSignSite stops the run at that record.
    presenter->shown.clear();
    quillon::TMySktConnection dead;
    failCallsAfter(w, 1, &dead);
    w->executeAction(w->actSelAll);
    w->sbRefreshClick();
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_TRUE(presenter->shown[0].text.contains(QStringLiteral("运单[TK2]获取签收站失败")))
        << qPrintable(presenter->shown[0].text);
    EXPECT_TRUE(value(w, QStringLiteral("TK3"), "SIGNSITE").isEmpty());
}

TEST_F(Records, TheDateColumnChoiceAppliesTheRangeToTheSigningTime)
{
    const QDateTime created(QDate(2021, 3, 1), QTime(10, 0));
    const QDateTime signedAt(QDate(2021, 3, 5), QTime(15, 0));
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK1"), {{"CREATETIME", created}, {"SIGNTIME", signedAt}});
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TP1"), {{"CREATETIME", created}, {"SIGNTIME", signedAt}});
    for (TfFinanceQuery *q : {static_cast<TfFinanceQuery *>(open<TfDFKQuery>()),
                              static_cast<TfFinanceQuery *>(open<TfDFPFQuery>())}) {
        q->filters->dtB->setDateTime(QDateTime(QDate(2021, 3, 5), QTime(0, 0)));
        q->filters->dtE->setDateTime(QDateTime(QDate(2021, 3, 5), QTime(23, 59, 59)));
        q->executeAction(q->actQuery);
        EXPECT_EQ(q->cdsData->RecordCount(), 0) << qPrintable(q->objectName());
        QTest::mouseClick(q->filters->rgpButtons->button(1), Qt::LeftButton);
        EXPECT_EQ(q->filters->lblDate->text(), QStringLiteral("签收时间"));
        q->executeAction(q->actQuery);
        EXPECT_EQ(q->cdsData->RecordCount(), 1) << qPrintable(q->objectName());
    }
}

TEST_F(Records, DeliveryFeeRefreshStepsAndTheWeightRule)
{
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TP1"), {{"WEIGHT", 5.0}, {"DEST", QVariant()}, {"FIRSTSITE", QString::fromUtf16(kStation)}});
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TP2"), {{"WEIGHT", 5.0}});
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TP3"), {{"WEIGHT", 5.0}});
    s_srv->native(QStringLiteral("insert into TAB_WAYBILL (BILLCODE, SENDSITE, DEST, WEIGHT, sysid) values ('TP1','上海浦东','深圳',3.2,'001')"));
    s_srv->native(QStringLiteral("insert into TAB_WAYBILL (BILLCODE, SENDSITE, DEST, WEIGHT, sysid) values ('TP2','上海浦东','深圳',0,'001')"));
    s_srv->native(QStringLiteral("insert into TAB_BILLENTRY (BILLCODE, SENDSITE, DEST, WEIGHT, ENTRYTIME, sysid) values "
                                 "('TP1','上海闵行','杭州',7.5,?,'001')"), {QDateTime::currentDateTime()});
    auto *w = openQueried<TfDFPFEdt>();
    ASSERT_EQ(w->cdsData->RecordCount(), 3);
    // Every option on its empty item: nothing changes, the hint shows, the marks go.
    w->executeAction(w->actSelAll);
    w->sbRefreshClick();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("刷新操作完成!")});
    EXPECT_EQ(w->cdsData->ChangeCount(), 0);
    EXPECT_TRUE(w->DBGridData->SelectedRows().isEmpty());

    // 录单目的地, 录单寄件站, 账单重量: a positive weight replaces even a larger one; 0 leaves it.
    w->cboMdd->setCurrentIndex(1);
    w->cboFirstSite->setCurrentIndex(2);
    w->cboWeight->setCurrentIndex(2);
    w->executeAction(w->actSelAll);
    w->sbRefreshClick();
    w->executeAction(w->actSave);
    EXPECT_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TP1"), QStringLiteral("DEST")).toString(), QStringLiteral("杭州"));
    EXPECT_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TP1"), QStringLiteral("FIRSTSITE")).toString(), QStringLiteral("上海闵行"));
    EXPECT_DOUBLE_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TP1"), QStringLiteral("WEIGHT")).toDouble(), 3.2);
    EXPECT_DOUBLE_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TP2"), QStringLiteral("WEIGHT")).toDouble(), 5.0);
    EXPECT_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TP2"), QStringLiteral("DEST")).toString(), QStringLiteral("北京"));
    EXPECT_DOUBLE_EQ(storedIn("TAB_DFPFRECORD", QStringLiteral("TP3"), QStringLiteral("WEIGHT")).toDouble(), 5.0);
    // 录单刷重量 then raises TP1 to its entry weight.
    w->cboMdd->setCurrentIndex(0);
    w->cboFirstSite->setCurrentIndex(0);
    w->cboWeight->setCurrentIndex(1);
    mark(w, {QStringLiteral("TP1")});
    w->sbRefreshClick();
    EXPECT_EQ(value(w, QStringLiteral("TP1"), "WEIGHT"), QStringLiteral("7.5"));
}

TEST_F(Records, DeliveryFeeIntoBothColumnsAFailingCallLeavesThemAndTheFooterSums)
{
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TP1"), {{"WEIGHT", 1.0}, {"JZPAYMONEY", 9.99}, {"PZGETMONEY", 9.99}});
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TP2"), {{"WEIGHT", 2.0}, {"DEST", QStringLiteral("深圳")},
                                                           {"JZPAYMONEY", 9.99}, {"PZGETMONEY", 9.99}});
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TP3"), {{"WEIGHT", 3.5}, {"JZPAYMONEY", 9.99}, {"PZGETMONEY", 9.99}});
    auto *w = openQueried<TfDFPFEdt>();
    w->cdsData->SetIndexFieldNames(QStringLiteral("BILLCODE"));
    tessera::TColumnEh *weight = w->DBGridData->columnByField(QStringLiteral("WEIGHT"));
    tessera::TColumnEh *pay = w->DBGridData->columnByField(QStringLiteral("JZPAYMONEY"));
    ASSERT_TRUE(weight && pay);
    EXPECT_DOUBLE_EQ(w->DBGridData->footerSum(weight->index()), 6.5);
    EXPECT_DOUBLE_EQ(w->DBGridData->footerSum(pay->index()), 3 * 9.99);

    quillon::TMySktConnection dead;
    failCallsAfter(w, 2, &dead);
    w->executeAction(w->actSelAll);
    QTest::mouseClick(w->tbCalc, Qt::LeftButton);
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_TRUE(presenter->shown[0].text.contains(QStringLiteral("运单[TP3]的派件费计算失败")))
        << qPrintable(presenter->shown[0].text);
    EXPECT_EQ(value(w, QStringLiteral("TP1"), "JZPAYMONEY"), QStringLiteral("1.5"));
    EXPECT_EQ(value(w, QStringLiteral("TP1"), "PZGETMONEY"), QStringLiteral("1.5"));
    EXPECT_EQ(value(w, QStringLiteral("TP2"), "PZGETMONEY"), QStringLiteral("2")); // 深圳
    EXPECT_EQ(value(w, QStringLiteral("TP3"), "JZPAYMONEY"), QStringLiteral("9.99"));
    EXPECT_EQ(value(w, QStringLiteral("TP3"), "PZGETMONEY"), QStringLiteral("9.99"));
    EXPECT_DOUBLE_EQ(w->DBGridData->footerSum(pay->index()), 1.5 + 2 + 9.99);

    // The footer follows the grid's filter.
    w->DBGridData->setFilterText(w->DBGridData->columnByField(QStringLiteral("BILLCODE"))->index(), QStringLiteral("TP3"));
    EXPECT_DOUBLE_EQ(w->DBGridData->footerSum(weight->index()), 3.5);
}

TEST_F(Records, QueryWindowsShowTheSameRecordsWithSums)
{
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TP1"), {{"WEIGHT", 1.25}, {"SIGNFLAG", 1}});
    insertRecord("TAB_DFPFRECORD", QStringLiteral("TP2"), {{"WEIGHT", 2.0}});
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK1"), {{"CONSIGNEMP", QStringLiteral("王磊")}});
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK2"), {{"CONSIGNEMP", QStringLiteral("李娜")}});
    auto *q = open<TfDFPFQuery>();
    q->boxes.edtJZSite->setText(QString::fromUtf16(kStation));
    q->filters->cboSignType->setCurrentIndex(2);
    q->executeAction(q->actQuery);
    ASSERT_EQ(q->cdsData->RecordCount(), 1);
    EXPECT_DOUBLE_EQ(q->DBGridData->footerSum(q->DBGridData->columnByField(QStringLiteral("WEIGHT"))->index()), 2.0);
    auto *k = open<TfDFKQuery>();
    k->boxes.edtJZSite->setText(QString::fromUtf16(kStation));
    k->boxes.edtQJY->setText(QStringLiteral("王磊"));
    k->executeAction(k->actQuery);
    ASSERT_EQ(k->cdsData->RecordCount(), 1);
    EXPECT_EQ(k->cdsData->FieldByName(QStringLiteral("BILLCODE"))->AsString(), QStringLiteral("TK1"));
}

// 刷新 writes its note into 备注: the grid shows 备注 and 建立时间, and a note of two lines
// is saved as two lines, not glued into one.
TEST_F(Records, TheNoteKeepsItsLinesAndTheGridShowsRemarkAndCreationTime)
{
    insertRecord("TAB_DFKRECORD", QStringLiteral("TK1"), {{"REMARK", QStringLiteral("R")}});
    auto *w = openQueried<TfDFKEdt>();
    for (const auto &[field, title] : {std::pair{"REMARK", "备注"}, std::pair{"CREATETIME", "建立时间"}}) {
        tessera::TColumnEh *c = w->DBGridData->columnByField(QString::fromLatin1(field));
        ASSERT_TRUE(c) << field;
        EXPECT_EQ(c->title(), QString::fromUtf8(title));
        EXPECT_TRUE(c->Visible);
    }
    w->executeAction(w->actRefresh);
    mark(w, {QStringLiteral("TK1")});
    w->edtSIGNSITE->setText(QStringLiteral("北京朝阳"));
    w->mmoNote->setPlainText(QStringLiteral("第一行说明\n第二行\n"));
    QTest::mouseClick(w->sbRefresh, Qt::LeftButton);
    w->executeAction(w->actSave);
    EXPECT_EQ(storedIn("TAB_DFKRECORD", QStringLiteral("TK1"), QStringLiteral("REMARK")).toString(),
              QStringLiteral("R;第一行说明\n第二行"));
    // On its one grid line the break is marked, not lost.
    ASSERT_TRUE(go(w, QStringLiteral("TK1")));
    const int row = w->DBGridData->gridRow(w->cdsData->currentPosition());
    const int column = w->DBGridData->columnByField(QStringLiteral("REMARK"))->index();
    const QString shown =
        w->DBGridData->gridModel()->index(row, column).data(Qt::DisplayRole).toString();
    EXPECT_TRUE(shown.contains(QStringLiteral("第一行说明")) && shown.contains(QStringLiteral("第二行"))
                && !shown.contains(QStringLiteral("第一行说明第二行")))
        << qPrintable(shown);
}

// Marks as a clerk makes them: a click on a data cell marks its record; after a run that
// was stopped, the marks left and the clerk's place in the grid are still there, and a
// further click in the grid does not wipe them.
TEST_F(Records, MarksByCellClickSurviveAStoppedRunAndTheGridStaysWhereTheClerkWas)
{
    for (int i = 1; i <= 6; ++i)
        insertRecord("TAB_DFKRECORD", QStringLiteral("TK%1").arg(i), {{"MONEY", 100}});
    auto *w = openQueried<TfDFKEdt>();
    ASSERT_EQ(w->cdsData->RecordCount(), 6);
    QTableView *view = w->DBGridData->view();
    auto cell = [&](const QString &bill, int column) {
        EXPECT_TRUE(go(w, bill));
        const int row = w->DBGridData->gridRow(w->cdsData->currentPosition());
        return view->visualRect(view->model()->index(row, column)).center();
    };
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, cell(QStringLiteral("TK2"), 3));
    ASSERT_EQ(w->DBGridData->SelectedRows().size(), 1) << "a click on a data cell marks the record";
    for (const char *b : {"TK3", "TK4", "TK5"})
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          cell(QString::fromLatin1(b), 2));
    ASSERT_EQ(w->DBGridData->SelectedRows().size(), 4);
    // The clerk looks at TK6: the cursor moves, the marks stay.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, cell(QStringLiteral("TK6"), 4));
    ASSERT_EQ(w->DBGridData->SelectedRows().size(), 4);
    const int clerksRow = view->currentIndex().row();

    QObject::connect(w, &TfFinanceEdit::rowDone, w, [w](int done) {
        if (done == 1)
            w->requestStop();
    });
    presenter->shown.clear();
    QTest::mouseClick(w->tbCalcOne, Qt::LeftButton);
    ASSERT_FALSE(shownTexts().isEmpty());
    EXPECT_TRUE(shownTexts().last().contains(QStringLiteral("已停止"))) << qPrintable(shownTexts().last());
    EXPECT_EQ(view->currentIndex().row(), clerksRow) << "the grid jumped away from the clerk's row";
    EXPECT_EQ(w->cdsData->FieldByName(QStringLiteral("BILLCODE"))->AsString(), QStringLiteral("TK6"));
    const int marksAfterStop = int(w->DBGridData->SelectedRows().size());
    EXPECT_GE(marksAfterStop, 3);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, cell(QStringLiteral("TK1"), 2));
    EXPECT_EQ(w->DBGridData->SelectedRows().size(), marksAfterStop) << "a click wiped the marks";
}
