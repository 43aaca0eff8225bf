#include "datetimedialog.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace richedit {

DateTimeDialog::DateTimeDialog(const QDateTime &now, const QStringList &formats, QWidget *parent)
    : QDialog(parent)
    , m_formats(formats)
{
    setObjectName(QStringLiteral("DateTimeDialog"));
    setWindowTitle(QStringLiteral("日期和时间"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("lstFormats"));
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    for (const QString &format : formats)
        m_list->addItem(chinese.toString(now, format));
    m_list->setCurrentRow(0);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOk"));
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

QString DateTimeDialog::selectedFormat() const
{
    const int row = m_list->currentRow();
    return row >= 0 && row < m_formats.size() ? m_formats[row] : QString();
}

} // namespace richedit
