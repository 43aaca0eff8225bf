#pragma once

#include "baseforms/fdbquerybase_single.h"

class QDateTimeEdit;
class QLabel;

namespace richedit {
class RichEditor;
}
namespace tessera {
class TMyDBXEdit;
}

namespace herald {

// "公告阅读查询": read receipts within a range of reading days, optionally of one reading
// site and one reader; a double click shows the notice behind a receipt (bodies of both
// server layouts), whose attachment opens from its name.
class TfReadQMessage : public tessera::TfDBQueryBase_Single
{
    Q_OBJECT
public:
    explicit TfReadQMessage(QWidget *parent = nullptr);
    ~TfReadQMessage() override;

    QDateTimeEdit *dtpReadDateB;
    QDateTimeEdit *dtpReadDateE;
    tessera::TMyDBXEdit *edtSite;
    tessera::TMyDBXEdit *edtEmp;
    QLabel *lblSite, *lblRecSite, *lblUser, *lblDate, *lblObject, *lblLuyan;
    richedit::RichEditor *LMDRichEdit;

    QString GetSql() override;
    // Shows the notice of the current receipt.
    void DBGridDataDblClick();

protected:
    void InitPDM() override;
    void FormClose(bool &freeOnClose) override;

private:
    // The attachment of the receipt shown (server path, original name).
    QString m_attachment;
    QString m_attachmentName;
};

} // namespace herald
