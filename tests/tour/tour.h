#pragma once
// The tour of the whole program: logs on as a user and opens, in turn, every entry of the
// user's module menus, every system-menu action and every start-page shortcut; in each
// window it queries and, where 打印 and 图表 are enabled, renders the report and the
// chart. Everything a user could trip over is recorded as a problem: an error dialog, a
// missing module, a window that does not open, a report that does not render. Used by
// the tour test (offscreen) and by waylink-tour (scripts/ui-tour: screenshots under Xvfb).

#include <QList>
#include <QMap>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QWidget;

namespace shell {
class TfClient;
}

namespace tour {

struct Options
{
    QString programDir;  // a scratch program folder (message table, config, caches go here)
    QString deployDir;   // the repository's deploy/ (ShowMsg.ini, _report, _jpg)
    QString server;      // "host:port" of a running application server
    QString user;        // a demo user: dk, 001.admin, 001.li, 001.zhang, 001.wang
    QString password = QStringLiteral("123456");
    QStringList only;    // functions to visit ("px_Herald.fQueryMessage"); empty: all
    // What is allowed to be absent, with the reason: a module ("px_Tuner"), skipped while
    // its library is missing, or a function ("px_Tally.fDFKEdt"), skipped while it opens no
    // window. Whatever opens is toured strictly.
    QMap<QString, QString> knownMissing;
    // Called for every window the tour opens (pages, dialogs, previews, charts) while it
    // is shown, with a short name for it ("菜单-公告查询", "打印预览-公告阅读查询").
    std::function<void(const QString &name, QWidget *window)> onWindow;
    QSize windowSize = QSize(1366, 768);
};

struct Step
{
    QString kind;       // 菜单, 系统, 起始页
    QString caption;    // what the user clicked
    QString function;   // Module.Function
    QString outcome;    // what happened, for the log
    QStringList problems;
    bool skipped = false; // a known-missing module
};

class Tour
{
public:
    explicit Tour(const Options &options);
    ~Tour();

    // Writes the program folder and logs on; false (with problems()) when it fails.
    bool logOn();
    // Visits everything; the steps in the order visited.
    QList<Step> run();
    // Problems outside the steps (log-on, set-up).
    const QStringList &problems() const { return m_problems; }
    shell::TfClient *client() const { return m_client.get(); }

    // Site code of each demo user.
    static QString siteOf(const QString &user);

private:
    struct Presenter;
    void visit(Step &step, const std::function<void()> &click);
    void exerciseWindow(Step &step, QWidget *page);
    bool wanted(const QString &function) const;
    void settle();

    Options m_opt;
    Presenter *m_presenter = nullptr; // owned by the host
    std::unique_ptr<shell::TfClient> m_client;
    QStringList m_problems;
};

} // namespace tour
