#pragma once

#include "baseforms/fdbbase.h"

class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillon {
class TMyDataSet;
}
namespace richedit {
class RichEditor;
}

namespace herald {

// "未阅读公告": the notices of the last ten days addressed to the signed-on user's site
// or to him personally that he has not read, as loaded by the data module. Clicking a
// notice leaves his read receipt and shows its body; a double click opens the attachment
// (or else the body) with the desktop's program; a column header sorts.
class TfNoReadMessage : public tessera::TfDBBase
{
    Q_OBJECT
public:
    explicit TfNoReadMessage(QWidget *parent = nullptr);
    ~TfNoReadMessage() override;

    QTreeWidget *lvMsg;
    QSplitter *splitter;
    richedit::RichEditor *LMDRichEdit;
    quillon::TMyDataSet *cdsTemp;

    // Column of the list for each value (0 is the caption, 1.. are sub-items 0..9).
    enum Column {
        ColTime, ColObject, ColSite, ColEmp, ColOpSite, ColOpEmp, ColType, ColCloseDate,
        ColFile, ColContent, ColId, ColumnCount
    };

    // Fills the list from the data module's unread list.
    void FillList();

    // One list item of the current record of a notice query (the columns above). The
    // attachment column shows the attachment's name; its server path and original name
    // ride along as item data (AttachmentPathRole, AttachmentNameRole).
    static QTreeWidgetItem *NoticeItem(const quillon::TMyDataSet *data);
    static constexpr int AttachmentPathRole = Qt::UserRole;
    static constexpr int AttachmentNameRole = Qt::UserRole + 1;
    // Grid lines and a selected row that stays readable, focused or not.
    static void StyleNoticeList(QTreeWidget *list);
    // Opens the attachment (else the body file) of a list item.
    static void OpenItemFile(const QTreeWidgetItem *item);
    void lvMsgClick();
    void lvMsgDblClick();
    void lvMsgColumnClick(int column);

    int sortColumn() const { return m_sortColumn; }
    bool sortAscending() const { return m_ascending; }

protected:
    void FormCreate() override;
    void FormShow() override;
    void InitPDM() override;
    void FormClose(bool &freeOnClose) override;
    void actCloseExecute() override;

private:
    // Runs a handler; errors reach the user as the default error display shows them.

    int m_sortColumn = -1;
    bool m_ascending = true;
    bool m_filled = false;
};

} // namespace herald
