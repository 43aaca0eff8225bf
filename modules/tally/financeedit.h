#pragma once
// The shared behaviour of the finance edit windows (centre accounts, pay on delivery,
// delivery fees): set-up on the module's connection, the option panel, marks (全选/反选,
// cleared by a new query), the side panel of refresh options behind 刷新, the progress bar,
// the calls of the server's lookup and fee functions and the run over the marked rows.
//
// A run over many rows keeps the window painting and offers 停止; a row that fails (a
// lookup or fee call the server refuses) is left as it was, the run stops there with a
// message naming the waybill, and the rows done before keep their new, unsaved values.

#include "baseforms/fdbmultibase_batch.h"
#include "modules/tally/financefilters.h"
#include "modules/tally/financesql.h"

#include <QElapsedTimer>
#include <functional>

class QActionGroup;
class QFormLayout;
class QProgressBar;
class QPushButton;

namespace tally {

// One row could not be done: a server call failed, or a value does not fit. The text names
// the waybill and what went wrong; the advice says what to do next.
class StepError : public host::UserError
{
public:
    explicit StepError(const QString &message,
                       const QString &advice = QStringLiteral("请检查与服务器的连接或费用规则后再试"))
        : host::UserError(message)
        , m_advice(advice)
    {}
    QString advice() const { return m_advice; }

private:
    QString m_advice;
};

class TfFinanceEdit : public tessera::TfDBMultiBase_Batch
{
    Q_OBJECT
public:
    explicit TfFinanceEdit(QWidget *parent = nullptr);
    ~TfFinanceEdit() override;

    FinanceFilters *filters;
    quillon::TMyDataSet *cdsTmp;
    QProgressBar *rgb;
    QToolButton *btnStop;
    QPushButton *sbRefresh;
    // The progress bar and 停止: the window places it along the bottom of its option panel.
    QWidget *pnlRun;

    void actSelAllExecute();
    void actUnSelAllExecute();
    // 刷新 on the tool bar: shows or hides the side panel of refresh options.
    void actRefreshExecute();

    // How a run over the marked rows ended.
    enum class RunEnd { Nothing, Done, Stopped, Failed };
    bool running() const { return m_running; }
    // Asks a running run to stop before its next row.
    void requestStop() { m_stopRequested = true; }

    // The lookup call on the current row: "select F(<bill>,<sysid>) as R from dual"; the
    // result as text (empty when the server has none). `what` names the request in a
    // failure message ("获取上一站"). Raises StepError.
    QString LookupCall(const QString &function, const QString &separator,
                       const QString &resultName, const QString &what);
    // The fee call on the current row with the fifteen typed parameters. Raises StepError
    // naming the waybill and the fee type; a fee is never made up.
    double CalcFee(const FeeArgs &args);
    // The fee call's values for a pay-on-delivery or delivery-fee record: FIRSTSITE, DEST,
    // 1 piece, WEIGHT twice, FASTTYPE, GOODSTYPE, FIRSTCENTER, FIRSTSITE, CREATETIME.
    FeeArgs recordFeeArgs(const QString &feeType) const;

    bool CloseQuery() override;

signals:
    // A marked row is done (the count so far); the progress bar follows it.
    void rowDone(int done);

protected:
    void InitPDM() override;
    void actQueryExecute() override;
    void FormClose(bool &freeOnClose) override;

    // The form layout inside the side panel, above its 刷新 button.
    QFormLayout *sideLayout() const { return m_sideLayout; }
    QComboBox *addSideChoice(const QString &name, const QString &label, const QStringList &items);

    // The selected-rows run: `step` on each marked row in the grid's order. Without marks
    // the warning is shown (an empty warning runs over no row and shows the hint).
    // `failureTail` completes the message of a failed row.
    RunEnd RunSelected(const QString &noMarkWarning, const QString &doneHint,
                       const std::function<void()> &step);
    // Runs `step` on the current row only (no progress); a failure leaves the row unchanged.
    RunEnd RunCurrent(const QString &doneHint, const std::function<void()> &step);
    // Lets the focused box commit or refuse its typed text first, as before every action;
    // false when it refused (it has told the user why).
    bool commitTypedInput() { return alActionExecute(actRefresh); }
    // After a completed run the marks are cleared (a stopped or failed run keeps them, so
    // the rest can be run again).
    void clearMarksAfter(RunEnd end);

    // Field access on the current row of cdsData.
    QString fieldText(const QString &field) const;
    double fieldDecimal(const QString &field) const;
    // Puts the row into edit state and writes the value.
    void setFieldText(const QString &field, const QString &value);
    void setFieldDecimal(const QString &field, double value);

private:
    friend class RunLock;
    // Shows the count and lets the window paint and hear 停止, at most every 40 ms.
    void keepPainting(int done, bool now);
    void restoreMarks(const QList<QVariant> &marks);
    void reportFailure(const StepError &error, int done, bool single);

    QFormLayout *m_sideLayout;
    QActionGroup *m_actionLock;
    bool m_progressShown = false;
    bool m_running = false;
    bool m_stopRequested = false;
    QElapsedTimer m_paint;
};

} // namespace tally
