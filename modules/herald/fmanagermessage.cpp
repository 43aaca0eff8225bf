#include "modules/herald/fmanagermessage.h"

#include "host/errordisplay.h"
#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/ucommessage.h"
#include "dataaccess/mydataset.h"
#include "host/errors.h"
#include "modules/framework/funcs.h"
#include "modules/herald/udm_func.h"

#include <QApplication>
#include <QDateEdit>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace herald {

using framework::QuotedStr;
using framework::QuotedVar;
using quillon::TMyDataSet;

TfManagerMessage::TfManagerMessage(QWidget *parent)
    : TfDBBase(parent)
{
    setObjectName(QStringLiteral("fManagerMessage"));
    setWindowTitle(QStringLiteral("公告管理"));
    addToolButton(actQuery, QStringLiteral("btnQuery"));
    addToolButton(actDel, QStringLiteral("btnDel"));
    addToolButton(actSelAll, QStringLiteral("btnSelAll"));
    addToolButton(actUnSelAll, QStringLiteral("btnUnSelAll"));
    addToolButton(actClose, QStringLiteral("btnClose"));
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
    edtSite = addComponent(new QLineEdit(gbOption), QStringLiteral("edtSite"));
    edtSite->setMaxLength(100);
    opt->addWidget(label(QStringLiteral("留言时间"), QStringLiteral("lblB")), 0, 0);
    opt->addWidget(dtpB, 0, 1);
    opt->addWidget(label(QStringLiteral("至"), QStringLiteral("lblE")), 0, 2);
    opt->addWidget(dtpE, 0, 3);
    opt->addWidget(label(QStringLiteral("留言网点"), QStringLiteral("lblSite")), 0, 4);
    opt->addWidget(edtSite, 0, 5);
    opt->setColumnStretch(6, 1);

    cdsData = addComponent(new TMyDataSet(this), QStringLiteral("cdsData"));
    cdsSiteMsg = addComponent(new TMyDataSet(this), QStringLiteral("cdsSiteMsg"));
    cdsEmpMsg = addComponent(new TMyDataSet(this), QStringLiteral("cdsEmpMsg"));
    cdsTemp = addComponent(new TMyDataSet(this), QStringLiteral("cdsTemp"));
    dsData = addComponent(new tessera::TDataSource(this), QStringLiteral("dsData"));
    dsSiteMsg = addComponent(new tessera::TDataSource(this), QStringLiteral("dsSiteMsg"));
    dsEmpMsg = addComponent(new tessera::TDataSource(this), QStringLiteral("dsEmpMsg"));
    dsData->setDataSet(cdsData);
    dsSiteMsg->setDataSet(cdsSiteMsg);
    dsEmpMsg->setDataSet(cdsEmpMsg);

    splitter = addComponent(new QSplitter(Qt::Vertical, this), QStringLiteral("splitter"));
    DBGridData = addComponent(new tessera::TDBGridEh(splitter), QStringLiteral("DBGridData"));
    DBGridData->setDataSource(dsData);
    tessera::TColumnEh *sel = DBGridData->addColumn(QStringLiteral("Sel"), QStringLiteral("选择"), 40);
    sel->Checkboxes = true;
    const struct
    {
        const char *field;
        const char16_t *title;
        bool visible;
    } columns[] = {{"MSGOBJECT", u"主题", true},  {"OPSITE", u"留言网点", true},
                   {"OPEMP", u"留言人", true},    {"SiteCnt", u"网点数", true},
                   {"EmpCnt", u"员工数", true},   {"OPTIME", u"留言时间", true},
                   {"MSGID", u"留言ID", false},   {"MSGTYPE", u"类型", false},
                   {"CLOSEDATE", u"截止日期", false}, {"MSGFILE", u"附件", true},
                   {"MSGCONTENT", u"留言", true}};
    for (const auto &c : columns) {
        tessera::TColumnEh *col = DBGridData->addColumn(QString::fromLatin1(c.field),
                                                        QString::fromUtf16(c.title));
        col->Visible = c.visible;
        col->ReadOnly = true;
    }
    auto *details = new QSplitter(Qt::Horizontal, splitter);
    DBGridSite = addComponent(new tessera::TDBGridEh(details), QStringLiteral("DBGridSite"));
    DBGridSite->setDataSource(dsSiteMsg);
    DBGridSite->addColumn(QStringLiteral("MSGSITE"), QStringLiteral("收信网点"));
    DBGridSite->addColumn(QStringLiteral("HASREAD"), QStringLiteral("是否阅读"));
    DBGridSite->addColumn(QStringLiteral("READTIME"), QStringLiteral("阅读时间"));
    DBGridSite->addColumn(QStringLiteral("READEMP"), QStringLiteral("阅读人"));
    DBGridEmp = addComponent(new tessera::TDBGridEh(details), QStringLiteral("DBGridEmp"));
    DBGridEmp->setDataSource(dsEmpMsg);
    DBGridEmp->addColumn(QStringLiteral("MSGEMP"), QStringLiteral("收信员工"));
    DBGridEmp->addColumn(QStringLiteral("MSGSITE"), QStringLiteral("所属网点"));
    DBGridEmp->addColumn(QStringLiteral("HASREAD"), QStringLiteral("是否阅读"));
    DBGridEmp->addColumn(QStringLiteral("READTIME"), QStringLiteral("阅读时间"));
    for (tessera::TDBGridEh *g : {DBGridSite, DBGridEmp})
        g->setReadOnly(true);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    clientLayout()->addWidget(splitter, 1);

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
    TfDBBase::InitPDM();
    SetPDM(DM_Func());
    for (TMyDataSet *cds : {cdsData, cdsSiteMsg, cdsEmpMsg, cdsTemp})
        cds->SetMyConn(DM_Func()->cnServer);
    dtpB->setDate(QDate::currentDate());
    dtpE->setDate(QDate::currentDate());
}

void TfManagerMessage::FormClose(bool &freeOnClose)
{
    TfDBBase::FormClose(freeOnClose);
}

void TfManagerMessage::actCloseExecute()
{
    TfDBBase::actCloseExecute();
}


QString TfManagerMessage::GetSql() const
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
    // The typed site goes in as a quoted literal, so a quote in it cannot change the query.
    if (!edtSite->text().isEmpty())
        sql += QStringLiteral(" and OPSITE=") + QuotedStr(edtSite->text());
    return sql + QStringLiteral(" and a.sysid=") + QuotedVar(QStringLiteral("sysid"));
}

void TfManagerMessage::actQueryExecute()
{
    TfDBBase::actQueryExecute();
    cdsData->SetMyConn(DM_Func()->cnServer);
    cdsData->Close();
    cdsData->SetCommandText(GetSql());
    cdsData->Open();
}

void TfManagerMessage::DBGridDataMouseDown()
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    const QString id = cdsData->FieldByName(QStringLiteral("MSGID"))->AsString();
    const QString sysid = QuotedVar(QStringLiteral("sysid"));
    if (cdsData->FieldByName(QStringLiteral("SiteCnt"))->AsInteger() > 0) {
        cdsSiteMsg->Close();
        cdsSiteMsg->SetCommandText(
            QStringLiteral("select MSGSITE,HASREAD,READTIME,READEMP from TAB_MSGSITE where MSGID=")
            + QuotedStr(id) + QStringLiteral(" and sysid=") + sysid);
        cdsSiteMsg->Open();
    } else {
        cdsSiteMsg->Close(); // not the rows of the notice clicked before
    }
    if (cdsData->FieldByName(QStringLiteral("EmpCnt"))->AsInteger() > 0) {
        cdsEmpMsg->Close();
        cdsEmpMsg->SetCommandText(
            QStringLiteral("select MSGEMP,MSGSITE,HASREAD,READTIME from TAB_MSGEMP where MSGID=")
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
    if (focusedField.compare(QLatin1String("MSGFILE"), Qt::CaseInsensitive) == 0) {
        DM_Func()->OpenNoticeFile(cdsData->FieldByName(QStringLiteral("MSGFILE"))->AsString(), {});
    } else if (focusedField.compare(QLatin1String("MSGCONTENT"), Qt::CaseInsensitive) == 0) {
        DM_Func()->OpenNoticeFile({}, cdsData->FieldByName(QStringLiteral("MSGCONTENT"))->AsString());
    }
}

void TfManagerMessage::setTicks(bool invert)
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    quillon::TField *sel = cdsData->FieldByName(QStringLiteral("Sel"));
    cdsData->DisableControls();
    for (cdsData->First(); !cdsData->Eof(); cdsData->Next()) {
        const bool ticked = sel->AsInteger() == 1;
        if (invert || !ticked) {
            cdsData->Edit();
            sel->SetAsInteger(invert && ticked ? 0 : 1);
            cdsData->Post();
        }
    }
    cdsData->First();
    cdsData->EnableControls();
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
        cdsData->DisableControls();
        for (cdsData->First(); !cdsData->Eof(); cdsData->Next()) {
            QApplication::processEvents();
            if (sel->AsInteger() == 1)
                ids << QuotedStr(id->AsString());
        }
        cdsData->EnableControls();
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
        cdsTemp->ApplyUpdates(0);
    } catch (...) {
        cdsTemp->CancelUpdates();
        throw;
    }
    cdsTemp->Close();
    cdsData->Close();
    cdsData->Open();
    MSGHintDialog(QStringLiteral("操作成功!"));
}

} // namespace herald
