#pragma once
// "操作日志": the operation log of the deployment, read-only. Conditions: the time range
// (today by default), the table (a logged table from the list, shown by its caption, or
// any name typed by hand; empty: all) and the kind (empty, 修改, 删除, then every further
// kind the server writes: 新增, 系统). Tables, kinds and the columns named in the details show with
// the captions of the windows, the technical names beside them. 切换 moves the conditions
// to the other side of the window. The rows can be exported.

#include "baseforms/fdbquerybase_single.h"

class QComboBox;
class QDateTimeEdit;

namespace tuner {

class TfSysLog : public tessera::TfDBQueryBase_Single
{
    Q_OBJECT
public:
    explicit TfSysLog(QWidget *parent = nullptr);
    ~TfSysLog() override;

    QDateTimeEdit *dtDateB;
    QDateTimeEdit *dtDateE;
    QComboBox *cboTable;
    QComboBox *cboType;
    quillon::TMyDataSet *cdsTables;

    QString GetSql() override;
    // The table that the condition names: the technical name of a listed caption, or the
    // text as typed.
    QString tableCondition() const;

protected:
    void InitPDM() override;
    void actQueryExecute() override;

private:
    void actSwitchExecute();
    // Adds the captions of tables, kinds and columns to the rows that the query read.
    void showCaptions();
};

} // namespace tuner
