#pragma once

#include "fwardenbase.h"

class QLineEdit;
class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace warden {

// "角色管理": the roles of the deployment and what each grants, as a check-box tree of the
// menu (module, group, function). Adding, renaming, changing the grants and deleting a role
// (only when no user holds it). Changes reach the users at their next request.
class TfRole : public TfWardenBase
{
    Q_OBJECT
public:
    explicit TfRole(QWidget *parent = nullptr);
    ~TfRole() override;

    QListWidget *lstRoles;
    QLineEdit *edtName;
    QLineEdit *edtRemark;
    QTreeWidget *tvGrants;

    void actQueryExecute() override;
    void actNewExecute();
    void actSaveExecute();
    void actDelExecute();
    void actCancelExecute();

    // The functions ticked in the tree, and ticking exactly the given ones.
    QStringList checkedFunctions() const;
    void setCheckedFunctions(const QStringList &functions);
    // The tree item of a function, nullptr when the tree has none.
    QTreeWidgetItem *itemOf(const QString &function) const;

protected:

private:
    void buildTree();
    void showRole(int row);

    struct Role
    {
        QString name;
        QString remark;
        QStringList functions;
        qint64 users = 0;
    };
    QList<Role> m_roles;
};

} // namespace warden
