#include "modules/herald/freadqmessage.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/environment.h"
#include "baseforms/mydbxedit.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/ucommessage.h"
#include "dataaccess/mydataset.h"
#include "host/errordisplay.h"
#include "host/errors.h"
#include "modules/framework/funcs.h"
#include "modules/herald/udm_func.h"
#include "richedit/richeditor.h"

#include <QDateTimeEdit>
#include "baseforms/dbcontrols.h"
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>

namespace herald {

using framework::QuotedStr;
using framework::QuotedVar;

TfReadQMessage::TfReadQMessage(QWidget *parent)
    : TfDBQueryBase_Single(parent)
{
    setObjectName(QStringLiteral("fReadQMessage"));
    setWindowTitle(QStringLiteral("公告阅读查询"));

    QGridLayout *opt = optionLayout();
    auto label = [this](QWidget *parent, const QString &text, const QString &name) {
        return addComponent(new QLabel(text, parent), name);
    };
    dtpReadDateB = addComponent(new QDateTimeEdit(gbOption), QStringLiteral("dtpReadDateB"));
    dtpReadDateE = addComponent(new QDateTimeEdit(gbOption), QStringLiteral("dtpReadDateE"));
    for (QDateTimeEdit *d : {dtpReadDateB, dtpReadDateE}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        tessera::fitDateTimeEdit(d);
        d->setDateTime(QDateTime::currentDateTime());
    }
    edtSite = addComponent(new tessera::TMyDBXEdit(gbOption), QStringLiteral("edtSite"));
    edtEmp = addComponent(new tessera::TMyDBXEdit(gbOption), QStringLiteral("edtEmp"));
    edtSite->setMaxLength(100);
    edtEmp->setMaxLength(100);
    opt->addWidget(label(gbOption, QStringLiteral("阅读时间"), QStringLiteral("lblReadB")), 0, 0);
    opt->addWidget(dtpReadDateB, 0, 1);
    opt->addWidget(label(gbOption, QStringLiteral("至"), QStringLiteral("lblReadE")), 0, 2);
    opt->addWidget(dtpReadDateE, 0, 3);
    opt->addWidget(label(gbOption, QStringLiteral("阅读网点"), QStringLiteral("lblReadSite")), 0, 4);
    opt->addWidget(edtSite, 0, 5);
    opt->addWidget(label(gbOption, QStringLiteral("阅读人"), QStringLiteral("lblReader")), 0, 6);
    opt->addWidget(edtEmp, 0, 7);
    opt->setColumnStretch(8, 1);

    DBGridData->clearColumns();
    DBGridData->addColumn(QStringLiteral("MSGOBJECT"), QStringLiteral("主题"), 200);
    DBGridData->addColumn(QStringLiteral("MSGREADSITE"), QStringLiteral("网点"), 100);
    DBGridData->addColumn(QStringLiteral("MSGREADER"), QStringLiteral("阅读人"), 80);
    DBGridData->addColumn(QStringLiteral("MSGREADTIME"), QStringLiteral("阅读时间"), 150);

    auto *detail = addComponent(new QWidget(this), QStringLiteral("pnlDetail"));
    auto *grid = new QGridLayout(detail);
    lblSite = new QLabel(detail);
    lblRecSite = new QLabel(detail);
    lblUser = new QLabel(detail);
    lblDate = new QLabel(detail);
    lblObject = new QLabel(detail);
    lblLuyan = new QLabel(detail);
    const struct
    {
        QLabel *value;
        const char *name;
        const char16_t *caption;
    } rows[] = {{lblSite, "lblSite", u"发表网点："},   {lblRecSite, "lblRecSite", u"收信网点："},
                {lblUser, "lblUser", u"发 表 人："},   {lblDate, "lblDate", u"发表时间："},
                {lblObject, "lblObject", u"主　　题："}};
    // Label and value side by side, two pairs a line; the subject has a line of its own.
    int r = 0;
    int pair = 0;
    for (const auto &row : rows) {
        addComponent(row.value, QString::fromLatin1(row.name));
        const bool wide = row.value == lblObject;
        if (wide && pair % 2)
            ++pair;
        r = pair / 2;
        const int col = (pair % 2) * 2;
        grid->addWidget(new QLabel(QString::fromUtf16(row.caption), detail), r, col);
        grid->addWidget(row.value, r, col + 1, 1, wide ? 3 : 1);
        pair += wide ? 2 : 1;
    }
    r = (pair + 1) / 2;
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    addComponent(lblLuyan, QStringLiteral("lblLuyan"));
    // The attachment's name is a link that opens it under that name.
    lblLuyan->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(lblLuyan, &QLabel::linkActivated, this, [this] {
        host::guarded([this] { DM_Func()->BrowerFile(m_attachment, m_attachmentName); });
    });
    grid->addWidget(lblLuyan, r++, 0, 1, 4);
    LMDRichEdit = addComponent(new richedit::RichEditor(detail), QStringLiteral("LMDRichEdit"));
    LMDRichEdit->setToolBarVisible(false);
    LMDRichEdit->setRulerVisible(false);
    LMDRichEdit->setReadOnly(true);
    grid->addWidget(LMDRichEdit, r, 0, 1, 4);
    grid->setRowStretch(r, 1);
    clientLayout()->addWidget(detail, 1);

    connect(DBGridData->view(), &QTableView::doubleClicked, this,
            [this] { host::guarded([this] { DBGridDataDblClick(); }); });
}

TfReadQMessage::~TfReadQMessage() = default;

void TfReadQMessage::InitPDM()
{
    TfDBQueryBase_Single::InitPDM();
    SetPDM(DM_Func());
    dtpReadDateB->setDateTime(QDateTime::currentDateTime());
    dtpReadDateE->setDateTime(QDateTime::currentDateTime());
    edtSite->SetMSD_LookupCds(framework::GetCdsSiteSub());
    edtSite->SetMSD_CodeField(QStringLiteral("SiteCode"));
    edtSite->SetMSD_NameField(QStringLiteral("SiteName"));
    edtSite->SetMSD_FieldList(QStringLiteral("SiteCode,编号;SiteName,名称"));
    edtSite->SetMSD_Caption(QStringLiteral("阅读网点"));
    edtEmp->SetMSD_LookupCds(framework::GetCdsEmployeeSub());
    edtEmp->SetMSD_CodeField(QStringLiteral("EmpCode"));
    edtEmp->SetMSD_NameField(QStringLiteral("EmpName"));
    edtEmp->SetMSD_FieldList(QStringLiteral("EmpCode,编号;EmpName,姓名"));
    edtEmp->SetMSD_Caption(QStringLiteral("阅读人"));
    cdsData->SetMyConn(DM_Func()->cnServer);
}

void TfReadQMessage::FormClose(bool &freeOnClose)
{
    TfDBQueryBase_Single::FormClose(freeOnClose);
}

QString TfReadQMessage::GetSql()
{
    const QString db = dtpReadDateB->date().toString(QStringLiteral("yyyy-MM-dd"));
    const QString de = dtpReadDateE->date().toString(QStringLiteral("yyyy-MM-dd"));
    QString sql =
        QStringLiteral("select b.*,a.MSGOBJECT,a.MSGFILE,a.OPSITE,a.OPTIME,a.OPEMP,a.MSGCONTENT,a.MSGFILENAME "
                       "from TAB_MSGRECORD a  left join TAB_MSGREAD b on a.MSGID=b.MSGID and "
                       "a.sysid=b.sysid where   b.MSGREADTIME between to_date(")
        + QuotedStr(db + QStringLiteral("00:00:00 "))
        + QStringLiteral(",'yyyy-mm-dd hh24:mi:ss') and to_Date(")
        + QuotedStr(de + QStringLiteral("23:59:59 ")) + QStringLiteral(",'yyyy-mm-dd hh24:mi:ss')")
        + QStringLiteral(" and a.sysid=") + QuotedVar(QStringLiteral("sysid"));
    // Typed texts go in as quoted literals, so a quote in them cannot change the query.
    if (!edtSite->text().isEmpty())
        sql += QStringLiteral(" and b.MSGREADSITE=") + QuotedStr(edtSite->text());
    if (!edtEmp->text().isEmpty())
        sql += QStringLiteral(" and b.MSGREADER=") + QuotedStr(edtEmp->text());
    return sql;
}

void TfReadQMessage::DBGridDataDblClick()
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    auto text = [this](const char *field) {
        quillon::TField *f = cdsData->FindField(QString::fromLatin1(field));
        return f ? f->AsString() : QString();
    };
    lblObject->setText(text("MSGOBJECT"));
    lblRecSite->setText(text("MSGREADSITE"));
    lblSite->setText(text("OPSITE"));
    lblUser->setText(text("OPEMP"));
    lblDate->setText(text("OPTIME"));
    m_attachment = text("MSGFILE").trimmed();
    m_attachmentName = text("MSGFILENAME").trimmed();
    lblLuyan->setText(m_attachment.isEmpty()
                          ? QString()
                          : QStringLiteral("附件名: <a href=\"open\">%1</a>")
                                .arg(TDM_Func::AttachmentName(m_attachment, m_attachmentName)
                                         .toHtmlEscaped()));
    // A body that cannot be had is told; the labels above still show the notice.
    DM_Func()->ShowBody(text("MSGCONTENT"), text("MSGID"), LMDRichEdit);
    show();
}

} // namespace herald
