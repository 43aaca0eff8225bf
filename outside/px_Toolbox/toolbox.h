#pragma once
// The shared helper functions of px_Toolbox. Each reads its parameters by name, first from
// the call's parameter lines, then from the host's shared variable list, and runs while
// the caller waits.
//
//   GridEhToExcel  Grid (address of a tessera::TDBGridEh), Title, FormatFile, ExcelFile,
//                  ConditionDescr, ShowFlag ("True": tell the user where the file went).
//                  Without ExcelFile the user chooses the file.
//   fLookupDlg     DlgSelectSQL, DlgFlag (1: multiple choice), DlgSelText, DlgCaption,
//                  DlgCode, DlgName, DlgBelong, DlgReturn (0: codes, 1: names); leaves
//                  "ReturnData" = the chosen values, comma-separated, or "CANCEL".
//   fFileUpload    DataGrid (address of a tessera::TDBGridEh), TableName, ServerDir,
//                  EncryField, ScanType, UpType, aParam: appends the rows of a chosen CSV
//                  file to the grid's dataset and applies them.
//   fParamSet      ParamSql (default: the parameter table of the user's sysid): an editable
//                  list of parameters; 保存 saves and closes, a refused save keeps the
//                  window open with the edit.

#include <QString>
#include <QStringList>

namespace quillon {
class TMyDataSet;
}

namespace toolbox {

class Params
{
public:
    explicit Params(QStringList lines = {})
        : m_lines(std::move(lines))
    {}
    QString value(const QString &name) const;
    bool has(const QString &name) const;

private:
    QStringList m_lines;
};

void GridEhToExcel(const Params &params);
void fLookupDlg(const Params &params);
// The lookup over an open dataset (what fLookupDlg does after running the query).
QString lookupOver(quillon::TMyDataSet *data, const Params &params);
void fFileUpload(const Params &params);
void fParamSet(const Params &params);
// 保存 of the parameter window: posts the edit and sends the changes. On refusal the user
// is told why and what to do, the changes stay in `ds` and the answer is false.
bool saveParameters(quillon::TMyDataSet &ds);

// Runs one of the functions by its name; throws host::UserError for an unknown name.
void execute(const QString &function, const Params &params);

} // namespace toolbox
