// px_Tally without a server: the shared text rules, the dispatch, the option panels of the
// centre account windows and their query texts, and the edit window's own controls.
#include "baseforms/dbgrideh.h"
#include "baseforms/environment.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "tests/support/testday.h"
#include "modules/tally/fcenaccedt.h"
#include "modules/tally/fcenaccquery.h"
#include "modules/tally/fdfkedt.h"
#include "modules/tally/fdfkquery.h"
#include "modules/tally/fdfpfedt.h"
#include "modules/tally/financecalls.h"
#include "modules/tally/financerun.h"
#include "modules/tally/financesql.h"
#include "modules/tally/udm_func.h"

#include <QAbstractButton>
#include <QDateTimeEdit>
#include <QLayout>
#include <QLineEdit>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPointer>
#include <QTabWidget>
#include <QTest>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace tally;

namespace {

class TallyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        tessera::setAppPath(m_dir.path());
        auto p = std::make_unique<host::ScriptedPresenter>();
        presenter = p.get();
        host::setDialogPresenter(std::move(p));
        setUser(QStringLiteral("上海浦东"), false);
    }
    void TearDown() override
    {
        host::ParentCtrl = nullptr;
        host::setDialogPresenter(nullptr);
        tessera::setAppPath(QString());
    }
    static void setUser(const QString &site, bool financeCentre)
    {
        host::g_lstVars->setValue(QStringLiteral("sysid"), QStringLiteral("001"));
        host::g_lstVars->setValue(QStringLiteral("LogOnSiteName"), site);
        host::g_lstVars->setValue(QStringLiteral("LogOnFinanceType"),
                                  financeCentre ? QStringLiteral("1") : QStringLiteral("2"));
    }
    QStringList shownTexts() const
    {
        QStringList t;
        for (const auto &s : presenter->shown)
            t << s.text;
        return t;
    }

    QTemporaryDir m_dir;
    host::ScriptedPresenter *presenter = nullptr;
};

// The same filter values typed into both windows of a subject.
template<class W> void fill(W *w, const QString &pSite)
{
    w->boxes.edtpfSite->setText(QStringLiteral("北京中心"));
    w->boxes.edtpSite->setText(pSite);
    w->boxes.edtnSite->setText(QStringLiteral("深圳南山"));
    w->filters->cboGoodsType->addItem(QStringLiteral("生鲜"));
    w->filters->cboGoodsType->setCurrentText(QStringLiteral("生鲜"));
    w->filters->cboSignType->setCurrentIndex(2);
}

} // namespace

TEST(TallyRules, QuotingConditionsAndNumbers)
{
    EXPECT_EQ(Q(QStringLiteral("O'Brien''s")), QStringLiteral("'O''Brien''''s'"));
    EXPECT_EQ(conditionSql(QStringLiteral("DEST"), QString()), QString());
    EXPECT_EQ(conditionSql(QStringLiteral("DEST"), QStringLiteral("a'b")),
              QStringLiteral(" and DEST='a''b'"));
    EXPECT_EQ(signStatusSql(QStringLiteral("SIGNED"), 0), QString());
    EXPECT_EQ(signStatusSql(QStringLiteral("SIGNED"), 1), QStringLiteral(" and nvl(SIGNED,0)=1 "));
    EXPECT_EQ(signStatusSql(QStringLiteral("SIGNFLAG"), 2), QStringLiteral(" and nvl(SIGNFLAG,0)=0 "));
    EXPECT_EQ(lookupCallSql(QStringLiteral("F_GetAccMdd"), QStringLiteral("66'1"), QStringLiteral(",1,"),
                            QStringLiteral("001"), QStringLiteral("mResult")),
              QStringLiteral("select F_GetAccMdd('66''1',1,'001') as mResult from dual"));
    const struct
    {
        const char *text;
        double value;
    } decimals[] = {{"12.5", 12.5}, {" 3 ", 3}, {"", 0}, {"abc", 0}, {"1e999", 0}, {"-2", -2}};
    for (const auto &d : decimals)
        EXPECT_DOUBLE_EQ(toDecimal(QString::fromLatin1(d.text)), d.value) << d.text;
    EXPECT_EQ(toInteger(QStringLiteral("2.5")), 0);
    EXPECT_EQ(toInteger(QStringLiteral(" 3")), 3);
}

TEST(TallyRules, BillCodesFromTheMemo)
{
    EXPECT_EQ(billCodesOf(QStringLiteral(" A1 \n\nB2\r\nA1\n  \nC'3")),
              (QStringList{"A1", "B2", "C'3"}));
    EXPECT_EQ(billCodeSql({"A1", "C'3"}), QStringLiteral(" and BILLCODE in ('A1','C''3') "));
    EXPECT_EQ(billCodeSql({}), QString());
}

TEST(TallyRules, RemarkWithNote)
{
    const struct
    {
        const char *remark, *note, *result;
    } cases[] = {
        {"R", "  ", "R"},
        {"R", "N1\r\nN2\r\nN3", "R;N1\nN2\nN3"}, // lines stay lines
        {"R", "N1\nN2\nN3\n\n", "R;N1\nN2\nN3"},    // trailing Enter stored not
        {"", "\n N1 \n", "N1"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(remarkWithNote(QString::fromUtf8(c.remark), QString::fromUtf8(c.note)),
                  QString::fromUtf8(c.result))
            << c.note;
}

// The closing messages of the runs: built from what happened, never from a raw
// technical text.
TEST(TallyRuns, ClosingMessagesOfARun)
{
    RunReport r;
    EXPECT_EQ(runEndText(r, QStringLiteral("操作完成!")), QStringLiteral("操作完成!"));
    r.end = RunReport::End::Stopped;
    r.done = 3;
    r.total = 10;
    EXPECT_EQ(runEndText(r, QString()), QStringLiteral("已停止：处理了3条，其余7条没有改动。"));
    r.end = RunReport::End::Failed;
    r.failure = {QStringLiteral("运单[A1]的中转费计算失败"), QStringLiteral("请检查与服务器的连接后再试。"), QString()};
    EXPECT_EQ(runEndText(r, QString()),
              QStringLiteral("运单[A1]的中转费计算失败，处理停在这一条，这条记录没有改动；之前已处理的3条保留新值"
                             "（尚未保存）。请检查与服务器的连接后再试，再对其余记录重做。"));
    r.single = true;
    EXPECT_EQ(runEndText(r, QString()),
              QStringLiteral("运单[A1]的中转费计算失败，这条记录没有改动。请检查与服务器的连接后再试。"));

    // What stopped a line, as the clerk reads it; technical texts only in the details.
    auto of = [](auto error) { return lineFailureOf(std::make_exception_ptr(error), QStringLiteral("B2")); };
    const LineFailure run = of(RunError(QStringLiteral("运单[B2]获取签收站失败"), kAdviceLookupRefused, QStringLiteral("cause")));
    EXPECT_EQ(run.message, QStringLiteral("运单[B2]获取签收站失败"));
    EXPECT_EQ(run.advice, kAdviceLookupRefused);
    EXPECT_EQ(run.details, QStringLiteral("cause"));
    EXPECT_EQ(of(host::SilentAbort()).message, QStringLiteral("运单[B2]没有处理完"));
    const LineFailure english = of(std::runtime_error("database is locked"));
    EXPECT_EQ(english.message, QStringLiteral("运单[B2]处理时出现意外错误"));
    EXPECT_EQ(english.details, QStringLiteral("database is locked"));
    EXPECT_EQ(of(host::UserError(QStringLiteral("disk full"))).details.trimmed(), QStringLiteral("disk full"));
    EXPECT_EQ(of(host::UserError(QStringLiteral("备注太长"))).message, QStringLiteral("运单[B2]没有处理完：备注太长"));
    EXPECT_EQ(lineFailureOf(std::make_exception_ptr(7), QStringLiteral("B2")).message,
              QStringLiteral("运单[B2]处理时出现意外错误"));
}

// The server's batch answer read back: values in order, the failing call's place and cause.
TEST(TallyRuns, BatchAnswersAndTheCallsThatGoIntoThem)
{
    BatchAnswers a = parseBatchAnswers(QStringLiteral("[1.5,null,\"上海浦东\",2]"), 4);
    EXPECT_EQ(a.failedAt, -1);
    ASSERT_EQ(a.values.size(), 4);
    EXPECT_DOUBLE_EQ(a.values[0].toDouble(), 1.5);
    EXPECT_TRUE(a.values[1].isNull());
    EXPECT_EQ(a.values[2].toString(), QStringLiteral("上海浦东"));
    a = parseBatchAnswers(QStringLiteral("[1.5,{\"error\":\"refused\"}]"), 4);
    EXPECT_EQ(a.failedAt, 1);
    EXPECT_EQ(a.cause, QStringLiteral("refused"));
    EXPECT_EQ(a.values.size(), 1);
    // Fewer answers than calls, or no answer at all, fail at the first unanswered call.
    EXPECT_EQ(parseBatchAnswers(QStringLiteral("[1.5]"), 3).failedAt, 1);
    EXPECT_EQ(parseBatchAnswers(QStringLiteral("<html>"), 3).failedAt, 0);
    EXPECT_EQ(parseBatchAnswers(QStringLiteral("{}"), 3).failedAt, 0);

    FeeArgs f;
    f.firstSite = QStringLiteral("上海浦东");
    f.feeType = QStringLiteral("中转费");
    f.pcs = 3;
    f.weight = 0.1 + 0.2; // sent exactly, not rounded
    f.validTime = QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0, 500));
    f.sysid = QStringLiteral("001");
    const ServerCall fee = feeCall(QStringLiteral("X9"), f);
    EXPECT_EQ(fee.json(), QStringLiteral("[\"F_CalcJSFee\",\"上海浦东\",\"\",\"中转费\",3,0.30000000000000004,0,\"\",\"\","
                                         "\"\",\"\",\"\",\"\",\"\",\"2026-12-07 10:00:00\",\"001\"]"));
    EXPECT_EQ(fee.failure, QStringLiteral("运单[X9]的中转费计算失败"));
    f.validTime = QDateTime();
    EXPECT_TRUE(feeCall(QStringLiteral("X9"), f).json().contains(QStringLiteral(",null,\"001\"]")));
    const Lookup mdd{QStringLiteral("F_GetAccMdd"), 1, QStringLiteral("mResult"), QStringLiteral("获取目的地")};
    EXPECT_EQ(lookupCall(QStringLiteral("X'9"), mdd, QStringLiteral("001")).json(),
              QStringLiteral("[\"F_GetAccMdd\",\"X'9\",1,\"001\"]"));
    const Lookup sign{QStringLiteral("F_GetSignSite"), -1, QStringLiteral("sResult"), QStringLiteral("获取签收站")};
    EXPECT_EQ(lookupCall(QStringLiteral("X9"), sign, QStringLiteral("001")).json(),
              QStringLiteral("[\"F_GetSignSite\",\"X9\",\"001\"]"));
    EXPECT_EQ(lookupCall(QStringLiteral("X9"), sign, QStringLiteral("001")).failure, QStringLiteral("运单[X9]获取签收站失败"));
}

TEST_F(TallyTest, DispatchFoldsOnlyAToZAndIgnoresUnknownNames)
{
    QTabWidget tabs;
    host::ParentCtrl = &tabs;
    for (const char *name : {"fcenAccEdt", "FCENACCEDT", "fcenaccedt"})
        DM_Func()->ExecFunc(QString::fromLatin1(name), QStringLiteral("中心账单管理"), {}, {}, 0);
    ASSERT_EQ(tabs.count(), 1);
    EXPECT_TRUE(qobject_cast<TfcenAccEdt *>(tabs.widget(0)));
    DM_Func()->ExecFunc(QStringLiteral("fCenAccQuery"), QStringLiteral("中心账单查询"), {}, {}, 0);
    ASSERT_EQ(tabs.count(), 2);
    EXPECT_TRUE(qobject_cast<TfcenAccQuery *>(tabs.widget(1)));
    for (const QString &name : {QStringLiteral("fNoSuch"), QStringLiteral(""),
                                QStringLiteral("fcenAccEdt "), QStringLiteral("ｆcenAccEdt")})
        DM_Func()->ExecFunc(name, QStringLiteral("x"), {}, {}, 0);
    EXPECT_EQ(tabs.count(), 2);
    for (const char *name : {"FDFKEDT", "fdfkquery", "fDFPFEdt", "FDFPFQUERY"})
        DM_Func()->ExecFunc(QString::fromLatin1(name), QString::fromLatin1(name), {}, {}, 0);
    ASSERT_EQ(tabs.count(), 6);
    EXPECT_TRUE(qobject_cast<TfDFKEdt *>(tabs.widget(2)));
    EXPECT_TRUE(qobject_cast<TfDFKQuery *>(tabs.widget(3)));
    EXPECT_TRUE(qobject_cast<TfDFPFEdt *>(tabs.widget(4)));
    EXPECT_TRUE(qobject_cast<TfDFPFQuery *>(tabs.widget(5)));
}

TEST_F(TallyTest, FinanceCentreAndSiteUsersGetTheirOwnFixedBox)
{
    // The day is taken before any window opens: a run that crosses midnight still agrees.
    const QString today = testsupport::settledNow().date().toString(QStringLiteral("yyyy-MM-dd"));
    setUser(QStringLiteral("上海中心"), true);
    std::unique_ptr<TfcenAccEdt> e(tessera::createForm<TfcenAccEdt>());
    EXPECT_EQ(e->boxes.edtFinance->text(), QStringLiteral("上海中心"));
    EXPECT_FALSE(e->boxes.edtFinance->isEnabled());
    EXPECT_TRUE(e->boxes.edtSite->isEnabled());
    EXPECT_TRUE(e->boxes.edtSite->text().isEmpty());

    setUser(QStringLiteral("上海浦东"), false);
    std::unique_ptr<TfcenAccQuery> q(tessera::createForm<TfcenAccQuery>());
    EXPECT_EQ(q->boxes.edtSite->text(), QStringLiteral("上海浦东"));
    EXPECT_FALSE(q->boxes.edtSite->isEnabled());
    EXPECT_TRUE(q->boxes.edtFinance->isEnabled());
    EXPECT_TRUE(q->boxes.edtFinance->text().isEmpty());
    // Both date boxes span today.
    EXPECT_EQ(q->filters->dtB->text(), today + QStringLiteral(" 00:00:00"));
    EXPECT_EQ(q->filters->dtE->text(), today + QStringLiteral(" 23:59:59"));
}

TEST_F(TallyTest, BothCentreWindowsAskTheSameQuestion)
{
    const QString today = testsupport::settledNow().date().toString(QStringLiteral("yyyy-MM-dd"));
    setUser(QStringLiteral("上海中心"), true);
    std::unique_ptr<TfcenAccEdt> e(tessera::createForm<TfcenAccEdt>());
    std::unique_ptr<TfcenAccQuery> q(tessera::createForm<TfcenAccQuery>());
    fill(e.get(), QStringLiteral("O'Neil"));
    fill(q.get(), QStringLiteral("O'Neil"));
    const QString sql = e->GetSql();
    EXPECT_EQ(sql, q->GetSql());
    EXPECT_EQ(sql, QStringLiteral("select * from TAB_ACCOUNT  where SCANTIME between to_date('")
                       + today + QStringLiteral(" 00:00:00','YYYY-MM-DD HH24:MI:SS')  and to_date('")
                       + today
                       + QStringLiteral(" 23:59:59','YYYY-MM-DD HH24:MI:SS')  and FINANCECENTER='上海中心'"
                                        " and PRIORFINANCE='北京中心' and PRIORSTATIONCODE='O''Neil'"
                                        " and NEXTSTATIONCODE='深圳南山' and GOODSTYPE='生鲜'"
                                        " and nvl(SIGNED,0)=0  and sysid='001'"));

    // 目的地点 and 按单号查询 restrict the query too, the same in both windows.
    for (auto *f : {e->filters, q->filters}) {
        f->lookups().last()->setText(QStringLiteral("深圳"));
        f->chkByCode->setChecked(true);
        f->mmoCode->setPlainText(QStringLiteral("6600000001\n\n6600000002\n6600000001\n"));
    }
    EXPECT_EQ(e->GetSql(), q->GetSql());
    EXPECT_TRUE(e->GetSql().endsWith(
        QStringLiteral(" and DEST='深圳' and BILLCODE in ('6600000001','6600000002')  and sysid='001'")));
}

TEST_F(TallyTest, ByCodeQueryRefusesNoNumbersAndTooManyWithAMessage)
{
    std::unique_ptr<TfcenAccQuery> q(tessera::createForm<TfcenAccQuery>());
    q->filters->chkByCode->setChecked(true);
    q->filters->mmoCode->setPlainText(QStringLiteral(" \n \n"));
    EXPECT_THROW(q->GetSql(), host::SilentAbort);
    QStringList many;
    for (int i = 0; i <= kMaxBillCodes; ++i)
        many << QString::number(6600000000LL + i);
    q->filters->mmoCode->setPlainText(many.join(QLatin1Char('\n')));
    EXPECT_THROW(q->GetSql(), host::SilentAbort);
    ASSERT_EQ(presenter->shown.size(), 2);
    EXPECT_TRUE(presenter->shown.at(0).text.contains(QStringLiteral("输入运单编号")));
    EXPECT_TRUE(presenter->shown.at(1).text.contains(QStringLiteral("1001")));
    many.removeLast();
    q->filters->mmoCode->setPlainText(many.join(QLatin1Char('\n')));
    EXPECT_NO_THROW(q->GetSql());
    // Unchecked, the memo is left out.
    q->filters->chkByCode->setChecked(false);
    EXPECT_FALSE(q->GetSql().contains(QStringLiteral("BILLCODE")));
}

TEST_F(TallyTest, EditWindowSidePanelProgressBarAndHiddenButtons)
{
    std::unique_ptr<TfcenAccEdt> e(tessera::createForm<TfcenAccEdt>());
    e->resize(1200, 700);
    e->show();
    // 新增, 修改 and 删除 are not offered.
    for (QAction *holder : e->tbTool->actions()) {
        auto *b = qobject_cast<QToolButton *>(e->tbTool->widgetForAction(holder));
        const QAction *a = b ? b->defaultAction() : nullptr;
        if (a == e->actNew || a == e->actEdit || a == e->actDel) {
            EXPECT_FALSE(holder->isVisible());
        }
    }
    EXPECT_TRUE(e->rzszpnl1->isHidden());
    e->executeAction(e->actRefresh);
    EXPECT_FALSE(e->rzszpnl1->isHidden());
    e->executeAction(e->actRefresh);
    EXPECT_TRUE(e->rzszpnl1->isHidden());

    EXPECT_TRUE(e->rgb->isHidden());
    e->btnCollapse->click();
    EXPECT_TRUE(e->rgb->isHidden());
    EXPECT_EQ(e->pnlOption->height(), 24);
    e->btnExpand->click();
    EXPECT_FALSE(e->rgb->isHidden());
    EXPECT_GT(e->pnlOption->height(), 100);
    // Runs on a closed grid do nothing and say nothing.
    e->CalcFees(false);
    e->CalcFees(true);
    e->sbRefreshClick();
    EXPECT_TRUE(presenter->shown.isEmpty());
}

TEST_F(TallyTest, RecordWindowsAskTheSameQuestionOnTheChosenDateColumn)
{
    const QString today = testsupport::settledNow().date().toString(QStringLiteral("yyyy-MM-dd"));
    std::unique_ptr<TfDFKEdt> ke(tessera::createForm<TfDFKEdt>());
    std::unique_ptr<TfDFKQuery> kq(tessera::createForm<TfDFKQuery>());
    for (auto *b : {&ke->boxes, &kq->boxes}) {
        b->edtPZCSite->setText(QStringLiteral("北京中心"));
        b->edtJZSite->setText(QStringLiteral("上海'浦东"));
        b->edtPJY->setText(QStringLiteral("王磊"));
    }
    for (FinanceFilters *f : {ke->filters, kq->filters}) {
        f->rgpButtons->button(1)->click();
        f->cboSignType->setCurrentIndex(1);
    }
    EXPECT_EQ(ke->GetSql(), kq->GetSql());
    EXPECT_EQ(ke->GetSql(),
              QStringLiteral("select * from TAB_DFKRECORD  where SIGNTIME between to_date('") + today
                  + QStringLiteral(" 00:00:00','YYYY-MM-DD HH24:MI:SS')  and to_date('") + today
                  + QStringLiteral(" 23:59:59','YYYY-MM-DD HH24:MI:SS')  and SIGNCENTER='北京中心'"
                                   " and FIRSTSITE='上海''浦东' and DELVEMP='王磊' and nvl(SIGNFLAG,0)=1  "
                                   "and sysid='001'"));

    std::unique_ptr<TfDFPFEdt> pe(tessera::createForm<TfDFPFEdt>());
    std::unique_ptr<TfDFPFQuery> pq(tessera::createForm<TfDFPFQuery>());
    EXPECT_EQ(pe->boxes.edtQJY, nullptr);
    for (auto *b : {&pe->boxes, &pq->boxes})
        b->edtJZCSite->setText(QStringLiteral("上海中心"));
    for (FinanceFilters *f : {pe->filters, pq->filters}) {
        f->chkByCode->setChecked(true);
        f->mmoCode->setPlainText(QStringLiteral("A1"));
    }
    EXPECT_EQ(pe->GetSql(), pq->GetSql());
    EXPECT_TRUE(pe->GetSql().startsWith(QStringLiteral("select * from TAB_DFPFRECORD  where CREATETIME between")));
    EXPECT_TRUE(pe->GetSql().contains(QStringLiteral(" and FIRSTCENTER='上海中心' and BILLCODE in ('A1')  and sysid")));
}

TEST_F(TallyTest, F4OnAFilterBoxOpensTheLookupAndAClosedWindowIsFreed)
{
    quillon::TMyDataSet centres;
    centres.SetFieldDefs({{QStringLiteral("SiteCode"), quillon::FieldType::String, 20},
                          {QStringLiteral("SiteName"), quillon::FieldType::String, 50}});
    centres.CreateDataSet();
    for (const char *n : {"上海中心", "北京中心"}) {
        centres.Append();
        centres.FieldByName(QStringLiteral("SiteCode"))->SetAsString(QStringLiteral("C"));
        centres.FieldByName(QStringLiteral("SiteName"))->SetAsString(QString::fromUtf8(n));
        centres.Post();
    }
    host::g_lstVars->attachTo(QStringLiteral("cdsFNSite"), &centres);
    QPointer<TfcenAccEdt> e = tessera::createForm<TfcenAccEdt>();
    e->show();
    host::g_lstVars->remove(QStringLiteral("cdsFNSite"));
    // The box is bound to no record, yet F4 opens the lookup dialog on its list.
    e->boxes.edtpfSite->setFocus();
    QTest::keyClick(e->boxes.edtpfSite, Qt::Key_F4);
    EXPECT_EQ(presenter->dialogsShown.size(), 1);
    EXPECT_EQ(e->boxes.edtpfSite->MSD_LookupCds(), &centres);
    // A typed name that is on the list passes, one that is not is refused.
    e->boxes.edtpfSite->setText(QStringLiteral("北京中心"));
    e->boxes.edtpfSite->setModified(true);
    EXPECT_NO_THROW(e->boxes.edtpfSite->CheckValue());
    e->boxes.edtpfSite->setText(QStringLiteral("无此中心"));
    e->boxes.edtpfSite->setModified(true);
    EXPECT_THROW(e->boxes.edtpfSite->CheckValue(), host::SilentAbort);

    e->boxes.edtpfSite->clear();
    e->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(e.isNull());
}

namespace {

// Every visible control of the option panel at least as wide as it needs to be, and none
// over another (a squeezed panel draws the date box's arrow over "至" and cuts "签收时间").
void expectOptionPanelFits(tessera::TfDBBase *w, const char *name)
{
    QStringList problems;
    auto check = [&](QWidget *parent, auto &self) -> void {
        QList<QWidget *> shown;
        for (QObject *o : parent->children()) {
            auto *c = qobject_cast<QWidget *>(o);
            if (!c || !c->isVisible() || c->isWindow())
                continue;
            shown << c;
            // What a layout grants at least (an explicit minimum wins over the hint).
            const int needed = c->minimumWidth() > 0 ? c->minimumWidth() : c->minimumSizeHint().width();
            if (c->width() < needed)
                problems << QStringLiteral("%1 %2<%3").arg(c->objectName()).arg(c->width()).arg(needed);
            if (c->layout())
                self(c, self);
            // A date box shows its seconds: the whole text fits the box's text area.
            if (auto *d = qobject_cast<QDateTimeEdit *>(c)) {
                const QLineEdit *text = d->findChild<QLineEdit *>();
                const int wanted = text->fontMetrics().horizontalAdvance(d->text());
                if (text->contentsRect().width() < wanted)
                    problems << QStringLiteral("%1 text %2<%3").arg(d->objectName()).arg(text->contentsRect().width()).arg(wanted);
            }
        }
        for (int i = 0; i < shown.size(); ++i)
            for (int j = i + 1; j < shown.size(); ++j)
                if (shown[i]->geometry().intersects(shown[j]->geometry()))
                    problems << QStringLiteral("%1 over %2").arg(shown[i]->objectName(), shown[j]->objectName());
    };
    check(w->gbOption, check);
    EXPECT_TRUE(problems.isEmpty()) << name << ": " << problems.join(u' ').toStdString() << " (panel "
                                    << w->gbOption->width() << ", needs "
                                    << w->gbOption->layout()->minimumSize().width() << ")";
}

} // namespace

// At 1024 by 768 the client's page is 1018 pixels wide: the option panels of all six
// finance windows fit in it whole.
TEST_F(TallyTest, OptionPanelsFitTheSmallScreen)
{
    setUser(QStringLiteral("上海中心"), true);
    const QSize page(1018, 560);
    auto show = [&](tessera::TfDBBase *w, const char *name) {
        w->resize(page);
        w->show();
        QCoreApplication::processEvents();
        // A page cannot grow beyond the tab: the window must get by with its width.
        EXPECT_LE(w->minimumSizeHint().width(), page.width()) << name;
        w->resize(page);
        QCoreApplication::processEvents();
        expectOptionPanelFits(w, name);
    };
    std::unique_ptr<TfcenAccEdt> a(tessera::createForm<TfcenAccEdt>());
    show(a.get(), "中心账单管理");
    std::unique_ptr<TfcenAccQuery> b(tessera::createForm<TfcenAccQuery>());
    show(b.get(), "中心账单查询");
    std::unique_ptr<TfDFKEdt> c(tessera::createForm<TfDFKEdt>());
    show(c.get(), "到付款管理");
    std::unique_ptr<TfDFKQuery> d(tessera::createForm<TfDFKQuery>());
    show(d.get(), "到付款查询");
    std::unique_ptr<TfDFPFEdt> e(tessera::createForm<TfDFPFEdt>());
    show(e.get(), "派件费管理");
    std::unique_ptr<TfDFPFQuery> f(tessera::createForm<TfDFPFQuery>());
    show(f.get(), "派件费查询");
}
