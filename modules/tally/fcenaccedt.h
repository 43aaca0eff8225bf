#pragma once

#include "modules/tally/cenaccfilters.h"
#include "modules/tally/financeedit.h"

class QCheckBox;
class QComboBox;

namespace tally {

// "中心账单管理": a finance centre reviews the centre account lines of a scan-time range,
// refreshes their routing (previous and next station, destination, sending site, weight)
// from the server's lookup functions, recomputes their four fees (单带: the current line,
// 批带: the marked lines) and saves with 保存.
class TfcenAccEdt : public TfFinanceEdit
{
    Q_OBJECT
public:
    explicit TfcenAccEdt(QWidget *parent = nullptr);
    ~TfcenAccEdt() override;

    CenAccBoxes boxes;
    QComboBox *cboPriorSite, *cboNextSite, *cboMdd, *cboFirstSite;
    QCheckBox *chkWeight;
    QToolButton *tbCalcOne, *tbCalcAll, *tbRefresh;

    // The routing refresh over the marked lines: the five steps in order on each.
    void sbRefreshClick();
    void actCollectionExecute() { CalcFees(false); }
    void actCollectionAffirmExecute() { CalcFees(true); }

    // The fee call with the centre-account parameters of the current line.
    double CalcFee(const QString &feeType);
    // 中转费, 扫描费, 派件费, 其他费 of the current line (batch false) or of every marked line.
    void CalcFees(bool batch);

    void RefreshPriorSite();
    void RefreshNextSite();
    void RefreshDest();
    void RefreshSendSite();
    void RefreshWeight();

    QString GetSql() override;

protected:
    void InitPDM() override;

private:
    // The fee call's values of the current line for a fee type.
    FeeArgs lineFeeArgs(const QString &feeType) const;
    // The lookups that the refresh options ask for; nullptr: none.
    const Lookup *priorSiteLookup() const;
    const Lookup *destLookup() const;
};

} // namespace tally
