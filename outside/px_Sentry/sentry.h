#pragma once
// px_Sentry: the user verification of the log-on and the unread-notice pop-up.
//
//   fVefify  reads "Host" (an address, optionally "address:port"), "LogOnSiteCode",
//            "LogOnUser", "LogOnPass" and "sysid"; logs on to the application server
//            through the host's connection; sets "LVerify" on every run ("TRUE" only when
//            the server accepted the user and the caches were written) and, on success,
//            the user attributes the server reports ("LogOnSiteName", "LogOnEmpName",
//            "LogOnTime", "LogOnFinance", "LogOnBelongSite", "LogOnFBType",
//            "LogOnFinanceType"); writes the menu caches (the entries that the user's roles
//            grant, from the server's MyMenu call) and the lookup caches under
//            "<iExePath>LocalData/cds/". A refused log-on is explained to the user.
//   fNotify  asks the server for the user's unread notices of the last ten days, sets
//            "NewMsg" ("1" while some wait, else "0") and shows the pop-up when some
//            were not shown before or "ShowNotiFy" is "1". Offline it does nothing.

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QTableWidget;

namespace host {
class VarList;
}

namespace sentry {

struct CacheTable
{
    QString name; // file name without ".cds"
    QString sql;
};

// A text as an SQL string literal: single quotes, inner quotes doubled.
QString quoted(const QString &text);

// The lookup tables that a log-on caches, with the provider query of each, for the
// deployment key `sysid` and the user's site name (the menus come from the server's
// administration call MyMenu).
QList<CacheTable> cacheTables(const QString &sysid, const QString &siteName);

// The unread-notice query of the user described by the variables ("LogOnSiteName",
// "LogOnEmpName", "sysid").
QString unreadNoticeSql(const host::VarList &vars);

// Splits "address" or "address:port" (default port 8801). Returns false for an empty
// address or a port that is not a number in 1..65535.
bool splitHost(const QString &text, QString *address, int *port);

void fVefify();
void fNotify();

// Runs a function by name ("fVefify", "fNotify"); throws host::UserError otherwise.
void execute(const QString &function);

// The pop-up listing unread notices. One per process, reused; not modal.
class TfNotify : public QWidget
{
    Q_OBJECT
public:
    struct Notice
    {
        QString id;
        QString time;
        QString subject;
        QString site;
        QString author;
    };

    explicit TfNotify(QWidget *parent = nullptr);
    void setNotices(const QList<Notice> &notices);
    QTableWidget *list() const { return m_list; }
    QLabel *summary() const { return m_summary; }

    // The one pop-up of the process (made on first use).
    static TfNotify *instance();
    static TfNotify *existing();

private:
    QTableWidget *m_list = nullptr;
    QLabel *m_summary = nullptr;
};

} // namespace sentry
