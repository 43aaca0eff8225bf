#include "baseforms/fdbmultibase_batch.h"
#include "host/errordisplay.h"

#include "dataaccess/controlsoff.h"

#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/fdbquerybase_single.h"
#include "baseforms/msgconfig.h"
#include "baseforms/report.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/ucommessage.h"
#include "dataaccess/mydataset.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"

#include <QHBoxLayout>
#include <QTime>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace tessera {

namespace {
bool isEditing(const quillon::TMyDataSet *ds)
{
    return ds->State() == quillon::DataSetState::Edit ||
           ds->State() == quillon::DataSetState::Insert;
}
} // namespace

TfDBMultiBase_Batch::TfDBMultiBase_Batch(QWidget *parent)
    : TfDBBase(parent)
{
    setObjectName(QStringLiteral("fDBMultiBase_Batch"));
    setWindowTitle(QStringLiteral("综合操作基类-批量"));
    pnlOption->setFixedHeight(65);

    tbQuery = addToolButton(actQuery, QStringLiteral("tbQuery"));
    tbNew = addToolButton(actNew, QStringLiteral("tbNew"));
    tbEdit = addToolButton(actEdit, QStringLiteral("tbEdit"));
    tbDel = addToolButton(actDel, QStringLiteral("tbDel"));
    tbSave = addToolButton(actSave, QStringLiteral("tbSave"));
    tbCancel = addToolButton(actCancel, QStringLiteral("tbCancel"));
    tbExcel = addToolButton(actExport, QStringLiteral("tbExcel"));
    tbClose = addToolButton(actClose, QStringLiteral("tbClose"));

    pnlDBGrid = addComponent(new TRzPanel(this), QStringLiteral("pnlDBGrid"));
    auto *pl = new QVBoxLayout(pnlDBGrid);
    pl->setContentsMargins(0, 0, 0, 0);
    gbDBGrid = addComponent(new TRzGroupBox(QString(), pnlDBGrid), QStringLiteral("gbDBGrid"));
    pl->addWidget(gbDBGrid);
    auto *gl = new QHBoxLayout(gbDBGrid);
    gl->setContentsMargins(2, 2, 2, 2);
    DBGridData = addComponent(new TDBGridEh(gbDBGrid), QStringLiteral("DBGridData"));
    gl->addWidget(DBGridData, 1);
    rzszpnl1 = addComponent(new TRzSizePanel(gbDBGrid), QStringLiteral("rzszpnl1"));
    rzszpnl1->setFixedWidth(325);
    rzszpnl1->hide();
    gl->addWidget(rzszpnl1);
    clientLayout()->addWidget(pnlDBGrid, 1);

    pnlDetail = addComponent(new TRzPanel(this), QStringLiteral("pnlDetail"));
    pnlDetail->setFixedHeight(34);
    auto *dl = new QVBoxLayout(pnlDetail);
    dl->setContentsMargins(0, 0, 0, 0);
    gbDetail = addComponent(new TRzGroupBox(QString(), pnlDetail), QStringLiteral("gbDetail"));
    dl->addWidget(gbDetail);
    pnlDetail->hide();
    clientLayout()->addWidget(pnlDetail);

    cdsData = addComponent(new quillon::TMyDataSet(this), QStringLiteral("cdsData"));
    dsData = addComponent(new TDataSource(this), QStringLiteral("dsData"));
    dsData->setDataSet(cdsData);
    DBGridData->setDataSource(dsData);
    detail::designResultGrid(DBGridData);
    DBGridData->setMultiSelect(true);
    DBGridData->setAlwaysShowEditor(true);
    frxReport = addComponent(new TfrxReport(this), QStringLiteral("frxReport"));
    frxReport->setDataSource(dsData);
    frxDBDataset = addComponent(new QObject(this), QStringLiteral("frxDBDataset"));

    setExecuteHandler(actNew, [this] { actNewExecute(); });
    setExecuteHandler(actEdit, [this] { actEditExecute(); });
    setExecuteHandler(actDel, [this] { actDelExecute(); });
    setExecuteHandler(actSave, [this] { actSaveExecute(); });
    setExecuteHandler(actCancel, [this] { actCancelExecute(); });
    setExecuteHandler(actPrint, [this] { actPrintExecute(); });
    setExecuteHandler(actExport, [this] { actExportExecute(); });
    setExecuteHandler(actChart, [this] { ShowChart(DBGridData); });

    auto notEmpty = [this] { return cdsData->Active() && !cdsData->IsEmpty(); };
    setUpdateHandler(actNew, [] { return true; });
    setUpdateHandler(actEdit, [this, notEmpty] {
        return notEmpty() && cdsData->State() == quillon::DataSetState::Browse;
    });
    setUpdateHandler(actDel, notEmpty);
    setUpdateHandler(actSave, [this] { return cdsData->Active(); });
    // The cancel action follows the save action's enabled state.
    setUpdateHandler(actCancel, [this] { return cdsData->Active(); });
    setUpdateHandler(actPrint, notEmpty);
    setUpdateHandler(actExport, notEmpty);
    setUpdateHandler(actChart, [this] {
        const quillon::TMyDataSet *ds = sourceDataSet();
        return ds && ds->Active() && !ds->IsEmpty();
    });
}

TfDBMultiBase_Batch::~TfDBMultiBase_Batch() = default;

quillon::TMyDataSet *TfDBMultiBase_Batch::sourceDataSet() const
{
    return dsData->DataSet();
}

bool TfDBMultiBase_Batch::hasPendingChanges() const
{
    if (!cdsData->Active())
        return false;
    return cdsData->ChangeCount() > 0 || (isEditing(cdsData) && cdsData->Modified());
}

bool TfDBMultiBase_Batch::resolvePendingChanges()
{
    if (!hasPendingChanges())
        return true;
    QString text = QStringLiteral("%1: 有修改尚未保存。是否保存？").arg(windowTitle());
    const host::Answer answer =
        host::dialogPresenter().showMessage(host::MessageKind::Question, QStringLiteral("询问"),
                                            text, host::QuestionButtons::YesNoCancel);
    switch (answer) {
    case host::Answer::Yes:
    case host::Answer::Ok:
        try {
            actSaveExecute();
        } catch (const host::SilentAbort &) {
            return false;
        } catch (const std::exception &) {
            const host::ErrorText t = host::describeException(std::current_exception());
            ErrorDialog(t.text, t.details);
            return false;
        }
        return !hasPendingChanges();
    case host::Answer::No:
        if (isEditing(cdsData))
            cdsData->Cancel();
        cdsData->CancelUpdates();
        return true;
    case host::Answer::Cancel:
        break;
    }
    return false;
}

bool TfDBMultiBase_Batch::CloseQuery()
{
    if (!TfDBBase::CloseQuery())
        return false;
    // The focused lookup edit commits or refuses its text first, as before every action.
    if (QWidget *active = GetActiveControl(); active && isAncestorOf(active))
        if (!alActionExecute(actClose))
            return false;
    return resolvePendingChanges();
}

void TfDBMultiBase_Batch::actQueryExecute()
{
    TfDBBase::actQueryExecute();
    // A new query would drop the changes not saved yet.
    if (!resolvePendingChanges())
        throw host::SilentAbort();
    const QString sql = GetSql();
    quillon::ControlsOff off(cdsData);
    OpenCds(cdsData, sql);
    AfterQuery();
    cdsData->First();
}

void TfDBMultiBase_Batch::focusGridForEditing()
{
    if (DBGridData->isEnabled() && DBGridData->isVisible() && !DBGridData->ReadOnly())
        DBGridData->view()->setFocus();
}

void TfDBMultiBase_Batch::actNewExecute()
{
    focusGridForEditing();
    if (quillon::TMyDataSet *ds = sourceDataSet())
        ds->Append();
}

void TfDBMultiBase_Batch::actEditExecute()
{
    focusGridForEditing();
    if (quillon::TMyDataSet *ds = sourceDataSet())
        ds->Edit();
}

void TfDBMultiBase_Batch::actDelExecute()
{
    if (!MSGQuestionDialog(msgText(QStringLiteral("Msg15"))))
        return;
    if (quillon::TMyDataSet *ds = sourceDataSet())
        ds->Delete();
    cdsData->ApplyUpdates(0);
}

void TfDBMultiBase_Batch::actSaveExecute()
{
    if (isEditing(cdsData))
        if (quillon::TMyDataSet *ds = sourceDataSet())
            ds->Post();
    const int changes = cdsData->ChangeCount();
    cdsData->ApplyUpdates(0);
    showStatus(changes > 0 ? QStringLiteral("保存成功：%1 条记录已写入服务器（%2）")
                                 .arg(changes)
                                 .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")))
                           : QStringLiteral("没有需要保存的修改"));
}

void TfDBMultiBase_Batch::actCancelExecute()
{
    if (!MSGQuestionDialog(msgText(QStringLiteral("Msg16"))))
        return;
    if (isEditing(cdsData))
        cdsData->Cancel();
    cdsData->CancelUpdates();
}

void TfDBMultiBase_Batch::actPrintExecute()
{
    quillon::TMyDataSet *ds = sourceDataSet();
    quillon::ControlsOff off(ds);
    PrintGrid(frxReport, DBGridData, ReportName);
    frxReport->ShowReport();
}

void TfDBMultiBase_Batch::actExportExecute()
{
    ExportToExcel(DBGridData, windowTitle(), QString(), QString(), QString(), true);
}

void TfDBMultiBase_Batch::cdsDataBeforePost(quillon::TMyDataSet &dataSet)
{
    for (int i = 0; i < dataSet.FieldCount(); ++i) {
        const quillon::TField *f = dataSet.Fields(i);
        if (!f->Required() || !f->AsString().isEmpty())
            continue;
        TColumnEh *column = DBGridData->columnByField(f->FieldName());
        // A required field without a column is named by its label.
        const QString title = column ? column->title() : f->DisplayLabel();
        MSGWarningDialog(title + msgText(QStringLiteral("Msg17")));
        if (column && column->Visible) {
            QTableView *view = DBGridData->view();
            int row = view->currentIndex().row();
            if (row < 0)
                row = DBGridData->gridRow(dataSet.currentPosition());
            if (row < 0)
                row = 0;
            view->setCurrentIndex(view->model()->index(row, column->index()));
        }
        throw host::SilentAbort();
    }
}

} // namespace tessera
