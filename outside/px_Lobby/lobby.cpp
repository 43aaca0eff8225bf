#include "lobby.h"

#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/errordisplay.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "sentry.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lobby {

namespace {

quillon::TMySktConnection *connection()
{
    return host::g_DBConn ? host::g_DBConn->GetConnectionAs<quillon::TMySktConnection>() : nullptr;
}

// The first value of the query's first row as text; "—" when it cannot be read.
QString fetchNumber(const QString &sql)
{
    quillon::TMySktConnection *conn = connection();
    if (!conn || host::g_lstVars->value(QStringLiteral("OffLine")) == QLatin1String("TRUE"))
        return QStringLiteral("—");
    try {
        quillon::TMyDataSet ds;
        ds.SetMyConn(conn);
        ds.SetCommandText(sql);
        ds.Open();
        if (ds.IsEmpty() || ds.FieldCount() == 0)
            return QStringLiteral("0");
        return ds.Fields(0)->AsString();
    } catch (...) {
        return QStringLiteral("—");
    }
}

QLabel *caption(const QString &text, QWidget *parent, int pt, bool bold)
{
    auto *l = new QLabel(text, parent);
    QFont f = l->font();
    f.setPointSize(pt);
    f.setBold(bold);
    l->setFont(f);
    return l;
}

} // namespace

QString FigureScope::heading() const
{
    switch (scope) {
    case Scope::Company:
        return QStringLiteral("数据范围：全公司");
    case Scope::Centre:
        return QStringLiteral("数据范围：%1（本中心）").arg(name);
    case Scope::Site:
        break;
    }
    return QStringLiteral("数据范围：%1（本网点）").arg(name);
}

FigureScope figureScopeOf(const QString &siteName, const QString &belongSite,
                          const QString &financeType, const QString &finance)
{
    if (belongSite.trimmed().isEmpty())
        return {Scope::Company, QString()};
    if (financeType.trimmed() == QLatin1String("1"))
        return {Scope::Centre, finance.trimmed().isEmpty() ? siteName : finance};
    return {Scope::Site, siteName};
}

QList<Figure> todayFigures(const QString &sysid, const FigureScope &scope)
{
    const QString s = sentry::quoted(sysid);
    const QString n = sentry::quoted(scope.name);
    QString account, dfk, notices, prefix;
    switch (scope.scope) {
    case Scope::Company:
        prefix = QStringLiteral("全公司");
        break;
    case Scope::Centre:
        prefix = QStringLiteral("本中心");
        account = QStringLiteral(" and FINANCECENTER=") + n;
        dfk = QStringLiteral(" and SIGNCENTER=") + n;
        break;
    case Scope::Site:
        prefix = QStringLiteral("本网点");
        account = QStringLiteral(" and STATIONCODE=") + n;
        dfk = QStringLiteral(" and SIGNSITE=") + n;
        break;
    }
    // Notices: those published company-wide, or those sent to the user's site.
    QString noticeSql;
    if (scope.scope == Scope::Company)
        noticeSql = QStringLiteral("select count(*) as N from TAB_MSGRECORD where OPTIME >= "
                                   "trunc(sysdate-10) and sysid=") + s;
    else
        noticeSql = QStringLiteral("select count(*) as N from TAB_MSGSITE where MSGTime >= "
                                   "trunc(sysdate-10) and MSGSITE=") + n + QStringLiteral(" and sysid=") + s;
    return {
        {prefix + QStringLiteral("今日账单"),
         QStringLiteral("select count(*) as N from TAB_ACCOUNT where SCANTIME >= trunc(sysdate)")
             + account + QStringLiteral(" and sysid=") + s},
        {prefix + QStringLiteral("今日签收到付款"),
         QStringLiteral("select count(*) as N from TAB_DFKRECORD where SIGNTIME >= trunc(sysdate)")
             + dfk + QStringLiteral(" and sysid=") + s},
        {scope.scope == Scope::Company ? QStringLiteral("近十天发布公告")
                                       : QStringLiteral("近十天收到公告"),
         noticeSql},
    };
}

QList<QPair<QString, QString>> shortcutsFromMenu(const QString &sysMenu, int limit)
{
    QList<QPair<QString, QString>> out;
    if (sysMenu.isEmpty())
        return out;
    for (const QString &rec : sysMenu.split(u'/')) {
        const QStringList f = rec.split(QChar(0x0E));
        if (f.size() < 4 || f.at(3).trimmed().isEmpty() || f.at(1).trimmed() == QLatin1String("@"))
            continue;
        out.append({f.at(2), f.at(3).trimmed()});
        if (out.size() >= limit)
            break;
    }
    return out;
}

TfStart::TfStart(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("fStart"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#fStart { background: #f7f9fc; } "
                                 "QFrame#card { background: white; border: 1px solid #d5dde8; "
                                 "border-radius: 6px; }"));
    const host::VarList &vars = *host::g_lstVars;
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);
    layout->addWidget(caption(QStringLiteral("%1，%2，欢迎使用！")
                                  .arg(vars.value(QStringLiteral("LogOnSiteName")),
                                       vars.value(QStringLiteral("LogOnEmpName"))),
                              this, 16, true));
    layout->addWidget(
        caption(QStringLiteral("登录时间：%1").arg(vars.value(QStringLiteral("LogOnTime"))), this,
                10, false));

    const FigureScope scope = figureScopeOf(
        vars.value(QStringLiteral("LogOnSiteName")), vars.value(QStringLiteral("LogOnBelongSite")),
        vars.value(QStringLiteral("LogOnFinanceType")), vars.value(QStringLiteral("LogOnFinance")));
    QLabel *scopeLabel = caption(scope.heading(), this, 10, false);
    scopeLabel->setObjectName(QStringLiteral("lblScope"));
    scopeLabel->setStyleSheet(QStringLiteral("color: #5a6b7d;"));
    auto *cards = new QHBoxLayout;
    auto addCard = [&](const QString &title) {
        auto *card = new QFrame(this);
        card->setObjectName(QStringLiteral("card"));
        card->setMinimumSize(170, 90);
        auto *v = new QVBoxLayout(card);
        v->addWidget(caption(title, card, 10, false));
        QLabel *value = caption(QStringLiteral("—"), card, 22, true);
        value->setStyleSheet(QStringLiteral("color: #1f5fa8;"));
        v->addWidget(value);
        cards->addWidget(card);
        return value;
    };
    m_notices = addCard(QStringLiteral("未阅读公告"));
    m_notices->setObjectName(QStringLiteral("lblUnread"));
    m_figures = todayFigures(vars.value(QStringLiteral("sysid")), scope);
    for (const Figure &f : std::as_const(m_figures))
        m_figureValues.append(addCard(f.caption));
    cards->addStretch();
    layout->addWidget(scopeLabel);
    layout->addLayout(cards);

    layout->addWidget(caption(QStringLiteral("常用功能"), this, 12, true));
    auto *grid = new QGridLayout;
    const auto shortcuts = shortcutsFromMenu(vars.value(QStringLiteral("SysMenu")), 12);
    for (int i = 0; i < shortcuts.size(); ++i) {
        auto *b = new QPushButton(shortcuts[i].first, this);
        b->setMinimumHeight(32);
        b->setProperty("hint", shortcuts[i].second);
        const QString func = shortcuts[i].second;
        const QString title = shortcuts[i].first;
        // A failing module is reported as a menu entry reports it.
        connect(b, &QPushButton::clicked, this, [func, title] {
            host::guarded([&] { host::g_UINetIntf->CallFunc(func, 0, {}, title); });
        });
        grid->addWidget(b, i / 4, i % 4);
    }
    layout->addLayout(grid);
    auto *again = new QPushButton(QStringLiteral("刷新"), this);
    again->setObjectName(QStringLiteral("btnRefresh"));
    connect(again, &QPushButton::clicked, this, &TfStart::refresh);
    layout->addWidget(again, 0, Qt::AlignLeft);
    layout->addStretch();
    refresh();
}

void TfStart::refresh()
{
    // The subquery is named: PostgreSQL before 16 refuses one without a name.
    const QString unread = QStringLiteral("select count(*) as N from (") +
                           sentry::unreadNoticeSql(*host::g_lstVars) + QStringLiteral(") u");
    m_notices->setText(fetchNumber(unread));
    for (int i = 0; i < m_figures.size(); ++i)
        m_figureValues[i]->setText(fetchNumber(m_figures[i].sql));
}

void execute(const QString &function, const QString &title)
{
    if (function.compare(QLatin1String("fStart"), Qt::CaseInsensitive) != 0)
        throw host::UserError(QStringLiteral("px_Lobby 没有功能“%1”").arg(function));
    host::g_UINetIntf->ShowMDIForm<TfStart>(
        nullptr, 0, title.isEmpty() || title == function ? QStringLiteral("起始页") : title);
}

} // namespace lobby
