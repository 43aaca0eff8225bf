#pragma once
// Small helpers shared by the Tessera tests: datasets on made-up data, a data module that
// records the functions it was asked to run, a scripted presenter.

#include "baseforms/environment.h"
#include "baseforms/fidm.h"
#include "dataaccess/mydataset.h"
#include "host/dialogpresenter.h"
#include "host/varlist.h"

#include <QFile>
#include <functional>
#include <memory>

namespace testdata {

// A dataset with the fields and rows given, opened in browse state.
inline std::unique_ptr<quillon::TMyDataSet> dataSet(const QList<quillon::FieldDef> &fields,
                                                    const QList<QVariantList> &rows)
{
    auto ds = std::make_unique<quillon::TMyDataSet>();
    quillon::DataPacket p;
    p.fields = fields;
    p.rows = rows;
    ds->SetData(std::move(p));
    return ds;
}

inline host::ScriptedPresenter *scriptedPresenter()
{
    auto p = std::make_unique<host::ScriptedPresenter>();
    auto *raw = p.get();
    host::setDialogPresenter(std::move(p));
    return raw;
}

inline void writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
}

// Records every function call with a copy of the variable list at the time of the call.
class RecordingDM : public tessera::TfIDM
{
public:
    RecordingDM() { lstGVars = &vars; }
    struct Call
    {
        QString name;
        host::VarList vars;
    };
    void CallFunc(const QString &funcName, const QStringList *) override
    {
        calls.append({funcName, vars});
        if (onCall)
            onCall(funcName);
    }
    void SetCdsConn(QObject *) override {}
    QWidget *MyShowMDIForm(const QString &, const host::FormFactory &, QWidget *&, const QString &,
                           int, const QString &) override
    {
        return nullptr;
    }
    host::VarList vars;
    QList<Call> calls;
    std::function<void(const QString &)> onCall;
};

} // namespace testdata
