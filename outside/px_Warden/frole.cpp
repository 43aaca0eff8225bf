#include "frole.h"

#include "baseforms/rzcontrols.h"
#include "dataaccess/packet/datapacket.h"

#include <QCborArray>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace warden {

namespace {
constexpr int kFunctionRole = Qt::UserRole;

// Functions of the system menu a role may grant even when the menu does not list them.
const struct
{
    const char *function;
    const char16_t *caption;
} kAdminFunctions[] = {{"px_Warden.fUsers", u"用户管理"},
                       {"px_Warden.fRole", u"角色管理"},
                       {"px_Warden.fSites", u"级别管理"},
                       {"px_Toolbox.fParamSet", u"参数设置"}};
} // namespace

TfRole::TfRole(QWidget *parent)
    : TfWardenBase(parent)
{
    setObjectName(QStringLiteral("fRole"));
    setWindowTitle(QStringLiteral("角色管理"));
    addEntryTools([this] { actNewExecute(); }, [this] { actSaveExecute(); },
                  [this] { actCancelExecute(); }, [this] { return lstRoles->currentRow() >= 0; });
    addToolButton(actDel, QStringLiteral("btnDel"));
    addToolButton(actClose, QStringLiteral("btnClose"));
    setExecuteHandler(actDel, [this] { actDelExecute(); });
    setUpdateHandler(actDel, [this] { return !m_new && lstRoles->currentRow() >= 0; });
    pnlOption->hide();

    auto *splitter = addComponent(new QSplitter(Qt::Horizontal, this), QStringLiteral("splitter"));
    auto *left = addComponent(new tessera::TRzGroupBox(QStringLiteral("角色"), splitter),
                              QStringLiteral("gbRoles"));
    auto *leftLayout = new QVBoxLayout(left);
    lstRoles = addComponent(new QListWidget(left), QStringLiteral("lstRoles"));
    leftLayout->addWidget(lstRoles);

    auto *right = addComponent(new tessera::TRzGroupBox(QStringLiteral("角色资料与授权"), splitter),
                               QStringLiteral("gbGrants"));
    auto *rightLayout = new QVBoxLayout(right);
    auto *form = new QFormLayout;
    edtName = addComponent(new QLineEdit(right), QStringLiteral("edtName"));
    edtName->setMaxLength(30);
    edtRemark = addComponent(new QLineEdit(right), QStringLiteral("edtRemark"));
    edtRemark->setMaxLength(200);
    form->addRow(QStringLiteral("角色名称"), edtName);
    form->addRow(QStringLiteral("说明"), edtRemark);
    rightLayout->addLayout(form);
    auto *hint = new QLabel(QStringLiteral("勾选本角色可以使用的功能。保存后，持有本角色的用户在下一次操作时"
                                           "即按新的授权执行，菜单在下次登录时更新。"),
                            right);
    hint->setWordWrap(true);
    rightLayout->addWidget(hint);
    tvGrants = addComponent(new QTreeWidget(right), QStringLiteral("tvGrants"));
    // The functions by their menu captions; the technical name only as a tool tip.
    tvGrants->setHeaderLabels({QStringLiteral("功能")});
    tvGrants->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    rightLayout->addWidget(tvGrants, 1);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 3);
    clientLayout()->addWidget(splitter, 1);

    connect(lstRoles, &QListWidget::currentRowChanged, this, [this](int row) {
        m_new = false;
        showRole(row);
    });
}

// The children go after this body: their last signals must not reach a half-destroyed form.
TfRole::~TfRole()
{
    disconnect(lstRoles, nullptr, this, nullptr);
}

void TfRole::buildTree()
{
    const quillon::DataPacket menu = CallPacket(QStringLiteral("ListMenu"), QStringLiteral("menu"));
    tvGrants->clear();
    const int pos = menu.fieldIndex(QStringLiteral("POSID"));
    const int name = menu.fieldIndex(QStringLiteral("MENUNAME"));
    const int func = menu.fieldIndex(QStringLiteral("FUNCNAME"));
    QHash<QString, QTreeWidgetItem *> byPos;
    QTreeWidgetItem *loose = nullptr;
    QSet<QString> listed;
    auto makeItem = [](QTreeWidgetItem *item, const QString &caption, const QString &function) {
        item->setText(0, caption);
        if (!function.isEmpty())
            item->setToolTip(0, function);
        item->setData(0, kFunctionRole, function);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
        item->setCheckState(0, Qt::Unchecked);
    };
    for (const QVariantList &row : menu.rows) {
        const QString p = row.value(pos).toString().trimmed();
        const QString f = row.value(func).toString().trimmed();
        QTreeWidgetItem *parent = nullptr;
        if (p == QLatin1String("@") || p.size() != 11) {
            if (f.isEmpty())
                continue;
            if (!loose) {
                loose = new QTreeWidgetItem(tvGrants);
                makeItem(loose, QStringLiteral("其他功能"), QString());
            }
            parent = loose;
        } else if (!p.endsWith(QLatin1String(".000.000"))) {
            parent = byPos.value(p.endsWith(QLatin1String(".000")) ? p.left(3) + QStringLiteral(".000.000")
                                                                    : p.left(7) + QStringLiteral(".000"));
        }
        // The menu editor stays the super administrator's: no role can hold it.
        if (f == QLatin1String("px_Warden.fConfigMenu"))
            continue;
        auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvGrants);
        makeItem(item, row.value(name).toString(), f);
        byPos.insert(p, item);
        listed.insert(f);
    }
    QTreeWidgetItem *admin = nullptr;
    for (const auto &a : kAdminFunctions) {
        const QString f = QString::fromLatin1(a.function);
        if (listed.contains(f))
            continue;
        if (!admin) {
            admin = new QTreeWidgetItem(tvGrants);
            makeItem(admin, QStringLiteral("系统功能"), QString());
        }
        makeItem(new QTreeWidgetItem(admin), QString::fromUtf16(a.caption), f);
    }
    // Headers without any function below them grant nothing: leave them out.
    for (int i = tvGrants->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem *top = tvGrants->topLevelItem(i);
        for (int j = top->childCount() - 1; j >= 0; --j)
            if (top->child(j)->childCount() == 0 && top->child(j)->data(0, kFunctionRole).toString().isEmpty())
                delete top->child(j);
        if (top->childCount() == 0 && top->data(0, kFunctionRole).toString().isEmpty())
            delete top;
    }
    tvGrants->expandAll();
}

QTreeWidgetItem *TfRole::itemOf(const QString &function) const
{
    QList<QTreeWidgetItem *> stack;
    for (int i = 0; i < tvGrants->topLevelItemCount(); ++i)
        stack.append(tvGrants->topLevelItem(i));
    while (!stack.isEmpty()) {
        QTreeWidgetItem *item = stack.takeLast();
        if (!function.isEmpty() && item->data(0, kFunctionRole).toString() == function)
            return item;
        for (int i = 0; i < item->childCount(); ++i)
            stack.append(item->child(i));
    }
    return nullptr;
}

QStringList TfRole::checkedFunctions() const
{
    QStringList out;
    QList<QTreeWidgetItem *> stack;
    for (int i = 0; i < tvGrants->topLevelItemCount(); ++i)
        stack.append(tvGrants->topLevelItem(i));
    while (!stack.isEmpty()) {
        QTreeWidgetItem *item = stack.takeLast();
        const QString f = item->data(0, kFunctionRole).toString();
        // A header's box shows the state of its entries; only leaves stand for themselves.
        if (!f.isEmpty() && item->childCount() == 0 && item->checkState(0) == Qt::Checked)
            out.append(f);
        for (int i = 0; i < item->childCount(); ++i)
            stack.append(item->child(i));
    }
    out.sort();
    out.removeDuplicates();
    return out;
}

void TfRole::setCheckedFunctions(const QStringList &functions)
{
    QList<QTreeWidgetItem *> stack;
    for (int i = 0; i < tvGrants->topLevelItemCount(); ++i)
        stack.append(tvGrants->topLevelItem(i));
    while (!stack.isEmpty()) {
        QTreeWidgetItem *item = stack.takeLast();
        if (item->childCount() == 0)
            item->setCheckState(0, functions.contains(item->data(0, kFunctionRole).toString())
                                       ? Qt::Checked
                                       : Qt::Unchecked);
        for (int i = 0; i < item->childCount(); ++i)
            stack.append(item->child(i));
    }
}

void TfRole::actQueryExecute()
{
    TfWardenBase::actQueryExecute();
    const QString keep = m_new ? QString() : edtName->text().trimmed();
    buildTree();
    const QCborArray roles = Call(QStringLiteral("ListRoles")).value(QStringLiteral("roles")).toArray();
    m_roles.clear();
    for (const QCborValue &v : roles) {
        const QCborMap m = v.toMap();
        Role r;
        r.name = m.value(QStringLiteral("name")).toString();
        r.remark = m.value(QStringLiteral("remark")).toString();
        for (const QCborValue &f : m.value(QStringLiteral("functions")).toArray())
            r.functions.append(f.toString());
        r.users = m.value(QStringLiteral("users")).toInteger();
        m_roles.append(r);
    }
    m_new = false;
    const QSignalBlocker block(lstRoles);
    lstRoles->clear();
    int select = m_roles.isEmpty() ? -1 : 0;
    for (int i = 0; i < m_roles.size(); ++i) {
        lstRoles->addItem(QStringLiteral("%1（%2 人）").arg(m_roles.at(i).name).arg(m_roles.at(i).users));
        lstRoles->item(i)->setToolTip(m_roles.at(i).remark);
        if (m_roles.at(i).name == keep)
            select = i;
    }
    lstRoles->setCurrentRow(select);
    showRole(select);
}

void TfRole::showRole(int row)
{
    const bool have = row >= 0 && row < m_roles.size();
    edtName->setText(have ? m_roles.at(row).name : QString());
    edtRemark->setText(have ? m_roles.at(row).remark : QString());
    setCheckedFunctions(have ? m_roles.at(row).functions : QStringList());
}

void TfRole::actNewExecute()
{
    m_new = true;
    {
        const QSignalBlocker block(lstRoles);
        lstRoles->clearSelection();
        lstRoles->setCurrentRow(-1);
    }
    showRole(-1);
    edtName->setFocus();
}

void TfRole::actCancelExecute()
{
    m_new = false;
    if (lstRoles->currentRow() < 0 && lstRoles->count() > 0)
        lstRoles->setCurrentRow(0);
    showRole(lstRoles->currentRow());
}

void TfRole::actSaveExecute()
{
    const QString name = edtName->text().trimmed();
    require(!name.isEmpty(), edtName, QStringLiteral("请填写角色名称。"));
    const int row = lstRoles->currentRow();
    const QString oldName = !m_new && row >= 0 && row < m_roles.size() ? m_roles.at(row).name : QString();
    const QStringList functions = checkedFunctions();
    if (functions.isEmpty()
        && !MSGQuestionDialog(QStringLiteral("角色“%1”没有勾选任何功能，持有它的用户将看不到菜单。仍要保存吗？").arg(name)))
        return;
    QCborMap args;
    args.insert(QStringLiteral("name"), name);
    args.insert(QStringLiteral("oldName"), oldName);
    args.insert(QStringLiteral("remark"), edtRemark->text().trimmed());
    args.insert(QStringLiteral("functions"), QCborArray::fromStringList(functions));
    Call(QStringLiteral("SaveRole"), args);
    m_new = false;
    edtName->setText(name);
    actQueryExecute();
    MSGHintDialog(QStringLiteral("角色“%1”已保存。持有它的用户在下一次操作时按新的授权执行。").arg(name));
}

void TfRole::actDelExecute()
{
    const int row = lstRoles->currentRow();
    if (row < 0 || row >= m_roles.size())
        return;
    const Role role = m_roles.at(row);
    if (role.users > 0) {
        MSGWarningDialog(QStringLiteral("角色“%1”还有 %2 个用户在使用，请先在用户管理中为他们改换角色。")
                             .arg(role.name)
                             .arg(role.users));
        return;
    }
    if (!MSGQuestionDialog(QStringLiteral("删除角色“%1”吗？").arg(role.name)))
        return;
    QCborMap args;
    args.insert(QStringLiteral("name"), role.name);
    Call(QStringLiteral("DeleteRole"), args);
    edtName->clear();
    actQueryExecute();
}

} // namespace warden
