#include "baseforms/fdbbase.h"

#include "baseforms/gridchart.h"

#include "baseforms/dbcontrols.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/environment.h"
#include "baseforms/fidm.h"
#include "baseforms/inifile.h"
#include "baseforms/msgconfig.h"
#include "baseforms/report.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/sqltext.h"
#include "baseforms/toolimages.h"
#include "baseforms/ucommessage.h"
#include "baseforms/uiconfig.h"
#include "host/dialogpresenter.h"
#include "host/errordisplay.h"
#include "host/errors.h"
#include "host/varlist.h"

#include <QApplication>
#include <QStatusTipEvent>
#include <algorithm>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace tessera {

// ---------------------------------------------------------------------------------------

CancelModeEvent::CancelModeEvent()
    : QEvent(eventType())
{}

QEvent::Type CancelModeEvent::eventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

namespace {
FindFormFunction &findForm()
{
    static FindFormFunction f;
    return f;
}

QString findFormResult(const QString &caption, quillon::TMyDataSet *lookup,
                       const QString &lookupField, const QString &fieldList, const QString &current)
{
    if (!findForm())
        throw host::UserError(QStringLiteral("查找窗口不可用"));
    return findForm()(caption, lookup, lookupField, fieldList, current);
}

// Sets lines in a variable list and removes them again, whatever happens in between.
class ParamLines
{
public:
    explicit ParamLines(host::VarList *list)
        : m_list(list)
    {}
    ~ParamLines()
    {
        for (const QString &n : std::as_const(m_names))
            TfDBBase::RemoveParamFromVar(*m_list, n);
    }
    void set(const QString &name, const QString &value)
    {
        m_list->setValue(name, value);
        m_names << name;
    }

private:
    host::VarList *m_list;
    QStringList m_names;
};

QString addressOf(const void *p)
{
    return QString::number(quintptr(p));
}

} // namespace

void setShowFindForm(FindFormFunction function)
{
    findForm() = std::move(function);
}

// ---------------------------------------------------------------------------------------

TfDBBase::TfDBBase(QWidget *parent)
    : TfBase(parent)
{
    setObjectName(QStringLiteral("fDBBase"));
    setWindowTitle(QStringLiteral("数据操作基类"));
    resize(800, 560);

    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);

    // Tool bar panel.
    pnlTool = addComponent(new TRzPanel(this), QStringLiteral("pnlTool"));
    pnlTool->setFixedHeight(48);
    pnlTool->setBorderSides(Qt::BottomEdge, 2);
    auto *toolLayout = new QHBoxLayout(pnlTool);
    toolLayout->setContentsMargins(0, 0, 0, 2);
    toolLayout->setSpacing(0);
    tbTool = addComponent(new TRzToolBar(pnlTool), QStringLiteral("tbTool"));
    toolLayout->addWidget(tbTool, 1);
    pnlToolLogo = addComponent(new QWidget(pnlTool), QStringLiteral("pnlToolLogo"));
    pnlToolLogo->setFixedWidth(39);
    pnlToolLogo->hide();
    imgToolLogo = addComponent(new QLabel(pnlToolLogo), QStringLiteral("imgToolLogo"));
    toolLayout->addWidget(pnlToolLogo);
    imgCusLogo = addComponent(new QLabel(pnlTool), QStringLiteral("imgCusLogo"));
    imgCusLogo->setFixedSize(89, 44);
    toolLayout->addWidget(imgCusLogo);
    main->addWidget(pnlTool);

    // Option panel.
    pnlOption = addComponent(new TRzPanel(this), QStringLiteral("pnlOption"));
    pnlOption->setFixedHeight(81);
    auto *optLayout = new QVBoxLayout(pnlOption);
    optLayout->setContentsMargins(0, 0, 0, 0);
    gbOption = addComponent(new TRzGroupBox(QString(), pnlOption), QStringLiteral("gbOption"));
    optLayout->addWidget(gbOption);
    m_optionLayout = new QGridLayout(gbOption);
    m_optionLayout->setContentsMargins(8, 24, 8, 4);
    m_optionLayout->setHorizontalSpacing(6);
    m_optionLayout->setVerticalSpacing(4);
    btnCollapse = addComponent(new QToolButton(gbOption), QStringLiteral("btnCollapse"));
    btnCollapse->setFixedSize(20, 20);
    btnCollapse->setArrowType(Qt::UpArrow);
    btnCollapse->setToolTip(QStringLiteral("隐藏"));
    lblOptionCaption = addComponent(new QLabel(QStringLiteral("选项"), gbOption),
                                    QStringLiteral("lblOptionCaption"));
    QFont bold = lblOptionCaption->font();
    bold.setBold(true);
    lblOptionCaption->setFont(bold);
    btnExpand = addComponent(new QToolButton(gbOption), QStringLiteral("btnExpand"));
    btnExpand->setFixedSize(20, 20);
    btnExpand->setArrowType(Qt::DownArrow);
    btnExpand->setToolTip(QStringLiteral("展开"));
    connect(btnCollapse, &QToolButton::clicked, this, &TfDBBase::btnCollapseClick);
    connect(btnExpand, &QToolButton::clicked, this, &TfDBBase::btnExpandClick);
    main->addWidget(pnlOption);

    // Client area for the descendants' grids.
    auto *client = new QWidget(this);
    m_clientLayout = new QVBoxLayout(client);
    m_clientLayout->setContentsMargins(0, 0, 0, 0);
    m_clientLayout->setSpacing(0);
    main->addWidget(client, 1);

    pnlFooterSep = addComponent(new TRzPanel(this), QStringLiteral("pnlFooterSep"));
    pnlFooterSep->setFixedHeight(7);
    pnlFooterSep->setPanelColor(colorFromBgr(11758082));
    pnlFooterSep->hide();
    main->addWidget(pnlFooterSep);

    alAction = addComponent(new QObject(this), QStringLiteral("alAction"));
    addComponent(new QObject(this), QStringLiteral("ilToolImage"));

    const QKeySequence none;
    actQuery = makeAction("actQuery", QStringLiteral("查询"), QStringLiteral("查询"), 7,
                          QKeySequence(Qt::CTRL | Qt::Key_Q));
    actNew = makeAction("actNew", QStringLiteral("新增"), QStringLiteral("新增"), 0,
                        QKeySequence(Qt::CTRL | Qt::Key_N));
    actEdit = makeAction("actEdit", QStringLiteral("修改"), QStringLiteral("修改"), 1,
                         QKeySequence(Qt::CTRL | Qt::Key_E));
    actDel = makeAction("actDel", QStringLiteral("删除"), QStringLiteral("删除"), 2,
                        QKeySequence(Qt::CTRL | Qt::Key_D));
    actSave = makeAction("actSave", QStringLiteral("保存"), QStringLiteral("保存"), 4,
                         QKeySequence(Qt::CTRL | Qt::Key_S));
    actCancel = makeAction("actCancel", QStringLiteral("撤消"), QStringLiteral("撤消"), 3, none);
    actPrint = makeAction("actPrint", QStringLiteral("打印"), QStringLiteral("打印"), 5,
                          QKeySequence(Qt::CTRL | Qt::Key_P));
    actExport = makeAction("actExport", QStringLiteral("导出"), QStringLiteral("导出"), 17,
                           QKeySequence(Qt::ALT | Qt::Key_E));
    actChart = makeAction("actChart", QStringLiteral("图表"), QString(), 22, none);
    actSelAll = makeAction("actSelAll", QStringLiteral("全选"), QStringLiteral("全选"), 11, none);
    actUnSelAll =
        makeAction("actUnSelAll", QStringLiteral("反选"), QStringLiteral("反选"), 10, none);
    actClose =
        makeAction("actClose", QStringLiteral("关闭"), QStringLiteral("关闭(Esc)"), 14, none);
    actSwitch = makeAction("actSwitch", QStringLiteral("切换"),
                           QStringLiteral("切换此界面的显示位置(左/右)"), 31, none);
    actRefresh = makeAction("actRefresh", QStringLiteral("刷新"), QStringLiteral("刷新"), 6,
                            QKeySequence(Qt::CTRL | Qt::Key_R));
    actDelAll = makeAction("actDelAll", QStringLiteral("清空"), QStringLiteral("清空"), 27, none);
    actUpload = makeAction("actUpload", QStringLiteral("上传"), QStringLiteral("上传"), 15,
                           QKeySequence(Qt::ALT | Qt::Key_T));
    actCopy = makeAction("actCopy", QStringLiteral("复制"), QStringLiteral("复制"), 36, none);
    actConfig = makeAction("actConfig", QStringLiteral("配置"), QStringLiteral("配置"), 28, none);
    actDetail = makeAction("actDetail", QStringLiteral("明细"), QStringLiteral("明细"), 33, none);
    actCollection =
        makeAction("actCollection", QStringLiteral("收款"), QStringLiteral("收款"), 29, none);
    actCollectionAffirm = makeAction("actCollectionAffirm", QStringLiteral("确认收款"),
                                     QStringLiteral("确认收款"), 29, none);
    actStat = makeAction("actStat", QStringLiteral("统计"), QStringLiteral("统计"), 20, none);
    actCalc = makeAction("actCalc", QStringLiteral("计算"), QStringLiteral("计算"), 18, none);

    setExecuteHandler(actQuery, [this] { actQueryExecute(); });
    setExecuteHandler(actClose, [this] { actCloseExecute(); });

    // The hidden switch button and its separator come first on the tool bar.
    QToolButton *sw = addToolButton(actSwitch, QStringLiteral("tbSwitch"));
    Q_UNUSED(sw);
    const auto barActions = tbTool->actions();
    for (QAction *a : barActions)
        a->setVisible(false);
    if (!barActions.isEmpty())
        barActions.last()->setObjectName(QStringLiteral("tbSwitchSep"));

    m_updateTimer = new QTimer(this);
    m_updateTimer->setInterval(250);
    connect(m_updateTimer, &QTimer::timeout, this, &TfDBBase::updateActions);
}

TfDBBase::~TfDBBase() = default;

QAction *TfDBBase::makeAction(const char *name, const QString &caption, const QString &hint,
                              int image, const QKeySequence &shortcut)
{
    return addFormAction(name, caption, hint, image, shortcut);
}

QAction *TfDBBase::addFormAction(const char *name, const QString &caption, const QString &hint,
                                 int image, const QKeySequence &shortcut)
{
    auto *a = addComponent(new QAction(caption, alAction), QString::fromLatin1(name));
    a->setToolTip(hint.isEmpty() ? caption : hint);
    a->setStatusTip(hint);
    a->setProperty("Hint", hint);
    a->setProperty("ImageIndex", image);
    a->setIcon(toolImage(image));
    a->setShortcut(shortcut);
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(a);
    connect(a, &QAction::triggered, this, [this, a] { executeAction(a); });
    m_actions << a;
    return a;
}

QToolButton *TfDBBase::addToolButton(QAction *action, const QString &buttonName,
                                     const QString &before)
{
    QAction *anchor = nullptr; // null: at the end
    if (!before.isEmpty())
        for (QAction *a : tbTool->actions())
            if (a->objectName() == before + QStringLiteral("Holder"))
                anchor = a;
    // An action made elsewhere still runs through executeAction, as the standard ones do.
    if (!m_actions.contains(action)) {
        addAction(action);
        connect(action, &QAction::triggered, this, [this, action] { executeAction(action); });
        m_actions << action;
    }
    auto *b = addComponent(new QToolButton(tbTool), buttonName);
    b->setDefaultAction(action);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    // The usual button is 45 wide; a longer caption (重置密码) widens its own button
    // rather than being cut.
    b->setFixedSize(qMax(45, b->fontMetrics().horizontalAdvance(action->text()) + 12), 40);
    b->setIconSize(QSize(22, 22));
    QAction *holder = tbTool->insertWidget(anchor, b);
    holder->setObjectName(buttonName + QStringLiteral("Holder"));
    QAction *sep = tbTool->insertSeparator(anchor);
    sep->setObjectName(buttonName + QStringLiteral("Sep"));
    m_buttonHolders[action].append(holder);
    return b;
}

bool TfDBBase::isOffered(const QAction *action) const
{
    if (m_offeredElsewhere.contains(action))
        return true;
    const QList<QAction *> holders = m_buttonHolders.value(action);
    return std::any_of(holders.cbegin(), holders.cend(),
                       [](const QAction *h) { return h->isVisible(); });
}

void TfDBBase::offerAction(QAction *action, bool offered)
{
    if (offered)
        m_offeredElsewhere.insert(action);
    else
        m_offeredElsewhere.remove(action);
    if (!isOffered(action))
        action->setEnabled(false); // enabled again by the next update when offered
}

void TfDBBase::hideAction(QAction *action)
{
    // The button's separator goes with it.
    QStringList names;
    for (const QAction *h : m_buttonHolders.value(action))
        names << h->objectName().chopped(6) + QStringLiteral("Sep");
    for (QAction *a : tbTool->actions())
        if (names.contains(a->objectName()))
            a->setVisible(false);
    for (QAction *h : m_buttonHolders.value(action))
        h->setVisible(false);
    m_offeredElsewhere.remove(action);
    // Off at once (constructors call this before every enabling rule can run).
    if (!isOffered(action))
        action->setEnabled(false);
}

void TfDBBase::setExecuteHandler(QAction *action, std::function<void()> handler)
{
    m_execute.insert(action, std::move(handler));
}

void TfDBBase::setUpdateHandler(QAction *action, std::function<bool()> enabled)
{
    m_update.insert(action, std::move(enabled));
}

void TfDBBase::updateActions()
{
    for (QAction *a : std::as_const(m_actions)) {
        bool enabled = isOffered(a);
        const auto rule = m_update.constFind(a);
        // An enabling rule that fails (no data module yet, a closed dataset ...) disables
        // its action instead of breaking the idle update.
        if (enabled && rule != m_update.cend()) {
            try {
                enabled = rule.value()();
            } catch (const std::exception &) {
                enabled = false;
            }
        }
        a->setEnabled(enabled);
    }
}

bool TfDBBase::alActionExecute(QAction *)
{
    QWidget *active = GetActiveControl();
    if (!active)
        return true;
    CancelModeEvent event;
    QCoreApplication::sendEvent(active, &event);
    return !event.refused();
}

void TfDBBase::executeAction(QAction *action)
{
    // Also before the first idle update has disabled it: a hidden action never runs.
    if (!action->isEnabled() || !isOffered(action))
        return;
    try {
        if (!alActionExecute(action))
            return;
        const auto handler = m_execute.value(action);
        if (handler)
            handler();
    } catch (const host::SilentAbort &) {
    } catch (const std::exception &) {
        const host::ErrorText t = host::describeException(std::current_exception());
        ErrorDialog(t.text, t.details);
    }
    updateActions();
}

void TfDBBase::showStatus(const QString &text)
{
    // A status tip travels up to the window that shows it (the main window's status bar);
    // the window keeps it for a while after the hover hints that pass over it.
    window()->setProperty("stickyStatus", text);
    window()->setProperty("stickyStatusAt", QDateTime::currentDateTime());
    QStatusTipEvent tip(text);
    QCoreApplication::sendEvent(this, &tip);
}

void TfDBBase::actQueryExecute()
{
    if (!alActionExecute(actQuery))
        throw host::SilentAbort();
}

void TfDBBase::actCloseExecute()
{
    close();
}

TfIDM *TfDBBase::PDM() const
{
    if (!m_pdm)
        throw host::UserError(msgText(QStringLiteral("Msg5")));
    return m_pdm;
}

void TfDBBase::SetPDM(TfIDM *dm)
{
    m_pdm = dm;
}

QString TfDBBase::gridLayoutPath() const
{
    if (m_gridIniFile.isEmpty())
        return {};
    return m_appPath + QStringLiteral("myini/") + m_gridIniFile;
}

void TfDBBase::FormCreate()
{
    TfBase::FormCreate();
    m_appPath = appPath();
    if (UIConfig().E3Version == QStringLiteral("1.0")) {
        setWindowState(Qt::WindowMaximized);
        setVisible(true);
    }

    tbTool->setRowHeight(40);
    btnCollapse->move(0, 0);
    btnCollapse->setVisible(true);
    btnCollapse->setToolTip(msgText(QStringLiteral("Msg2")) + lblOptionCaption->text());
    btnExpand->move(0, 0);
    btnExpand->setVisible(false);
    btnExpand->setToolTip(msgText(QStringLiteral("Msg3")) + lblOptionCaption->text());
    lblOptionCaption->move(29, 4);
    lblOptionCaption->adjustSize();
    m_maxOptionHeight = designHeight(pnlOption);
    m_minOptionHeight = 24;

    loadLogos();

    m_gridIniFile = objectName() + QString::number(ComponentCount()) + QStringLiteral(".ini");
    InitPDM();

    restoreGridLayouts();
    for (QObject *c : components()) {
        auto *w = qobject_cast<QLineEdit *>(c);
        if (!w || !c->inherits("tessera::TMyDBXEdit"))
            continue;
        w->setProperty("BevelKind", QStringLiteral("Flat"));
        w->setStyleSheet(
            QStringLiteral("QLineEdit { border: 1px solid #a5acb5; padding: 0 2px; }"));
        const int h = designHeight(w);
        if (h == 50) {
            setFontSize(w, 28);
        } else if (h == 22) {
            setFontSize(w, 13);
            setDesignHeight(w, 23);
        }
    }
}

void TfDBBase::loadLogos()
{
    try {
        const QString cus = m_appPath + QStringLiteral("_jpg/cuslogo.jpg");
        if (QFileInfo::exists(cus)) {
            QPixmap pm(cus);
            if (pm.isNull())
                throw host::UserError(QStringLiteral("%1: not a picture").arg(cus));
            imgCusLogo->setFixedSize(88, 44);
            imgCusLogo->setScaledContents(true);
            imgCusLogo->setPixmap(pm);
        } else {
            imgCusLogo->hide();
        }
        const QString gif = m_appPath + QStringLiteral("_jpg/mygif.gif");
        if (QFileInfo::exists(gif)) {
            imgToolLogo->setGeometry(0, 6, 32, 44);
            auto *movie = new QMovie(gif, QByteArray(), imgToolLogo);
            if (!movie->isValid())
                throw host::UserError(QStringLiteral("%1: not an animation").arg(gif));
            movie->setSpeed(200);
            imgToolLogo->setScaledContents(true);
            imgToolLogo->setMovie(movie);
            movie->start();
            pnlToolLogo->show();
        } else {
            pnlToolLogo->hide();
        }
    } catch (const host::UserError &e) {
        MSGErrorDialog(msgText(QStringLiteral("Msg4")), e.message());
    }
}

void TfDBBase::InitPDM() {}

void TfDBBase::restoreGridLayouts()
{
    const QString path = gridLayoutPath();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    const IniFile ini(path);
    for (QObject *c : components())
        if (auto *g = qobject_cast<TDBGridEh *>(c))
            g->RestoreColumnsLayout(ini, g->objectName(), true);
}

void TfDBBase::saveGridLayouts()
{
    const QString path = gridLayoutPath();
    if (path.isEmpty())
        return;
    QList<TDBGridEh *> grids;
    for (QObject *c : components())
        if (auto *g = qobject_cast<TDBGridEh *>(c))
            grids << g;
    if (grids.isEmpty())
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    IniFile ini(path);
    for (TDBGridEh *g : grids)
        g->SaveColumnsLayout(ini, g->objectName());
    ini.save(path); // errors of the layout file are ignored
}

void TfDBBase::FormShow()
{
    TfBase::FormShow();
    if (tag() == 9)
        btnCollapseClick();
    updateActions();
    m_updateTimer->start();
}

void TfDBBase::FormClose(bool &freeOnClose)
{
    TfBase::FormClose(freeOnClose);
    m_updateTimer->stop();
    saveGridLayouts();
    freeOnClose = true;
}

void TfDBBase::btnCollapseClick()
{
    pnlOption->setFixedHeight(m_minOptionHeight);
    btnCollapse->setVisible(false);
    btnExpand->setVisible(true);
}

void TfDBBase::btnExpandClick()
{
    pnlOption->setFixedHeight(m_maxOptionHeight);
    btnCollapse->setVisible(true);
    btnExpand->setVisible(false);
}

void TfDBBase::OpenCds(quillon::TMyDataSet *cds, const QString &sql)
{
    PDM()->OpenCds(cds, sql);
}

void TfDBBase::LoadReport(TfrxReport *report, const QString &fileName)
{
    // A window that names no report prints the one named after the window.
    const QString name = fileName.isEmpty() ? objectName() + QStringLiteral(".wlr") : fileName;
    const QString path = m_appPath + QStringLiteral("_report/") + QDir::fromNativeSeparators(name);
    if (!QFileInfo(path).isFile()) {
        MSGHintDialog(msgText(QStringLiteral("Msg6")));
        throw host::SilentAbort();
    }
    if (!report->LoadFromFile(path)) {
        MSGErrorDialog(msgText(QStringLiteral("Msg7")));
        throw host::SilentAbort();
    }
}

void TfDBBase::PrintGrid(TfrxReport *report, TDBGridEh *grid, const QString &fileName)
{
    LoadReport(report, fileName);
    // Variables every report may use; a window's BeforePrint may add or change them.
    report->setVariable(QStringLiteral("Title"), windowTitle());
    report->setVariable(QStringLiteral("User"),
                        host::g_lstVars->value(QStringLiteral("LogOnEmpName")));
    report->setVariable(QStringLiteral("Site"),
                        host::g_lstVars->value(QStringLiteral("LogOnSiteName")));
    QList<int> rows;
    for (int r = 0; r < grid->visibleRowCount(); ++r)
        rows << grid->sourceRow(r);
    report->setRowOrder(rows);
}

void TfDBBase::ShowChart(TDBGridEh *grid)
{
    if (!grid || grid->visibleRowCount() == 0) {
        MSGHintDialog(QStringLiteral("没有可以画图的数据，请先查询。"));
        return;
    }
    if (groupingColumns(grid).isEmpty()) {
        MSGHintDialog(QStringLiteral("表格中没有可以分组的文字列，无法画图。"));
        return;
    }
    TfChart chart(grid, windowTitle(), this);
    host::dialogPresenter().execDialog(&chart);
}

QString TfDBBase::FormatSql(const QString &sql, const QString &oldText, const QString &newText)
{
    return tessera::FormatSql(sql, oldText, newText);
}

QString TfDBBase::DelSqlComments(const QString &sql)
{
    return tessera::DelSqlComments(sql);
}

void TfDBBase::RemoveParamFromVar(host::VarList &list, const QString &name)
{
    const int i = list.indexOfName(name);
    if (i >= 0)
        list.removeAt(i);
}

QString TfDBBase::GetBillCodeList(const QPlainTextEdit *memo)
{
    return tessera::GetBillCodeList(splitLines(memo->toPlainText()));
}

bool TfDBBase::ExportToExcel(TDBGridEh *grid, const QString &title, const QString &formatFile,
                             const QString &excelFile, const QString &conditionDescr, bool showFlag)
{
    TfIDM *dm = PDM();
    host::VarList *vars = dm->lstGVars ? dm->lstGVars : host::g_lstVars;
    ParamLines lines(vars);
    lines.set(QStringLiteral("Grid"), addressOf(grid));
    lines.set(QStringLiteral("Title"), title);
    lines.set(QStringLiteral("FormatFile"), formatFile);
    lines.set(QStringLiteral("ExcelFile"), excelFile);
    lines.set(QStringLiteral("ConditionDescr"), conditionDescr);
    lines.set(QStringLiteral("ShowFlag"),
              showFlag ? QStringLiteral("True") : QStringLiteral("False"));
    dm->CallFunc(QStringLiteral("px_Toolbox.GridEhToExcel"), nullptr);
    return true;
}

bool TfDBBase::FileUpload(TDBGridEh *dataGrid, const QString &tableName, const QString &serverDir,
                          const QString &encryField, const QString &scanType, const QString &upType,
                          const QStringList *aParam)
{
    TfIDM *dm = PDM();
    host::VarList *vars = dm->lstGVars ? dm->lstGVars : host::g_lstVars;
    ParamLines lines(vars);
    lines.set(QStringLiteral("DataGrid"), addressOf(dataGrid));
    lines.set(QStringLiteral("TableName"), tableName);
    lines.set(QStringLiteral("ServerDir"), serverDir);
    lines.set(QStringLiteral("EncryField"), encryField);
    lines.set(QStringLiteral("ScanType"), scanType);
    lines.set(QStringLiteral("UpType"), upType);
    lines.set(QStringLiteral("aParam"), aParam ? addressOf(aParam) : QStringLiteral("0"));
    dm->CallFunc(QStringLiteral("px_Toolbox.fFileUpload"), nullptr);
    return true;
}

bool TfDBBase::LookupDlg(const QString &selectSql, const QString &selText, const QString &caption,
                         const QString &code, const QString &name, const QString &belong, int flag,
                         int returnKind)
{
    TfIDM *dm = PDM();
    host::VarList *vars = dm->lstGVars ? dm->lstGVars : host::g_lstVars;
    ParamLines lines(vars);
    lines.set(QStringLiteral("DlgSelectSQL"), selectSql);
    lines.set(QStringLiteral("DlgFlag"), QString::number(flag));
    lines.set(QStringLiteral("DlgSelText"), selText);
    lines.set(QStringLiteral("DlgCaption"), caption);
    lines.set(QStringLiteral("DlgCode"), code);
    lines.set(QStringLiteral("DlgName"), name);
    lines.set(QStringLiteral("DlgBelong"), belong);
    lines.set(QStringLiteral("DlgReturn"), QString::number(returnKind));
    dm->CallFunc(QStringLiteral("px_Toolbox.fLookupDlg"), nullptr);
    return true;
}

void TfDBBase::DBEditEhLookup(TDBEditEh *edit, const QString &caption, quillon::TMyDataSet *lookup,
                              const QString &lookupField, const QString &fieldList)
{
    const QString current = edit->text();
    const QString result = findFormResult(caption, lookup, lookupField, fieldList, current);
    if (result == current)
        return;
    if (edit->dataLink()->isActive())
        edit->dataLink()->edit();
    edit->setText(result);
    edit->updateRecord();
}

void TfDBBase::ColumnEhLookup(TDBGridEh *grid, const QString &fieldName, const QString &caption,
                              quillon::TMyDataSet *lookup, const QString &lookupField,
                              const QString &fieldList)
{
    if (!grid->DataSource())
        throw host::UserError(msgText(QStringLiteral("Msg11")));
    if (!grid->DataSource()->hasData())
        throw host::UserError(msgText(QStringLiteral("Msg12")));
    QString current;
    if (auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        editor && grid->view()->viewport()->isAncestorOf(editor))
        current = editor->text();
    const QString result = findFormResult(caption, lookup, lookupField, fieldList, current);
    if (result == current)
        return;
    TDataSource *ds = grid->DataSource();
    const int field = ds->fieldIndex(fieldName);
    if (field < 0 || ds->currentRow() < 0)
        return;
    ds->edit();
    ds->setValue(ds->currentRow(), field, result);
}

} // namespace tessera
