#pragma once

#include "modules/tally/financeedit.h"
#include "modules/tally/recordfilters.h"

class QCheckBox;
class QPlainTextEdit;

namespace tally {

// "到付款管理": pay-on-delivery records of a creation- or signing-time range. The user marks
// records and computes their handling fee (算费: one fee into JZPAYCHARGE and PZGETCHARGE)
// or sets their signing site with a note added to the remark (刷新 in the side panel);
// then saves with 保存.
class TfDFKEdt : public TfFinanceEdit
{
    Q_OBJECT
public:
    explicit TfDFKEdt(QWidget *parent = nullptr);
    ~TfDFKEdt() override;

    RecordBoxes boxes;
    FilterLookupEdit *edtSIGNSITE;
    QPlainTextEdit *mmoNote;
    // "获取远程签收站": hidden; when checked, a record without a chosen site gets the one the
    // server knows (F_GetSignSite).
    QCheckBox *chkGet;
    QToolButton *tbRefresh, *tbCalcOne;

    void actCalcExecute();
    void sbRefreshClick();
    double CalcFee(const QString &feeType);

    QString GetSql() override;

protected:
    void InitPDM() override;

private:
    void refreshRecord();
};

} // namespace tally
