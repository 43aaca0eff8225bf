#include "colophon.h"
#include "host/errordisplay.h"

#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/uintf.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QDate>
#include <QLabel>
#include <QLocale>
#include <QSysInfo>
#include <QVBoxLayout>
#include <memory>

namespace colophon {

QString buildStamp(const char *date, const char *time)
{
    // The compiler writes "Dec  8 2026": English month names, padded day.
    const QDate d = QLocale::c().toDate(QString::fromLatin1(date).simplified(), QStringLiteral("MMM d yyyy"));
    if (!d.isValid())
        return QString::fromLatin1(time);
    return d.toString(QStringLiteral("yyyy-MM-dd ")) + QString::fromLatin1(time);
}

Lines programLines()
{
    const host::VarList &vars = *host::g_lstVars;
    QString title = vars.value(QStringLiteral("apptitle"));
    if (title.isEmpty())
        title = QStringLiteral("Waylink");
    // The configured text usually says "版本 1.0.0" itself: the line is labelled once.
    QString version = vars.value(QStringLiteral("app_Ver")).trimmed();
    if (version.startsWith(QStringLiteral("版本")))
        version = version.mid(2).trimmed();
    return {
        {QStringLiteral("系统"), title},
        {QStringLiteral("版本"), version},
        {QStringLiteral("界面库"), QStringLiteral("Qt ") + QString::fromLatin1(qVersion())},
        {QStringLiteral("编译"), buildStamp(__DATE__, __TIME__)},
        {QStringLiteral("操作系统"), QSysInfo::prettyProductName()},
    };
}

Lines databaseLines()
{
    const host::VarList &vars = *host::g_lstVars;
    Lines out;
    const bool offline = vars.value(QStringLiteral("OffLine")) == QLatin1String("TRUE");
    auto *conn =
        host::g_DBConn ? host::g_DBConn->GetConnectionAs<quillon::TMySktConnection>() : nullptr;
    out.append(
        {QStringLiteral("连接方式"), offline ? QStringLiteral("脱机") : QStringLiteral("在线")});
    if (conn && !offline) {
        out.append(
            {QStringLiteral("应用服务器"), conn->Host() + u':' + QString::number(conn->Port())});
        out.append({QStringLiteral("连接驱动"), conn->DriverName()});
        out.append({QStringLiteral("协议版本"), conn->AbortInfo()});
    }
    out.append({QStringLiteral("账套 (sysid)"), vars.value(QStringLiteral("sysid"))});
    out.append({QStringLiteral("登录用户"), vars.value(QStringLiteral("LogOnUser"))});
    out.append({QStringLiteral("登录时间"), vars.value(QStringLiteral("LogOnTime"))});
    if (!offline && host::g_FuncObj) {
        QString now;
        try {
            now = host::g_FuncObj->GetServerTime();
        } catch (const std::exception &) {
            now = host::describeException(std::current_exception()).text;
        }
        out.append({QStringLiteral("服务器时间"), now});
    }
    return out;
}

QDialog *makeDialog(const QString &title, const Lines &lines)
{
    auto *d = new QDialog;
    d->setObjectName(QStringLiteral("fAbort"));
    d->setWindowTitle(title);
    auto *layout = new QVBoxLayout(d);
    auto *form = new QFormLayout;
    for (const auto &l : lines) {
        auto *value = new QLabel(l.second, d);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(l.first + QStringLiteral("："), value);
    }
    layout->addLayout(form);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, d);
    QObject::connect(buttons, &QDialogButtonBox::accepted, d, &QDialog::accept);
    layout->addWidget(buttons);
    return d;
}

void execute(const QString &function)
{
    std::unique_ptr<QDialog> d;
    if (function.compare(QLatin1String("fAbort"), Qt::CaseInsensitive) == 0)
        d.reset(makeDialog(QStringLiteral("关于本系统"), programLines()));
    else if (function.compare(QLatin1String("fAbortData"), Qt::CaseInsensitive) == 0)
        d.reset(makeDialog(QStringLiteral("关于数据库"), databaseLines()));
    else
        throw host::UserError(QStringLiteral("px_Colophon 没有功能“%1”").arg(function));
    host::dialogPresenter().execDialog(d.get());
}

} // namespace colophon
