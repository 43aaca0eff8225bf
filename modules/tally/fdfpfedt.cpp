#include "modules/tally/fdfpfedt.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "host/errordisplay.h"
#include "modules/tally/financetables.h"

#include <QComboBox>
#include <QPushButton>

namespace tally {

TfDFPFEdt::TfDFPFEdt(QWidget *parent)
    : TfFinanceEdit(parent)
{
    setObjectName(QStringLiteral("fDFPFEdt"));
    setWindowTitle(QStringLiteral("派件费管理"));

    boxes = buildRecordFilters(*filters, false);
    filters->addBottomRow(pnlRun);
    pnlOption->setFixedHeight(filters->panelHeight());

    actCalc->setText(QStringLiteral("算费"));
    actCalc->setToolTip(QStringLiteral("计算派件费"));
    actRefresh->setToolTip(QStringLiteral("显示或隐藏目的地、寄件站、重量的刷新选项"));
    tbRefresh = addToolButton(actRefresh, QStringLiteral("tbRefresh"), QStringLiteral("tbSave"));
    tbCalc = addToolButton(actCalc, QStringLiteral("tbCalc"), QStringLiteral("tbSave"));
    setExecuteHandler(actCalc, [this] { actCalcExecute(); });

    cboMdd = addSideChoice(QStringLiteral("cboMdd"), QStringLiteral("刷新目的地选项"),
                           {QStringLiteral("录单目的地刷目的地"), QStringLiteral("签收站默认发件地刷目的地")});
    cboFirstSite = addSideChoice(QStringLiteral("cboFirstSite"), QStringLiteral("刷新寄件站选项"),
                                 {QStringLiteral("发放刷寄件站"), QStringLiteral("录单刷寄件站")});
    cboWeight = addSideChoice(QStringLiteral("cboWeight"), QStringLiteral("刷新重量选项"),
                              {QStringLiteral("录单刷重量"), QStringLiteral("账单刷重量")});
    connect(sbRefresh, &QPushButton::clicked, this, [this] { host::guarded([this] { sbRefreshClick(); }); });

    setGridColumns(DBGridData, dfpfColumns(),
                   {QStringLiteral("WEIGHT"), QStringLiteral("JZPAYMONEY"), QStringLiteral("PZGETMONEY")});
}

TfDFPFEdt::~TfDFPFEdt() = default;

QString TfDFPFEdt::GetSql()
{
    return filters->sql(QString::fromUtf16(kDfpfHead));
}

void TfDFPFEdt::sbRefreshClick()
{
    if (!commitTypedInput())
        return;
    const RunEnd end = RunSelected(QStringLiteral("请先选择需要刷新的记录!"), QStringLiteral("刷新操作完成!"), [this] {
        RefreshDest();
        RefreshFirstSite();
        RefreshWeight();
    });
    clearMarksAfter(end);
}

void TfDFPFEdt::RefreshDest()
{
    const int item = cboMdd->currentIndex();
    if (item != 1 && item != 2)
        return;
    const QString dest = LookupCall(QStringLiteral("F_GetAccMdd"), item == 1 ? QStringLiteral(",0,") : QStringLiteral(",1,"),
                                    QStringLiteral("mResult"), QStringLiteral("获取目的地"));
    if (!dest.isEmpty())
        setFieldText(QStringLiteral("DEST"), dest);
}

void TfDFPFEdt::RefreshFirstSite()
{
    const int item = cboFirstSite->currentIndex();
    if (item != 1 && item != 2)
        return;
    const QString site = LookupCall(QStringLiteral("F_GetFirstSite"),
                                    item == 1 ? QStringLiteral(",0,") : QStringLiteral(",1,"),
                                    QStringLiteral("mResult"), QStringLiteral("获取寄件站"));
    if (!site.isEmpty())
        setFieldText(QStringLiteral("FIRSTSITE"), site);
}

void TfDFPFEdt::RefreshWeight()
{
    const int item = cboWeight->currentIndex();
    if (item != 1 && item != 2)
        return;
    const QString weight = LookupCall(QStringLiteral("F_GetWeight"),
                                      item == 1 ? QStringLiteral(",0,") : QStringLiteral(",2,"),
                                      QStringLiteral("mResult"), QStringLiteral("获取重量"));
    // Only a positive weight replaces the record's, even a smaller one.
    const double value = toDecimal(weight);
    if (value > 0)
        setFieldDecimal(QStringLiteral("WEIGHT"), value);
}

double TfDFPFEdt::CalcFee(const QString &feeType)
{
    return TfFinanceEdit::CalcFee(recordFeeArgs(feeType));
}

void TfDFPFEdt::actCalcExecute()
{
    const RunEnd end = RunSelected(QStringLiteral("请先选择需要算费的记录!"), QStringLiteral("操作完成!"), [this] {
        const double fee = CalcFee(QStringLiteral("派件费"));
        setFieldDecimal(QStringLiteral("JZPAYMONEY"), fee);
        setFieldDecimal(QStringLiteral("PZGETMONEY"), fee);
    });
    clearMarksAfter(end);
}

} // namespace tally
