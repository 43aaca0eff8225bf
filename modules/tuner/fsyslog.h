#pragma once
// "操作日志": the operation log of the deployment, read-only. Conditions: the time range
// (today by default), the table (a logged table from the list or any name typed by hand;
// empty: all) and the kind (empty, 修改 or 删除). The rows can be exported.

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

protected:
    void InitPDM() override;
};

} // namespace tuner
