#pragma once

#include "fwardenbase.h"

class QComboBox;
class QLabel;

namespace quillon {
class TMyDataSet;
}
namespace tessera {
class TDataSource;
class TDBGridEh;
} // namespace tessera

namespace warden {

// "菜单管理" (super administrator only): the menu tree of a deployment as an editable list
// (position code, caption, function, offline use, button image, level, shortcut) with the
// tables each function may write. Saved whole; the server checks the tree.
class TfConfigMenu : public TfWardenBase
{
    Q_OBJECT
public:
    explicit TfConfigMenu(QWidget *parent = nullptr);
    ~TfConfigMenu() override;

    QComboBox *cbSysid;
    QLabel *lblPublic;
    quillon::TMyDataSet *cdsData;
    tessera::TDataSource *dsData;
    tessera::TDBGridEh *DBGridData;

    void actQueryExecute() override;
    void actNewExecute();
    void actDelExecute();
    void actSaveExecute();
    void actCancelExecute();

    // The deployment whose menu is shown.
    QString sysid() const;

protected:
    void firstShow() override;

private:
};

} // namespace warden
