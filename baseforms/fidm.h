#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "host/uintf.h"

namespace quillon {
class TMyDataSet;
class TMySktConnection;
} // namespace quillon

namespace host {
class VarList;
}

namespace tessera {

// The base of every module's data module: the module's connection and shared variable
// list, and the operations through which a data form opens datasets and calls functions
// of other modules. The module framework implements the abstract operations.
class TfIDM : public QObject
{
    Q_OBJECT
public:
    explicit TfIDM(QObject *owner = nullptr);
    ~TfIDM() override;

    // The module's connection (not owned); set by the descendant.
    quillon::TMySktConnection *cnServer = nullptr;
    // The module's shared variable list (not owned); the descendant points it at the host's.
    host::VarList *lstGVars = nullptr;

    // Runs "Module.Function" of another module; the function runs to its end before this
    // returns. `params` may be nullptr.
    virtual void CallFunc(const QString &funcName, const QStringList *params) = 0;
    // Binds the client datasets of a form or data module to cnServer.
    virtual void SetCdsConn(QObject *comp) = 0;
    // Creates or shows a module window of class `formClass` (made by `create`).
    virtual QWidget *MyShowMDIForm(const QString &formClass, const host::FormFactory &create,
                                   QWidget *&instance, const QString &controls, int helpIndex,
                                   const QString &params) = 0;

    // Closes the dataset, binds it to cnServer when it has no connection (or only the
    // private one of a new dataset, which has no provider), sets the command
    // text when `sql` is not empty, and opens it; its controls stay quiet meanwhile. Errors
    // of the open reach the caller.
    virtual void OpenCds(quillon::TMyDataSet *cds, const QString &sql);
};

} // namespace tessera
