#pragma once

#include "fwardenbase.h"

class QLabel;
class QLineEdit;

namespace warden {

// "修改密码": the signed-on user changes their own password. The server checks the old
// password and the strength of the new one; afterwards the program's connection and the
// offline log-on use the new password.
class TfPassEdt : public TfWardenBase
{
    Q_OBJECT
public:
    explicit TfPassEdt(QWidget *parent = nullptr);

    QLineEdit *edtUser;
    QLineEdit *edtOldPass;
    QLineEdit *edtNewPass;
    QLineEdit *edtConfirm;
    QLabel *lblRule;

    void actSaveExecute();

protected:
    void firstShow() override {} // a form to fill in: nothing to load
};

} // namespace warden
