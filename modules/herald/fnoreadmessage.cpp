#include "modules/herald/fnoreadmessage.h"

#include "host/errordisplay.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/ucommessage.h"
#include "dataaccess/mydataset.h"
#include "host/errors.h"
#include "modules/framework/funcs.h"
#include "modules/herald/udm_func.h"
#include "richedit/richeditor.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace herald {

using quillon::TMyDataSet;

TfNoReadMessage::TfNoReadMessage(QWidget *parent)
    : TfDBBase(parent)
{
    setObjectName(QStringLiteral("fNoReadMessage"));
    setWindowTitle(QStringLiteral("未阅读公告"));
    addToolButton(actClose, QStringLiteral("btnClose"));
    pnlOption->hide();

    splitter = addComponent(new QSplitter(Qt::Vertical, this), QStringLiteral("splitter"));
    lvMsg = addComponent(new QTreeWidget(splitter), QStringLiteral("lvMsg"));
    lvMsg->setRootIsDecorated(false);
    lvMsg->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvMsg->setSelectionMode(QAbstractItemView::SingleSelection);
    lvMsg->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvMsg->setAllColumnsShowFocus(true);
    StyleNoticeList(lvMsg);
    const struct
    {
        const char16_t *caption;
        int width;
    } columns[ColumnCount] = {{u"时间", 140},    {u"主题", 200},     {u"收件网点", 100},
                              {u"收信员工", 100}, {u"发表网点", 75},  {u"发表人", 70},
                              {u"类型", 50},      {u"保留时间", 140}, {u"附件", 120},
                              {u"留言", 100},     {u"ID", 100}};
    QStringList headers;
    for (const auto &c : columns)
        headers << QString::fromUtf16(c.caption);
    lvMsg->setHeaderLabels(headers);
    for (int i = 0; i < ColumnCount; ++i)
        lvMsg->setColumnWidth(i, columns[i].width);
    lvMsg->header()->setSectionsClickable(true);
    lvMsg->header()->setSortIndicatorShown(false);

    LMDRichEdit = addComponent(new richedit::RichEditor(splitter), QStringLiteral("LMDRichEdit"));
    LMDRichEdit->setToolBarVisible(false);
    LMDRichEdit->setRulerVisible(false);
    LMDRichEdit->setReadOnly(true);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    clientLayout()->addWidget(splitter, 1);

    cdsTemp = addComponent(new TMyDataSet(this), QStringLiteral("cdsTemp"));

    connect(lvMsg, &QTreeWidget::itemClicked, this, [this] { host::guarded([this] { lvMsgClick(); }); });
    connect(lvMsg, &QTreeWidget::itemDoubleClicked, this,
            [this] { host::guarded([this] { lvMsgDblClick(); }); });
    connect(lvMsg->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { lvMsgColumnClick(column); });
}

TfNoReadMessage::~TfNoReadMessage() = default;

void TfNoReadMessage::InitPDM()
{
    TfDBBase::InitPDM();
    SetPDM(DM_Func());
    cdsTemp->SetMyConn(DM_Func()->cnServer);
}

void TfNoReadMessage::FormCreate()
{
    TfDBBase::FormCreate();
    m_ascending = true;
}

void TfNoReadMessage::FormShow()
{
    TfDBBase::FormShow();
    // A window already on screen keeps its list when the function runs again.
    if (!m_filled) {
        m_filled = true;
        FillList();
    }
}

void TfNoReadMessage::FormClose(bool &freeOnClose)
{
    TfDBBase::FormClose(freeOnClose);
}

void TfNoReadMessage::actCloseExecute()
{
    TfDBBase::actCloseExecute();
}


void TfNoReadMessage::FillList()
{
    lvMsg->clear();
    TMyDataSet *data = DM_Func()->cdsMSGData;
    if (!data->Active() || data->RecordCount() == 0)
        return;
    data->SetIndexFieldNames(data->Fields(0)->FieldName());
    QList<QTreeWidgetItem *> items;
    items.reserve(data->RecordCount());
    data->DisableControls();
    data->First();
    while (!data->Eof()) {
        items << NoticeItem(data);
        data->Next();
    }
    data->EnableControls();
    lvMsg->addTopLevelItems(items);
}

QTreeWidgetItem *TfNoReadMessage::NoticeItem(const TMyDataSet *data)
{
    auto text = [data](const char *field) {
        quillon::TField *f = data->FindField(QString::fromLatin1(field));
        return f ? f->AsString() : QString();
    };
    auto *item = new QTreeWidgetItem;
    item->setText(ColTime, text("OPTIME").trimmed());
    item->setText(ColObject, text("MSGOBJECT").trimmed());
    item->setText(ColSite, text("MSGSITE").trimmed());
    item->setText(ColEmp, text("MSGEMP").trimmed());
    item->setText(ColOpSite, text("OPSITE").trimmed());
    item->setText(ColOpEmp, text("OPEMP").trimmed());
    item->setText(ColType, text("MSGTYPE").trimmed());
    item->setText(ColCloseDate, text("CLOSEDATE").trimmed());
    const QString file = text("MSGFILE").trimmed();
    const QString fileName = text("MSGFILENAME").trimmed();
    item->setText(ColFile, TDM_Func::AttachmentName(file, fileName));
    item->setData(ColFile, AttachmentPathRole, file);
    item->setData(ColFile, AttachmentNameRole, fileName);
    item->setText(ColContent, text("MSGCONTENT").trimmed());
    item->setText(ColId, text("MSGID"));
    return item;
}

void TfNoReadMessage::StyleNoticeList(QTreeWidget *list)
{
    // A style sheet for the item borders takes over the whole item drawing, selection
    // included: the selected row keeps the palette's highlight so its text stays legible.
    list->setStyleSheet(QStringLiteral(
        "QTreeView::item { border-right: 1px solid #d0d0d0; border-bottom: 1px solid #d0d0d0; "
        "color: palette(text); }"
        "QTreeView::item:selected { background: palette(highlight); "
        "color: palette(highlighted-text); }"
        "QTreeView::item:selected:!active { background: #cfe3f7; color: palette(text); }"));
}

void TfNoReadMessage::OpenItemFile(const QTreeWidgetItem *item)
{
    DM_Func()->OpenNoticeFile(item->data(ColFile, AttachmentPathRole).toString(),
                              item->data(ColFile, AttachmentNameRole).toString(),
                              item->text(ColContent), item->text(ColId));
}

void TfNoReadMessage::lvMsgClick()
{
    QTreeWidgetItem *item = lvMsg->currentItem();
    if (!item || !item->isSelected())
        return;
    DM_Func()->WriteReadReceipt(cdsTemp, item->text(ColId));
    DM_Func()->ShowBody(item->text(ColContent), item->text(ColId), LMDRichEdit);
}

void TfNoReadMessage::lvMsgDblClick()
{
    QTreeWidgetItem *item = lvMsg->currentItem();
    if (!item || !item->isSelected())
        return;
    OpenItemFile(item);
}

void TfNoReadMessage::lvMsgColumnClick(int column)
{
    if (column < 0 || column >= ColumnCount)
        return;
    // The first click sorts ascending; every further click reverses the direction.
    if (m_sortColumn < 0)
        m_ascending = true;
    else
        m_ascending = !m_ascending;
    m_sortColumn = column;
    QList<QTreeWidgetItem *> items;
    while (lvMsg->topLevelItemCount() > 0)
        items << lvMsg->takeTopLevelItem(0);
    const bool ascending = m_ascending;
    std::stable_sort(items.begin(), items.end(),
                     [column, ascending](QTreeWidgetItem *a, QTreeWidgetItem *b) {
                         const int c = QString::compare(a->text(column), b->text(column),
                                                        Qt::CaseInsensitive);
                         return ascending ? c < 0 : c > 0;
                     });
    lvMsg->addTopLevelItems(items);
}

} // namespace herald
