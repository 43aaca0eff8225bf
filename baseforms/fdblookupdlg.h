#pragma once

#include "baseforms/fbase.h"
#include "dataaccess/mydataset.h"

#include <QPointer>
#include <QStringList>

class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quillon {
class TMyDataSet;
}

namespace tessera {

class TDataSource;
class TDBGridEh;

// Splits a field list the way the lookup dialog reads it: `delimiter` and runs of blanks
// separate, a part enclosed in double quotes keeps its blanks and delimiters ("" inside
// quotes is one quote). With `stripQuotes` false the quotes stay in the parts, so that the
// parts can be split again.
QStringList splitDelimitedText(const QString &text, QChar delimiter, bool stripQuotes = true);

// The modal record-picking dialog: chosen columns of an open lookup dataset in a grid, an
// incremental search in one column or in all of them, and the value of the lookup field of
// the chosen record as the result.
//
// The dialog lives inside its own modal frame (a QDialog), which its owner owns: give the
// owner to the constructor and delete frame() to free both.
class TfDBLookupDlg : public TfBase
{
    Q_OBJECT
public:
    // `owner` owns the frame (nullptr: the caller deletes frame()).
    explicit TfDBLookupDlg(QWidget *owner = nullptr);
    ~TfDBLookupDlg() override;

    QDialog *frame() const { return m_frame; }

    QString StrCaption() const { return m_caption; }
    void SetStrCaption(const QString &caption) { m_caption = caption; }
    quillon::TMyDataSet *LookupTable() const { return m_lookupTable; }
    void SetLookupTable(quillon::TMyDataSet *table);
    QString LookupField() const { return m_lookupField; }
    void SetLookupField(const QString &field) { m_lookupField = field; }
    QString ShowFieldList() const { return m_fieldList; }
    void SetShowFieldList(const QString &list);
    QString SearchText() const { return m_searchText; }
    void SetSearchText(const QString &text);
    QString ReturnValue() const { return m_returnValue; }
    bool hasInit() const { return FHasInit; }

    // Shows the dialog modally through the host's dialog presenter; true on OK.
    bool ShowModal();

    // 70 when the text of "Msg32" occurs in the title, else 120.
    static int CalcColumnWidth(const QString &title);
    // The field of the first column titled exactly `title`; empty when none.
    QString GetFieldName(const QString &title) const;
    // Moves the lookup dataset to the first record matching the search edit's text.
    void DoSearchText();

    // Components of the design.
    QWidget *pnlLookupCol;
    QLabel *lbl1;
    QComboBox *cbbIndexFields;
    QWidget *pnlLookupValue;
    QLabel *lblFindField;
    QLineEdit *edtFindValue;
    TDBGridEh *dbgrdhMain;
    TDataSource *dsMain;
    QPushButton *btnOk;
    QPushButton *btnCancel;

    void cbbIndexFieldsChange();
    void edtFindValueChange() { DoSearchText(); }
    void dbgrdhMainDblClick() { btnOkClick(); }
    void btnOkClick();
    void btnCancelClick();

protected:
    // At creation the usual restyling; from the first showing, the columns and the chooser.
    void InitData() override;
    void FormShow() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void edtFindValueKeyDown(QKeyEvent *event, bool &handled);
    bool locateIn(const QString &field, const QString &text);

    QDialog *m_frame;
    QPointer<quillon::TMyDataSet> m_lookupTable;
    QString m_caption;
    QString m_lookupField;
    QString m_fieldList;
    QString m_searchText;
    QString m_returnValue;
    bool FHasInit = false;
    bool m_building = false;
};

// The lookup dialog for the data forms' edit and grid-column lookups: checks the
// configuration ("Msg22" to "Msg25" as warnings, empty result), shows the dialog and
// returns the chosen value, or `SearchText` unchanged when the user cancels.
QString ShowFindForm(const QString &caption, quillon::TMyDataSet *dataSet,
                     const QString &lookupField, const QString &showFieldList,
                     const QString &searchText);

// The warning box for missing lookup configuration; false (after the warning) when the
// dataset, its state, the lookup field or the field list is missing.
bool checkLookupConfig(quillon::TMyDataSet *dataSet, const QString &lookupField,
                       const QString &showFieldList);

} // namespace tessera
