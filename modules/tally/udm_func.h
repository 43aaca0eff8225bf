#pragma once
// The data module of px_Tally: maps the six finance functions to their windows. It owns no
// datasets; each window binds its own to the module's connection.

#include "modules/framework/dmu.h"

namespace tally {

class TDM_Func : public framework::Tdm
{
    Q_OBJECT
public:
    explicit TDM_Func(QObject *owner = nullptr);
    ~TDM_Func() override;

    // Function names, compared folding only A-Z, first match wins: fcenAccEdt,
    // fcenAccQuery, fDFKEdt, fDFKQuery, fDFPFEdt, fDFPFQuery. Unknown names are ignored.
    void new_execute(const QString &callfunc, const QString &funcdesc, const QString &controls,
                     const QStringList &params, int HelpIndex) override;

};

// The module's one data module (made on first use, never freed).
TDM_Func *DM_Func();

} // namespace tally
