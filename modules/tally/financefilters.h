#pragma once
// The option panel of the finance windows, written once for the edit and the query window
// of each subject: the boxes are added in the order the query text uses them, and the
// query text is built from them, so both windows of a subject ask the same question.
//
//   FinanceFilters f(form);
//   f.addDateRange(QStringLiteral("SCANTIME"), QStringLiteral("账单时间"), 0, 0);
//   f.addLookup(QStringLiteral("edtFinance"), ..., QStringLiteral("FINANCECENTER"), ...);
//   ...
//   QString sql = f.sql(QStringLiteral("select * from TAB_ACCOUNT "));

#include "baseforms/mydbxedit.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPlainTextEdit;

namespace tessera {
class TfDBBase;
}

namespace tally {

// Which shared lookup list feeds a box, and so its code, name and column list.
enum class LookupList { FNSite, Site, SiteSub, EmployeeSub, Mdd };

// A lookup box of the option panel. It is bound to no dataset, so its button (and F4)
// opens the lookup dialog whenever it has a list, not only on a bound record.
class FilterLookupEdit : public tessera::TMyDBXEdit
{
    Q_OBJECT
public:
    explicit FilterLookupEdit(QWidget *parent = nullptr);
    void EditButtonClick() override;
};

class FinanceFilters : public QObject
{
    Q_OBJECT
public:
    // The boxes go into the form's option panel (registered as the form's components).
    explicit FinanceFilters(tessera::TfDBBase *form);

    // ---- building (in the order the query text uses the boxes) ----------------------------
    // The date range dtB ... dtE over `column`, shown at (row, col) of the panel.
    void addDateRange(const QString &column, const QString &label, int row, int col,
                      int colSpan = 1);
    // The radio group RgpType that chooses the range's column: 建立时间 (CREATETIME) or
    // 签收时间 (SIGNTIME). The range's label follows the choice.
    void addDateColumnChoice(int row, int col);
    FilterLookupEdit *addLookup(const QString &name, const QString &label, const QString &caption,
                                const QString &column, LookupList list, int row, int col);
    // 物品类型: an empty first item, then the goods types.
    QComboBox *addGoodsType(const QString &column, int row, int col);
    // 签收类型: 全部 / 已签收 / 未签收 over a flag column.
    QComboBox *addSignType(const QString &flagColumn, int row, int col);
    // 按单号查询 and its memo, over `rowSpan` rows.
    void addBillCodes(int row, int col, int rowSpan);
    // A widget along the bottom of the panel, across all columns.
    void addBottomRow(QWidget *widget);
    // The panel's height for its rows (24 for the caption line plus the rows).
    int panelHeight() const;

    // ---- set-up and use ---------------------------------------------------------------------
    // Dates := today 00:00:00 ... 23:59:59; lookup boxes get their lists; goods types filled.
    void InitPDM();
    // head + date range + the conditions in order + " and sysid=" + Q(sysid). Refuses (with
    // a warning, then host::SilentAbort) a checked 按单号查询 without numbers or with more
    // than kMaxBillCodes.
    QString sql(const QString &head) const;

    QDateTimeEdit *dtB = nullptr;
    QDateTimeEdit *dtE = nullptr;
    QLabel *lblDate = nullptr;
    QWidget *RgpType = nullptr;
    QButtonGroup *rgpButtons = nullptr;
    QComboBox *cboGoodsType = nullptr;
    QComboBox *cboSignType = nullptr;
    QCheckBox *chkByCode = nullptr;
    QPlainTextEdit *mmoCode = nullptr;
    QList<FilterLookupEdit *> lookups() const { return m_lookups; }
    // The chosen date column (RgpType item 0: CREATETIME, item 1: SIGNTIME).
    QString dateColumn() const;

private:
    QLabel *label(const QString &text, const QString &name);
    // A label and its box at pair column `col` (the label in grid column 2*col, the box
    // after it, spanning `colSpan` pairs).
    void place(QWidget *label, QWidget *box, int row, int col, int rowSpan = 1, int colSpan = 1);

    tessera::TfDBBase *m_form;
    QString m_dateColumn;
    int m_rows = 0;
    int m_cols = 0;
    QList<FilterLookupEdit *> m_lookups;
    QList<LookupList> m_lookupLists;
    // The conditions in order; each gives its piece of the query text.
    QList<std::function<QString()>> m_conditions;
};

} // namespace tally
