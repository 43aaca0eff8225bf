#pragma once

#include "fwardenbase.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace quillon {
class TMyDataSet;
}
namespace tessera {
class TDataSource;
class TDBGridEh;
} // namespace tessera

namespace warden {

// "用户管理": the users of the deployment with their site, name, roles and state; adding a
// user, changing site, name and roles, disabling and enabling, resetting a password. The
// list is read-only; the panel on the right edits the current user (or a new one).
class TfUsers : public TfWardenBase
{
    Q_OBJECT
public:
    explicit TfUsers(QWidget *parent = nullptr);
    ~TfUsers() override;

    quillon::TMyDataSet *cdsData;
    tessera::TDataSource *dsData;
    tessera::TDBGridEh *DBGridData;
    QLineEdit *edtUser;
    QLineEdit *edtName;
    QComboBox *cbSite;
    QListWidget *lstRoles;
    QLineEdit *edtPassword;
    QLabel *lblState;
    QAction *actEnable;
    QAction *actResetPwd;

    void actQueryExecute() override;
    void actNewExecute();
    void actSaveExecute();
    void actCancelExecute();
    void actEnableExecute();
    void actResetPwdExecute();

    // Whether the panel holds a new user (not yet saved).
    // Ticks exactly the named roles in the list.
    void setCheckedRoles(const QStringList &roles);
    QStringList checkedRoles() const;

protected:
    void InitPDM() override;

private:
    void showCurrent();
    void loadChoices();
    QString currentUser() const;

};

} // namespace warden
