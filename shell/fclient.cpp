#include "shell/fclient.h"

#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/passwordverifier.h"
#include "host/moduleservice.h"
#include "host/paths.h"
#include "host/uintf.h"
#include "shell/clientconfig.h"
#include "host/errordisplay.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QStatusTipEvent>
#include <QTcpSocket>
#include <QTimer>
#include <QToolButton>

Q_LOGGING_CATEGORY(lcShell, "waylink.shell", QtWarningMsg)

static void initShellResources()
{
    Q_INIT_RESOURCE(shell);
}

namespace shell {

namespace {

QString scriptSuffix()
{
#ifdef Q_OS_WIN
    return QStringLiteral(".bat");
#else
    return QStringLiteral(".sh");
#endif
}

bool defaultOpenScript(const QString &path)
{
#ifdef Q_OS_WIN
    return QProcess::startDetached(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), path},
                                   QFileInfo(path).absolutePath());
#else
    return QProcess::startDetached(QStringLiteral("/bin/sh"), {path},
                                   QFileInfo(path).absolutePath());
#endif
}

quint32 monotonicTick()
{
    // The monotonic clock counts from boot, like the tick count of the system.
    return quint32(QDeadlineTimer::current().deadline());
}

QPixmap noticeGlyph()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(150, 90, 0), 1));
    p.setBrush(QColor(255, 200, 40));
    p.drawRoundedRect(QRectF(1.5, 3.5, 13, 9), 1.5, 1.5);
    p.drawLine(QPointF(2, 4), QPointF(8, 9));
    p.drawLine(QPointF(14, 4), QPointF(8, 9));
    p.setBrush(QColor(220, 30, 30));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(10, 0, 6, 6));
    return pm;
}

const char kPanelStyle[] = R"(
QLineEdit, QComboBox {
    border: 1px solid palette(dark); border-radius: 3px; background: white;
    padding: 2px 6px; color: #1f2d3d; font-size: 10pt;
    selection-background-color: #2d7dd2;
}
QLineEdit:focus, QComboBox:focus { border: 1px solid rgb(0, 0, 255); }
QLineEdit[echoMode="2"] { lineedit-password-character: 42; }
QPushButton { border: 1px solid palette(shadow); }
QPushButton:focus { border: 1px solid rgb(255, 255, 0); }
)";

const char kStatusStyle[] = R"(
#Rzstat { background: rgba(240, 244, 248, 235); border-top: 1px solid rgba(0, 0, 0, 60); }
#Rzstat QLabel { color: #243447; padding: 0 6px; border-right: 1px solid rgba(0, 0, 0, 40); }
#Rzstat7 { border-right: none; }
)";

const char kPageStyle[] = R"(
QTabWidget::pane { border: 1px solid rgba(0, 0, 0, 80); background: #f4f6f9; top: -1px; }
QTabBar::tab { background: rgba(255, 255, 255, 150); border: 1px solid rgba(0, 0, 0, 70);
    border-bottom: none; padding: 3px 10px; margin-right: 2px;
    border-top-left-radius: 6px; border-top-right-radius: 2px; }
QTabBar::tab:selected { background: #f4f6f9; font-weight: bold; }
)";

} // namespace

TfClient::TfClient(QWidget *parent)
    : TfClient(Options{}, parent)
{}

TfClient::TfClient(const Options &options, QWidget *parent)
    : TSkinForm(parent)
    , m_opt(options)
{
    initShellResources();
    setObjectName(QStringLiteral("fClient"));
    if (!m_opt.tickSource)
        m_opt.tickSource = monotonicTick;
    if (!m_opt.terminate)
        m_opt.terminate = [](int code) { QCoreApplication::exit(code); };
    if (!m_opt.openScript)
        m_opt.openScript = defaultOpenScript;
    createComponents();
    FormCreate();
}

TfClient::~TfClient()
{
    if (host::ParentCtrl == RzPgeCtrl)
        host::ParentCtrl = nullptr;
    host::setServerClock({});
}

QString TfClient::msgText(const QString &key, const QString &fallback)
{
    const QString t = host::g_lstVars->value(key);
    return t.isEmpty() ? fallback : t;
}

QString TfClient::localDataPath() const
{
    return m_exeDir + QStringLiteral("localdata/ClientData.xml");
}

QString TfClient::cdsDir() const
{
    return m_exeDir + QStringLiteral("LocalData/cds/");
}

QAction *TfClient::action(const QString &name) const
{
    for (QAction *a : actlsts) {
        if (a->objectName() == name)
            return a;
    }
    return nullptr;
}

QAction *TfClient::menuItem(const QString &name) const
{
    const QList<QAction *> items = ppSys->actions();
    for (QAction *a : items) {
        if (a->objectName() == name)
            return a;
    }
    return nullptr;
}

void TfClient::createComponents()
{
    RzPgeCtrl = new QTabWidget(this);
    RzPgeCtrl->setObjectName(QStringLiteral("RzPgeCtrl"));
    RzPgeCtrl->setTabsClosable(true);
    RzPgeCtrl->setMovable(true);
    RzPgeCtrl->setDocumentMode(false);
    RzPgeCtrl->setStyleSheet(QString::fromLatin1(kPageStyle));
    RzPgeCtrl->hide();
    connect(RzPgeCtrl, &QTabWidget::tabCloseRequested, this, &TfClient::RzPgeCtrlClose);
    connect(RzPgeCtrl, &QTabWidget::currentChanged, this, [this] {
        if (RzPgeCtrl->count() == 0)
            RzPgeCtrl->hide();
    });
    // The menu button of the page control lists the open windows.
    auto *pages = new QToolButton(RzPgeCtrl);
    pages->setObjectName(QStringLiteral("RzPgeCtrlMenu"));
    pages->setAutoRaise(true);
    pages->setArrowType(Qt::DownArrow);
    pages->setToolTip(QStringLiteral("已打开的窗口"));
    pages->setPopupMode(QToolButton::InstantPopup);
    auto *pageMenu = new QMenu(pages);
    pages->setMenu(pageMenu);
    connect(pageMenu, &QMenu::aboutToShow, this, [this, pageMenu] {
        pageMenu->clear();
        for (int i = 0; i < RzPgeCtrl->count(); ++i) {
            QAction *a = pageMenu->addAction(RzPgeCtrl->tabText(i));
            a->setCheckable(true);
            a->setChecked(i == RzPgeCtrl->currentIndex());
            QWidget *page = RzPgeCtrl->widget(i);
            connect(a, &QAction::triggered, RzPgeCtrl,
                    [this, page] { RzPgeCtrl->setCurrentWidget(page); });
        }
    });
    RzPgeCtrl->setCornerWidget(pages, Qt::TopRightCorner);

    PnlTop = new QWidget(this);
    PnlTop->setObjectName(QStringLiteral("PnlTop"));
    imgTop = new QLabel(PnlTop);
    imgTop->setObjectName(QStringLiteral("imgTop"));
    imgTop->setScaledContents(true);

    createLogOnPanel();
    createStatusBar();
    createActions();

    tmMonitor = new QTimer(this);
    tmMonitor->setObjectName(QStringLiteral("tmMonitor"));
    tmMonitor->setInterval(300);
    connect(tmMonitor, &QTimer::timeout, this, &TfClient::tmMonitorTimer);
}

void TfClient::createLogOnPanel()
{
    GrpLogIn = new QGroupBox(this);
    GrpLogIn->setObjectName(QStringLiteral("GrpLogIn"));
    GrpLogIn->setFlat(true);
    GrpLogIn->setFixedSize(289, 373);
    QFont caption = GrpLogIn->font();
    caption.setBold(true);
    GrpLogIn->setFont(caption);
    GrpLogIn->setStyleSheet(QStringLiteral("QGroupBox#GrpLogIn { border: none; color: red; }") +
                            QString::fromLatin1(kPanelStyle));

    imglogin = new QLabel(GrpLogIn);
    imglogin->setObjectName(QStringLiteral("imglogin"));
    imglogin->setGeometry(0, 0, 289, 373);
    imglogin->setScaledContents(true);

    auto makeEdit = [this](const char *name, int top) {
        auto *e = new QLineEdit(GrpLogIn);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(96, top, 170, 26);
        QFont f = e->font();
        f.setBold(false);
        e->setFont(f);
        return e;
    };
    edtSite = makeEdit("edtSite", 84);
    edtSite->setText(QStringLiteral("999"));
    edtUser = makeEdit("edtUser", 122);
    edtPwd = makeEdit("edtPwd", 160);
    edtPwd->setEchoMode(QLineEdit::Password);

    cboServer = new QComboBox(GrpLogIn);
    cboServer->setObjectName(QStringLiteral("cboServer"));
    cboServer->setGeometry(96, 198, 170, 26);
    cboOffLine = new QComboBox(GrpLogIn);
    cboOffLine->setObjectName(QStringLiteral("cboOffLine"));
    cboOffLine->setGeometry(96, 236, 170, 26);
    cboOffLine->addItems({QStringLiteral("是"), QStringLiteral("否")});
    cboOffLine->setCurrentIndex(1);
    for (QComboBox *c : {cboServer, cboOffLine}) {
        QFont f = c->font();
        f.setBold(false);
        c->setFont(f);
    }

    lblLogOn = new QLabel(GrpLogIn);
    lblLogOn->setObjectName(QStringLiteral("lblLogOn"));
    lblLogOn->setGeometry(24, 281, 244, 41);
    lblLogOn->setCursor(Qt::PointingHandCursor);
    lblLogOn->setAttribute(Qt::WA_TranslucentBackground);
    lblLogOn->installEventFilter(this);

    RzBtnLogIn = new QPushButton(QStringLiteral("登录"), GrpLogIn);
    RzBtnLogIn->setObjectName(QStringLiteral("RzBtnLogIn"));
    RzBtnLogIn->hide();
    RzBtnCancel = new QPushButton(QStringLiteral("取消"), GrpLogIn);
    RzBtnCancel->setObjectName(QStringLiteral("RzBtnCancel"));
    RzBtnCancel->hide();
    connect(RzBtnLogIn, &QPushButton::clicked, this, &TfClient::RzBtnLogInClick);
    connect(RzBtnCancel, &QPushButton::clicked, this, &TfClient::RzBtnCancelClick);

    connect(edtSite, &QLineEdit::returnPressed, this, [this] { edtUser->setFocus(); });
    connect(edtUser, &QLineEdit::returnPressed, this, [this] { edtPwd->setFocus(); });
    connect(edtPwd, &QLineEdit::returnPressed, RzBtnLogIn, &QPushButton::click);
}

void TfClient::createStatusBar()
{
    Rzstat = new QWidget(this);
    Rzstat->setObjectName(QStringLiteral("Rzstat"));
    Rzstat->setAttribute(Qt::WA_StyledBackground);
    Rzstat->setStyleSheet(QString::fromLatin1(kStatusStyle));
    auto *layout = new QHBoxLayout(Rzstat);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    auto pane = [this, layout](const char *name, int width, Qt::Alignment align) {
        auto *l = new QLabel(Rzstat);
        l->setObjectName(QString::fromLatin1(name));
        l->setAlignment(align | Qt::AlignVCenter);
        if (width > 0)
            l->setMinimumWidth(width);
        layout->addWidget(l);
        return l;
    };
    Rzstat1 = pane("Rzstat1", 140, Qt::AlignLeft);
    Rzstat2 = pane("Rzstat2", 110, Qt::AlignLeft);
    Rzstat3 = pane("Rzstat3", 117, Qt::AlignLeft);
    Rzstat4 = pane("Rzstat4", 117, Qt::AlignLeft);
    Rzstat5 = pane("Rzstat5", 40, Qt::AlignHCenter);
    Rzstat6 = pane("Rzstat6", 40, Qt::AlignHCenter);
    Rzstat7 = pane("Rzstat7", 0, Qt::AlignRight);
    layout->setStretchFactor(Rzstat7, 1);
    Rzstat6->setCursor(Qt::PointingHandCursor);
    Rzstat6->setToolTip(QStringLiteral("新公告"));
    Rzstat6->installEventFilter(this);

    m_clock = new QTimer(this);
    m_clock->setInterval(1000);
    auto tick = [this] {
        Rzstat4->setText(
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    };
    connect(m_clock, &QTimer::timeout, this, tick);
    tick();
    m_clock->start();
}

void TfClient::createActions()
{
    struct Def
    {
        const char *name;
        const char *caption;
        int tag;
        const char *hint;
    };
    static const Def defs[] = {
        {"actSkin", "自定义皮肤", 0, "px_Tuner.fStyleSet"},
        {"actStart", "起始页", 0, "px_Lobby.fStart"},
        {"actRLogOn", "重新登录", 1, "9"},
        {"actChgPwd", "修改密码", 0, "px_Warden.fPassEdt"},
        {"actDEncrypt", "加密OR解密", 0, "px_Tuner.fDEncrypt"},
        {"actMenu", "菜单管理", 0, "px_Warden.fConfigMenu"},
        {"actLevel", "级别管理", 0, "px_Warden.fSites"},
        {"actfUser", "用户管理", 0, "px_Warden.fUsers"},
        {"actfRole", "角色管理", 0, "px_Warden.fRole"},
        {"actChkNew", "检查更新", 1, "9"},
        {"actOpLog", "操作日志", 0, "px_Tuner.fSysLog"},
        {"actSysSet", "系统设置", 0, "px_Toolbox.fParamSet"},
        {"actAbort", "关于本系统", 0, "px_Colophon.fAbort"},
        {"actAbortData", "关于数据库", 0, "px_Colophon.fAbortData"},
        {"actClose", "退出系统", 1, "9"},
    };
    for (const Def &d : defs) {
        auto *a = new QAction(QString::fromUtf8(d.caption), this);
        a->setObjectName(QString::fromLatin1(d.name));
        a->setProperty("tag", d.tag);
        a->setProperty("hint", QString::fromLatin1(d.hint));
        a->setStatusTip(QString::fromLatin1(d.hint));
        actlsts.append(a);
    }
    QAction *close = action(QStringLiteral("actClose"));
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    close->setShortcutContext(Qt::WindowShortcut);
    addAction(close);
    connect(close, &QAction::triggered, this, &TfClient::actCloseExecute);
    connect(action(QStringLiteral("actRLogOn")), &QAction::triggered, this,
            &TfClient::actRLogOnExecute);
    connect(action(QStringLiteral("actChkNew")), &QAction::triggered, this,
            &TfClient::actChkNewExecute);

    ppSys = new QMenu(this);
    ppSys->setObjectName(QStringLiteral("ppSys"));
    struct Item
    {
        const char *name;
        const char *action; // nullptr: separator
        int tag;
        bool visible;
    };
    static const Item items[] = {
        {"MIN3", "actSkin", 0, true},        {"MIStart", "actStart", 0, false},
        {"MenuIN3", nullptr, 0, true},       {"MIRLogOn", "actRLogOn", 0, true},
        {"MIChgPwd", "actChgPwd", 0, false}, {"MIOR", "actDEncrypt", 9, false},
        {"MenuIN4", nullptr, 0, true},       {"MIMenu", "actMenu", 9, false},
        {"MILevel", "actLevel", 0, false},   {"MIfUser", "actfUser", 0, false},
        {"MIfRole", "actfRole", 0, false},   {"MIN1", nullptr, 0, false},
        {"MIChkNew", "actChkNew", 0, false}, {"MIOpLog", "actOpLog", 0, false},
        {"MISysSet", "actSysSet", 0, false}, {"MIN2", nullptr, 0, false},
        {"MIAbort", "actAbort", 0, false},   {"MIAbortData", "actAbortData", 9, false},
        {"MIClose", "actClose", 0, true},
    };
    for (const Item &it : items) {
        QAction *item = nullptr;
        if (it.action) {
            QAction *target = action(QString::fromLatin1(it.action));
            item = ppSys->addAction(target->text());
            item->setProperty("action", target->objectName());
            connect(item, &QAction::triggered, target, &QAction::trigger);
        } else {
            item = ppSys->addSeparator();
        }
        item->setObjectName(QString::fromLatin1(it.name));
        item->setProperty("tag", it.tag);
        item->setVisible(it.visible);
    }
}

void TfClient::loadPicture(QLabel *label, const QString &file, const QString &fallbackResource)
{
    QPixmap pm;
    if (QFileInfo::exists(file))
        pm.load(file);
    if (pm.isNull() && !fallbackResource.isEmpty())
        pm.load(fallbackResource);
    if (!pm.isNull())
        label->setPixmap(pm);
}

void TfClient::FormCreate()
{
    m_exeDir = host::normalizePath(m_opt.exeDir.isEmpty() ? host::exeDir() : m_opt.exeDir);
    if (!m_exeDir.endsWith(u'/'))
        m_exeDir += u'/';

    // 1. The image library stays loaded for the modules; its handle is not kept.
    {
        QLibrary gallery(m_exeDir + QStringLiteral("px_Gallery"));
        if (!gallery.load())
            qCInfo(lcShell) << "image library not loaded:" << gallery.errorString();
    }
    // 2.-5. Host services.
    FTick = 0;
    host::ParentCtrl = RzPgeCtrl;
    host::g_FuncObj = host::CFuncObj();
    host::g_DBConn = host::CdbCommObj();
    // The one server connection of the process; the log-on gives it its parameters.
    auto *connection = new quillon::TMySktConnection(this);
    connection->setObjectName(QStringLiteral("MySktConnection"));
    host::setConnection(connection);
    connect(connection, &quillon::TMySktConnection::serverReachableChanged, this,
            &TfClient::showConnectionState);
    host::setServerClock([connection]() -> QDateTime {
        // Before an online log-on there is no server to ask: the local clock serves.
        if (connection->Username().isEmpty() ||
            host::g_lstVars->value(QStringLiteral("OffLine")) == QLatin1String("TRUE"))
            return QDateTime::currentDateTime();
        const quillon::DataPacket p =
            connection->MyGetData(QStringLiteral("select sysdate as SERVERTIME from dual"));
        const QDateTime t =
            p.rows.isEmpty() || p.rows.first().isEmpty()
                ? QDateTime()
                : quillon::convertValue(quillon::FieldType::DateTime, p.rows.first().first())
                      .toDateTime();
        if (!t.isValid())
            throw host::UserError(QStringLiteral("无法取得服务器时间"));
        return t;
    });
    host::VarList &vars = *host::g_lstVars;

    // 6.-9. Shared variables.
    vars.setValue(QStringLiteral("iExePath"), m_exeDir);
    auto collect = [this](const LoadReport &r) { m_problems += r.problems; };
    collect(appendMessageTable(m_exeDir + QStringLiteral("ShowMsg.ini"), vars));
    const QString configName =
        m_opt.configName.isEmpty()
            ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
            : m_opt.configName;
    const auto decrypt = [](const QString &line) { return host::g_FuncObj->DecryptStr(line, 0); };
    collect(appendConfigFile(m_exeDir + configName + QStringLiteral(".ini"), vars, decrypt));
    LoadLocalData();

    // 10.-11. Icon and caption.
    const QString icon = m_exeDir + QStringLiteral("_jpg/App.ico");
    QIcon appIcon(QFileInfo::exists(icon) ? icon : QStringLiteral(":/JPG/APP"));
    if (!appIcon.isNull()) {
        QApplication::setWindowIcon(appIcon);
        setWindowIcon(appIcon);
    }
    setWindowTitle(vars.value(QStringLiteral("apptitle")));

    // 12. Skin.
    m_skinName = shell::skinName(vars.value(QStringLiteral("SysType")),
                                 vars.value(QStringLiteral("BackSkin")));
    SetBkImage(QStringLiteral("imgBack"), m_skinName, 255, 150, 60, 60);

    // 13.-14. Page control and window size.
    RzPgeCtrl->hide();
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect work = screen ? screen->availableGeometry() : QRect();
    resize(initialWindowSize(work));
    if (work.isValid())
        move(work.center() - rect().center());

    // 15.-16. Servers and log-on fields.
    cboServer->addItems(splitServerList(vars.value(QStringLiteral("SvrLst"))));
    if (cboServer->count() > 0)
        cboServer->setCurrentIndex(0);
    edtSite->setText(vars.value(QStringLiteral("LogOnSiteCode")));
    edtUser->setText(vars.value(QStringLiteral("LogOnUser")));
    QLineEdit *focus = edtSite->text().isEmpty()   ? edtSite
                       : edtUser->text().isEmpty() ? edtUser
                                                   : edtPwd;
    setFocusProxy(focus);
    focus->setFocus();

    // 17.-18. Pictures.
    loadPicture(imglogin, m_exeDir + QStringLiteral("_jpg/login_m.jpg"),
                QStringLiteral(":/JPG/LOGIN_M"));
    PnlTop->setGeometry(5, 20, width() + 195, 78);
    imgTop->setGeometry(0, 0, PnlTop->width(), PnlTop->height());
    loadPicture(imgTop, m_exeDir + QStringLiteral("_jpg/login_top.jpg"),
                QStringLiteral(":/JPG/LOGIN_TOP"));
    PnlTop->hide();

    FormResize();
    if (m_opt.reportProblems && !m_problems.isEmpty())
        QTimer::singleShot(0, this, &TfClient::reportStartupProblems);
}

void TfClient::reportStartupProblems()
{
    host::dialogPresenter().showMessage(host::MessageKind::Warning, QStringLiteral("警告"),
                                        m_problems.join(u'\n'));
}

void TfClient::LoadLocalData()
{
    const auto decrypt = [](const QString &line) { return host::g_FuncObj->DecryptStr(line, 0); };
    const LoadReport r = appendLocalData(localDataPath(), *host::g_lstVars, decrypt);
    m_problems += r.problems;
}

void TfClient::SaveLocalData()
{
    if (!host::g_FuncObj)
        return;
    if (host::g_lstVars->value(QStringLiteral("OffLine")) == QLatin1String("TRUE"))
        return;
    // Only credentials that the server accepted are kept: the values of a failed or
    // missing log-on (a mistyped password) must never become the offline password.
    if (!m_onlineLogOn)
        return;
    try {
        writeLocalData(*host::g_lstVars);
    } catch (...) {
        // The program ends anyway; the old cache stays.
    }
}

bool TfClient::writeLocalData(const host::VarList &vars) const
{
    QDir().mkpath(m_exeDir + QStringLiteral("localdata"));
    // Written to a temporary file and renamed: a failed write keeps the old cache.
    QSaveFile f(localDataPath());
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray out;
    for (const QString &line : localDataLines(vars))
        out += host::g_FuncObj->EncryptStr(line, 0).toUtf8() + "\r\n";
    f.write(out);
    return f.commit();
}

void TfClient::FormResize()
{
    const int w = width();
    const int h = height();
    if (RzPgeCtrl->isVisible()) {
        RzPgeCtrl->setGeometry(2, 98, w - 4, h - 117);
        RzPgeCtrl->hide();
        RzPgeCtrl->show();
    } else {
        RzPgeCtrl->setGeometry(2, 98, w - 4, h - 117);
    }
    GrpLogIn->move(logOnPanelLeft(w, GrpLogIn->width()), 200);
    Rzstat->setGeometry(1, h - 20, w - 2, 19);
    ReDrawWindow();
}

void TfClient::resizeEvent(QResizeEvent *event)
{
    TSkinForm::resizeEvent(event);
    FormResize();
}

void TfClient::RzPgeCtrlClose(int index)
{
    if (index < 0 || index >= RzPgeCtrl->count())
        return;
    QWidget *page = RzPgeCtrl->widget(index);
    // The window decides (a window with unsaved changes may refuse); a closed window
    // without delete-on-close is freed here.
    if (page && page->close() && !page->testAttribute(Qt::WA_DeleteOnClose)) {
        RzPgeCtrl->removeTab(RzPgeCtrl->indexOf(page));
        page->deleteLater();
    }
    if (RzPgeCtrl->count() == 0)
        RzPgeCtrl->hide();
}

void TfClient::closeEvent(QCloseEvent *event)
{
    if (host::g_FuncObj && !host::g_FuncObj->MsgQuestion(msgText(
                               QStringLiteral("Msg33"), QStringLiteral("确定要退出系统吗？")))) {
        event->ignore();
        return;
    }
    if (closeBlockedByFlag(RzPgeCtrl->count(),
                           host::g_lstVars->value(QStringLiteral("CloseFlag")))) {
        host::g_FuncObj->MsgBox(QStringLiteral("为安全起见,请先退出所有的子窗口再退出系统!"), 0);
        event->ignore();
        return;
    }
    // The process ends at once below, so every open window with unsaved changes asks
    // first (save, discard or stay); "stay" keeps the program open.
    if (!openWindowsMayClose()) {
        event->ignore();
        return;
    }
    SaveLocalData();
    FPopMenu->clear();
    FippMenu.clear();
    event->accept();
    m_opt.terminate(0);
}

bool TfClient::openWindowsMayClose()
{
    // The base forms publish their registry as an application property; the shell does
    // not link them, so it asks by name.
    QObject *forms = qApp->property("TesseraForms").value<QObject *>();
    if (!forms)
        return true;
    bool mayClose = true;
    if (!QMetaObject::invokeMethod(forms, "CloseQueryAll", Q_RETURN_ARG(bool, mayClose)))
        return true;
    return mayClose;
}

bool TfClient::event(QEvent *event)
{
    // Status tips of the windows (a hint of a button, "保存成功 ...") show in the status
    // bar's last cell in place of the version while they last.
    if (event->type() == QEvent::StatusTip) {
        QString tip = static_cast<QStatusTipEvent *>(event)->tip();
        if (tip.isEmpty() && property("stickyStatusAt").toDateTime().secsTo(QDateTime::currentDateTime()) < 20)
            tip = property("stickyStatus").toString();
        Rzstat7->setText(tip.isEmpty() ? host::g_lstVars->value(QStringLiteral("app_Ver")) : tip);
        return true;
    }
    return TSkinForm::event(event);
}

bool TfClient::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == lblLogOn) {
            RzBtnLogIn->click();
            return true;
        }
        if (watched == Rzstat6) {
            Rzstat6Click();
            return true;
        }
    }
    return TSkinForm::eventFilter(watched, event);
}

void TfClient::setState(State s)
{
    m_state = s;
}

void TfClient::RzBtnLogInClick()
{
    emit logOnRequested();
    // A process logs on once; a new log-on goes through a restart.
    if (m_state == State::Working)
        return;
    host::VarList &vars = *host::g_lstVars;
    vars.setValue(QStringLiteral("Host"), vars.value(cboServer->currentText()));
    try {
        logOn();
    } catch (...) {
        QString text;
        try {
            throw;
        } catch (const host::SilentAbort &) {
            text.clear();
        } catch (const host::UserError &e) {
            text = e.message();
        } catch (const std::exception &e) {
            text = QString::fromUtf8(e.what());
        } catch (...) {
            text = QStringLiteral("发生未知错误");
        }
        PnlTop->show();
        GrpLogIn->show();
        setState(State::LogOn);
        Rzstat1->clear();
        const QString head = msgText(QStringLiteral("Msg41"), QStringLiteral("登录失败："));
        host::showException(
            std::make_exception_ptr(host::UserError(head + QStringLiteral("\r\n") + text)));
    }
}

void TfClient::logOn()
{
    host::VarList &vars = *host::g_lstVars;
    auto refuse = [](const QString &key, const QString &fallback, QLineEdit *focus) {
        host::g_FuncObj->MsgBox(msgText(key, fallback), 0);
        focus->setFocus();
    };
    // 3.-4. The panel's fields.
    if (edtSite->text().isEmpty())
        return refuse(QStringLiteral("Msg44"), QStringLiteral("请输入网点编号！"), edtSite);
    if (edtUser->text().isEmpty())
        return refuse(QStringLiteral("Msg45"), QStringLiteral("请输入用户名！"), edtUser);
    if (edtPwd->text().isEmpty())
        return refuse(QStringLiteral("Msg46"), QStringLiteral("请输入密码！"), edtPwd);
    const QString user = edtUser->text();
    if ((user.size() < 4 || user.at(3) != u'.') && user != QLatin1String("dk"))
        return refuse(QStringLiteral("Msg57"),
                      QStringLiteral("用户名格式不正确：应为三位系统编号、英文句点和用户名，"
                                     "例如 001.zhang；超级管理员为 dk。请重新输入。"),
                      edtUser);

    // 5. The deployment key.
    vars.setValue(QStringLiteral("sysid"), user.left(3));
    PnlTop->hide();

    if (cboOffLine->currentText() != QStringLiteral("是")) {
        // 6. Online: the verification function checks the user against the server.
        GrpLogIn->hide();
        setState(State::Verifying);
        vars.setValue(QStringLiteral("LogOnSiteCode"), edtSite->text());
        vars.setValue(QStringLiteral("LogOnUser"), user);
        vars.setValue(QStringLiteral("LogOnPass"), edtPwd->text());
        if (user.toUpper() == QLatin1String("DK")) {
            vars.setValue(QStringLiteral("LogOnSiteName"), QStringLiteral("总部"));
            vars.setValue(QStringLiteral("LogOnEmpName"), QStringLiteral("超级管理员"));
        }
        // The verification may take a while (it fetches the caches): say so.
        Rzstat1->setText(QStringLiteral("正在验证用户，请稍候…"));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        host::g_UINetIntf->CallFunc(QStringLiteral("px_Sentry.fVefify"));
        vars.setValue(QStringLiteral("OffLine"), QStringLiteral("FALSE"));
    } else if (!logOnOffline()) {
        return; // 7. refused: no reload check
    }

    if (vars.value(QStringLiteral("LVerify")) != QLatin1String("TRUE")) {
        // 8. Not verified: the verification function has told the user why.
        setState(State::LogOn);
        Rzstat1->clear();
        GrpLogIn->show();
        edtPwd->selectAll();
        edtPwd->setFocus();
    } else {
        if (vars.value(QStringLiteral("OffLine")) == QLatin1String("FALSE"))
            m_onlineLogOn = true;
        logOnSucceeded();
    }

    // 10. Reload request (also after a failed verification).
    if (vars.value(QStringLiteral("bReload")) == QLatin1String("TRUE")) {
        host::g_FuncObj->MsgBox(
            msgText(QStringLiteral("Msg54"), QStringLiteral("程序需要重新加载。")), 0);
        RunScriptAndExit(QStringLiteral("ReLoad"));
    }
}

QStringList TfClient::readLocalDataFile(bool *exists) const
{
    *exists = QFileInfo::exists(localDataPath());
    if (!*exists)
        return {};
    host::VarList cache;
    appendLocalData(localDataPath(), cache,
                    [](const QString &line) { return host::g_FuncObj->DecryptStr(line, 0); });
    return cache.lines();
}

bool TfClient::logOnOffline()
{
    host::VarList &vars = *host::g_lstVars;
    vars.setValue(QStringLiteral("OffLine"), QStringLiteral("TRUE"));
    bool exists = false;
    // Compared with the file itself, not with the variables: an online attempt of this
    // process has put the typed (unverified) values into them.
    host::VarList cache;
    cache.appendLines(readLocalDataFile(&exists));
    if (!exists) {
        host::g_FuncObj->MsgBox(QStringLiteral("在线成功登录过的用户才允许脱机登录！"), 0);
        return false;
    }
    struct Check
    {
        const char *name;
        QLineEdit *edit;
        const char *message;
    };
    // The cache keeps a salted verifier of the password; a cache of an older version keeps
    // the password itself, which is accepted once and then replaced by a verifier.
    const QString typed = edtPwd->text();
    const QString stored = cache.value(QStringLiteral("LogOnPass"));
    const bool olderCache = !host::isPasswordVerifier(stored);
    const Check checks[] = {{"LogOnSiteCode", edtSite, "网点输入错误！"},
                            {"LogOnUser", edtUser, "用户输入错误！"},
                            {"LogOnPass", edtPwd, "密码输入错误！"}};
    for (const Check &c : checks) {
        const QString name = QString::fromLatin1(c.name);
        bool ok = cache.hasName(name);
        if (ok && name == QLatin1String("LogOnPass"))
            ok = olderCache ? stored == typed : host::matchesPasswordVerifier(stored, typed);
        else if (ok)
            ok = cache.value(name) == c.edit->text();
        if (!ok) {
            c.edit->setFocus();
            host::g_FuncObj->MsgBox(QString::fromUtf8(c.message), 0);
            return false;
        }
    }
    for (int i = 0; i < cache.count(); ++i) {
        if (!cache.nameAt(i).isEmpty())
            vars.setValue(cache.nameAt(i), cache.valueAt(i));
    }
    // The session holds what was typed, as after an online log-on.
    vars.setValue(QStringLiteral("LogOnPass"), typed);
    if (olderCache) {
        cache.setValue(QStringLiteral("LogOnPass"), typed);
        try {
            writeLocalData(cache);
        } catch (...) {
            // The old cache stays; the next offline log-on tries again.
        }
    }
    vars.setValue(QStringLiteral("LVerify"), QStringLiteral("TRUE"));
    GrpLogIn->hide();
    return true;
}

void TfClient::logOnSucceeded()
{
    host::VarList &vars = *host::g_lstVars;
    const bool offline = vars.value(QStringLiteral("OffLine")) == QLatin1String("TRUE");
    // 9.1 Status bar. Offline the cache names no site or employee and its time is that of
    // the last online log-on: the cells show the site and user of this log-on and its time.
    if (offline) {
        if (vars.value(QStringLiteral("LogOnSiteName")).isEmpty())
            vars.setValue(QStringLiteral("LogOnSiteName"), offlineSiteName());
        if (vars.value(QStringLiteral("LogOnEmpName")).isEmpty())
            vars.setValue(QStringLiteral("LogOnEmpName"), vars.value(QStringLiteral("LogOnUser")));
        vars.setValue(QStringLiteral("LogOnTime"),
                      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    }
    try {
        Rzstat1->setText(vars.value(QStringLiteral("LogOnSiteName")));
        Rzstat2->setText(vars.value(QStringLiteral("LogOnEmpName")));
        Rzstat3->setText(vars.value(QStringLiteral("LogOnTime")));
        Rzstat5->setText(offline ? msgText(QStringLiteral("Msg39"), QStringLiteral("脱机"))
                                 : msgText(QStringLiteral("Msg40"), QStringLiteral("在线")));
        Rzstat6->setText(QString());
        Rzstat7->setText(vars.value(QStringLiteral("app_Ver")));
    } catch (...) {
    }
    // 9.2-9.3 Module gap, menu and module bar.
    FiModuleWidth = moduleWidthValue(vars.value(QStringLiteral("ModuleWidth")));
    LoadMenuData();
    BuildModuleBar();
    // 9.4 Cached lookup tables.
    LoadCachedTables();
    setState(State::Working);
    // 9.5 Start page and notice monitor, online only.
    if (vars.value(QStringLiteral("OffLine")) == QLatin1String("FALSE")) {
        const QString start = vars.value(QStringLiteral("StartMenu"));
        // A start page that fails is reported, but the user stays logged on: the module
        // bar is built already and a second log-on would build it twice.
        if (!start.isEmpty())
            host::guarded([&] { host::g_UINetIntf->CallFunc(start); });
        StartNoticeMonitor();
    }
    if (offline)
        startOnlineProbe();
    emit loggedOn();
}

QString TfClient::offlineSiteName() const
{
    // The cached site table names the site of the code typed; the code itself otherwise.
    const QString code = host::g_lstVars->value(QStringLiteral("LogOnSiteCode"));
    const QString file = cdsDir() + QStringLiteral("cdsSite.cds");
    if (QFileInfo::exists(file)) {
        try {
            quillon::TMyDataSet ds;
            ds.LoadFromFile(file);
            if (ds.Locate(QStringLiteral("SITECODE"), code))
                return ds.FieldByName(QStringLiteral("SITENAME"))->AsString();
        } catch (const std::exception &e) {
            qWarning() << "site cache unreadable:" << e.what();
        }
    }
    return code;
}

void TfClient::startOnlineProbe()
{
    if (!m_onlineProbe) {
        m_onlineProbe = new QTimer(this);
        connect(m_onlineProbe, &QTimer::timeout, this, &TfClient::probeServer);
    }
    m_onlineProbe->start(m_onlineProbeIntervalMs);
}

void TfClient::probeServer()
{
    // A plain connect to the server's port: no log-on, nothing the server has to check.
    QString hostText = host::g_lstVars->value(QStringLiteral("Host")).trimmed();
    int port = 8801;
    if (const qsizetype colon = hostText.lastIndexOf(u':');
        colon > 0 && hostText.indexOf(u':') == colon) {
        port = hostText.mid(colon + 1).toInt();
        hostText = hostText.left(colon);
    }
    if (hostText.isEmpty() || port <= 0 || (m_probeSocket && m_probeSocket->state() != QAbstractSocket::UnconnectedState))
        return;
    if (!m_probeSocket) {
        m_probeSocket = new QTcpSocket(this);
        connect(m_probeSocket, &QTcpSocket::connected, this, [this] {
            m_probeSocket->abort();
            serverReturned();
        });
    }
    m_probeSocket->connectToHost(hostText, quint16(port));
}

void TfClient::serverReturned()
{
    if (m_onlineProbe)
        m_onlineProbe->stop();
    Rzstat5->setText(QStringLiteral("脱机（可联网）"));
    Rzstat5->setStyleSheet(QStringLiteral("color: #1e8449; font-weight: bold;"));
    Rzstat5->setToolTip(QStringLiteral("服务器已经可以连接。从系统菜单选择“重新登录”即可在线工作。"));
    Rzstat5->setCursor(Qt::PointingHandCursor);
    emit serverAvailable();
    if (m_offeringOnline)
        return;
    m_offeringOnline = true;
    const bool goOnline = host::dialogPresenter().showMessage(
                              host::MessageKind::Question, QStringLiteral("询问"),
                              QStringLiteral("服务器已经可以连接。是否现在重新登录，转为在线工作？\n"
                                             "（选“否”继续脱机工作，以后可从系统菜单选择“重新登录”。）"),
                              host::QuestionButtons::YesNo)
                          == host::Answer::Yes;
    m_offeringOnline = false;
    if (goOnline && openWindowsMayClose()) {
        SaveLocalData();
        RunScriptAndExit(QStringLiteral("ReStart"));
    }
}

namespace {

// A component name: a letter or "_" first, then letters, digits and "_".
bool validComponentName(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return re.match(name).hasMatch();
}

} // namespace

void TfClient::LoadCachedTables()
{
    m_cachedTables.clear();
    m_skippedCacheFiles.clear();
    QStringList files;
    try {
        host::g_FuncObj->GetFileList(cdsDir(), files, QStringLiteral("*.cds"), 1);
    } catch (...) {
        return;
    }
    auto *connection =
        host::g_DBConn ? host::g_DBConn->GetConnectionAs<quillon::TMySktConnection>() : nullptr;
    for (const QString &file : std::as_const(files)) {
        QCoreApplication::processEvents();
        const QString name = QFileInfo(file).fileName().remove(QStringLiteral(".cds"));
        // A name that cannot be a component name is skipped alone; the rest still load.
        if (!validComponentName(name)) {
            qCWarning(lcShell) << "cached table skipped, not a valid name:" << file;
            m_skippedCacheFiles.append(file);
            continue;
        }
        bool clash = false;
        const QList<QObject *> owned = findChildren<QObject *>();
        for (const QObject *o : owned) {
            if (o->objectName().compare(name, Qt::CaseInsensitive) == 0) {
                clash = true;
                break;
            }
        }
        if (clash) {
            qCWarning(lcShell) << "cached table skipped, the window has a component" << name;
            m_skippedCacheFiles.append(file);
            continue;
        }
        auto *ds = new quillon::TMyDataSet(this);
        ds->setObjectName(name);
        try {
            ds->LoadFromFile(file);
        } catch (...) {
            qCWarning(lcShell) << "cached table skipped, unreadable:" << file;
            m_skippedCacheFiles.append(file);
            delete ds;
            continue;
        }
        if (connection)
            ds->SetMyConn(connection);
        host::g_lstVars->attachTo(name, ds);
        m_cachedTables.append(name);
    }
}

void TfClient::LoadMenuData()
{
    host::VarList &vars = *host::g_lstVars;
    const bool superUser = vars.value(QStringLiteral("LogOnUser")) == QLatin1String("dk");
    const QString file =
        cdsDir() + (superUser ? QStringLiteral("cdsMenu.cds") : QStringLiteral("cdsSysMenu.cds"));
    if (!QFileInfo::exists(file)) {
        throw host::UserError(
            QStringLiteral("菜单缓存文件“%1”不存在").arg(QDir::toNativeSeparators(file)));
    }
    std::unique_ptr<quillon::TMyDataSet> ds(new quillon::TMyDataSet(this));
    ds->LoadFromFile(file);
    const char *const names[] = {"POSID",    "MENUNAME",       "FUNCNAME", "ORGANLEVEL",
                                 "SHORTCUT", "OFFLINEENABLED", "PNGNAME"};
    QList<quillon::TField *> fields;
    for (const char *n : names)
        fields.append(ds->FieldByName(QString::fromLatin1(n)));
    const QString offLine = vars.value(QStringLiteral("OffLine"));
    const QChar sep(0x0E);
    // "/" and character 14 delimit "SysMenu": inside a caption they would split a record.
    auto clean = [sep](QString t) {
        t.replace(u'/', QChar(0xFF0F));
        t.remove(sep);
        return t;
    };
    int seq = 100;
    QString sysMenu;
    QString allNames;
    ds->First();
    while (!ds->Eof()) {
        const QString offlineEnabled = fields[5]->AsString();
        const bool take =
            offLine == QLatin1String("FALSE") ||
            (offlineEnabled.trimmed().toInt() == 1 && offLine == QLatin1String("TRUE"));
        if (take) {
            QStringList rec{QString::number(seq)};
            for (quillon::TField *f : std::as_const(fields))
                rec.append(clean(f->AsString()));
            if (!sysMenu.isEmpty())
                sysMenu += u'/';
            sysMenu += rec.join(sep);
            const QString pos = fields[0]->AsString();
            if (pos.trimmed() != QLatin1String("@") && pos.mid(3, 8) == QLatin1String(".000.000"))
                ++seq;
            const QString func = fields[2]->AsString();
            if (!func.isEmpty()) {
                if (!allNames.isEmpty())
                    allNames += u',';
                allNames += fields[1]->AsString();
            }
        }
        ds->Next();
        QCoreApplication::processEvents();
    }
    vars.setValue(QStringLiteral("SysMenu"), sysMenu);
    vars.setValue(QStringLiteral("AllMenuName"), allNames);
}

void TfClient::RzBtnCancelClick()
{
    m_opt.terminate(0);
}

void TfClient::actCloseExecute()
{
    close();
}

void TfClient::actChkNewExecute() {}

bool TfClient::RunScriptAndExit(const QString &baseName)
{
    QString path = m_exeDir + baseName + scriptSuffix();
    if (!QFileInfo::exists(path))
        path = QDir::current().filePath(baseName + scriptSuffix());
    if (!QFileInfo::exists(path) || !m_opt.openScript(path)) {
        host::dialogPresenter().showMessage(
            host::MessageKind::Error, QStringLiteral("错误"),
            QStringLiteral("无法启动“%1”，程序将继续运行。请联系系统管理员。")
                .arg(QDir::toNativeSeparators(path)));
        return false;
    }
    m_opt.terminate(0);
    return true;
}

bool TfClient::restartProgram()
{
    if (!openWindowsMayClose())
        return false;
    SaveLocalData();
    RunScriptAndExit(QStringLiteral("ReStart"));
    return true;
}

void TfClient::actRLogOnExecute()
{
    if (!host::g_FuncObj->MsgQuestion(
            msgText(QStringLiteral("Msg37"), QStringLiteral("确定要重新登录吗？"))))
        return;
    // The process ends as after a normal close: open windows with unsaved work ask first,
    // and the remembered user and the offline cache are written.
    if (!openWindowsMayClose())
        return;
    SaveLocalData();
    RunScriptAndExit(QStringLiteral("ReStart"));
}

void TfClient::setNoticeGlyph(bool visible)
{
    m_glyphVisible = visible;
    Rzstat6->setPixmap(visible ? noticeGlyph() : QPixmap());
}

void TfClient::StartNoticeMonitor()
{
    const int seconds =
        notifyIntervalSeconds(host::g_lstVars->value(QStringLiteral("NotifyInterval")));
    tmMonitor->setInterval(seconds * 1000);
    // An interval of 0 means no ticks at all (a zero Qt timer would fire continuously).
    if (seconds > 0)
        tmMonitor->start();
    else
        tmMonitor->stop();
    setNoticeGlyph(true);
}

void TfClient::CheckNotify()
{
    const quint32 now = m_opt.tickSource();
    if (!noticeCheckDue(FTick, now))
        return;
    try {
        host::g_UINetIntf->CallFunc(QStringLiteral("px_Sentry.fNotify"));
        FTick = now;
    } catch (...) {
        // Tried again at the next tick.
    }
}

void TfClient::tmMonitorTimer()
{
    CheckNotify();
    if (host::g_lstVars->value(QStringLiteral("NewMsg")) == QLatin1String("1"))
        setNoticeGlyph(!m_glyphVisible);
    else
        setNoticeGlyph(true);
}

void TfClient::Rzstat6Click()
{
    host::VarList &vars = *host::g_lstVars;
    const QString remembered = vars.value(QStringLiteral("ShowNotiFy"));
    vars.setValue(QStringLiteral("ShowNotiFy"), QStringLiteral("1"));
    try {
        host::g_UINetIntf->CallFunc(QStringLiteral("px_Sentry.fNotify"));
    } catch (...) {
    }
    vars.setValue(QStringLiteral("ShowNotiFy"), remembered);
}

void TfClient::WMTrayNotify(Qt::MouseButton button)
{
    if (button == Qt::RightButton) {
        show();
        raise();
        activateWindow();
    } else if (button == Qt::LeftButton) {
        setVisible(!isVisible());
    }
}

void TfClient::showConnectionState(bool reachable)
{
    if (m_state != State::Working || !m_onlineLogOn)
        return;
    if (reachable) {
        Rzstat5->setText(msgText(QStringLiteral("Msg40"), QStringLiteral("在线")));
        Rzstat5->setStyleSheet(QString());
        Rzstat5->setToolTip(QString());
    } else {
        Rzstat5->setText(QStringLiteral("断开"));
        Rzstat5->setStyleSheet(QStringLiteral("color: #c0392b; font-weight: bold;"));
        Rzstat5->setToolTip(QStringLiteral("无法连接服务器。程序会自动重试，恢复后无需重新登录。"));
    }
}

void TfClient::ModuleClick(int CtlID, int index)
{
    TSkinForm::ModuleClick(CtlID, index);
    SetModuleCheck(CtlID);
    ShowPPMenu(ppSys, CtlID);
}

void TfClient::BuildModuleBar()
{
    const QString menu = host::g_lstVars->value(QStringLiteral("SysMenu"));
    const QChar sep(0x0E);
    // Every record is parsed before the first button is added, so a bad record leaves
    // no half-built bar behind.
    QList<TmItem> items;
    if (!menu.isEmpty()) {
        for (const QString &rec : menu.split(u'/')) {
            const QStringList f = rec.split(sep);
            TmItem it;
            bool ok = false;
            it.mCltID = f.value(0).toInt(&ok);
            if (!ok) {
                throw host::UserError(QStringLiteral("菜单记录“%1”的序号不是整数")
                                          .arg(QString(rec).replace(sep, u'|')));
            }
            it.mPOSID = f.value(1);
            it.mName = f.value(2);
            it.mFunc = f.value(3);
            it.mOrg = f.value(4);
            it.mShortcut = f.value(5);
            it.mOffLine = f.value(6);
            it.mPngName = f.value(7);
            items.append(it);
        }
    }
    FippMenu.clear();
    for (TmItem &it : items) {
        const QString pos = it.mPOSID.trimmed();
        if (pos != QLatin1String("@") && pos.mid(3, 8) == QLatin1String(".000.000")) {
            if (it.mPngName.isEmpty())
                it.mPngName = QStringLiteral("System");
            AddModuleButton(it.mCltID + 1, it.mName, it.mPngName, QStringLiteral("Skin"), it.mFunc);
        }
        FippMenu.append(it);
    }
    ReDrawWindow();
    BindActions();
    ApplySystemMenuVisibility();
}

void TfClient::BindActions()
{
    for (QAction *a : std::as_const(actlsts)) {
        if (a->property("tag").toInt() == 1 || a->property("bound").toBool())
            continue;
        a->setProperty("bound", true);
        connect(a, &QAction::triggered, this,
                [this, a] { RunFunction(a->property("hint").toString(), a->text()); });
    }
}

QSet<QString> TfClient::grantedFunctions() const
{
    // Written by the verification next to the menu caches, read offline as well.
    QSet<QString> out;
    const QString file = cdsDir() + QStringLiteral("cdsMyRights.cds");
    if (!QFileInfo::exists(file))
        return out;
    try {
        quillon::TMyDataSet ds;
        ds.LoadFromFile(file);
        const quillon::TField *f = ds.FieldByName(QStringLiteral("FUNCNAME"));
        for (ds.First(); !ds.Eof(); ds.Next())
            out.insert(f->AsString().trimmed().toLower());
    } catch (const std::exception &e) {
        qWarning() << "rights cache unreadable, administration entries stay hidden:" << e.what();
        out.clear();
    }
    return out;
}

void TfClient::ApplySystemMenuVisibility()
{
    const bool superUser =
        host::g_lstVars->value(QStringLiteral("LogOnUser")) == QLatin1String("dk");
    const QList<QAction *> items = ppSys->actions();
    for (QAction *item : items)
        item->setVisible(item->property("tag").toInt() == 9 ? superUser : true);
    // The administration entries show only when one of the user's roles grants their
    // function (the super administrator holds every right): a window that would only be
    // refused is not offered. Online and offline alike, from the same cache.
    if (!superUser) {
        const QSet<QString> granted = grantedFunctions();
        for (const char *name : {"MILevel", "MIfUser", "MIfRole", "MIOpLog", "MISysSet"}) {
            QAction *item = menuItem(QString::fromLatin1(name));
            QAction *target = item ? action(item->property("action").toString()) : nullptr;
            if (item && target
                && !granted.contains(target->property("hint").toString().toLower()))
                item->setVisible(false);
        }
    }
    if (host::g_lstVars->value(QStringLiteral("OffLine")) == QLatin1String("TRUE")) {
        for (const char *name : {"MIStart", "MIChgPwd", "MILevel", "MIfUser", "MIfRole", "MIChkNew",
                                 "MIOpLog", "MISysSet"}) {
            if (QAction *item = menuItem(QString::fromLatin1(name)))
                item->setVisible(false);
        }
    }
    // Separators left side by side by hidden entries fold into one: the menu collapses them.
    ppSys->setSeparatorsCollapsible(true);
}

} // namespace shell
