#pragma once

#include "baseforms/fdbquerybase_single.h"

#include <QDate>

class QDateEdit;
class QSplitter;
class QToolButton;

namespace quillon {
class TMyDataSet;
}
namespace tessera {
class TDataSource;
class TDBGridEh;
class TMyDBXEdit;
} // namespace tessera

namespace herald {

// "公告管理": every notice of the deployment published within a date range (optionally of
// one publishing site) with the number of its recipient sites and employees; who was
// addressed and whether they read it; opening body and attachment files; export and print
// of the list; deleting the ticked notices (the database takes their recipient and receipt
// rows and their server files with them).
class TfManagerMessage : public tessera::TfDBQueryBase_Single
{
    Q_OBJECT
public:
    explicit TfManagerMessage(QWidget *parent = nullptr);
    ~TfManagerMessage() override;

    QDateEdit *dtpB;
    QDateEdit *dtpE;
    tessera::TMyDBXEdit *edtSite;
    QSplitter *splitter;
    quillon::TMyDataSet *cdsSiteMsg;
    tessera::TDataSource *dsSiteMsg;
    tessera::TDBGridEh *DBGridSite;
    quillon::TMyDataSet *cdsEmpMsg;
    tessera::TDataSource *dsEmpMsg;
    tessera::TDBGridEh *DBGridEmp;
    quillon::TMyDataSet *cdsTemp;
    QToolButton *tbDel, *tbSelAll, *tbUnSelAll;

    // The list query for the options as they stand.
    QString GetSql() override;

    void actQueryExecute() override;
    void actDelExecute();
    void actSelAllExecute();
    void actUnSelAllExecute();
    // Loads the recipients of the current notice with their read state (是/否).
    void DBGridDataMouseDown();
    // Opens the file of the focused column (attachment or body) of the current notice.
    void DBGridDataDblClick(const QString &focusedField);

protected:
    void InitPDM() override;
    void BeforePrint() override;
    void FormClose(bool &freeOnClose) override;
    void actCloseExecute() override;

private:
    void setTicks(bool invert);
    // Rows of notices written before the original attachment name was kept show the name
    // part of the server path instead.
    void fillAttachmentNames();
};

} // namespace herald
