#include "fpassedt.h"

#include "baseforms/rzcontrols.h"
#include "dataaccess/mysktconnection.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "udm_func.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace warden {

TfPassEdt::TfPassEdt(QWidget *parent)
    : TfWardenBase(parent)
{
    setObjectName(QStringLiteral("fPassEdt"));
    setWindowTitle(QStringLiteral("修改密码"));
    actSave->setText(QStringLiteral("确定"));
    actSave->setToolTip(QStringLiteral("修改密码"));
    addToolButton(actSave, QStringLiteral("btnSave"));
    addToolButton(actClose, QStringLiteral("btnClose"));
    setExecuteHandler(actSave, [this] { actSaveExecute(); });
    pnlOption->hide();

    auto *box = addComponent(new tessera::TRzGroupBox(QStringLiteral("修改本人的登录密码"), this),
                             QStringLiteral("gbPass"));
    auto *form = new QFormLayout(box);
    form->setContentsMargins(24, 20, 24, 16);
    form->setVerticalSpacing(10);
    auto edit = [this, box](const QString &name, bool secret) {
        auto *e = addComponent(new QLineEdit(box), name);
        e->setMinimumWidth(220);
        e->setMaxLength(128);
        if (secret)
            e->setEchoMode(QLineEdit::Password);
        return e;
    };
    edtUser = edit(QStringLiteral("edtUser"), false);
    edtUser->setReadOnly(true);
    edtOldPass = edit(QStringLiteral("edtOldPass"), true);
    edtNewPass = edit(QStringLiteral("edtNewPass"), true);
    edtConfirm = edit(QStringLiteral("edtConfirm"), true);
    lblRule = addComponent(new QLabel(QStringLiteral("新密码至少8位，须同时包含字母和数字，且不能包含用户名。\n"
                                                     "修改后请用新密码登录；离线登录也使用新密码。"),
                                      box),
                           QStringLiteral("lblRule"));
    form->addRow(QStringLiteral("用户"), edtUser);
    form->addRow(QStringLiteral("原密码"), edtOldPass);
    form->addRow(QStringLiteral("新密码"), edtNewPass);
    form->addRow(QStringLiteral("确认新密码"), edtConfirm);
    form->addRow(QString(), lblRule);

    auto *row = new QHBoxLayout;
    row->addWidget(box);
    row->addStretch(1);
    clientLayout()->addLayout(row);
    clientLayout()->addStretch(1);

    const host::VarList &vars = *host::g_lstVars;
    const QString emp = vars.value(QStringLiteral("LogOnEmpName"));
    edtUser->setText(logOnUser() + (emp.isEmpty() ? QString() : QStringLiteral("（%1）").arg(emp)));
}

void TfPassEdt::actSaveExecute()
{
    require(!edtOldPass->text().isEmpty(), edtOldPass, QStringLiteral("请输入原密码。"));
    require(!edtNewPass->text().isEmpty(), edtNewPass, QStringLiteral("请输入新密码。"));
    if (edtNewPass->text() != edtConfirm->text()) {
        edtConfirm->clear();
        require(false, edtConfirm, QStringLiteral("两次输入的新密码不一致，请重新输入确认新密码。"));
    }
    QCborMap args;
    args.insert(QStringLiteral("old"), edtOldPass->text());
    args.insert(QStringLiteral("new"), edtNewPass->text());
    Call(QStringLiteral("ChangePassword"), args);
    // From now on the program logs on with the new password, also offline.
    const QString password = edtNewPass->text();
    host::g_lstVars->setValue(QStringLiteral("LogOnPass"), password);
    if (DM_Func()->cnServer)
        DM_Func()->cnServer->SetPassword(password);
    for (QLineEdit *e : {edtOldPass, edtNewPass, edtConfirm})
        e->clear();
    MSGHintDialog(QStringLiteral("密码已修改。下次登录请使用新密码。"));
    close();
}

} // namespace warden
