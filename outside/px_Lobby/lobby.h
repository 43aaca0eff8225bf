#pragma once
// px_Lobby: the start page ("fStart"), opened after an online log-on. It greets the user,
// shows the number of unread notices and today's figures of the deployment, and offers
// the functions of the user's menu as shortcuts.

#include <QList>
#include <QString>
#include <QWidget>

class QGridLayout;
class QLabel;

namespace lobby {

struct Figure
{
    QString caption;
    QString sql; // one row, first column the number
};

// Today's figures of the deployment `sysid`.
QList<Figure> todayFigures(const QString &sysid);

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

private:
    QLabel *m_notices = nullptr;
    QList<QLabel *> m_figureValues;
    QList<Figure> m_figures;
};

void execute(const QString &function, const QString &title);

} // namespace lobby
