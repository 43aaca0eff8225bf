#pragma once

#include "fwardenbase.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTreeWidget;

namespace warden {

// "级别管理": the sites of the deployment as a tree under the head office, each with its
// code, name, parent, level (总部, 财务中心, 网点) and finance-centre flag. Adding,
// changing and deleting sites; the server keeps the tree sound and renames references.
class TfSites : public TfWardenBase
{
    Q_OBJECT
public:
    explicit TfSites(QWidget *parent = nullptr);
    ~TfSites() override;

    QTreeWidget *tvSites;
    QLineEdit *edtCode;
    QLineEdit *edtName;
    QComboBox *cbParent;
    QComboBox *cbLevel;
    QCheckBox *chkFinance;

    void actQueryExecute() override;
    void actNewExecute();
    void actSaveExecute();
    void actDelExecute();
    void actCancelExecute();

    // Selects the site with this code in the tree; false when there is none.
    bool selectSite(const QString &code);
    QString currentCode() const;

protected:

private:
    void showCurrent();

    struct Site
    {
        QString code, name, parent, level;
        bool finance = false;
    };
    QHash<QString, Site> m_sites; // by code
};

} // namespace warden
