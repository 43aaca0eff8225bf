#include "fsites.h"

#include "baseforms/rzcontrols.h"
#include "dataaccess/packet/datapacket.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTreeWidget>

namespace warden {

namespace {
constexpr int kCodeRole = Qt::UserRole;
const char16_t *const kLevels[] = {u"总部", u"财务中心", u"网点"};
} // namespace

TfSites::TfSites(QWidget *parent)
    : TfWardenBase(parent)
{
    setObjectName(QStringLiteral("fSites"));
    setWindowTitle(QStringLiteral("级别管理"));
    addEntryTools([this] { actNewExecute(); }, [this] { actSaveExecute(); },
                  [this] { actCancelExecute(); }, [this] { return !currentCode().isEmpty(); });
    addToolButton(actDel, QStringLiteral("btnDel"));
    addToolButton(actClose, QStringLiteral("btnClose"));
    setExecuteHandler(actDel, [this] { actDelExecute(); });
    setUpdateHandler(actDel, [this] { return !m_new && !currentCode().isEmpty(); });
    pnlOption->hide();

    auto *splitter = addComponent(new QSplitter(Qt::Horizontal, this), QStringLiteral("splitter"));
    tvSites = addComponent(new QTreeWidget(splitter), QStringLiteral("tvSites"));
    tvSites->setHeaderLabels({QStringLiteral("网点"), QStringLiteral("编号"), QStringLiteral("级别"),
                              QStringLiteral("财务中心")});
    tvSites->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    auto *box = addComponent(new tessera::TRzGroupBox(QStringLiteral("网点资料"), splitter),
                             QStringLiteral("gbDetail"));
    auto *form = new QFormLayout(box);
    form->setContentsMargins(12, 16, 12, 12);
    edtCode = addComponent(new QLineEdit(box), QStringLiteral("edtCode"));
    edtCode->setMaxLength(20);
    edtName = addComponent(new QLineEdit(box), QStringLiteral("edtName"));
    edtName->setMaxLength(50);
    cbParent = addComponent(new QComboBox(box), QStringLiteral("cbParent"));
    cbLevel = addComponent(new QComboBox(box), QStringLiteral("cbLevel"));
    for (int i = 0; i < 3; ++i)
        cbLevel->addItem(QString::fromUtf16(kLevels[i]), QString::number(i));
    chkFinance = addComponent(new QCheckBox(QStringLiteral("是财务中心（结算本中心下属网点的账务）"), box),
                              QStringLiteral("chkFinance"));
    form->addRow(QStringLiteral("网点编号"), edtCode);
    form->addRow(QStringLiteral("网点名称"), edtName);
    form->addRow(QStringLiteral("上级网点"), cbParent);
    form->addRow(QStringLiteral("级别"), cbLevel);
    form->addRow(QString(), chkFinance);
    auto *hint = new QLabel(QStringLiteral("网点编号建立后不能修改。改名时，下属网点、员工中的网点名称随之更新。\n"
                                           "有下属网点、用户或员工的网点不能删除。"),
                            box);
    hint->setWordWrap(true);
    form->addRow(QString(), hint);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    clientLayout()->addWidget(splitter, 1);

    connect(tvSites, &QTreeWidget::currentItemChanged, this, [this] {
        m_new = false;
        showCurrent();
    });
    connect(cbLevel, &QComboBox::currentIndexChanged, this, [this](int level) {
        // Only a finance centre carries the flag by default; the head office has no parent.
        cbParent->setEnabled(level != 0);
        if (level == 0)
            cbParent->setCurrentIndex(-1);
    });
}

// The children go after this body: their last signals must not reach a half-destroyed form.
TfSites::~TfSites()
{
    disconnect(tvSites, nullptr, this, nullptr);
}

QString TfSites::currentCode() const
{
    const QTreeWidgetItem *item = tvSites->currentItem();
    return item ? item->data(0, kCodeRole).toString() : QString();
}

bool TfSites::selectSite(const QString &code)
{
    QList<QTreeWidgetItem *> stack;
    for (int i = 0; i < tvSites->topLevelItemCount(); ++i)
        stack.append(tvSites->topLevelItem(i));
    while (!stack.isEmpty()) {
        QTreeWidgetItem *item = stack.takeLast();
        if (item->data(0, kCodeRole).toString() == code) {
            tvSites->setCurrentItem(item);
            return true;
        }
        for (int i = 0; i < item->childCount(); ++i)
            stack.append(item->child(i));
    }
    return false;
}

void TfSites::actQueryExecute()
{
    TfWardenBase::actQueryExecute();
    const QString keep = m_new ? edtCode->text().trimmed() : currentCode();
    const quillon::DataPacket sites = CallPacket(QStringLiteral("ListSites"), QStringLiteral("sites"));
    const int code = sites.fieldIndex(QStringLiteral("SITECODE"));
    const int name = sites.fieldIndex(QStringLiteral("SITENAME"));
    const int parent = sites.fieldIndex(QStringLiteral("BELONGSITE"));
    const int fbType = sites.fieldIndex(QStringLiteral("FBTYPE"));
    const int finance = sites.fieldIndex(QStringLiteral("ISFINANCE"));
    m_sites.clear();
    QHash<QString, QString> codeOfName;
    for (const QVariantList &row : sites.rows) {
        Site s;
        s.code = row.value(code).toString();
        s.name = row.value(name).toString();
        s.parent = row.value(parent).toString();
        s.level = row.value(fbType).toString();
        s.finance = row.value(finance).toInt() == 1;
        m_sites.insert(s.code, s);
        codeOfName.insert(s.name, s.code);
    }
    m_new = false;
    const QSignalBlocker block(tvSites);
    tvSites->clear();
    cbParent->clear();
    // Parents before children whatever the order of the rows; a site whose parent is
    // missing shows at the top so that it can be mended.
    QHash<QString, QTreeWidgetItem *> items;
    QStringList codes = m_sites.keys();
    codes.sort();
    std::function<QTreeWidgetItem *(const QString &, int)> place = [&](const QString &c, int depth) -> QTreeWidgetItem * {
        if (QTreeWidgetItem *done = items.value(c))
            return done;
        const Site &s = m_sites[c];
        const QString parentCode = codeOfName.value(s.parent);
        QTreeWidgetItem *up = parentCode.isEmpty() || parentCode == c || depth > 50 ? nullptr
                                                                                    : place(parentCode, depth + 1);
        auto *item = up ? new QTreeWidgetItem(up) : new QTreeWidgetItem(tvSites);
        const int level = s.level.toInt();
        item->setText(0, s.name);
        item->setText(1, s.code);
        item->setText(2, level >= 0 && level < 3 ? QString::fromUtf16(kLevels[level]) : s.level);
        item->setText(3, s.finance ? QStringLiteral("是") : QString());
        item->setData(0, kCodeRole, c);
        items.insert(c, item);
        return item;
    };
    for (const QString &c : std::as_const(codes)) {
        place(c, 0);
        cbParent->addItem(m_sites[c].name);
    }
    cbParent->setCurrentIndex(-1);
    tvSites->expandAll();
    if (keep.isEmpty() || !selectSite(keep))
        if (tvSites->topLevelItemCount() > 0)
            tvSites->setCurrentItem(tvSites->topLevelItem(0));
    showCurrent();
}

void TfSites::showCurrent()
{
    const QString c = currentCode();
    const bool have = m_sites.contains(c);
    const Site s = m_sites.value(c);
    edtCode->setReadOnly(true);
    edtCode->setText(s.code);
    edtName->setText(s.name);
    cbLevel->setCurrentIndex(have ? std::clamp(s.level.toInt(), 0, 2) : -1);
    cbParent->setCurrentIndex(cbParent->findText(s.parent));
    chkFinance->setChecked(s.finance);
}

void TfSites::actNewExecute()
{
    const QString parentName = m_sites.value(currentCode()).name;
    m_new = true;
    edtCode->setReadOnly(false);
    edtCode->clear();
    edtName->clear();
    cbLevel->setCurrentIndex(2);
    cbParent->setCurrentIndex(cbParent->findText(parentName));
    chkFinance->setChecked(false);
    edtCode->setFocus();
}

void TfSites::actCancelExecute()
{
    m_new = false;
    showCurrent();
}

void TfSites::actSaveExecute()
{
    const QString code = edtCode->text().trimmed();
    require(!code.isEmpty(), edtCode, QStringLiteral("请填写网点编号。"));
    require(!edtName->text().trimmed().isEmpty(), edtName, QStringLiteral("请填写网点名称。"));
    require(cbLevel->currentIndex() >= 0, cbLevel, QStringLiteral("请选择网点级别。"));
    require(cbLevel->currentIndex() == 0 || !cbParent->currentText().trimmed().isEmpty(), cbParent,
            QStringLiteral("请选择上级网点。"));
    QCborMap args;
    args.insert(QStringLiteral("code"), code);
    args.insert(QStringLiteral("oldCode"), m_new ? QString() : currentCode());
    args.insert(QStringLiteral("name"), edtName->text().trimmed());
    args.insert(QStringLiteral("parent"), cbLevel->currentIndex() == 0 ? QString() : cbParent->currentText().trimmed());
    args.insert(QStringLiteral("level"), cbLevel->currentData().toString());
    args.insert(QStringLiteral("finance"), chkFinance->isChecked());
    Call(QStringLiteral("SaveSite"), args);
    m_new = false;
    actQueryExecute();
    selectSite(code);
    MSGHintDialog(QStringLiteral("网点 %1 已保存。各用户下次登录时更新网点列表。").arg(code));
}

void TfSites::actDelExecute()
{
    const QString c = currentCode();
    if (c.isEmpty())
        return;
    if (!MSGQuestionDialog(QStringLiteral("删除网点 %1 %2 吗？").arg(c, m_sites.value(c).name)))
        return;
    QCborMap args;
    args.insert(QStringLiteral("code"), c);
    Call(QStringLiteral("DeleteSite"), args);
    actQueryExecute();
}

} // namespace warden
