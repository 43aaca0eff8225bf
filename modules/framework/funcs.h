#pragma once
// Helpers shared by the module libraries: the lookup datasets that the host keeps in the
// shared variable list, dataset checks, combo-box filling and log-on values.
//
//   auto *sites = framework::GetCdsSiteSub();      // nullptr when the host has none
//   if (framework::CheckDataSet(cds, true)) ...

#include <QString>
#include <QStringList>

class QComboBox;

namespace host {
class IDBCommObj;
class IFuncObj;
} // namespace host
namespace quillon {
class TMyDataSet;
}

namespace framework {

// The dataset attached to the line of g_lstVars whose whole text equals `name` (not a
// name=value line); nullptr when there is no such line or no dataset on it. Nothing is
// created or opened.
quillon::TMyDataSet *GetCdsByLine(const QString &name);
quillon::TMyDataSet *GetCdsSite();        // "cdsSite"
quillon::TMyDataSet *GetCdsSiteSub();     // "cdsSiteSub"
quillon::TMyDataSet *GetCdsEmployeeAll(); // "cdsEmployeeAll"
quillon::TMyDataSet *GetCdsEmployeeSub(); // "cdsEmployeeSub"
quillon::TMyDataSet *GetCdsMdd();         // "cdsMdd"
quillon::TMyDataSet *GetCdsGoodsType();   // "cdsGoodsType"
quillon::TMyDataSet *GetCdsFNSite();      // "cdsFNSite"

// True when the dataset is open and holds a record. Otherwise, with showMessage, tells the
// user "当前的记录集没有打开或记录集中没有数据!".
bool CheckDataSet(quillon::TMyDataSet *dataSet, bool showMessage);

// Fills a combo box from one field of a dataset in one update: clears it when `clear`,
// adds `firstItem` unless it is "N", then each value of the field not listed yet. False
// when walking the dataset failed (the combo keeps what was added until then).
bool FillComboBox(quillon::TMyDataSet *dataSet, QComboBox *combo, const QString &fieldName,
                  bool clear, const QString &firstItem);

// "LogOnEmpName" of the shared variables.
QString GetLogOnEmpName();

// The value of shared variable `name` quoted as an SQL string (inner quotes doubled).
QString QuotedVar(const QString &name);
// A text quoted as an SQL string.
QString QuotedStr(const QString &text);

// The host's function and database objects (made on first use when the program has not
// published them yet).
host::IFuncObj *FuncObj();
host::IDBCommObj *DBConn();

// Splits a comma-separated list the way list texts are read back: commas and blanks
// separate items, double quotes group (a doubled quote inside quotes is one quote), and
// empty items between separators are dropped.
QStringList SplitCommaText(const QString &text);

} // namespace framework
