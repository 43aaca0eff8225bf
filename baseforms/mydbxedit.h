#pragma once

#include "baseforms/dbcontrols.h"
#include "baseforms/fdblookupdlg.h"
#include "dataaccess/mydataset.h"

#include <QPointer>

class QTableView;

namespace quillon {
class DataSetModel;
class TMyDataSet;
} // namespace quillon

namespace tessera {

class CancelModeEvent;

// A lookup edit over a lookup dataset that is already loaded on the client: typing shows a
// drop-down list of at most 20 records whose name, code or assist code contains the text
// (exact matches first); Enter or a click takes a row; leaving the edit, or any action of
// the window, checks the text against the dataset (name, code, assist code) and refuses a
// text that matches nothing. The edit button opens the full lookup dialog.
//
// The lookup dataset is not owned; the edit forgets it when it is destroyed. After a
// successful check or pick the lookup dataset stands on the chosen record, which is how a
// window reads the code of the chosen name.
class TMyDBXEdit : public TDBEditEh
{
    Q_OBJECT
public:
    explicit TMyDBXEdit(QWidget *parent = nullptr);
    ~TMyDBXEdit() override;

    QString MSD_Caption() const { return m_caption; }
    void SetMSD_Caption(const QString &caption) { m_caption = caption; }
    quillon::TMyDataSet *MSD_LookupCds() const { return m_lookupCds; }
    void SetMSD_LookupCds(quillon::TMyDataSet *dataSet);
    QString MSD_CodeField() const { return m_codeField; }
    void SetMSD_CodeField(const QString &field) { m_codeField = field; }
    QString MSD_NameField() const { return m_nameField; }
    void SetMSD_NameField(const QString &field) { m_nameField = field; }
    QString MSD_FieldList() const { return m_fieldList; }
    void SetMSD_FieldList(const QString &list);
    bool MSD_Validate() const { return m_validate; }
    void SetMSD_Validate(bool on) { m_validate = on; }
    QString MSD_AssistCodeField() const { return m_assistField; }
    void SetMSD_AssistCodeField(const QString &field) { m_assistField = field; }

    // Validates and completes the typed text; a refused text raises host::SilentAbort after
    // the hint (the edit keeps the focus).
    virtual void CheckValue();
    // Searches and shows the list (or hides it when nothing matches).
    virtual void DropDown();
    // Hides the list; with `accept` the selected row's name becomes the text.
    void CloseUp(bool accept);
    void ListMouseCloseUp(QObject *sender, bool accept);
    virtual void EditButtonClick();

    // Inspection for windows and tests.
    bool listVisible() const { return FListVisible; }
    QTableView *dataList() const { return FDataList; }
    quillon::TMyDataSet *dataListDataset() const { return FDataListDataset; }
    TfDBLookupDlg *lookupDlg() const { return FDBLookupDlg; }
    // The names shown in the list, top to bottom (empty when hidden).
    QStringList listNames() const;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    // Inherited exit handling, then CheckValue (run once the focus has moved).
    virtual void DoExit();
    virtual void CMCancelMode(CancelModeEvent *event);
    // A character changed the text: search now (the query edit starts its timer instead).
    virtual void textTyped();
    // The Down key with the list hidden.
    virtual void downKey() { DropDown(); }
    // Debug trace of focus loss and list closing (the query edit writes them).
    virtual void trace(const QString &) {}

    // The part of CheckValue after the text was cleaned; `withAssistCode` for step 7.
    void checkText(const QString &text, bool searchByNameAndCode, bool withAssistCode);
    void showOrHideList();
    bool canTakeFocus() const;
    quillon::TMyDataSet *ensureListDataset();

    bool m_destroying = false;
    QAction *FButton = nullptr;
    QPointer<TfDBLookupDlg> FDBLookupDlg;
    bool FStopList = false;
    bool FListVisible = false;
    QTableView *FDataList = nullptr;
    quillon::DataSetModel *FDataListSource = nullptr;
    quillon::TMyDataSet *FDataListDataset = nullptr;

private:
    void placeList();
    void refreshList();

    QString m_caption;
    QPointer<quillon::TMyDataSet> m_lookupCds;
    QString m_codeField;
    QString m_nameField;
    QString m_fieldList;
    bool m_validate = true;
    QString m_assistField = QStringLiteral("assistcode");
};

} // namespace tessera
