#include "modules/tally/fdfkedt.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "host/errordisplay.h"
#include "modules/framework/funcs.h"
#include "modules/tally/financetables.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tally {

namespace {
const Lookup kSignSite{QStringLiteral("F_GetSignSite"), -1, QStringLiteral("sResult"), QStringLiteral("获取签收站")};
const QString kHandlingFee = QStringLiteral("到付款手续费");
} // namespace

TfDFKEdt::TfDFKEdt(QWidget *parent)
    : TfFinanceEdit(parent)
{
    setObjectName(QStringLiteral("fDFKEdt"));
    setWindowTitle(QStringLiteral("到付款管理"));

    boxes = buildRecordFilters(*filters, true);
    filters->addBottomRow(pnlRun);
    pnlOption->setFixedHeight(filters->panelHeight());

    actCalc->setText(QStringLiteral("算费"));
    actCalc->setToolTip(QStringLiteral("计算到付款手续费"));
    actRefresh->setToolTip(QStringLiteral("显示或隐藏签收站刷新选项"));
    tbRefresh = addToolButton(actRefresh, QStringLiteral("tbRefresh"), QStringLiteral("tbSave"));
    tbCalcOne = addToolButton(actCalc, QStringLiteral("tbCalcOne"), QStringLiteral("tbSave"));
    setExecuteHandler(actCalc, [this] { actCalcExecute(); });

    edtSIGNSITE = addComponent(new FilterLookupEdit(rzszpnl1), QStringLiteral("edtSIGNSITE"));
    edtSIGNSITE->SetMSD_Caption(QStringLiteral("签收网点"));
    edtSIGNSITE->SetMSD_CodeField(QStringLiteral("SiteCode"));
    edtSIGNSITE->SetMSD_NameField(QStringLiteral("SiteName"));
    edtSIGNSITE->SetMSD_FieldList(QStringLiteral("SiteCode,网点编号;SiteName,网点名称"));
    sideLayout()->addRow(addComponent(new QLabel(QStringLiteral("签收站"), rzszpnl1),
                                      QStringLiteral("lblSIGNSITE")),
                         edtSIGNSITE);
    mmoNote = addComponent(new QPlainTextEdit(rzszpnl1), QStringLiteral("mmoNote"));
    mmoNote->setPlaceholderText(QStringLiteral("加到每条记录备注后面的说明（可不填）"));
    mmoNote->setMaximumHeight(80);
    sideLayout()->addRow(addComponent(new QLabel(QStringLiteral("备注"), rzszpnl1),
                                      QStringLiteral("lblNote")),
                         mmoNote);
    chkGet = addComponent(new tessera::TRzCheckBox(QStringLiteral("获取远程签收站"), rzszpnl1),
                          QStringLiteral("chkGet"));
    chkGet->setChecked(false);
    chkGet->hide();
    sideLayout()->addRow(QString(), chkGet);
    connect(sbRefresh, &QPushButton::clicked, this, [this] { host::guarded([this] { sbRefreshClick(); }); });

    setGridColumns(DBGridData, dfkEditColumns());
}

TfDFKEdt::~TfDFKEdt() = default;

void TfDFKEdt::InitPDM()
{
    TfFinanceEdit::InitPDM();
    edtSIGNSITE->SetMSD_LookupCds(framework::GetCdsSite());
}

QString TfDFKEdt::GetSql()
{
    return filters->sql(QString::fromUtf16(kDfkHead));
}

double TfDFKEdt::CalcFee(const QString &feeType)
{
    return TfFinanceEdit::CalcFee(recordFeeArgs(feeType));
}

void TfDFKEdt::actCalcExecute()
{
    RunRecipe recipe;
    recipe.noMarkWarning = QStringLiteral("请先选择需要算费的记录!");
    recipe.doneHint = QStringLiteral("操作完成!");
    recipe.plan = [this] { return QList<ServerCall>{planFee(recordFeeArgs(kHandlingFee))}; };
    recipe.step = [this] {
        // The sending station owes what the delivering station earns: one fee, both columns.
        const double fee = CalcFee(kHandlingFee);
        setFieldDecimal(QStringLiteral("JZPAYCHARGE"), fee);
        setFieldDecimal(QStringLiteral("PZGETCHARGE"), fee);
    };
    clearMarksAfter(runLines(Lines::Marked, recipe));
}

void TfDFKEdt::sbRefreshClick()
{
    if (!commitTypedInput())
        return;
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    if (!chkGet->isChecked() && edtSIGNSITE->text().isEmpty()) {
        MSGWarningDialog(QStringLiteral("请选择签收站!"));
        return;
    }
    RunRecipe recipe;
    recipe.noMarkWarning = QStringLiteral("请先选择需要刷新的记录!");
    recipe.doneHint = QStringLiteral("刷新操作完成!");
    recipe.plan = [this] {
        return edtSIGNSITE->text().isEmpty() ? QList<ServerCall>{planLookup(kSignSite)} : QList<ServerCall>{};
    };
    recipe.step = [this] { refreshRecord(); };
    clearMarksAfter(runLines(Lines::Marked, recipe));
}

void TfDFKEdt::refreshRecord()
{
    QString site = edtSIGNSITE->text();
    if (site.isEmpty()) {
        site = LookupCall(kSignSite);
        if (site.isEmpty())
            return; // the server knows none: the record keeps its values and its remark
    }
    setFieldText(QStringLiteral("SIGNSITE"), site);
    const QString note = mmoNote->toPlainText();
    if (note.trimmed().isEmpty())
        return;
    const QString remark = remarkWithNote(fieldText(QStringLiteral("REMARK")), note);
    // A remark longer than its column would be refused at 保存 and take the whole batch
    // with it: refuse it here, for this record.
    const int size = cdsData->FieldByName(QStringLiteral("REMARK"))->Size();
    if (size > 0 && remark.size() > size)
        throw RunError(QStringLiteral("运单[%1]的备注加上说明后有%2个字，超过了%3个字的上限")
                            .arg(fieldText(QStringLiteral("BillCode")))
                            .arg(remark.size())
                            .arg(size),
                        QStringLiteral("请缩短备注说明"));
    setFieldText(QStringLiteral("REMARK"), remark);
}

} // namespace tally
