#include "finddialog.h"

#include "richeditor.h"

#include "host/dialogpresenter.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace richedit {

FindDialog::FindDialog(RichEditor *editor, const QString &text, QWidget *parent)
    : QDialog(parent)
    , m_editor(editor)
{
    setObjectName(QStringLiteral("FindDialog"));
    setWindowTitle(QStringLiteral("查找"));
    m_text = new QLineEdit(text, this);
    m_text->setObjectName(QStringLiteral("edtFind"));
    m_case = new QCheckBox(QStringLiteral("区分大小写"), this);
    m_case->setObjectName(QStringLiteral("chkCase"));
    m_wholeWord = new QCheckBox(QStringLiteral("全字匹配"), this);
    m_wholeWord->setObjectName(QStringLiteral("chkWholeWord"));
    m_backward = new QCheckBox(QStringLiteral("向上查找"), this);
    m_backward->setObjectName(QStringLiteral("chkBackward"));
    m_findNext = new QPushButton(QStringLiteral("查找下一个"), this);
    m_findNext->setObjectName(QStringLiteral("btnFindNext"));
    m_findNext->setDefault(true);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("btnClose"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("查找内容:"), this), 0, 0);
    grid->addWidget(m_text, 0, 1);
    grid->addWidget(m_findNext, 0, 2);
    grid->addWidget(m_case, 1, 0, 1, 2);
    grid->addWidget(close, 1, 2);
    grid->addWidget(m_wholeWord, 2, 0, 1, 2);
    grid->addWidget(m_backward, 3, 0, 1, 2);

    connect(m_findNext, &QPushButton::clicked, this, &FindDialog::findNext);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_text, &QLineEdit::textChanged, this,
            [this](const QString &t) { m_findNext->setEnabled(!t.isEmpty()); });
    m_findNext->setEnabled(!text.isEmpty());
}

QString FindDialog::text() const
{
    return m_text->text();
}

QTextDocument::FindFlags FindDialog::flags() const
{
    QTextDocument::FindFlags f;
    if (m_case->isChecked())
        f |= QTextDocument::FindCaseSensitively;
    if (m_wholeWord->isChecked())
        f |= QTextDocument::FindWholeWords;
    if (m_backward->isChecked())
        f |= QTextDocument::FindBackward;
    return f;
}

void FindDialog::findNext()
{
    if (text().isEmpty())
        return;
    if (!m_editor->find(text(), flags()))
        host::dialogPresenter().showMessage(host::MessageKind::Information, QStringLiteral("提示"),
                                            QStringLiteral("找不到\"%1\"。").arg(text()));
}

} // namespace richedit
