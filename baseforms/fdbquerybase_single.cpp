#include "baseforms/fdbquerybase_single.h"

#include "dataaccess/controlsoff.h"

#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/environment.h"
#include "baseforms/report.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace tessera {

namespace detail {
void designResultGrid(TDBGridEh *grid)
{
    grid->setReadOnly(true);
    grid->setTitleButtons(true);
    grid->setLocalSorting(true);
    grid->setFilterRowVisible(true);
    grid->setFooterRowCount(1);
    grid->setSumListActive(true);
    grid->FixedColor = colorFromBgr(16636634);
    grid->FooterColor = colorFromBgr(16636634);
    grid->OddRowColor = colorFromBgr(16707053);
    grid->applyColors();
}
} // namespace detail

TfDBQueryBase_Single::TfDBQueryBase_Single(QWidget *parent)
    : TfDBBase(parent)
{
    setObjectName(QStringLiteral("fDBQueryBase_Single"));
    setWindowTitle(QStringLiteral("数据查询基类-单一结果集"));

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
    DBGridData = addComponent(new TDBGridEh(gbDBGrid), QStringLiteral("DBGridData"));
    gl->addWidget(DBGridData);
    clientLayout()->addWidget(pnlDBGrid, 1);

    pnlTotal = addComponent(new TRzPanel(this), QStringLiteral("pnlTotal"));
    pnlTotal->setFixedHeight(27);
    auto *tl = new QVBoxLayout(pnlTotal);
    tl->setContentsMargins(0, 0, 0, 0);
    gbTotal = addComponent(new TRzGroupBox(QString(), pnlTotal), QStringLiteral("gbTotal"));
    tl->addWidget(gbTotal);
    pnlTotal->hide();
    clientLayout()->addWidget(pnlTotal);

    cdsData = addComponent(new quillon::TMyDataSet(this), QStringLiteral("cdsData"));
    dsData = addComponent(new TDataSource(this), QStringLiteral("dsData"));
    dsData->setDataSet(cdsData);
    DBGridData->setDataSource(dsData);
    detail::designResultGrid(DBGridData);
    frxReport = addComponent(new TfrxReport(this), QStringLiteral("frxReport"));
    frxReport->setDataSource(dsData);
    frxDBDataset = addComponent(new QObject(this), QStringLiteral("frxDBDataset"));

    setExecuteHandler(actExport, [this] { actExportExecute(); });
    setExecuteHandler(actPrint, [this] { actPrintExecute(); });
    setExecuteHandler(actChart, [this] { ShowChart(DBGridData); });
    setUpdateHandler(actExport, [this] { return hasData(); });
    setUpdateHandler(actPrint, [this] { return hasData(); });
    setUpdateHandler(actChart, [this] { return hasData(); });
}

TfDBQueryBase_Single::~TfDBQueryBase_Single() = default;

bool TfDBQueryBase_Single::hasData() const
{
    return cdsData->Active() && !cdsData->IsEmpty();
}

void TfDBQueryBase_Single::actQueryExecute()
{
    TfDBBase::actQueryExecute();
    OpenCds(cdsData, GetSql());
}

void TfDBQueryBase_Single::actExportExecute()
{
    ExportToExcel(DBGridData, windowTitle(), QString(), QString(), QString(), true);
}

void TfDBQueryBase_Single::actPrintExecute()
{
    quillon::ControlsOff off(cdsData);
    PrintGrid(frxReport, DBGridData, ReportName);
    BeforePrint();
    frxReport->ShowReport();
}

} // namespace tessera
