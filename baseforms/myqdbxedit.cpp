#include "baseforms/myqdbxedit.h"
#include "host/errordisplay.h"

#include "baseforms/fdbbase.h"
#include "dataaccess/mydataset.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QStyle>
#include <QTimer>

Q_LOGGING_CATEGORY(lcLookupEdit, "waylink.tessera.lookupedit", QtWarningMsg)

namespace tessera {

namespace {
QString sqlQuoted(const QString &text)
{
    QString q = text;
    q.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}
} // namespace

TMyQDBXEdit::TMyQDBXEdit(QWidget *parent)
    : TMyDBXEdit(parent)
{
    SetMSD_AssistCodeField(QString());
    FButton->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
}

TMyQDBXEdit::~TMyQDBXEdit()
{
    m_destroying = true;
    StopTimer();
}

void TMyQDBXEdit::V(const QString &text)
{
    qCDebug(lcLookupEdit).noquote() << text;
}

QString TMyQDBXEdit::BuildQuerySql(const QString &commandText, const QString &codeField,
                                   const QString &nameField, const QString &typedText)
{
    const QString lower = commandText.toLower();
    QString base;
    if (!lower.contains(QLatin1String("from"))) {
        // A table or view name. Without a code field only the name is selected and searched
        // (an empty name in the statement would make every query fail).
        base = codeField.isEmpty()
                   ? QStringLiteral("select %1 from %2 where 1=1 ").arg(nameField, commandText)
                   : QStringLiteral("select %1,%2 from %3 where 1=1 ")
                         .arg(codeField, nameField, commandText);
    } else if (lower.contains(QLatin1String("where"))) {
        base = commandText;
    } else {
        base = commandText + QStringLiteral(" where 1=1 ");
    }
    const QString pattern = sqlQuoted(QLatin1Char('%') + typedText.toLower() + QLatin1Char('%'));
    QString condition = codeField.isEmpty()
                            ? QStringLiteral(" and (lower(%1) like %2)").arg(nameField, pattern)
                            : QStringLiteral(" and (lower(%1) like %2 or lower(%3) like %4)")
                                  .arg(nameField, pattern, codeField, pattern);
    return base + QStringLiteral(" and rownum<=20 ") + condition;
}

void TMyQDBXEdit::StartTimer()
{
    if (!FTimer) {
        FTimer = new QTimer(this);
        FTimer->setObjectName(QStringLiteral("FTimer"));
        connect(FTimer, &QTimer::timeout, this, &TMyQDBXEdit::TimerTimer);
    }
    FTimer->setInterval(200);
    // A running timer is not restarted: the query follows the first character of a burst.
    if (!FTimer->isActive())
        FTimer->start();
}

void TMyQDBXEdit::StopTimer()
{
    if (FTimer)
        FTimer->stop();
}

void TMyQDBXEdit::TimerTimer()
{
    StopTimer();
    DropDown();
}

void TMyQDBXEdit::DropDown()
{
    quillon::TMyDataSet *lookup = MSD_LookupCds();
    if (!lookup || isReadOnly() || lookup->CommandText().isEmpty())
        return;
    const bool firstUse = !FDataListDataset;
    quillon::TMyDataSet *list = ensureListDataset();
    if (firstUse || list->MyConn() != lookup->MyConn())
        list->SetMyConn(lookup->MyConn());
    const QString sql =
        BuildQuerySql(lookup->CommandText(), MSD_CodeField(), MSD_NameField(), text());
    try {
        list->Close();
        list->SetCommandText(sql);
        list->Open();
    } catch (const std::exception &e) {
        list->Close();
        lookup->Close();
        const host::ErrorText why = host::describeException(std::current_exception());
        host::dialogPresenter().showDetailedMessage(host::MessageKind::Information,
                                                    QApplication::applicationDisplayName(),
                                                    QStringLiteral("获取数据出错:") + why.text,
                                                    why.details);
        showOrHideList();
        return;
    }
    lookup->SetData(list->Data());
    showOrHideList();
}

void TMyQDBXEdit::CheckValue()
{
    V(QStringLiteral("Call CheckValue"));
    quillon::TMyDataSet *lookup = MSD_LookupCds();
    if (m_destroying || !isModified() || !lookup)
        return;
    QString t = text().trimmed();
    t.remove(QLatin1Char('\r'));
    t.remove(QLatin1Char('\n'));
    checkText(t, lookup->Active() && !lookup->IsEmpty(), false);
}

void TMyQDBXEdit::CMCancelMode(CancelModeEvent *event)
{
    V(QStringLiteral("Call CMCancelMode"));
    if (m_destroying)
        return;
    try {
        CheckValue();
    } catch (const host::SilentAbort &) {
        event->refuse();
        return;
    }
    updateRecord();
    // The cancel mode of an action has no sender: the list stays open.
}

void TMyQDBXEdit::EditButtonClick()
{
    if (listVisible())
        CloseUp(false);
    else
        DropDown();
}

} // namespace tessera
