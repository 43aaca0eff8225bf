#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QTableWidget;

namespace quillon {
class TMyDataSet;
}

namespace toolbox {

// The selection dialog behind "fLookupDlg": the rows of a query with code, name and owner
// columns, a search box that narrows the list, single or multiple choice (check boxes),
// preselection from the caller's text. The result is the comma-separated codes (return
// kind 0) or names (return kind 1) of the chosen rows, in list order.
class LookupChooser : public QDialog
{
    Q_OBJECT
public:
    struct Options
    {
        QString caption;
        QString codeField;
        QString nameField;
        QString belongField;
        bool multiple = false;
        int returnKind = 0;   // 0: codes, 1: names
        QString preselection; // comma-separated codes or names
    };
    LookupChooser(quillon::TMyDataSet *data, const Options &options, QWidget *parent = nullptr);

    void setSearchText(const QString &text);
    int visibleRowCount() const;
    // Checks (multiple) or selects (single) the row whose code or name is `key`.
    bool choose(const QString &key, bool on = true);
    void chooseAllVisible(bool on);
    QString result() const;
    QTableWidget *table() const { return m_table; }

private:
    Options m_options;
    QLineEdit *m_search;
    QTableWidget *m_table;
};

} // namespace toolbox
