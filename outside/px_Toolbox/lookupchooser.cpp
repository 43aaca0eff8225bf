#include "lookupchooser.h"

#include "dataaccess/mydataset.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace toolbox {

namespace {
enum { CodeCol = 0, NameCol = 1, BelongCol = 2 };

QStringList splitKeys(const QString &text)
{
    QStringList keys;
    for (const QString &k : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!k.trimmed().isEmpty())
            keys << k.trimmed();
    return keys;
}
} // namespace

LookupChooser::LookupChooser(quillon::TMyDataSet *data, const Options &options, QWidget *parent)
    : QDialog(parent)
    , m_options(options)
{
    setObjectName(QStringLiteral("fLookupDlg"));
    setWindowTitle(options.caption.isEmpty() ? QStringLiteral("请选择") : options.caption);
    resize(460, 520);

    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("查找内容:"), this));
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("edtFindValue"));
    m_search->setPlaceholderText(QStringLiteral("请输入要查找的内容"));
    top->addWidget(m_search, 1);
    layout->addLayout(top);

    m_table = new QTableWidget(this);
    m_table->setObjectName(QStringLiteral("grdList"));
    m_table->setColumnCount(options.belongField.isEmpty() ? 2 : 3);
    QStringList titles{QStringLiteral("编码"), QStringLiteral("名称")};
    if (!options.belongField.isEmpty())
        titles << QStringLiteral("所属");
    m_table->setHorizontalHeaderLabels(titles);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);

    const int codeField = data ? data->fieldIndex(options.codeField) : -1;
    const int nameField = data ? data->fieldIndex(options.nameField) : -1;
    const int belongField = data ? data->fieldIndex(options.belongField) : -1;
    const int rows = data && data->Active() ? data->RecordCount() : 0;
    m_table->setRowCount(rows);
    const QStringList pre = splitKeys(options.preselection);
    for (int r = 0; r < rows; ++r) {
        auto cell = [&](int field) {
            return new QTableWidgetItem(field >= 0 ? data->valueAt(r, field).toString()
                                                   : QString());
        };
        QTableWidgetItem *code = cell(codeField);
        if (options.multiple)
            code->setCheckState(Qt::Unchecked);
        m_table->setItem(r, CodeCol, code);
        m_table->setItem(r, NameCol, cell(nameField));
        if (!options.belongField.isEmpty())
            m_table->setItem(r, BelongCol, cell(belongField));
    }
    for (const QString &k : pre)
        choose(k);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定(&O)"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消(&C)"));
    if (options.multiple) {
        auto *all = buttons->addButton(QStringLiteral("全选"), QDialogButtonBox::ActionRole);
        auto *none = buttons->addButton(QStringLiteral("全不选"), QDialogButtonBox::ActionRole);
        connect(all, &QPushButton::clicked, this, [this] { chooseAllVisible(true); });
        connect(none, &QPushButton::clicked, this, [this] { chooseAllVisible(false); });
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_search, &QLineEdit::textChanged, this, &LookupChooser::setSearchText);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (m_options.multiple) {
            QTableWidgetItem *it = m_table->item(row, CodeCol);
            it->setCheckState(it->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        } else {
            accept();
        }
    });
}

void LookupChooser::setSearchText(const QString &text)
{
    if (m_search->text() != text)
        m_search->setText(text);
    const QString t = text.trimmed();
    for (int r = 0; r < m_table->rowCount(); ++r) {
        bool match = t.isEmpty();
        for (int c = 0; !match && c < m_table->columnCount(); ++c)
            match = m_table->item(r, c)->text().contains(t, Qt::CaseInsensitive);
        m_table->setRowHidden(r, !match);
    }
}

int LookupChooser::visibleRowCount() const
{
    int n = 0;
    for (int r = 0; r < m_table->rowCount(); ++r)
        n += m_table->isRowHidden(r) ? 0 : 1;
    return n;
}

bool LookupChooser::choose(const QString &key, bool on)
{
    for (int r = 0; r < m_table->rowCount(); ++r) {
        if (m_table->item(r, CodeCol)->text() != key && m_table->item(r, NameCol)->text() != key)
            continue;
        if (m_options.multiple)
            m_table->item(r, CodeCol)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        else
            m_table->selectRow(r);
        return true;
    }
    return false;
}

void LookupChooser::chooseAllVisible(bool on)
{
    for (int r = 0; r < m_table->rowCount(); ++r)
        if (!m_table->isRowHidden(r))
            m_table->item(r, CodeCol)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

QString LookupChooser::result() const
{
    const int column = m_options.returnKind == 1 ? NameCol : CodeCol;
    QStringList values;
    if (m_options.multiple) {
        for (int r = 0; r < m_table->rowCount(); ++r)
            if (m_table->item(r, CodeCol)->checkState() == Qt::Checked)
                values << m_table->item(r, column)->text();
    } else {
        const auto rows = m_table->selectionModel()->selectedRows();
        if (!rows.isEmpty())
            values << m_table->item(rows.first().row(), column)->text();
    }
    return values.join(QLatin1Char(','));
}

} // namespace toolbox
