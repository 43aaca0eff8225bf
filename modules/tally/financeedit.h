#pragma once
// The shared behaviour of the finance edit windows (centre accounts, pay on delivery,
// delivery fees): set-up on the module's connection, the option panel, marks (全选/反选,
// cleared by a new query), the side panel of refresh options behind 刷新, the progress bar,
// the calls of the server's lookup and fee functions and the run over the marked rows.
//
// Every run (单带, 批带, 刷新, 算费) is one loop, runLines(): the window says what a line
// needs from the server (plan) and what it does with it (step). Over marked lines the
// answers of many lines come in one request (FinanceCalls::prefetch) and the step takes
// them from there; 单带 makes its single calls. The loop keeps the window painting and
// offers 停止 between lines; a line that fails in any way is left as it was, the run stops
// there with a message naming the waybill, and the lines done before keep their new,
// unsaved values. Begin/end pairs (controls, actions, marks) are held by guard objects.

#include "baseforms/fdbmultibase_batch.h"
#include "modules/tally/financecalls.h"
#include "modules/tally/financefilters.h"
#include "modules/tally/financesql.h"

#include <QElapsedTimer>
#include <functional>

class QActionGroup;
class QFormLayout;
class QProgressBar;
class QPushButton;

namespace tally {

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
    // result as text (empty when the server has none). Raises RunError.
    QString LookupCall(const Lookup &lookup);
    // The fee call on the current row with the fifteen typed parameters. Raises RunError
    // naming the waybill and the fee type; a fee is never made up.
    double CalcFee(const FeeArgs &args);
    // The same calls as a run's plan names them (see runLines).
    ServerCall planLookup(const Lookup &lookup) const;
    ServerCall planFee(const FeeArgs &args) const;
    // The fee call's values for a pay-on-delivery or delivery-fee record: FIRSTSITE, DEST,
    // 1 piece, WEIGHT twice, FASTTYPE, GOODSTYPE, FIRSTCENTER, FIRSTSITE, CREATETIME.
    FeeArgs recordFeeArgs(const QString &feeType) const;

    // The server calls of the window's runs.
    FinanceCalls &calls() { return m_calls; }
    // At most this many calls go in one request of a run (at least one line's); the first
    // requests are smaller, so progress and 停止 come early.
    void setCallsPerRequest(int calls) { m_callsPerRequest = std::max(1, calls); }

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

    // What a run does on a line.
    struct RunRecipe
    {
        QString noMarkWarning; // without marks; empty: the run goes over no line
        QString doneHint;      // the closing hint of a completed run
        // The server calls that `step` will make on the current line; fetched for many
        // lines at once. A call left out is made singly by the step: slower, not wrong.
        std::function<QList<ServerCall>()> plan;
        std::function<void()> step; // the work on the current line
    };
    enum class Lines { Current, Marked };
    // The one loop of every run: `recipe.step` on the current line (单带) or on each marked
    // line in the grid's order.
    RunEnd runLines(Lines lines, const RunRecipe &recipe);
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
    friend class KeptMarks;
    // Shows the count and lets the window paint and hear 停止, at most every 40 ms.
    void keepPainting(int done, bool now);
    void restoreMarks(const QList<QVariant> &marks);
    // Plans lines [from, …) until the calls reach `limit`, fetches their answers; returns
    // the first line not planned.
    int prefetchLines(const QList<QVariant> &lines, int from, int limit, const RunRecipe &recipe);

    QFormLayout *m_sideLayout;
    QActionGroup *m_actionLock;
    bool m_progressShown = false;
    bool m_running = false;
    bool m_stopRequested = false;
    QElapsedTimer m_paint;
    FinanceCalls m_calls{nullptr};
    int m_callsPerRequest = 1000;
};

} // namespace tally
