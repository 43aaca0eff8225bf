#include "modules/herald/fmanagermessage.h"

#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/mydbxedit.h"
#include "baseforms/report.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/ucommessage.h"
#include "dataaccess/controlsoff.h"
#include "dataaccess/mydataset.h"
#include "host/errordisplay.h"
#include "host/errors.h"
#include "modules/framework/funcs.h"
#include "modules/herald/udm_func.h"

#include <QApplication>
#include <QDateEdit>
#include <QGridLayout>
#include <QLabel>
#include <QSplitter>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace herald {

using framework::QuotedStr;
using framework::QuotedVar;
using quillon::TMyDataSet;

TfManagerMessage::TfManagerMessage(QWidget *parent)
    : TfDBQueryBase_Single(parent)
{
    setObjectName(QStringLiteral("fManagerMessage"));
    setWindowTitle(QStringLiteral("公告管理"));
    ReportName = QStringLiteral("ManagerMessage.wlr");
    tbDel = addToolButton(actDel, QStringLiteral("tbDel"), QStringLiteral("tbClose"));
    tbSelAll = addToolButton(actSelAll, QStringLiteral("tbSelAll"), QStringLiteral("tbClose"));
    tbUnSelAll = addToolButton(actUnSelAll, QStringLiteral("tbUnSelAll"), QStringLiteral("tbClose"));
    setExecuteHandler(actDel, [this] { actDelExecute(); });
    setExecuteHandler(actSelAll, [this] { actSelAllExecute(); });
    setExecuteHandler(actUnSelAll, [this] { actUnSelAllExecute(); });

    QGridLayout *opt = optionLayout();
    auto label = [this](const QString &text, const QString &name) {
        return addComponent(new QLabel(text, gbOption), name);
    };
    dtpB = addComponent(new QDateEdit(QDate::currentDate(), gbOption), QStringLiteral("dtpB"));
    dtpE = addComponent(new QDateEdit(QDate::currentDate(), gbOption), QStringLiteral("dtpE"));
    for (QDateEdit *d : {dtpB, dtpE}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    edtSite = addComponent(new tessera::TMyDBXEdit(gbOption), QStringLiteral("edtSite"));
    edtSite->setMaxLength(100);
    edtSite->setPlaceholderText(QStringLiteral("全部网点（F4 选择）"));
    opt->addWidget(label(QStringLiteral("留言时间"), QStringLiteral("lblB")), 0, 0);
    opt->addWidget(dtpB, 0, 1);
    opt->addWidget(label(QStringLiteral("至"), QStringLiteral("lblE")), 0, 2);
    opt->addWidget(dtpE, 0, 3);
    opt->addWidget(label(QStringLiteral("留言网点"), QStringLiteral("lblSite")), 0, 4);
    opt->addWidget(edtSite, 0, 5);
    opt->setColumnStretch(6, 1);

    // The list: the tick column is the only one the user changes.
    DBGridData->clearColumns();
    DBGridData->setReadOnly(false);
    tessera::TColumnEh *sel = DBGridData->addColumn(QStringLiteral("Sel"), QStringLiteral("选择"), 40);
    sel->Checkboxes = true;
    const struct
    {
        const char *field;
        const char16_t *title;
        int width;
        bool visible;
    } columns[] = {{"MSGOBJECT", u"主题", 200, true},     {"OPSITE", u"留言网点", 90, true},
                   {"OPEMP", u"留言人", 70, true},        {"SiteCnt", u"网点数", 50, true},
                   {"EmpCnt", u"员工数", 50, true},       {"OPTIME", u"留言时间", 150, true},
                   {"MSGID", u"留言ID", 80, false},       {"MSGTYPE", u"类型", 50, false},
                   {"CLOSEDATE", u"截止日期", 80, false}, {"MSGFILENAME", u"附件", 140, true},
                   {"MSGCONTENT", u"留言", 160, true}};
    for (const auto &c : columns) {
        tessera::TColumnEh *col = DBGridData->addColumn(QString::fromLatin1(c.field),
                                                        QString::fromUtf16(c.title), c.width);
        col->Visible = c.visible;
        col->ReadOnly = true;
    }

    // Below the list, at a height the user chooses: the addressed sites and employees.
    cdsSiteMsg = addComponent(new TMyDataSet(this), QStringLiteral("cdsSiteMsg"));
    cdsEmpMsg = addComponent(new TMyDataSet(this), QStringLiteral("cdsEmpMsg"));
    cdsTemp = addComponent(new TMyDataSet(this), QStringLiteral("cdsTemp"));
    dsSiteMsg = addComponent(new tessera::TDataSource(this), QStringLiteral("dsSiteMsg"));
    dsEmpMsg = addComponent(new tessera::TDataSource(this), QStringLiteral("dsEmpMsg"));
    dsSiteMsg->setDataSet(cdsSiteMsg);
    dsEmpMsg->setDataSet(cdsEmpMsg);

    splitter = addComponent(new QSplitter(Qt::Vertical, this), QStringLiteral("splitter"));
    const int at = clientLayout()->indexOf(pnlDBGrid);
    clientLayout()->removeWidget(pnlDBGrid);
    splitter->addWidget(pnlDBGrid);
    auto *details = new QSplitter(Qt::Horizontal, splitter);
    details->setObjectName(QStringLiteral("splitterDetails"));
    DBGridSite = addComponent(new tessera::TDBGridEh(details), QStringLiteral("DBGridSite"));
    DBGridSite->setDataSource(dsSiteMsg);
    DBGridSite->addColumn(QStringLiteral("MSGSITE"), QStringLiteral("收信网点"), 110);
    DBGridSite->addColumn(QStringLiteral("HASREAD"), QStringLiteral("是否阅读"), 60);
    DBGridSite->addColumn(QStringLiteral("READTIME"), QStringLiteral("阅读时间"), 150);
    DBGridSite->addColumn(QStringLiteral("READEMP"), QStringLiteral("阅读人"), 80);
    DBGridEmp = addComponent(new tessera::TDBGridEh(details), QStringLiteral("DBGridEmp"));
    DBGridEmp->setDataSource(dsEmpMsg);
    DBGridEmp->addColumn(QStringLiteral("MSGEMP"), QStringLiteral("收信员工"), 80);
    DBGridEmp->addColumn(QStringLiteral("MSGSITE"), QStringLiteral("所属网点"), 110);
    DBGridEmp->addColumn(QStringLiteral("HASREAD"), QStringLiteral("是否阅读"), 60);
    DBGridEmp->addColumn(QStringLiteral("READTIME"), QStringLiteral("阅读时间"), 150);
    for (tessera::TDBGridEh *g : {DBGridSite, DBGridEmp})
        g->setReadOnly(true);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    clientLayout()->insertWidget(at, splitter, 1);

    connect(DBGridData->view(), &QTableView::pressed, this,
            [this] { host::guarded([this] { DBGridDataMouseDown(); }); });
    connect(DBGridData->view(), &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
        const QList<tessera::TColumnEh *> cols = DBGridData->Columns();
        const QString field = index.column() >= 0 && index.column() < cols.size()
                                  ? cols.at(index.column())->FieldName
                                  : QString();
        host::guarded([this, field] { DBGridDataDblClick(field); });
    });
}

TfManagerMessage::~TfManagerMessage() = default;

void TfManagerMessage::InitPDM()
{
    TfDBQueryBase_Single::InitPDM();
    SetPDM(DM_Func());
    for (TMyDataSet *cds : {cdsData, cdsSiteMsg, cdsEmpMsg, cdsTemp})
        cds->SetMyConn(DM_Func()->cnServer);
    edtSite->SetMSD_LookupCds(framework::GetCdsSiteSub());
    edtSite->SetMSD_CodeField(QStringLiteral("SiteCode"));
    edtSite->SetMSD_NameField(QStringLiteral("SiteName"));
    edtSite->SetMSD_FieldList(QStringLiteral("SiteCode,编号;SiteName,名称"));
    edtSite->SetMSD_Caption(QStringLiteral("留言网点"));
    dtpB->setDate(QDate::currentDate());
    dtpE->setDate(QDate::currentDate());
}

void TfManagerMessage::FormClose(bool &freeOnClose)
{
    TfDBQueryBase_Single::FormClose(freeOnClose);
}

void TfManagerMessage::actCloseExecute()
{
    TfDBQueryBase_Single::actCloseExecute();
}

QString TfManagerMessage::GetSql()
{
    QString sql =
        QStringLiteral(" select 0 as sel,nvl((select count(b.MSGID) from TAB_MSGSITE b where "
                       "a.MSGID=b.MSGID and b.sysid=a.sysid),0) as SiteCnt,nvl((select "
                       "count(b.MSGID) from TAB_MSGEMP b where a.MSGID=b.MSGID and "
                       "b.sysid=a.sysid),0) as EmpCnt,a.* from TAB_MSGRECORD a ")
        + QStringLiteral(" Where OPTIME between to_date( '")
        + dtpB->date().toString(QStringLiteral("yyyy-MM-dd"))
        + QStringLiteral(" 00:00:00','yyyy-mm-dd hh24:mi:ss')") + QStringLiteral(" And to_date('")
        + dtpE->date().toString(QStringLiteral("yyyy-MM-dd"))
        + QStringLiteral(" 23:59:59','yyyy-mm-dd hh24:mi:ss') ");
    // The site goes in as a quoted literal, so a quote in it cannot change the query.
    if (!edtSite->text().isEmpty())
        sql += QStringLiteral(" and OPSITE=") + QuotedStr(edtSite->text());
    return sql + QStringLiteral(" and a.sysid=") + QuotedVar(QStringLiteral("sysid"));
}

void TfManagerMessage::actQueryExecute()
{
    TfDBQueryBase_Single::actQueryExecute();
    fillAttachmentNames();
    // The recipients shown belong to a notice of the list before.
    cdsSiteMsg->Close();
    cdsEmpMsg->Close();
}

void TfManagerMessage::fillAttachmentNames()
{
    quillon::TField *name = cdsData->FindField(QStringLiteral("MSGFILENAME"));
    quillon::TField *file = cdsData->FindField(QStringLiteral("MSGFILE"));
    if (!cdsData->Active() || !name || !file)
        return;
    quillon::ControlsOff off(cdsData);
    for (cdsData->First(); !cdsData->Eof(); cdsData->Next()) {
        if (!name->AsString().trimmed().isEmpty() || file->AsString().trimmed().isEmpty())
            continue;
        cdsData->Edit();
        name->SetAsString(TDM_Func::AttachmentName(file->AsString(), QString()));
        cdsData->Post();
    }
    cdsData->MergeChangeLog(); // shown only: nothing of it goes to the server
    cdsData->First();
}

void TfManagerMessage::BeforePrint()
{
    frxReport->setVariable(QStringLiteral("Range"),
                           dtpB->date().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 至 ")
                               + dtpE->date().toString(QStringLiteral("yyyy-MM-dd")));
}

void TfManagerMessage::DBGridDataMouseDown()
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    const QString id = cdsData->FieldByName(QStringLiteral("MSGID"))->AsString();
    const QString sysid = QuotedVar(QStringLiteral("sysid"));
    // The database keeps HASREAD as '1' once read; users read 是 or 否.
    const QString hasRead = QStringLiteral("case when HASREAD='1' then '是' else '否' end as HASREAD");
    if (cdsData->FieldByName(QStringLiteral("SiteCnt"))->AsInteger() > 0) {
        cdsSiteMsg->Close();
        cdsSiteMsg->SetCommandText(QStringLiteral("select MSGSITE,") + hasRead
                                   + QStringLiteral(",READTIME,READEMP from TAB_MSGSITE where MSGID=")
                                   + QuotedStr(id) + QStringLiteral(" and sysid=") + sysid);
        cdsSiteMsg->Open();
    } else {
        cdsSiteMsg->Close(); // not the rows of the notice clicked before
    }
    if (cdsData->FieldByName(QStringLiteral("EmpCnt"))->AsInteger() > 0) {
        cdsEmpMsg->Close();
        cdsEmpMsg->SetCommandText(QStringLiteral("select MSGEMP,MSGSITE,") + hasRead
                                  + QStringLiteral(",READTIME from TAB_MSGEMP where MSGID=")
                                  + QuotedStr(id) + QStringLiteral(" and sysid=") + sysid);
        cdsEmpMsg->Open();
    } else {
        cdsEmpMsg->Close();
    }
}

void TfManagerMessage::DBGridDataDblClick(const QString &focusedField)
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    auto text = [this](const char *field) {
        quillon::TField *f = cdsData->FindField(QString::fromLatin1(field));
        return f ? f->AsString() : QString();
    };
    if (focusedField.compare(QLatin1String("MSGFILE"), Qt::CaseInsensitive) == 0
        || focusedField.compare(QLatin1String("MSGFILENAME"), Qt::CaseInsensitive) == 0) {
        DM_Func()->BrowerFile(text("MSGFILE").trimmed(), text("MSGFILENAME"));
    } else if (focusedField.compare(QLatin1String("MSGCONTENT"), Qt::CaseInsensitive) == 0) {
        DM_Func()->OpenNoticeFile({}, {}, text("MSGCONTENT"), text("MSGID"));
    }
}

void TfManagerMessage::setTicks(bool invert)
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    quillon::TField *sel = cdsData->FieldByName(QStringLiteral("Sel"));
    quillon::ControlsOff off(cdsData);
    for (cdsData->First(); !cdsData->Eof(); cdsData->Next()) {
        const bool ticked = sel->AsInteger() == 1;
        if (invert || !ticked) {
            cdsData->Edit();
            sel->SetAsInteger(invert && ticked ? 0 : 1);
            cdsData->Post();
        }
    }
    cdsData->First();
}

void TfManagerMessage::actSelAllExecute()
{
    setTicks(false);
}

void TfManagerMessage::actUnSelAllExecute()
{
    setTicks(true);
}

void TfManagerMessage::actDelExecute()
{
    if (!MSGQuestionDialog(QStringLiteral("您确认是否删除当前选中的公告？")))
        return;
    QStringList ids;
    if (cdsData->Active() && !cdsData->IsEmpty()) {
        quillon::TField *sel = cdsData->FieldByName(QStringLiteral("Sel"));
        quillon::TField *id = cdsData->FieldByName(QStringLiteral("MSGID"));
        {
            quillon::ControlsOff off(cdsData);
            for (cdsData->First(); !cdsData->Eof(); cdsData->Next()) {
                QApplication::processEvents();
                if (sel->AsInteger() == 1)
                    ids << QuotedStr(id->AsString());
            }
        }
        // The ticks are no table column: nothing of them goes to the server.
        cdsData->MergeChangeLog();
    }
    if (ids.isEmpty()) {
        MSGWarningDialog(QStringLiteral("操作失败,没有选中需要删除的公告!"));
        return;
    }
    cdsTemp->Close();
    cdsTemp->SetCommandText(QStringLiteral("select * from TAB_MSGRECORD Where MSGID in (%1) and sysid=")
                                .arg(ids.join(u','))
                            + QuotedVar(QStringLiteral("sysid")));
    cdsTemp->Open();
    while (!cdsTemp->IsEmpty())
        cdsTemp->Delete();
    try {
        // The database deletes the notices' site, employee and receipt rows in the same
        // transaction; the server removes their files once it has committed.
        cdsTemp->ApplyUpdates(0);
    } catch (...) {
        cdsTemp->CancelUpdates();
        throw;
    }
    cdsTemp->Close();
    cdsData->Close();
    cdsData->Open();
    fillAttachmentNames();
    cdsSiteMsg->Close();
    cdsEmpMsg->Close();
    MSGHintDialog(QStringLiteral("操作成功!"));
}

} // namespace herald
