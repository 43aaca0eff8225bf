#pragma once
// "系统功能更新登记": the register of program updates. Rows of a time range (today by
// default), optionally only those whose library name contains a text, are shown in the
// grid; the side panel edits the current row. New rows get a random id, the current time,
// the user's name and the deployment key; changes are saved in one batch.

#include "baseforms/fdbmultibase_batch.h"

class QDateTimeEdit;
class QLineEdit;

namespace tessera {
class TDBCheckBoxEh;
class TDBDateTimeEditEh;
class TDBEditEh;
class TDBMemo;
} // namespace tessera

namespace tuner {

class TfSysUpdate : public tessera::TfDBMultiBase_Batch
{
    Q_OBJECT
public:
    explicit TfSysUpdate(QWidget *parent = nullptr);
    ~TfSysUpdate() override;

    QDateTimeEdit *dtDateB;
    QDateTimeEdit *dtDateE;
    QLineEdit *edtDllName;
    tessera::TDBEditEh *edtUTHEME;
    tessera::TDBMemo *mmoUCONTENT;
    tessera::TDBEditEh *edtUDLLNAME;
    tessera::TDBDateTimeEditEh *dtCTime;
    tessera::TDBEditEh *edtUVERSION;
    tessera::TDBCheckBoxEh *chkFlag;
    tessera::TDBEditEh *edtUPATH;

    QString GetSql() override;
    // The defaults of a new row: random id, now, the user's name, the deployment key.
    void cdsDataNewRecord(quillon::TMyDataSet &dataSet);

    // `text` as one quoted LIKE pattern that matches it literally anywhere in a value:
    // % and _ and the escape character are escaped, quotes doubled.
    static QString containsPattern(const QString &text);
    // A random id 0 <= id < 999999999 from the system's secure generator.
    static int newId();

protected:
    void InitPDM() override;

private:
    void saveWithFreshIdsOnCollision();
    void actSwitchExecute();
};

} // namespace tuner
