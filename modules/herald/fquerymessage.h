#pragma once

#include "baseforms/fdbbase.h"

#include <QDate>

class QComboBox;
class QDateEdit;
class QSplitter;
class QTreeWidget;

namespace quillon {
class TMyDataSet;
}
namespace richedit {
class RichEditor;
}
namespace tessera {
class TDataSource;
class TDBGridEh;
} // namespace tessera

namespace herald {

// "公告查询": the notices addressed to the signed-on user (to his site, or to him at his
// site) published within a date range, all or only the read or unread ones. Selecting a
// notice leaves his read receipt and shows its body; a double click opens the attachment
// or body file; the result can be exported.
class TfQueryMessage : public tessera::TfDBBase
{
    Q_OBJECT
public:
    explicit TfQueryMessage(QWidget *parent = nullptr);
    ~TfQueryMessage() override;

    QDateEdit *BDate;
    QDateEdit *EDate;
    QComboBox *ComboBox1;
    QSplitter *splitter;
    QTreeWidget *lvMsg;
    richedit::RichEditor *LMDRichEdit;
    tessera::TDBGridEh *DBGridData;
    tessera::TDataSource *dsData;
    quillon::TMyDataSet *cdsData;
    // The receipts are looked up and written here, so the query result (and the export)
    // stays as it was queried.
    quillon::TMyDataSet *cdsRead;

    // The query for a date range and a read state ("", "已阅读" or "未阅读").
    static QString QuerySql(const QDate &from, const QDate &to, const QString &readState);

    void actQueryExecute() override;
    void actExportExecute();
    void lvMsgClick();
    void lvMsgDblClick();

protected:
    void InitPDM() override;
    void FormShow() override;
    void FormClose(bool &freeOnClose) override;
    void actCloseExecute() override;

private:
    void fillList();

    bool m_shown = false;
};

} // namespace herald
