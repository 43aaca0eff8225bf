#include "modules/herald/fquerymessage.h"

#include "host/errordisplay.h"
#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/ucommessage.h"
#include "dataaccess/mydataset.h"
#include "host/errors.h"
#include "modules/framework/funcs.h"
#include "modules/herald/fnoreadmessage.h"
#include "modules/herald/udm_func.h"
#include "richedit/richeditor.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace herald {

using framework::QuotedVar;
using quillon::TMyDataSet;
using Col = TfNoReadMessage::Column;

TfQueryMessage::TfQueryMessage(QWidget *parent)
    : TfDBBase(parent)
{
    setObjectName(QStringLiteral("fQueryMessage"));
    setWindowTitle(QStringLiteral("公告查询"));
    addToolButton(actQuery, QStringLiteral("btnQuery"));
    addToolButton(actExport, QStringLiteral("btnExport"));
    addToolButton(actClose, QStringLiteral("btnClose"));
    setExecuteHandler(actExport, [this] { actExportExecute(); });

    QGridLayout *opt = optionLayout();
    auto label = [this](const QString &text, const QString &name) {
        return addComponent(new QLabel(text, gbOption), name);
    };
    BDate = addComponent(new QDateEdit(gbOption), QStringLiteral("BDate"));
    EDate = addComponent(new QDateEdit(gbOption), QStringLiteral("EDate"));
    for (QDateEdit *d : {BDate, EDate}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setDate(QDate::currentDate());
    }
    ComboBox1 = addComponent(new QComboBox(gbOption), QStringLiteral("ComboBox1"));
    ComboBox1->addItems({QString(), QStringLiteral("已阅读"), QStringLiteral("未阅读")});
    ComboBox1->setCurrentIndex(2);
    opt->addWidget(label(QStringLiteral("公告时间从"), QStringLiteral("lblB")), 0, 0);
    opt->addWidget(BDate, 0, 1);
    opt->addWidget(label(QStringLiteral("到"), QStringLiteral("lblE")), 0, 2);
    opt->addWidget(EDate, 0, 3);
    opt->addWidget(label(QStringLiteral("阅读状态"), QStringLiteral("lblState")), 0, 4);
    opt->addWidget(ComboBox1, 0, 5);
    opt->setColumnStretch(6, 1);

    splitter = addComponent(new QSplitter(Qt::Vertical, this), QStringLiteral("splitter"));
    lvMsg = addComponent(new QTreeWidget(splitter), QStringLiteral("lvMsg"));
    lvMsg->setRootIsDecorated(false);
    lvMsg->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvMsg->setSelectionMode(QAbstractItemView::SingleSelection);
    lvMsg->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvMsg->setAllColumnsShowFocus(true);
    TfNoReadMessage::StyleNoticeList(lvMsg);
    const struct
    {
        const char16_t *caption;
        int width;
    } columns[Col::ColumnCount] = {{u"时间", 140},    {u"主题", 233},     {u"收件网点", 117},
                                   {u"收件员工", 100}, {u"发表网点", 88},  {u"发表人", 82},
                                   {u"类型", 58},      {u"保留时间", 140}, {u"附件", 120},
                                   {u"留言", 100},     {u"ID", 100}};
    QStringList headers;
    for (const auto &c : columns)
        headers << QString::fromUtf16(c.caption);
    lvMsg->setHeaderLabels(headers);
    for (int i = 0; i < Col::ColumnCount; ++i)
        lvMsg->setColumnWidth(i, columns[i].width);
    LMDRichEdit = addComponent(new richedit::RichEditor(splitter), QStringLiteral("LMDRichEdit"));
    LMDRichEdit->setToolBarVisible(false);
    LMDRichEdit->setRulerVisible(false);
    LMDRichEdit->setReadOnly(true);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    clientLayout()->addWidget(splitter, 1);

    cdsData = addComponent(new TMyDataSet(this), QStringLiteral("cdsData"));
    cdsRead = addComponent(new TMyDataSet(this), QStringLiteral("cdsRead"));
    dsData = addComponent(new tessera::TDataSource(this), QStringLiteral("dsData"));
    dsData->setDataSet(cdsData);
    DBGridData = addComponent(new tessera::TDBGridEh(this), QStringLiteral("DBGridData"));
    DBGridData->setDataSource(dsData);
    DBGridData->addColumn(QStringLiteral("OPTIME"), QStringLiteral("时间"));
    DBGridData->addColumn(QStringLiteral("MSGOBJECT"), QStringLiteral("主题"));
    DBGridData->addColumn(QStringLiteral("MSGSITE"), QStringLiteral("收件网点"));
    DBGridData->addColumn(QStringLiteral("OPSITE"), QStringLiteral("发表网点"));
    DBGridData->addColumn(QStringLiteral("OPEMP"), QStringLiteral("发表人"));
    DBGridData->addColumn(QStringLiteral("MSGTYPE"), QStringLiteral("类型"));
    DBGridData->addColumn(QStringLiteral("CLOSEDATE"), QStringLiteral("保留时间"));
    DBGridData->hide(); // kept for the export only

    connect(lvMsg, &QTreeWidget::itemClicked, this, [this] { host::guarded([this] { lvMsgClick(); }); });
    connect(lvMsg, &QTreeWidget::itemDoubleClicked, this,
            [this] { host::guarded([this] { lvMsgDblClick(); }); });
}

TfQueryMessage::~TfQueryMessage() = default;

void TfQueryMessage::InitPDM()
{
    TfDBBase::InitPDM();
    SetPDM(DM_Func());
    cdsData->SetMyConn(DM_Func()->cnServer);
    cdsRead->SetMyConn(DM_Func()->cnServer);
}

void TfQueryMessage::FormShow()
{
    TfDBBase::FormShow();
    // Only when the window first shows: coming back to its page keeps the user's dates and
    // list.
    if (m_shown)
        return;
    m_shown = true;
    BDate->setDate(QDate::currentDate());
    EDate->setDate(QDate::currentDate());
    lvMsg->clear();
}

void TfQueryMessage::FormClose(bool &freeOnClose)
{
    TfDBBase::FormClose(freeOnClose);
}

void TfQueryMessage::actCloseExecute()
{
    TfDBBase::actCloseExecute();
}


QString TfQueryMessage::QuerySql(const QDate &from, const QDate &to, const QString &readState)
{
    const QString b = from.toString(QStringLiteral("yyyy-MM-dd"));
    const QString e = to.toString(QStringLiteral("yyyy-MM-dd"));
    const QString site = QuotedVar(QStringLiteral("LogOnSiteName"));
    const QString emp = QuotedVar(QStringLiteral("LogOnEmpName"));
    const QString sysid = QuotedVar(QStringLiteral("sysid"));
    QString filter;
    if (readState == QStringLiteral("未阅读") || readState == QStringLiteral("已阅读")) {
        filter = (readState == QStringLiteral("未阅读") ? QStringLiteral(" and not exists")
                                                       : QStringLiteral(" and  exists"))
                 + QStringLiteral(" (select 1 from TAB_MSGREAD c where MSGReadSite = ") + site
                 + QStringLiteral(" and MSGReader = ") + emp + QStringLiteral(" and a.MSGID =c.MSGID)");
    }
    const QString range = QStringLiteral(" and b.OPTIME between to_date('") + b
                          + QStringLiteral(" 00:00:00','yyyy-mm-dd HH24:mi:ss')")
                          + QStringLiteral(" and to_date('") + e
                          + QStringLiteral(" 23:59:59','yyyy-mm-dd HH24:mi:ss') ");
    return QStringLiteral("select b.*,a.MSGSITE,null as MSGEMP from TAB_MSGSITE a,TAB_MSGRECORD b "
                          "where a.MSGID=b.MSGID and a.sysid=b.sysid and a.MSGSITE=")
           + site + range + filter + QStringLiteral("  and a.sysid=") + sysid
           + QStringLiteral(" union all ")
           + QStringLiteral("select b.*,a.MSGSITE,a.MSGEMP from TAB_MSGEMP a,TAB_MSGRECORD b "
                            "where a.MSGID=b.MSGID and a.sysid=b.sysid")
           + QStringLiteral(" and a.MSGSITE=") + site + QStringLiteral(" and a.MSGEMP=") + emp
           + TDM_Func::NotAlsoToTheSiteSql() + range
           + filter + QStringLiteral("  and a.sysid=") + sysid;
}

void TfQueryMessage::actQueryExecute()
{
    if (BDate->date() > EDate->date()) {
        MSGWarningDialog(QStringLiteral("开始日期不能大于结束日期"));
        return;
    }
    TfDBBase::actQueryExecute();
    cdsData->SetMyConn(DM_Func()->cnServer);
    cdsData->Close();
    cdsData->SetCommandText(QuerySql(BDate->date(), EDate->date(), ComboBox1->currentText()));
    cdsData->Open();
    if (cdsData->IsEmpty())
        return; // an empty result leaves the list as it was
    cdsData->SetIndexFieldNames(QStringLiteral("OPTIME"));
    fillList();
}

void TfQueryMessage::fillList()
{
    lvMsg->clear();
    cdsData->SetIndexFieldNames(cdsData->Fields(0)->FieldName());
    QList<QTreeWidgetItem *> items;
    cdsData->DisableControls();
    for (cdsData->First(); !cdsData->Eof(); cdsData->Next())
        items << TfNoReadMessage::NoticeItem(cdsData);
    cdsData->First();
    cdsData->EnableControls();
    lvMsg->addTopLevelItems(items);
    if (!items.isEmpty()) {
        lvMsg->setCurrentItem(items.first());
        lvMsg->setFocus();
    }
}

void TfQueryMessage::lvMsgClick()
{
    QTreeWidgetItem *item = lvMsg->currentItem();
    if (!item || !item->isSelected())
        return;
    DM_Func()->WriteReadReceipt(cdsRead, item->text(Col::ColId));
    DM_Func()->ShowBody(item->text(Col::ColContent), item->text(Col::ColId), LMDRichEdit);
}

void TfQueryMessage::lvMsgDblClick()
{
    QTreeWidgetItem *item = lvMsg->currentItem();
    if (!item || !item->isSelected())
        return;
    TfNoReadMessage::OpenItemFile(item);
}

void TfQueryMessage::actExportExecute()
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    ExportToExcel(DBGridData, windowTitle(), QString(), QString(), QString(), true);
}

} // namespace herald
