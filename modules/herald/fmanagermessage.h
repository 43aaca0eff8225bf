#pragma once

#include "baseforms/fdbbase.h"

#include <QDate>

class QDateEdit;
class QLineEdit;
class QSplitter;

namespace quillon {
class TMyDataSet;
}
namespace tessera {
class TDataSource;
class TDBGridEh;
} // namespace tessera

namespace herald {

// "公告管理": every notice of the deployment published within a date range (optionally of
// one publishing site) with the number of its recipient sites and employees; who was
// addressed and whether they read it; opening body and attachment files; deleting the
// ticked notices.
class TfManagerMessage : public tessera::TfDBBase
{
    Q_OBJECT
public:
    explicit TfManagerMessage(QWidget *parent = nullptr);
    ~TfManagerMessage() override;

    QDateEdit *dtpB;
    QDateEdit *dtpE;
    QLineEdit *edtSite;
    quillon::TMyDataSet *cdsData;
    tessera::TDataSource *dsData;
    tessera::TDBGridEh *DBGridData;
    QSplitter *splitter;
    quillon::TMyDataSet *cdsSiteMsg;
    tessera::TDataSource *dsSiteMsg;
    tessera::TDBGridEh *DBGridSite;
    quillon::TMyDataSet *cdsEmpMsg;
    tessera::TDataSource *dsEmpMsg;
    tessera::TDBGridEh *DBGridEmp;
    quillon::TMyDataSet *cdsTemp;

    // The list query for the options as they stand.
    QString GetSql() const;

    void actQueryExecute() override;
    void actDelExecute();
    void actSelAllExecute();
    void actUnSelAllExecute();
    // Loads the recipients of the current notice.
    void DBGridDataMouseDown();
    // Opens the file of the focused column (attachment or body) of the current notice.
    void DBGridDataDblClick(const QString &focusedField);

protected:
    void InitPDM() override;
    void FormClose(bool &freeOnClose) override;
    void actCloseExecute() override;

private:
    void setTicks(bool invert);
};

} // namespace herald
