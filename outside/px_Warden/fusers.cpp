#include "fusers.h"

#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "udm_func.h"

#include <QCborArray>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSplitter>

namespace warden {

using quillon::DataPacket;
using quillon::TMyDataSet;

TfUsers::TfUsers(QWidget *parent)
    : TfWardenBase(parent)
{
    setObjectName(QStringLiteral("fUsers"));
    setWindowTitle(QStringLiteral("用户管理"));
    actEnable = addFormAction("actEnable", QStringLiteral("停用"),
                              QStringLiteral("停用或启用当前用户"), 2);
    actResetPwd = addFormAction("actResetPwd", QStringLiteral("重置密码"),
                                QStringLiteral("把当前用户的密码改为“密码”一栏中输入的新密码"), 1);
    auto current = [this] { return cdsData->Active() && !cdsData->IsEmpty(); };
    addEntryTools([this] { actNewExecute(); }, [this] { actSaveExecute(); },
                  [this] { actCancelExecute(); }, current);
    addToolButton(actEnable, QStringLiteral("btnEnable"));
    addToolButton(actResetPwd, QStringLiteral("btnResetPwd"));
    addToolButton(actClose, QStringLiteral("btnClose"));
    setExecuteHandler(actEnable, [this] { actEnableExecute(); });
    setExecuteHandler(actResetPwd, [this] { actResetPwdExecute(); });
    setUpdateHandler(actEnable, [this, current] {
        if (!current() || m_new)
            return false;
        const bool enabled = cdsData->FieldByName(QStringLiteral("ENABLED"))->AsInteger() == 1;
        actEnable->setText(enabled ? QStringLiteral("停用") : QStringLiteral("启用"));
        return true;
    });
    setUpdateHandler(actResetPwd, [this, current] { return current() && !m_new; });
    pnlOption->hide();

    cdsData = addComponent(new TMyDataSet(this), QStringLiteral("cdsData"));
    dsData = addComponent(new tessera::TDataSource(this), QStringLiteral("dsData"));
    dsData->setDataSet(cdsData);

    auto *splitter = addComponent(new QSplitter(Qt::Horizontal, this), QStringLiteral("splitter"));
    DBGridData = addComponent(new tessera::TDBGridEh(splitter), QStringLiteral("DBGridData"));
    DBGridData->setDataSource(dsData);
    DBGridData->setReadOnly(true);
    DBGridData->addColumn(QStringLiteral("USERCODE"), QStringLiteral("用户名"), 110);
    DBGridData->addColumn(QStringLiteral("EMPNAME"), QStringLiteral("姓名"), 80);
    DBGridData->addColumn(QStringLiteral("SITECODE"), QStringLiteral("网点编号"), 70);
    DBGridData->addColumn(QStringLiteral("SITENAME"), QStringLiteral("网点名称"), 100);
    DBGridData->addColumn(QStringLiteral("ROLES"), QStringLiteral("角色"), 150);
    DBGridData->addColumn(QStringLiteral("STATE"), QStringLiteral("状态"), 50);

    auto *box = addComponent(new tessera::TRzGroupBox(QStringLiteral("用户资料"), splitter),
                             QStringLiteral("gbDetail"));
    auto *form = new QFormLayout(box);
    form->setContentsMargins(12, 16, 12, 12);
    edtUser = addComponent(new QLineEdit(box), QStringLiteral("edtUser"));
    edtUser->setMaxLength(40);
    edtUser->setReadOnly(true);
    edtName = addComponent(new QLineEdit(box), QStringLiteral("edtName"));
    edtName->setMaxLength(30);
    cbSite = addComponent(new QComboBox(box), QStringLiteral("cbSite"));
    lstRoles = addComponent(new QListWidget(box), QStringLiteral("lstRoles"));
    lstRoles->setMinimumHeight(110);
    edtPassword = addComponent(new QLineEdit(box), QStringLiteral("edtPassword"));
    edtPassword->setEchoMode(QLineEdit::Password);
    edtPassword->setMaxLength(128);
    edtPassword->setPlaceholderText(QStringLiteral("新用户的初始密码，或重置用的新密码"));
    lblState = addComponent(new QLabel(box), QStringLiteral("lblState"));
    form->addRow(QStringLiteral("用户名"), edtUser);
    form->addRow(QStringLiteral("姓名"), edtName);
    form->addRow(QStringLiteral("网点"), cbSite);
    form->addRow(QStringLiteral("角色"), lstRoles);
    form->addRow(QStringLiteral("密码"), edtPassword);
    form->addRow(QStringLiteral("状态"), lblState);
    auto *hint = new QLabel(QStringLiteral("密码至少8位，须同时包含字母和数字，不能包含用户名。\n角色的变动在用户下一次操作时生效，"
                                           "菜单在下次登录时更新。"),
                            box);
    hint->setWordWrap(true);
    form->addRow(QString(), hint);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    clientLayout()->addWidget(splitter, 1);

    connect(dsData, &tessera::TDataSource::currentRowChanged, this, [this] {
        if (!m_new)
            showCurrent();
    });
}

// The children go after this body: their last signals must not reach a half-destroyed form.
TfUsers::~TfUsers()
{
    disconnect(dsData, nullptr, this, nullptr);
}

void TfUsers::InitPDM()
{
    TfWardenBase::InitPDM();
}

QString TfUsers::currentUser() const
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return QString();
    return cdsData->FieldByName(QStringLiteral("USERCODE"))->AsString();
}

void TfUsers::loadChoices()
{
    const DataPacket sites = CallPacket(QStringLiteral("ListSites"), QStringLiteral("sites"));
    const QString keep = cbSite->currentData().toString();
    cbSite->clear();
    const int code = sites.fieldIndex(QStringLiteral("SITECODE"));
    const int name = sites.fieldIndex(QStringLiteral("SITENAME"));
    for (const QVariantList &row : sites.rows)
        cbSite->addItem(QStringLiteral("%1 %2").arg(row.value(code).toString(), row.value(name).toString()),
                        row.value(code).toString());
    cbSite->setCurrentIndex(cbSite->findData(keep));

    const QStringList ticked = checkedRoles();
    lstRoles->clear();
    const QCborArray roles = Call(QStringLiteral("ListRoles")).value(QStringLiteral("roles")).toArray();
    for (const QCborValue &r : roles) {
        const QCborMap m = r.toMap();
        auto *item = new QListWidgetItem(m.value(QStringLiteral("name")).toString(), lstRoles);
        item->setToolTip(m.value(QStringLiteral("remark")).toString());
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    setCheckedRoles(ticked);
}

void TfUsers::setCheckedRoles(const QStringList &roles)
{
    for (int i = 0; i < lstRoles->count(); ++i)
        lstRoles->item(i)->setCheckState(roles.contains(lstRoles->item(i)->text()) ? Qt::Checked
                                                                                  : Qt::Unchecked);
}

QStringList TfUsers::checkedRoles() const
{
    QStringList out;
    for (int i = 0; i < lstRoles->count(); ++i)
        if (lstRoles->item(i)->checkState() == Qt::Checked)
            out.append(lstRoles->item(i)->text());
    return out;
}

void TfUsers::actQueryExecute()
{
    TfWardenBase::actQueryExecute();
    const QString keep = m_new ? edtUser->text().trimmed() : currentUser();
    // The list first: a user without the right to manage users is told that, not that a
    // list of sites or roles is closed to him.
    DataPacket users = CallPacket(QStringLiteral("ListUsers"), QStringLiteral("users"));
    loadChoices();
    // The state as a word next to the flag.
    users.fields.append({QStringLiteral("STATE"), quillon::FieldType::String, 4, false});
    const int enabled = users.fieldIndex(QStringLiteral("ENABLED"));
    for (QVariantList &row : users.rows)
        row.append(row.value(enabled).toInt() == 1 ? QStringLiteral("启用") : QStringLiteral("停用"));
    m_new = false;
    cdsData->SetData(std::move(users));
    cdsData->First();
    if (!keep.isEmpty())
        cdsData->Locate(QStringLiteral("USERCODE"), keep);
    showCurrent();
}

void TfUsers::showCurrent()
{
    const bool have = cdsData->Active() && !cdsData->IsEmpty();
    edtUser->setReadOnly(true);
    edtUser->setText(have ? currentUser() : QString());
    edtName->setText(have ? cdsData->FieldByName(QStringLiteral("EMPNAME"))->AsString() : QString());
    cbSite->setCurrentIndex(
        have ? cbSite->findData(cdsData->FieldByName(QStringLiteral("SITECODE"))->AsString()) : -1);
    setCheckedRoles(have ? cdsData->FieldByName(QStringLiteral("ROLES"))->AsString().split(u',', Qt::SkipEmptyParts)
                         : QStringList());
    edtPassword->clear();
    lblState->setText(have ? cdsData->FieldByName(QStringLiteral("STATE"))->AsString() : QString());
}

void TfUsers::actNewExecute()
{
    m_new = true;
    edtUser->setReadOnly(false);
    edtUser->setText(host::g_lstVars->value(QStringLiteral("sysid")) + u'.');
    edtName->clear();
    cbSite->setCurrentIndex(-1);
    setCheckedRoles({});
    edtPassword->clear();
    lblState->setText(QStringLiteral("新用户（保存后生效）"));
    edtUser->setFocus();
    edtUser->setCursorPosition(edtUser->text().size());
}

void TfUsers::actCancelExecute()
{
    m_new = false;
    showCurrent();
}

void TfUsers::actSaveExecute()
{
    const QString user = edtUser->text().trimmed();
    require(!user.isEmpty() && (m_new || !currentUser().isEmpty()), edtUser,
            QStringLiteral("请先选择一个用户，或按“新增”建立用户。"));
    require(!edtName->text().trimmed().isEmpty(), edtName, QStringLiteral("请填写员工姓名。"));
    require(cbSite->currentIndex() >= 0, cbSite, QStringLiteral("请选择用户所属的网点。"));
    require(!checkedRoles().isEmpty(), lstRoles, QStringLiteral("请至少勾选一个角色。"));
    QCborMap args;
    args.insert(QStringLiteral("user"), user);
    args.insert(QStringLiteral("name"), edtName->text().trimmed());
    args.insert(QStringLiteral("site"), cbSite->currentData().toString());
    args.insert(QStringLiteral("roles"), QCborArray::fromStringList(checkedRoles()));
    if (m_new) {
        require(!edtPassword->text().isEmpty(), edtPassword, QStringLiteral("请为新用户输入初始密码。"));
        args.insert(QStringLiteral("password"), edtPassword->text());
        Call(QStringLiteral("AddUser"), args);
    } else {
        Call(QStringLiteral("UpdateUser"), args);
    }
    m_new = false;
    actQueryExecute();
    cdsData->Locate(QStringLiteral("USERCODE"), user);
    showCurrent();
    MSGHintDialog(QStringLiteral("用户 %1 已保存。").arg(user));
}

void TfUsers::actEnableExecute()
{
    const QString user = currentUser();
    if (user.isEmpty())
        return;
    const bool enable = cdsData->FieldByName(QStringLiteral("ENABLED"))->AsInteger() != 1;
    if (!MSGQuestionDialog(enable ? QStringLiteral("启用用户 %1，让他重新可以登录吗？").arg(user)
                                  : QStringLiteral("停用用户 %1 吗？停用后他不能再登录。").arg(user)))
        return;
    QCborMap args;
    args.insert(QStringLiteral("user"), user);
    args.insert(QStringLiteral("enabled"), enable);
    Call(QStringLiteral("SetUserEnabled"), args);
    actQueryExecute();
}

void TfUsers::actResetPwdExecute()
{
    const QString user = currentUser();
    if (user.isEmpty())
        return;
    require(!edtPassword->text().isEmpty(), edtPassword,
            QStringLiteral("请先在“密码”一栏输入新的密码，再按“重置密码”。"));
    if (!MSGQuestionDialog(QStringLiteral("把用户 %1 的密码改为刚输入的新密码吗？").arg(user)))
        return;
    QCborMap args;
    args.insert(QStringLiteral("user"), user);
    args.insert(QStringLiteral("password"), edtPassword->text());
    Call(QStringLiteral("ResetPassword"), args);
    edtPassword->clear();
    MSGHintDialog(QStringLiteral("用户 %1 的密码已重置，请把新密码告诉他本人。").arg(user));
}

} // namespace warden
