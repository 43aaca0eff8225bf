#pragma once

#include "baseforms/fbase.h"

#include <QAction>
#include <QEvent>
#include <QHash>
#include <QSet>
#include <functional>

class QGridLayout;
class QLabel;
class QPlainTextEdit;
class QToolButton;
class QVBoxLayout;
class QTimer;

namespace quillon {
class TMyDataSet;
}
namespace host {
class VarList;
}

namespace tessera {

class TDBEditEh;
class TDBGridEh;
class TfIDM;
class TfrxReport;
class TRzGroupBox;
class TRzPanel;
class TRzToolBar;

// The cancel-mode message: sent to the focused control before every action of a data form
// runs, so that a control holding typed but unconfirmed input commits or refuses it. A
// control that refuses (after telling the user why) calls refuse(); the action then stops
// silently.
class CancelModeEvent : public QEvent
{
public:
    CancelModeEvent();
    static QEvent::Type eventType();
    void refuse() { m_refused = true; }
    bool refused() const { return m_refused; }

private:
    bool m_refused = false;
};

// The lookup dialog behind DBEditEhLookup and ColumnEhLookup (the lookup dialog's unit
// installs it): caption, lookup dataset, lookup field, field list, current text -> result.
using FindFormFunction = std::function<QString(const QString &, quillon::TMyDataSet *,
                                               const QString &, const QString &, const QString &)>;
void setShowFindForm(FindFormFunction function);

// The data-aware base of business windows: a tool bar with the standard actions, a
// collapsible option panel for query conditions, logos, grid layouts kept per window in
// "myini/", the module's data module, reports, SQL text helpers and the calls of the
// shared outside functions (spreadsheet export, file upload, lookup dialog).
class TfDBBase : public TfBase
{
    Q_OBJECT
public:
    explicit TfDBBase(QWidget *parent = nullptr);
    ~TfDBBase() override;

    QString AppPath() const { return m_appPath; }
    QString DBGridIniFile() const { return m_gridIniFile; }
    void SetDBGridIniFile(const QString &name) { m_gridIniFile = name; }
    // Full path of the grid layout file ("myini/" under AppPath), empty when none.
    QString gridLayoutPath() const;

    // The module's data module; throws host::UserError with the text of "Msg5" when unset.
    TfIDM *PDM() const;
    void SetPDM(TfIDM *dm);

    int minOptionPanelHeight() const { return m_minOptionHeight; }
    int maxOptionPanelHeight() const { return m_maxOptionHeight; }

    // Components of the design.
    TRzPanel *pnlTool;
    TRzToolBar *tbTool;
    QLabel *imgCusLogo;
    QWidget *pnlToolLogo;
    QLabel *imgToolLogo;
    TRzPanel *pnlOption;
    TRzGroupBox *gbOption;
    QToolButton *btnCollapse;
    QToolButton *btnExpand;
    QLabel *lblOptionCaption;
    TRzPanel *pnlFooterSep;
    QObject *alAction;
    // Where descendants put their query conditions (inside gbOption).
    QGridLayout *optionLayout() const { return m_optionLayout; }
    // Where descendants put their grids and pages (between the option panel and the bottom).
    QVBoxLayout *clientLayout() const { return m_clientLayout; }

    QAction *actQuery, *actNew, *actEdit, *actDel, *actSave, *actCancel, *actPrint, *actExport,
        *actChart, *actSelAll, *actUnSelAll, *actClose, *actSwitch, *actRefresh, *actDelAll,
        *actUpload, *actCopy, *actConfig, *actDetail, *actCollection, *actCollectionAffirm,
        *actStat, *actCalc;
    QList<QAction *> actions() const { return m_actions; }
    // A window's own action beyond the standard ones: named, triggered through
    // executeAction like them, and kept to the same enabling rules.
    QAction *addFormAction(const char *name, const QString &caption, const QString &hint,
                           int image, const QKeySequence &shortcut = QKeySequence());
    // What the window offers: an action is offered while a visible tool-bar button carries
    // it, or when the window offers it another way (offerAction: a menu, a side button).
    // An action that is not offered is disabled, shortcut included, whatever its own
    // enabling rule says: a hidden button never acts.
    bool isOffered(const QAction *action) const;
    void offerAction(QAction *action, bool offered = true);
    // Hides the tool-bar buttons of an action (and so disables it and its shortcut).
    void hideAction(QAction *action);
    // Puts an action on the tool bar (a button named `buttonName`, then a separator), at
    // the end or, when given and present, before the button named `before`.
    QToolButton *addToolButton(QAction *action, const QString &buttonName,
                               const QString &before = QString());

    // Execute and update (enabling) handlers of the actions. The execute handler runs after
    // the cancel-mode step; a host::SilentAbort stops it quietly, other errors are shown.
    void setExecuteHandler(QAction *action, std::function<void()> handler);
    std::function<void()> executeHandler(QAction *action) const { return m_execute.value(action); }
    void setUpdateHandler(QAction *action, std::function<bool()> enabled);
    // Evaluates every update handler (also done on a short timer while the form shows).
    void updateActions();
    // Runs an action as a click of its button does.
    void executeAction(QAction *action);
    // A short confirmation in the main window's status bar (what was saved ...).
    void showStatus(const QString &text);

    void btnCollapseClick();
    void btnExpandClick();

    // Opens a dataset through the data module.
    void OpenCds(quillon::TMyDataSet *cds, const QString &sql);
    // Loads "_report/<name>" under AppPath into the report; a missing file shows "Msg6",
    // a broken one "Msg7", each followed by host::SilentAbort.
    void LoadReport(TfrxReport *report, const QString &fileName);

    // Loads the report and gives it the rows that `grid` shows, in the order shown.
    void PrintGrid(TfrxReport *report, TDBGridEh *grid, const QString &fileName);
    // 图表 over the rows that `grid` shows.
    void ShowChart(TDBGridEh *grid);

    static QString FormatSql(const QString &sql, const QString &oldText, const QString &newText);
    static QString DelSqlComments(const QString &sql);
    static void RemoveParamFromVar(host::VarList &list, const QString &name);
    static QString GetBillCodeList(const QPlainTextEdit *memo);

    // Calls of the shared outside functions; each sets its lines in the data module's
    // variable list, runs the function and removes the lines again. All return true.
    bool ExportToExcel(TDBGridEh *grid, const QString &title, const QString &formatFile,
                       const QString &excelFile, const QString &conditionDescr, bool showFlag);
    bool FileUpload(TDBGridEh *dataGrid, const QString &tableName, const QString &serverDir,
                    const QString &encryField, const QString &scanType, const QString &upType,
                    const QStringList *aParam);
    bool LookupDlg(const QString &selectSql, const QString &selText, const QString &caption,
                   const QString &code, const QString &name, const QString &belong, int flag,
                   int returnKind);

    void DBEditEhLookup(TDBEditEh *edit, const QString &caption, quillon::TMyDataSet *lookup,
                        const QString &lookupField, const QString &fieldList);
    void ColumnEhLookup(TDBGridEh *grid, const QString &fieldName, const QString &caption,
                        quillon::TMyDataSet *lookup, const QString &lookupField,
                        const QString &fieldList);

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormClose(bool &freeOnClose) override;
    // Descendants set PDM (and may change DBGridIniFile) here.
    virtual void InitPDM();
    virtual void actQueryExecute();
    virtual void actCloseExecute();
    // Sends the cancel-mode message to the focused control; false when it refused.
    bool alActionExecute(QAction *action);

private:
    QAction *makeAction(const char *name, const QString &caption, const QString &hint, int image,
                        const QKeySequence &shortcut);
    void loadLogos();
    void restoreGridLayouts();
    void saveGridLayouts();

    QString m_appPath;
    QString m_gridIniFile;
    QPointer<TfIDM> m_pdm;
    int m_minOptionHeight = 24;
    int m_maxOptionHeight = 81;
    QGridLayout *m_optionLayout;
    QVBoxLayout *m_clientLayout;
    QList<QAction *> m_actions;
    QHash<QAction *, std::function<void()>> m_execute;
    QHash<QAction *, std::function<bool()>> m_update;
    QHash<const QAction *, QList<QAction *>> m_buttonHolders;
    QSet<const QAction *> m_offeredElsewhere;
    QTimer *m_updateTimer;
};

} // namespace tessera
