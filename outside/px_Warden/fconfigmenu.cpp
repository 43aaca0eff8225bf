#include "fconfigmenu.h"

#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "host/errordisplay.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "udm_func.h"

#include <QCborArray>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

namespace warden {

using quillon::DataPacket;
using quillon::TMyDataSet;

TfConfigMenu::TfConfigMenu(QWidget *parent)
    : TfWardenBase(parent)
{
    setObjectName(QStringLiteral("fConfigMenu"));
    setWindowTitle(QStringLiteral("菜单管理"));
    addToolButton(actQuery, QStringLiteral("btnQuery"));
    addToolButton(actNew, QStringLiteral("btnNew"));
    addToolButton(actDel, QStringLiteral("btnDel"));
    addToolButton(actSave, QStringLiteral("btnSave"));
    addToolButton(actCancel, QStringLiteral("btnCancel"));
    addToolButton(actClose, QStringLiteral("btnClose"));
    setExecuteHandler(actNew, [this] { actNewExecute(); });
    setExecuteHandler(actDel, [this] { actDelExecute(); });
    setExecuteHandler(actSave, [this] { actSaveExecute(); });
    setExecuteHandler(actCancel, [this] { actCancelExecute(); });
    auto open = [this] { return isSuperUser() && cdsData->Active(); };
    setUpdateHandler(actQuery, [] { return isSuperUser(); });
    setUpdateHandler(actNew, open);
    setUpdateHandler(actDel, [this, open] { return open() && !cdsData->IsEmpty(); });
    setUpdateHandler(actSave, open);
    setUpdateHandler(actCancel, [this, open] {
        return open() && (cdsData->ChangeCount() > 0 || cdsData->State() != quillon::DataSetState::Browse);
    });

    QGridLayout *opt = optionLayout();
    cbSysid = addComponent(new QComboBox(gbOption), QStringLiteral("cbSysid"));
    cbSysid->setMinimumWidth(80);
    lblPublic = addComponent(new QLabel(gbOption), QStringLiteral("lblPublic"));
    opt->addWidget(addComponent(new QLabel(QStringLiteral("部署"), gbOption), QStringLiteral("lblSysid")), 0, 0);
    opt->addWidget(cbSysid, 0, 1);
    opt->addWidget(lblPublic, 0, 2);
    opt->setColumnStretch(2, 1);

    cdsData = addComponent(new TMyDataSet(this), QStringLiteral("cdsData"));
    dsData = addComponent(new tessera::TDataSource(this), QStringLiteral("dsData"));
    dsData->setDataSet(cdsData);
    DBGridData = addComponent(new tessera::TDBGridEh(this), QStringLiteral("DBGridData"));
    DBGridData->setDataSource(dsData);
    DBGridData->setReadOnly(false);
    DBGridData->addColumn(QStringLiteral("POSID"), QStringLiteral("编号"), 90);
    DBGridData->addColumn(QStringLiteral("MENUNAME"), QStringLiteral("菜单名称"), 120);
    DBGridData->addColumn(QStringLiteral("FUNCNAME"), QStringLiteral("功能（模块.功能名）"), 190);
    DBGridData->addColumn(QStringLiteral("OFFLINEENABLED"), QStringLiteral("离线可用"), 60)->Checkboxes = true;
    DBGridData->addColumn(QStringLiteral("PNGNAME"), QStringLiteral("按钮图片"), 60);
    DBGridData->addColumn(QStringLiteral("ORGANLEVEL"), QStringLiteral("级别"), 40);
    DBGridData->addColumn(QStringLiteral("SHORTCUT"), QStringLiteral("快捷键"), 60);
    DBGridData->addColumn(QStringLiteral("WRITETABLES"), QStringLiteral("可写数据表（表:IUD;…）"), 260);
    clientLayout()->addWidget(DBGridData, 1);

    connect(cbSysid, &QComboBox::activated, this, [this] {
        host::guarded([this] {
            try {
                actQueryExecute();
            } catch (const host::SilentAbort &) {
            }
        });
    });
}

QString TfConfigMenu::sysid() const
{
    return cbSysid->currentText().trimmed();
}

// The children go after this body: their last signals must not reach a half-destroyed form.
TfConfigMenu::~TfConfigMenu()
{
    disconnect(cbSysid, nullptr, this, nullptr);
}

void TfConfigMenu::firstShow()
{
    if (!isSuperUser()) {
        lblPublic->setText(QStringLiteral("菜单管理只对超级管理员 dk 开放。"));
        MSGWarningDialog(QStringLiteral("菜单管理只对超级管理员 dk 开放。需要调整菜单时请联系 dk。"));
        return;
    }
    host::guarded([this] {
        try {
            const QCborArray ids = Call(QStringLiteral("ListDeployments")).value(QStringLiteral("deployments")).toArray();
            for (const QCborValue &v : ids)
                cbSysid->addItem(v.toString());
            // The first business deployment rather than the administrator's own key.
            int pick = 0;
            for (int i = 0; i < cbSysid->count(); ++i)
                if (cbSysid->itemText(i) != QLatin1String("dk")) {
                    pick = i;
                    break;
                }
            cbSysid->setCurrentIndex(pick);
            actQueryExecute();
        } catch (const host::SilentAbort &) {
        }
    });
}

void TfConfigMenu::actQueryExecute()
{
    TfWardenBase::actQueryExecute();
    require(!sysid().isEmpty(), cbSysid, QStringLiteral("请选择部署。"));
    if (cdsData->Active() && cdsData->ChangeCount() > 0
        && !MSGQuestionDialog(QStringLiteral("还有没保存的修改，放弃它们并重新读取菜单吗？")))
        return;
    QCborMap args;
    args.insert(QStringLiteral("sysid"), sysid());
    const QCborMap answer = Call(QStringLiteral("ListMenu"), args);
    DataPacket menu;
    try {
        menu = TDM_Func::PacketOf(answer, QStringLiteral("menu"));
    } catch (const host::UserError &e) {
        MSGErrorDialog(e.message());
        throw host::SilentAbort();
    }
    cdsData->SetData(std::move(menu));
    cdsData->First();
    const QString pub = answer.value(QStringLiteral("public")).toString();
    lblPublic->setText(QStringLiteral("所有用户都可写：%1").arg(pub.isEmpty() ? QStringLiteral("无") : pub));
}

void TfConfigMenu::actNewExecute()
{
    cdsData->Append();
    DBGridData->setFocus();
}

void TfConfigMenu::actDelExecute()
{
    if (cdsData->IsEmpty())
        return;
    const QString name = cdsData->FieldByName(QStringLiteral("MENUNAME"))->AsString();
    if (!MSGQuestionDialog(QStringLiteral("删除菜单项“%1”吗？保存后才生效。").arg(name)))
        return;
    cdsData->Delete();
}

void TfConfigMenu::actCancelExecute()
{
    if (!MSGQuestionDialog(QStringLiteral("放弃所有没保存的修改吗？")))
        return;
    if (cdsData->State() != quillon::DataSetState::Browse)
        cdsData->Cancel();
    cdsData->CancelUpdates();
}

void TfConfigMenu::actSaveExecute()
{
    if (cdsData->State() != quillon::DataSetState::Browse)
        cdsData->Post();
    // The menu goes whole: the rows as they stand now, without the change log.
    DataPacket menu;
    menu.fields = cdsData->FieldDefs();
    for (cdsData->First(); !cdsData->Eof(); cdsData->Next()) {
        QVariantList row;
        for (const quillon::FieldDef &f : std::as_const(menu.fields))
            row.append(cdsData->FieldByName(f.name)->Value());
        menu.rows.append(row);
    }
    QCborMap args;
    args.insert(QStringLiteral("sysid"), sysid());
    args.insert(QStringLiteral("menu"), menu.toBinary());
    Call(QStringLiteral("SaveMenu"), args);
    cdsData->MergeChangeLog();
    MSGHintDialog(QStringLiteral("部署 %1 的菜单已保存，用户下次登录时看到新的菜单。").arg(sysid()));
    actQueryExecute();
}

} // namespace warden
