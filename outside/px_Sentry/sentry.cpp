#include "sentry.h"
#include "host/errordisplay.h"

#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/protocol.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/paths.h"
#include "host/uintf.h"

#include <QApplication>
#include <QCborArray>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

namespace sentry {

namespace {

void tell(const QString &text)
{
    host::dialogPresenter().showMessage(host::MessageKind::Warning, QStringLiteral("警告"), text);
}

quillon::TMySktConnection *hostConnection()
{
    auto *c =
        host::g_DBConn ? host::g_DBConn->GetConnectionAs<quillon::TMySktConnection>() : nullptr;
    if (!c)
        throw host::UserError(QStringLiteral("程序没有提供服务器连接，无法验证用户。"));
    return c;
}

void writePacket(const QString &dir, const QString &name, const quillon::DataPacket &packet)
{
    QSaveFile f(dir + name + QStringLiteral(".cds"));
    if (!f.open(QIODevice::WriteOnly) || f.write(packet.toBinary()) < 0 || !f.commit()) {
        throw host::UserError(QStringLiteral("无法写入本地缓存“%1”：%2")
                                  .arg(QDir::toNativeSeparators(f.fileName()), f.errorString()));
    }
}

void writeCache(quillon::TMySktConnection *conn, const QString &dir, const CacheTable &t)
{
    writePacket(dir, t.name, conn->providerFetch(QStringLiteral("dspPublic"), t.sql, {}));
}

// The menu as the server grants it to the user's roles (the whole menu for "dk"): both
// menu caches hold it, so that no file offers more than the user may do, also offline.
void writeMenuCaches(quillon::TMySktConnection *conn, const QString &dir)
{
    const QCborMap answer = conn->callAdmin(QStringLiteral("MyMenu"));
    quillon::DataPacket menu;
    try {
        menu = quillon::DataPacket::fromBinary(answer.value(QStringLiteral("menu")).toByteArray());
    } catch (const quillon::PacketError &e) {
        throw host::UserError(QStringLiteral("服务器发来的菜单无法读取，请联系系统管理员。\n%1")
                                  .arg(QString::fromUtf8(e.what())));
    }
    writePacket(dir, QStringLiteral("cdsSysMenu"), menu);
    writePacket(dir, QStringLiteral("cdsMenu"), menu);
}

// The functions that the user's roles grant, one per row (FUNCNAME): the system menu
// offers its administration entries from it, online and offline.
void writeRightsCache(quillon::TMySktConnection *conn, const QString &dir)
{
    const QCborMap answer = conn->callAdmin(QStringLiteral("MyRights"));
    quillon::DataPacket rights;
    rights.fields.append({QStringLiteral("FUNCNAME"), quillon::FieldType::String, 100, false});
    for (const QCborValue &f : answer.value(QStringLiteral("functions")).toArray())
        rights.rows.append(QVariantList{f.toString()});
    writePacket(dir, QStringLiteral("cdsMyRights"), rights);
}

// Notices already shown in the pop-up by this process.
QSet<QString> &shownNotices()
{
    static QSet<QString> ids;
    return ids;
}

} // namespace

QString quoted(const QString &text)
{
    QString t = text;
    t.replace(u'\'', QStringLiteral("''"));
    return u'\'' + t + u'\'';
}

bool splitHost(const QString &text, QString *address, int *port)
{
    const QString t = text.trimmed();
    *port = 8801;
    const qsizetype colon = t.lastIndexOf(u':');
    // One colon separates a port; more than one is an IPv6 address without a port.
    if (colon > 0 && t.indexOf(u':') == colon) {
        bool ok = false;
        const int p = t.mid(colon + 1).toInt(&ok);
        if (!ok || p < 1 || p > 65535)
            return false;
        *port = p;
        *address = t.left(colon);
    } else {
        *address = t;
    }
    return !address->isEmpty();
}

QList<CacheTable> cacheTables(const QString &sysid, const QString &siteName)
{
    const QString s = quoted(sysid);
    const QString x = quoted(siteName);
    // The user's site, the sites below it and the sites below those.
    const QString subSites = QStringLiteral("sysid=") + s + QStringLiteral(" and (SiteName=") + x +
                             QStringLiteral(" or BELONGSITE=") + x +
                             QStringLiteral(" or BELONGSITE in (select SiteName from tab_Site "
                                            "where BELONGSITE=") +
                             x + QStringLiteral(" and sysid=") + s + QStringLiteral("))");
    return {
        {QStringLiteral("cdsSite"), QStringLiteral("select * from tab_Site where sysid=") + s},
        {QStringLiteral("cdsSiteSub"), QStringLiteral("select * from tab_Site where ") + subSites},
        {QStringLiteral("cdsFNSite"), QStringLiteral("select * from tab_Site where sysid=") + s +
                                          QStringLiteral(" and ISFINANCE=1")},
        {QStringLiteral("cdsEmployeeAll"),
         QStringLiteral("select * from tab_Employee where sysid=") + s},
        {QStringLiteral("cdsEmployeeSub"),
         QStringLiteral("select * from tab_Employee where sysid=") + s +
             QStringLiteral(" and BELONGSITE in (select SiteName from tab_Site where ") + subSites +
             u')'},
        {QStringLiteral("cdsMdd"), QStringLiteral("select * from tab_Mdd where sysid=") + s},
        {QStringLiteral("cdsGoodsType"),
         QStringLiteral("select * from tab_GoodsType where sysid=") + s},
    };
}

QString unreadNoticeSql(const host::VarList &vars)
{
    const QString site = quoted(vars.value(QStringLiteral("LogOnSiteName")));
    const QString emp = quoted(vars.value(QStringLiteral("LogOnEmpName")));
    const QString sysid = quoted(vars.value(QStringLiteral("sysid")));
    const QString notRead = QStringLiteral(" and not exists (select 1 from TAB_MSGREAD c where "
                                           "MSGREADSITE = ") +
                            site + QStringLiteral(" and MSGREADER = ") + emp +
                            QStringLiteral(" and a.MSGID =c.MSGID)");
    return QStringLiteral("select b.*,a.MSGSITE,null as MSGEMP from TAB_MSGSITE a,TAB_MSGRECORD b "
                          "where a.MSGID=b.MSGID and a.sysid=b.sysid and a.MSGSITE=") +
           site + QStringLiteral(" and b.OPTIME >=trunc(sysdate-10) ") + notRead +
           QStringLiteral(" and a.sysid=") + sysid + QStringLiteral(" union all ") +
           QStringLiteral("select b.*,a.MSGSITE,a.MSGEMP from TAB_MSGEMP a,TAB_MSGRECORD b where "
                          "a.MSGID=b.MSGID and a.sysid=b.sysid") +
           QStringLiteral(" and a.MSGSITE=") + site + QStringLiteral(" and a.MSGEMP=") + emp +
           // A notice addressed to his site as well is listed once, as the site's.
           QStringLiteral(" and not exists (select 1 from TAB_MSGSITE d where d.MSGID=a.MSGID and "
                          "d.sysid=a.sysid and d.MSGSITE=a.MSGSITE)") +
           QStringLiteral(" and b.OPTIME >=trunc(sysdate-10) ") + notRead +
           QStringLiteral(" and a.sysid=") + sysid;
}

void fVefify()
{
    host::VarList &vars = *host::g_lstVars;
    // Set first, so that every way out of here leaves a definite answer.
    vars.setValue(QStringLiteral("LVerify"), QStringLiteral("FALSE"));

    QString address;
    int port = 0;
    const QString hostText = vars.value(QStringLiteral("Host"));
    if (hostText.trimmed().isEmpty()) {
        tell(QStringLiteral("所选服务器没有配置地址，请检查配置文件中的服务器列表（SvrLst）。"));
        return;
    }
    if (!splitHost(hostText, &address, &port)) {
        tell(QStringLiteral("服务器地址“%1”无效，应为“地址”或“地址:端口”。").arg(hostText));
        return;
    }

    quillon::TMySktConnection *conn = hostConnection();
    conn->Close();
    conn->SetHost(address);
    conn->SetPort(port);
    conn->SetSiteCode(vars.value(QStringLiteral("LogOnSiteCode")));
    conn->SetUsername(vars.value(QStringLiteral("LogOnUser")));
    conn->SetPassword(vars.value(QStringLiteral("LogOnPass")));
    try {
        conn->Open();
    } catch (const quillon::protocol::ProtocolError &e) {
        if (e.status() == 0) {
            // The transport's own text is technical: it goes to the log only.
            qWarning().noquote() << "log-on: server not reached:" << e.message();
            tell(QStringLiteral("无法连接应用服务器 %1:%2，请检查网络或选择其他服务器。")
                     .arg(address)
                     .arg(port));
        } else if (!host::looksChinese(e.message())) {
            qWarning().noquote() << "log-on refused:" << e.message();
            tell(e.userText());
        } else {
            // The server names the reason: wrong user or password, site code not the
            // user's, user disabled.
            tell(QStringLiteral("服务器拒绝登录：%1").arg(e.message()));
        }
        return;
    } catch (const host::UserError &e) {
        tell(QStringLiteral("无法连接应用服务器：%1").arg(e.message()));
        return;
    }

    const QVariantMap info = conn->logOnInfo();
    for (const char *name : {"LogOnSiteName", "LogOnEmpName", "LogOnTime", "LogOnFinance",
                             "LogOnBelongSite", "LogOnFBType", "LogOnFinanceType"}) {
        const QString key = QString::fromLatin1(name);
        vars.setValue(key, info.value(key).toString());
    }
    // The server's deployment key is the one its data carries.
    const QString sysid = info.value(QStringLiteral("sysid")).toString();
    if (!sysid.isEmpty())
        vars.setValue(QStringLiteral("sysid"), sysid);

    // The connection is closed again however the caching ends.
    struct CloseAfter
    {
        quillon::TMySktConnection *c;
        ~CloseAfter() { c->Close(); }
    } closeAfter{conn};
    const QString dir = host::normalizePath(vars.value(QStringLiteral("iExePath")));
    const QString cds =
        (dir.isEmpty() || dir.endsWith(u'/') ? dir : dir + u'/') + QStringLiteral("LocalData/cds/");
    if (!QDir().mkpath(cds))
        throw host::UserError(
            QStringLiteral("无法建立本地缓存目录“%1”").arg(QDir::toNativeSeparators(cds)));
    writeMenuCaches(conn, cds);
    writeRightsCache(conn, cds);
    for (const CacheTable &t : cacheTables(vars.value(QStringLiteral("sysid")),
                                           vars.value(QStringLiteral("LogOnSiteName")))) {
        writeCache(conn, cds, t);
        QCoreApplication::processEvents();
    }
    vars.setValue(QStringLiteral("LVerify"), QStringLiteral("TRUE"));
}

void fNotify()
{
    host::VarList &vars = *host::g_lstVars;
    if (vars.value(QStringLiteral("OffLine")) == QLatin1String("TRUE"))
        return;
    quillon::TMyDataSet data;
    data.SetMyConn(hostConnection());
    data.SetCommandText(unreadNoticeSql(vars));
    data.Open();

    QList<TfNotify::Notice> notices;
    bool anyNew = false;
    for (data.First(); !data.Eof(); data.Next()) {
        TfNotify::Notice n;
        n.id = data.FieldByName(QStringLiteral("MSGID"))->AsString();
        n.time = data.FieldByName(QStringLiteral("OPTIME"))->AsString().trimmed();
        n.subject = data.FieldByName(QStringLiteral("MSGOBJECT"))->AsString().trimmed();
        n.site = data.FieldByName(QStringLiteral("OPSITE"))->AsString().trimmed();
        n.author = data.FieldByName(QStringLiteral("OPEMP"))->AsString().trimmed();
        if (!shownNotices().contains(n.id))
            anyNew = true;
        if (std::any_of(notices.cbegin(), notices.cend(),
                        [&n](const TfNotify::Notice &o) { return o.id == n.id; }))
            continue; // one entry per notice, however it was addressed
        notices.append(n);
    }
    std::sort(notices.begin(), notices.end(),
              [](const TfNotify::Notice &a, const TfNotify::Notice &b) { return a.time > b.time; });
    vars.setValue(QStringLiteral("NewMsg"),
                  notices.isEmpty() ? QStringLiteral("0") : QStringLiteral("1"));
    if (!anyNew && vars.value(QStringLiteral("ShowNotiFy")) != QLatin1String("1"))
        return;
    for (const TfNotify::Notice &n : std::as_const(notices))
        shownNotices().insert(n.id);
    TfNotify *popup = TfNotify::instance();
    popup->setNotices(notices);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect work = screen->availableGeometry();
        popup->move(work.right() - popup->width() - 8, work.bottom() - popup->height() - 8);
    }
    popup->show();
    popup->raise();
}

void execute(const QString &function)
{
    if (function.compare(QLatin1String("fVefify"), Qt::CaseInsensitive) == 0)
        return fVefify();
    if (function.compare(QLatin1String("fNotify"), Qt::CaseInsensitive) == 0)
        return fNotify();
    throw host::UserError(QStringLiteral("px_Sentry 没有功能“%1”").arg(function));
}

// ---- pop-up ----------------------------------------------------------------------------------

TfNotify::TfNotify(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("fNotify"));
    setWindowTitle(QStringLiteral("未阅读公告"));
    resize(460, 260);
    auto *layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblSummary"));
    layout->addWidget(m_summary);
    m_list = new QTableWidget(0, 4, this);
    m_list->setObjectName(QStringLiteral("lvNotice"));
    m_list->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("主题"),
                                       QStringLiteral("发表网点"), QStringLiteral("发表人")});
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->setColumnWidth(0, 130);
    m_list->setColumnWidth(1, 170);
    layout->addWidget(m_list);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *read = new QPushButton(QStringLiteral("查看公告"), this);
    read->setObjectName(QStringLiteral("btnRead"));
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("btnClose"));
    buttons->addWidget(read);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    connect(read, &QPushButton::clicked, this, [this] {
        hide();
        try {
            host::g_UINetIntf->CallFunc(QStringLiteral("px_Herald.fNoReadMessage"));
        } catch (const host::SilentAbort &) {
        } catch (const std::exception &) {
            tell(host::describeException(std::current_exception()).text);
        }
    });
}

void TfNotify::setNotices(const QList<Notice> &notices)
{
    m_summary->setText(notices.isEmpty()
                           ? QStringLiteral("没有未阅读的公告。")
                           : QStringLiteral("您有 %1 条未阅读的公告：").arg(notices.size()));
    m_list->setRowCount(int(notices.size()));
    for (int r = 0; r < notices.size(); ++r) {
        const Notice &n = notices.at(r);
        const QString cells[] = {n.time, n.subject, n.site, n.author};
        for (int c = 0; c < 4; ++c)
            m_list->setItem(r, c, new QTableWidgetItem(cells[c]));
        m_list->item(r, 0)->setData(Qt::UserRole, n.id);
    }
}

namespace {
QPointer<TfNotify> &popupRef()
{
    static QPointer<TfNotify> p;
    return p;
}
} // namespace

TfNotify *TfNotify::instance()
{
    if (!popupRef())
        popupRef() = new TfNotify;
    return popupRef();
}

TfNotify *TfNotify::existing()
{
    return popupRef();
}

} // namespace sentry
