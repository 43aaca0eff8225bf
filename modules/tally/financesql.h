#pragma once
// The text rules that every finance window shares: SQL literals, the date range, filter
// conditions, the waybill-number restriction, the calls of the server's lookup functions
// and of its fee function. Pure functions: the windows build on them, tests check them.

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace tally {

// `text` as an SQL string literal: in single quotes, every quote inside doubled.
QString Q(const QString &text);

// " where <column> between to_date('<from>','YYYY-MM-DD HH24:MI:SS')  and to_date(...) ".
QString dateRangeSql(const QString &column, const QString &from, const QString &to);

// " and <column>=" + Q(text), or nothing when the text is empty.
QString conditionSql(const QString &column, const QString &text);

// The sign status condition: item 1 signed, item 2 not signed (an empty flag counts as not
// signed), anything else nothing.
QString signStatusSql(const QString &flagColumn, int item);

// The waybill numbers of a memo: one per line, trimmed, blank lines and repeats dropped,
// in the order typed.
QStringList billCodesOf(const QString &memoText);
// More numbers than this are refused with a message (the database's "in" list limit).
inline constexpr int kMaxBillCodes = 1000;
// " and BILLCODE in ('a','b') " for a non-empty list.
QString billCodeSql(const QStringList &codes);

// A text read as a decimal the way the fee and weight rules read it: blanks around are
// ignored, anything that is not a number counts as 0.
double toDecimal(const QString &text);
int toInteger(const QString &text);

// "select F(<bill>,<sysid>) as R from dual", where `separator` is "," for the two-argument
// functions and ",0,", ",1," or ",2," for the functions with a mode.
QString lookupCallSql(const QString &function, const QString &billCode, const QString &separator,
                      const QString &sysid, const QString &resultName);

// The fee call's command text (with its leading blank); the fifteen parameters "1".."15"
// travel beside it.
QString feeCallSql();

// The fifteen values of one fee call, in parameter order.
struct FeeArgs
{
    QString firstSite;   // 1 Pi_FirstSite
    QString dest;        // 2 Pi_Dest
    QString feeType;     // 3 Pi_FeeType
    int pcs = 0;         // 4 Pi_PCS
    double weight = 0;   // 5 Pi_Weight
    double bulkWeight = 0; // 6 Pi_BulkWeight
    QString fastType;    // 7 Pi_FastType
    QString goodsType;   // 8 Pi_GoodsType
    QString sevrType;    // 9 Pi_SevrType
    QString transType;   // 10 Pi_TransType
    QString finance;     // 11 Pi_Finance
    QString opSite;      // 12 Pi_OpSite
    QString cusName;     // 13 Pi_CusName
    QDateTime validTime; // 14 Pi_ValidTime
    QString sysid;       // 15 Pi_sysid
};

// The remark after a note was added: "R;N" ("N" alone when R is empty), the note's line
// breaks kept (as "\n") and the blanks and empty lines around it dropped. A blank note
// leaves R as it is.
QString remarkWithNote(const QString &remark, const QString &note);

} // namespace tally
