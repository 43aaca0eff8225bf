#pragma once

#include <QSet>
// TfClient: the main window. It starts at the log-on panel; after a log-on it shows the
// module bar, the page control in which module windows open as tabs, and the status bar.
//
// The constructor runs the start-up sequence: image library, host services, message
// table, configuration file, offline cache, icon, caption, skin, geometry, server list
// and log-on fields. Problems with the files are collected (startupProblems()) and shown
// once the window is up; the start-up always runs to its end.

#include "shell/skinform.h"

#include <QStringList>
#include <functional>

namespace host {
class VarList;
}

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;
class QTcpSocket;

namespace shell {

class TfClient : public TSkinForm
{
    Q_OBJECT
public:
    enum class State { LogOn, Verifying, Working };

    struct Options
    {
        // Folder of the program's files ("iExePath"); default: the executable's folder.
        QString exeDir;
        // Base name of the configuration file (".ini" is appended); default: the
        // executable's name.
        QString configName;
        // Millisecond tick counter of the notice check; default: the monotonic clock.
        std::function<quint32()> tickSource;
        // Ends the program (closing, restart, cancel); default: leave the event loop.
        std::function<void(int)> terminate;
        // Starts a script beside the program ("ReStart", "ReLoad"); returns whether it
        // started. Default: the platform's script opened by its interpreter.
        std::function<bool(const QString &path)> openScript;
        // Show the start-up problems in a message box (off in tests that read them).
        bool reportProblems = true;
    };

    explicit TfClient(QWidget *parent = nullptr);
    explicit TfClient(const Options &options, QWidget *parent = nullptr);
    ~TfClient() override;

    State state() const { return m_state; }
    const QStringList &startupProblems() const { return m_problems; }
    QString skinName() const { return m_skinName; }
    QString exePath() const { return m_exeDir; }
    // "localdata/ClientData.xml" beside the program.
    QString localDataPath() const;
    // "LocalData/cds/" beside the program: the cached menus and lookup tables.
    QString cdsDir() const;
    // Whether this process has logged on successfully online (the cache is written at
    // close only then).
    bool loggedOnOnline() const { return m_onlineLogOn; }
    // The cached tables published by the last log-on, in load order, and the files that
    // were skipped (name clash, not a valid component name, unreadable).
    const QStringList &cachedTables() const { return m_cachedTables; }
    const QStringList &skippedCacheFiles() const { return m_skippedCacheFiles; }

    // A message text of the table, or `fallback` when the table lacks it.
    static QString msgText(const QString &key, const QString &fallback = {});

    // Components (named as in the form; tests find them by object name as well).
    QGroupBox *GrpLogIn = nullptr;
    QLabel *imglogin = nullptr;
    QLabel *lblLogOn = nullptr;
    QLineEdit *edtSite = nullptr;
    QLineEdit *edtUser = nullptr;
    QLineEdit *edtPwd = nullptr;
    QComboBox *cboServer = nullptr;
    QComboBox *cboOffLine = nullptr;
    QPushButton *RzBtnLogIn = nullptr;
    QPushButton *RzBtnCancel = nullptr;
    QWidget *PnlTop = nullptr;
    QLabel *imgTop = nullptr;
    QTabWidget *RzPgeCtrl = nullptr;
    QWidget *Rzstat = nullptr;
    QLabel *Rzstat1 = nullptr;
    QLabel *Rzstat2 = nullptr;
    QLabel *Rzstat3 = nullptr;
    QLabel *Rzstat4 = nullptr;
    QLabel *Rzstat5 = nullptr;
    QLabel *Rzstat6 = nullptr;
    QLabel *Rzstat7 = nullptr;
    QList<QAction *> actlsts;
    QMenu *ppSys = nullptr;
    QTimer *tmMonitor = nullptr;

    QAction *action(const QString &name) const;
    QAction *menuItem(const QString &name) const;
    bool noticeGlyphVisible() const { return m_glyphVisible; }
    quint32 lastNoticeTick() const { return FTick; }

public slots:
    void RzBtnLogInClick();
    void RzBtnCancelClick();
    void actRLogOnExecute();
    // Restarts the program for a module that asked the user already (the skin dialog): the
    // open windows may keep unsaved work, the remembered user and the offline cache are
    // written, then "ReStart" runs. False when a window kept the program open.
    bool restartProgram();
    void actCloseExecute();
    void actChkNewExecute();
    void tmMonitorTimer();
    void Rzstat6Click();
    // Starts the notice monitor with "NotifyInterval" and shows the indicator (what a
    // successful online log-on does).
    void StartNoticeMonitor();
    // A notification-area message: right button up brings the window to the front, left
    // button up hides or shows it.
    void WMTrayNotify(Qt::MouseButton button);
    // Shows in the status bar whether the server answers (在线) or not (断开); only while
    // working online. The session stays valid, so no new log-on is needed when it returns.
    void showConnectionState(bool reachable);

    // Menu of the main window.
    // Reads the cached menu ("cdsMenu.cds" for "dk", else "cdsSysMenu.cds"), filtered for
    // offline work, into "SysMenu" and "AllMenuName".
    void LoadMenuData();
    // Turns "SysMenu" into menu records and module buttons, binds the system actions and
    // sets the system menu's visibility.
    void BuildModuleBar();
    // Every action whose tag is not 1 runs the function named in its hint.
    void BindActions();
    void ApplySystemMenuVisibility();
    // The functions that the user's roles grant (lower case), from the rights cache the
    // verification leaves beside the menu caches; empty when there is none.
    QSet<QString> grantedFunctions() const;
    // Offline: how often the server is looked for (a plain connect), so that the clerk is
    // offered to go online when it is back.
    void setOnlineProbeInterval(int ms) { m_onlineProbeIntervalMs = ms; }
    void probeServer();

signals:
    // Raised when the log-on button is used, before the log-on runs.
    void logOnRequested();
    // Raised once the log-on has succeeded and the working state is reached.
    void loggedOn();
    // Offline: the server answers again (going online is offered).
    void serverAvailable();

protected:
    void ModuleClick(int CtlID, int index) override;
    void resizeEvent(QResizeEvent *event) override;
    // Asks every open window with unsaved changes whether it may close; false to stay.
    static bool openWindowsMayClose();
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;

    void FormCreate();
    void FormResize();
    void RzPgeCtrlClose(int index);
    // The notice check of one tick: calls the notice function at most once a minute.
    void CheckNotify();
    void LoadLocalData();
    void SaveLocalData();
    // Writes the seven cache lines of `vars`, encrypted; false when the file cannot be written.
    bool writeLocalData(const host::VarList &vars) const;
    // Loads every "*.cds" under cdsDir() into a dataset owned by the form and publishes
    // it in g_lstVars under the file's name without ".cds".
    void LoadCachedTables();
    // Opens the restart or reload script and ends the program; when the script cannot
    // be started the user is told and the program stays.
    bool RunScriptAndExit(const QString &baseName);
    void setState(State s);

private:
    void createComponents();
    void createLogOnPanel();
    void createStatusBar();
    void createActions();
    void loadPicture(QLabel *label, const QString &file, const QString &fallbackResource);
    void setNoticeGlyph(bool visible);
    void reportStartupProblems();
    // The steps of the log-on after the panel check; throws on unexpected errors.
    void logOn();
    bool logOnOffline();
    void logOnSucceeded();
    // The offline cache as name=value pairs, read from the file now (empty if none).
    QStringList readLocalDataFile(bool *exists) const;

    Options m_opt;
    QString m_exeDir;
    QString m_skinName;
    QStringList m_problems;
    State m_state = State::LogOn;
    quint32 FTick = 0;
    bool m_glyphVisible = false;
    bool m_onlineLogOn = false;
    QTimer *m_onlineProbe = nullptr;
    QTcpSocket *m_probeSocket = nullptr;
    int m_onlineProbeIntervalMs = 30000;
    bool m_offeringOnline = false;
    QString offlineSiteName() const;
    void startOnlineProbe();
    void serverReturned();
    QStringList m_cachedTables;
    QStringList m_skippedCacheFiles;
    QTimer *m_clock = nullptr;
};

} // namespace shell
