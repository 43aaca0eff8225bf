// The finance runs against a real application server: batches give exactly the single
// calls' answers in a fraction of the requests, a line the server refuses inside a batch
// stops the run there, and any error inside a line (not only the runs' own) leaves that
// line as it was, keeps the marks and reaches the clerk in Chinese.
#include "modules/tally/tests/tallyfixture.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "host/errors.h"
#include "modules/tally/fcenaccedt.h"
#include "modules/tally/fdfkedt.h"
#include "modules/tally/fdfpfedt.h"

#include <QComboBox>
#include <QTest>
#include <QToolButton>

using namespace tally;
using namespace tally::test;

namespace {

// The run loop opened for tests: a step of the test's own.
class ProbeEdit : public TfcenAccEdt
{
public:
    using TfFinanceEdit::Lines;
    using TfFinanceEdit::RunRecipe;
    using TfFinanceEdit::runLines;
    using TfFinanceEdit::setFieldDecimal;
};

class Runs : public TallyServer
{
protected:
    void TearDown() override
    {
        for (const char *table : {"TAB_DFKRECORD", "TAB_DFPFRECORD"})
            s_srv->native(QStringLiteral("delete from ") + QLatin1String(table)
                          + QStringLiteral(" where BILLCODE like 'R%'"));
        TallyServer::TearDown();
    }
    template<class W> W *openEdit()
    {
        auto *w = open<W>();
        w->boxes.edtFinance->setEnabled(true);
        w->boxes.edtFinance->clear();
        w->boxes.edtSite->setText(QString::fromUtf16(kStation));
        w->executeAction(w->actQuery);
        w->cdsData->SetIndexFieldNames(QStringLiteral("SCANTYPE"));
        return w;
    }
    static bool go(TfFinanceEdit *w, const QString &scanType)
    {
        return w->cdsData->Locate(QStringLiteral("SCANTYPE"), scanType);
    }
    static QStringList fees(TfFinanceEdit *w, const QString &scanType)
    {
        EXPECT_TRUE(go(w, scanType));
        QStringList out;
        for (const char *f : {"AR_TRANS_FEE", "SCANMONEY", "AP_SEND_FEE", "OTHERCHARGE"})
            out << w->cdsData->FieldByName(QString::fromLatin1(f))->AsString();
        return out;
    }
    static void setLocal(TfFinanceEdit *w, const QString &scanType, const char *field, double value)
    {
        ASSERT_TRUE(go(w, scanType));
        w->cdsData->Edit();
        w->cdsData->FieldByName(QString::fromLatin1(field))->SetAsFloat(value);
        w->cdsData->Post();
    }
};

// Lines that reach every demo rule: centres, destinations, goods, weight bands and their
// edges, piece counts.
const struct
{
    const char *scanType, *finance, *dest, *goods;
    double weight;
    int pcs;
} kLines[] = {
    {"l01", "上海中心", "北京", "文件", 0.3, 1},   {"l02", "上海中心", "北京", "文件", 1.0, 0},
    {"l03", "上海中心", "北京", "文件", 1.01, 2},  {"l04", "北京中心", "上海", "生鲜", 2.3, 3},
    {"l05", "北京中心", "深圳", "生鲜", 29.99, 7}, {"l06", "北京中心", "深圳", "文件", 30, 1},
    {"l07", "上海中心", "深圳", "生鲜", 31.26, 1}, {"l08", "上海中心", "广州", "物品", 3.0, 12},
    {"l09", "上海中心", "广州", "物品", 3.01, 1},  {"l10", "广州中心", "深圳", "生鲜", 0, 0},
};

TEST_F(Runs, BatchFeesEqualTheSingleCallsOfEveryLineInOneRequest)
{
    for (const auto &l : kLines)
        insertLine(QStringLiteral("R1"), QString::fromLatin1(l.scanType),
                   {{"FINANCECENTER", QString::fromUtf8(l.finance)}, {"DEST", QString::fromUtf8(l.dest)},
                    {"GOODSTYPE", QString::fromUtf8(l.goods)}, {"WEIGHT", l.weight}, {"PCS", l.pcs},
                    {"PRIORSTATIONCODE", QStringLiteral("上海浦东")}});
    auto *w = openEdit<TfcenAccEdt>();
    ASSERT_EQ(w->cdsData->RecordCount(), int(std::size(kLines)));

    // 单带 line by line: four single fee calls each.
    QHash<QString, QStringList> single;
    for (const auto &l : kLines) {
        ASSERT_TRUE(go(w, QString::fromLatin1(l.scanType)));
        const int before = w->calls().requests();
        QTest::mouseClick(w->tbCalcOne, Qt::LeftButton);
        EXPECT_EQ(w->calls().requests() - before, 4);
        single.insert(QString::fromLatin1(l.scanType), fees(w, QString::fromLatin1(l.scanType)));
    }
    EXPECT_EQ(w->calls().batchRequests(), 0);
    w->cdsData->CancelUpdates();

    // 批带 over all: the same fees, from one request.
    presenter->shown.clear();
    const int before = w->calls().requests();
    w->executeAction(w->actSelAll);
    QTest::mouseClick(w->tbCalcAll, Qt::LeftButton);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("操作完成!")});
    EXPECT_EQ(w->calls().requests() - before, 1);
    EXPECT_EQ(w->calls().batchRequests(), 1);
    int priced = 0;
    for (const auto &l : kLines) {
        const QString t = QString::fromLatin1(l.scanType);
        EXPECT_EQ(fees(w, t), single.value(t)) << l.scanType;
        priced += fees(w, t).at(0) != QLatin1String("0");
    }
    EXPECT_EQ(priced, int(std::size(kLines)));
    EXPECT_EQ(w->cdsData->ChangeCount(), int(std::size(kLines)));
    EXPECT_EQ(w->DBGridData->SelectedRows().size(), int(std::size(kLines)));

    // Small requests give the same answers too (the batches follow one another): at most
    // six calls, whole lines, so two lines of four fees each.
    w->cdsData->CancelUpdates();
    w->setCallsPerRequest(6);
    const int batches = w->calls().batchRequests();
    w->executeAction(w->actSelAll);
    QTest::mouseClick(w->tbCalcAll, Qt::LeftButton);
    EXPECT_EQ(w->calls().batchRequests() - batches, int(std::size(kLines)) / 2);
    for (const auto &l : kLines)
        EXPECT_EQ(fees(w, QString::fromLatin1(l.scanType)), single.value(QString::fromLatin1(l.scanType)));
}

TEST_F(Runs, ALineTheFeeFunctionRefusesStopsTheBatchThereAndNothingIsWrittenAs0)
{
    for (const char *t : {"a", "b", "c"})
        insertLine(QStringLiteral("R2"), QString::fromLatin1(t),
                   {{"AR_TRANS_FEE", 9.99}, {"SCANMONEY", 9.99}, {"AP_SEND_FEE", 9.99}, {"OTHERCHARGE", 9.99}});
    auto *w = openEdit<TfcenAccEdt>();
    // A weight no fee can be priced from (the server's limit), on the middle line only.
    setLocal(w, QStringLiteral("b"), "WEIGHT", 5e9);
    const int changedBefore = w->cdsData->ChangeCount();
    w->executeAction(w->actSelAll);
    QTest::mouseClick(w->tbCalcAll, Qt::LeftButton);
    EXPECT_EQ(w->calls().batchRequests(), 1);
    ASSERT_EQ(presenter->shown.size(), 1);
    const auto &shown = presenter->shown[0];
    EXPECT_EQ(shown.kind, host::MessageKind::Error);
    EXPECT_TRUE(shown.text.contains(QStringLiteral("运单[R2]的中转费计算失败，处理停在这一条，这条记录没有改动；之前已处理的1条")))
        << qPrintable(shown.text);
    EXPECT_TRUE(shown.text.contains(QStringLiteral("件数、重量"))) << qPrintable(shown.text);
    EXPECT_TRUE(shown.details.contains(QStringLiteral("cannot be priced"))) << qPrintable(shown.details);
    EXPECT_EQ(fees(w, QStringLiteral("a")), (QStringList{"1", "0.15", "1.5", "0"}));
    for (const char *t : {"b", "c"})
        EXPECT_EQ(fees(w, QString::fromLatin1(t)), (QStringList{"9.99", "9.99", "9.99", "9.99"})) << t;
    EXPECT_EQ(w->cdsData->ChangeCount(), changedBefore + 1);
    EXPECT_EQ(w->DBGridData->SelectedRows().size(), 3);

    // The same line with 单带: its single call is refused the same way.
    presenter->shown.clear();
    ASSERT_TRUE(go(w, QStringLiteral("b")));
    QTest::mouseClick(w->tbCalcOne, Qt::LeftButton);
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_TRUE(presenter->shown[0].text.startsWith(QStringLiteral("运单[R2]的中转费计算失败，这条记录没有改动。")))
        << qPrintable(presenter->shown[0].text);
    EXPECT_EQ(fees(w, QStringLiteral("b")), (QStringList{"9.99", "9.99", "9.99", "9.99"}));
}

TEST_F(Runs, AnyErrorInsideALineLeavesItWholeKeepsTheMarksAndSpeaksChinese)
{
    for (const char *t : {"a", "b", "c"})
        insertLine(QStringLiteral("R3"), QString::fromLatin1(t), {{"AR_TRANS_FEE", 9.99}, {"SCANMONEY", 9.99}});
    auto *w = open<ProbeEdit>();
    w->boxes.edtSite->setText(QString::fromUtf16(kStation));
    w->executeAction(w->actQuery);
    w->cdsData->SetIndexFieldNames(QStringLiteral("SCANTYPE"));
    w->executeAction(w->actSelAll);
    const struct
    {
        std::function<void()> raise;
        const char *expected;
    } errors[] = {
        {[] { throw host::SilentAbort(); }, "运单[R3]没有处理完"},
        {[] { throw std::runtime_error("boom"); }, "运单[R3]处理时出现意外错误"},
        {[] { throw 42; }, "运单[R3]处理时出现意外错误"},
        {[] { throw quillon::DataSetError(QStringLiteral("'x' 不是有效的数值 (字段 WEIGHT)")); },
         "运单[R3]没有处理完：'x' 不是有效的数值"},
    };
    for (const auto &e : errors) {
        for (const bool marked : {true, false}) {
            presenter->shown.clear();
            ASSERT_TRUE(go(w, QStringLiteral("b")));
            ProbeEdit::RunRecipe recipe;
            recipe.doneHint = QStringLiteral("操作完成!");
            // The line is half edited when the error comes.
            recipe.step = [&] {
                w->setFieldDecimal(QStringLiteral("AR_TRANS_FEE"), 1.0);
                if (w->cdsData->FieldByName(QStringLiteral("SCANTYPE"))->AsString() == QLatin1String("b"))
                    e.raise();
                w->setFieldDecimal(QStringLiteral("SCANMONEY"), 1.0);
            };
            EXPECT_EQ(w->runLines(marked ? ProbeEdit::Lines::Marked : ProbeEdit::Lines::Current, recipe),
                      TfFinanceEdit::RunEnd::Failed);
            ASSERT_EQ(presenter->shown.size(), 1);
            const QString text = presenter->shown[0].text;
            EXPECT_TRUE(text.startsWith(QString::fromUtf8(e.expected))) << qPrintable(text);
            EXPECT_FALSE(text.contains(QStringLiteral("silent")) || text.contains(QStringLiteral("boom"))) << qPrintable(text);
            EXPECT_TRUE(host::looksChinese(text));
            EXPECT_EQ(fees(w, QStringLiteral("b")).mid(0, 2), (QStringList{"9.99", "9.99"}));
            EXPECT_EQ(w->cdsData->State(), quillon::DataSetState::Browse);
            EXPECT_EQ(w->DBGridData->SelectedRows().size(), 3);
            EXPECT_FALSE(w->running());
            EXPECT_TRUE(w->tbTool->isEnabled() && w->DBGridData->isEnabled());
            EXPECT_FALSE(w->cdsData->ControlsDisabled());
        }
    }
    // Line a was done by the marked runs and kept its values.
    EXPECT_EQ(fees(w, QStringLiteral("a")).mid(0, 2), (QStringList{"1", "1"}));
}

TEST_F(Runs, RecordWindowsFetchTheirFeesAndLookupsInBatches)
{
    for (int i = 0; i < 5; ++i) {
        const QString bill = QStringLiteral("R4%1").arg(i);
        for (const char *table : {"TAB_DFKRECORD", "TAB_DFPFRECORD"})
            s_srv->native(QStringLiteral("insert into %1 (BILLCODE, FIRSTSITE, FIRSTCENTER, DEST, WEIGHT, CREATETIME, sysid) "
                                         "values (?,?,?,?,?,?,'001')")
                              .arg(QLatin1String(table)),
                          {bill, QString::fromUtf16(kStation), QStringLiteral("上海中心"),
                           i % 2 ? QStringLiteral("深圳") : QStringLiteral("北京"), 1.0 + 2 * i, QDateTime::currentDateTime()});
    }
    auto check = [&](auto *w, const char *column, auto run) {
        w->boxes.edtJZSite->setText(QString::fromUtf16(kStation));
        w->executeAction(w->actQuery);
        ASSERT_EQ(w->cdsData->RecordCount(), 5);
        // 算费 record by record (one marked at a time), then over all five at once.
        QStringList one, all;
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(w->cdsData->Locate(QStringLiteral("BILLCODE"), QStringLiteral("R4%1").arg(i)));
            w->DBGridData->selectRow(w->DBGridData->gridRow(w->cdsData->currentPosition()));
            run(w);
            one << w->cdsData->FieldByName(QString::fromLatin1(column))->AsString();
        }
        w->cdsData->CancelUpdates();
        const int before = w->calls().requests();
        w->executeAction(w->actSelAll);
        run(w);
        EXPECT_EQ(w->calls().requests() - before, 1);
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(w->cdsData->Locate(QStringLiteral("BILLCODE"), QStringLiteral("R4%1").arg(i)));
            all << w->cdsData->FieldByName(QString::fromLatin1(column))->AsString();
        }
        EXPECT_EQ(all, one);
        EXPECT_TRUE(one.contains(QStringLiteral("2")) || one.contains(QStringLiteral("1"))) << qPrintable(one.join(u' '));
    };
    check(open<TfDFKEdt>(), "PZGETCHARGE", [](TfDFKEdt *w) { w->actCalcExecute(); });
    check(open<TfDFPFEdt>(), "PZGETMONEY", [](TfDFPFEdt *w) { w->actCalcExecute(); });
    // The refresh of the delivery fees asks for its three lookups of every record at once.
    auto *w = open<TfDFPFEdt>();
    w->boxes.edtJZSite->setText(QString::fromUtf16(kStation));
    w->executeAction(w->actQuery);
    w->cboMdd->setCurrentIndex(1);
    w->cboFirstSite->setCurrentIndex(2);
    w->cboWeight->setCurrentIndex(2);
    w->executeAction(w->actSelAll);
    presenter->shown.clear();
    w->sbRefreshClick();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("刷新操作完成!")});
    EXPECT_EQ(w->calls().requests(), 1);
}

} // namespace
