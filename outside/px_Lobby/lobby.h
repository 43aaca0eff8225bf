#pragma once
// px_Lobby: the start page ("fStart"), opened after an online log-on. It greets the user,
// shows the number of unread notices and today's figures of the user's own site (finance
// centre, or the whole company for the head office), and offers the functions of the
// user's menu as shortcuts.

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QGridLayout;
class QLabel;

namespace lobby {

struct Figure
{
    QString caption;
    QString sql; // one row, first column the number
    // Functions of which one must be in the user's menu for the figure to show (their
    // windows read its table; the server refuses the query to everybody else). Empty: all.
    QStringList functions;
};

// The figures whose functions the menu text "SysMenu" grants (all when it is empty).
QList<Figure> grantedFigures(const QList<Figure> &figures, const QString &sysMenu);

// Whose figures the start page shows: the head office sees the whole company, a finance
// centre its centre, every other site itself.
enum class Scope { Company, Centre, Site };
struct FigureScope
{
    Scope scope = Scope::Site;
    QString name; // site or centre name; empty for the company
    QString heading() const; // "数据范围：上海浦东（本网点）"
};
// From the log-on values: "LogOnBelongSite" empty is the head office, "LogOnFinanceType"
// "1" a finance centre ("LogOnFinance" its name), else the site "LogOnSiteName".
FigureScope figureScopeOf(const QString &siteName, const QString &belongSite,
                          const QString &financeType, const QString &finance);

// Today's figures of deployment `sysid` within `scope`, captions naming the scope.
QList<Figure> todayFigures(const QString &sysid, const FigureScope &scope);

// The menu entries with a function, from "SysMenu", as (caption, function) pairs, in
// menu order, at most `limit`.
QList<QPair<QString, QString>> shortcutsFromMenu(const QString &sysMenu, int limit);

class TfStart : public QWidget
{
    Q_OBJECT
public:
    explicit TfStart(QWidget *parent = nullptr);
    // Queries the figures again.
    void refresh();
    QLabel *noticeLabel() const { return m_notices; }
    QList<QLabel *> figureLabels() const { return m_figureValues; }
    QList<Figure> figures() const { return m_figures; }

private:
    QLabel *m_notices = nullptr;
    QList<QLabel *> m_figureValues;
    QList<Figure> m_figures;
};

void execute(const QString &function, const QString &title);

} // namespace lobby
