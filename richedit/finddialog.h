#pragma once

#include <QDialog>
#include <QTextDocument>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace richedit {

class RichEditor;

// The find dialog of the editor: search text (edtFind), match case (chkCase), whole words
// (chkWholeWord), search upwards (chkBackward); "查找下一个" (btnFindNext) selects the
// next match in the editor and stays open, "关闭" (btnClose) closes.
class FindDialog : public QDialog
{
    Q_OBJECT

public:
    FindDialog(RichEditor *editor, const QString &text, QWidget *parent = nullptr);

    QString text() const;
    QTextDocument::FindFlags flags() const;

private:
    void findNext();

    RichEditor *m_editor;
    QLineEdit *m_text;
    QCheckBox *m_case;
    QCheckBox *m_wholeWord;
    QCheckBox *m_backward;
    QPushButton *m_findNext;
};

} // namespace richedit
