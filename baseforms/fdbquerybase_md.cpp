#include "baseforms/fdbquerybase_md.h"

#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/fdbquerybase_single.h"
#include "baseforms/report.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"

#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace tessera {

TfDBQueryBase_MD::TfDBQueryBase_MD(QWidget *parent)
    : TfDBBase(parent)
{
    setObjectName(QStringLiteral("fDBQueryBase_MD"));
    setWindowTitle(QStringLiteral("数据查询基类-主从"));

    tbQuery = addToolButton(actQuery, QStringLiteral("tbQuery"));
    tbExcel = addToolButton(actExport, QStringLiteral("tbExcel"));
    tbPrint = addToolButton(actPrint, QStringLiteral("tbPrint"));
    tbChart = addToolButton(actChart, QStringLiteral("tbChart"));
    tbClose = addToolButton(actClose, QStringLiteral("tbClose"));

    pnlDBGrid = addComponent(new TRzPanel(this), QStringLiteral("pnlDBGrid"));
    auto *pl = new QVBoxLayout(pnlDBGrid);
    pl->setContentsMargins(0, 0, 0, 0);
    gbDBGrid = addComponent(new TRzGroupBox(QString(), pnlDBGrid), QStringLiteral("gbDBGrid"));
    pl->addWidget(gbDBGrid);
    auto *gl = new QVBoxLayout(gbDBGrid);
    gl->setContentsMargins(2, 2, 2, 2);
    pcDBGrid = addComponent(new QTabWidget(gbDBGrid), QStringLiteral("pcDBGrid"));
    gl->addWidget(pcDBGrid);

    tsTotal = addComponent(new QWidget, QStringLiteral("tsTotal"));
    auto *totalLayout = new QVBoxLayout(tsTotal);
    totalLayout->setContentsMargins(0, 0, 0, 0);
    DBGridTotal = addComponent(new TDBGridEh(tsTotal), QStringLiteral("DBGridTotal"));
    totalLayout->addWidget(DBGridTotal, 1);
    gbTotal = addComponent(new TRzGroupBox(QString(), tsTotal), QStringLiteral("gbTotal"));
    gbTotal->hide();
    totalLayout->addWidget(gbTotal);
    pcDBGrid->addTab(tsTotal, QStringLiteral("汇总"));

    tsDetail = addComponent(new QWidget, QStringLiteral("tsDetail"));
    auto *detailLayout = new QVBoxLayout(tsDetail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    DBGridDetail = addComponent(new TDBGridEh(tsDetail), QStringLiteral("DBGridDetail"));
    detailLayout->addWidget(DBGridDetail);
    pcDBGrid->addTab(tsDetail, QStringLiteral("明细"));
    pcDBGrid->setCurrentIndex(0);
    clientLayout()->addWidget(pnlDBGrid, 1);

    cdsTotal = addComponent(new quillon::TMyDataSet(this), QStringLiteral("cdsTotal"));
    dsTotal = addComponent(new TDataSource(this), QStringLiteral("dsTotal"));
    dsTotal->setDataSet(cdsTotal);
    cdsDetail = addComponent(new quillon::TMyDataSet(this), QStringLiteral("cdsDetail"));
    dsDetail = addComponent(new TDataSource(this), QStringLiteral("dsDetail"));
    dsDetail->setDataSet(cdsDetail);
    detail::designResultGrid(DBGridTotal);
    detail::designResultGrid(DBGridDetail);
    frxReport = addComponent(new TfrxReport(this), QStringLiteral("frxReport"));
    frxReport->setDataSource(dsTotal);
    frxDBDataset = addComponent(new QObject(this), QStringLiteral("frxDBDataset"));

    setExecuteHandler(actExport, [this] { actExportExecute(); });
    setExecuteHandler(actPrint, [this] { actPrintExecute(); });
    setExecuteHandler(actChart, [this] {
        ShowChart(pcDBGrid->currentIndex() != 0 ? DBGridDetail : DBGridTotal);
    });
    setUpdateHandler(actExport, [this] { return hasData(); });
    setUpdateHandler(actPrint, [this] { return hasData(); });
    setUpdateHandler(actChart, [this] { return hasData(); });
}

TfDBQueryBase_MD::~TfDBQueryBase_MD() = default;

bool TfDBQueryBase_MD::hasData() const
{
    return cdsTotal->Active() && !cdsTotal->IsEmpty();
}

void TfDBQueryBase_MD::actQueryExecute()
{
    TfDBBase::actQueryExecute();
    OpenCds(cdsTotal, GetSql());
}

void TfDBQueryBase_MD::actExportExecute()
{
    const bool detailShown = pcDBGrid->currentIndex() != 0;
    TDBGridEh *grid = detailShown ? DBGridDetail : DBGridTotal;
    const TDataSource *source = grid->DataSource();
    if (!source || !source->isActive() || source->recordCount() == 0)
        return;
    const QString suffix = detailShown ? QStringLiteral("-明细") : QStringLiteral("-汇总");
    ExportToExcel(grid, windowTitle() + suffix, QString(), QString(), QString(), true);
}

void TfDBQueryBase_MD::actPrintExecute()
{
    cdsTotal->DisableControls();
    struct Enable
    {
        quillon::TMyDataSet *ds;
        ~Enable() { ds->EnableControls(); }
    } enable{cdsTotal};
    PrintGrid(frxReport, DBGridTotal, ReportName);
    frxReport->ShowReport();
}

} // namespace tessera
