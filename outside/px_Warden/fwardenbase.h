#pragma once

#include "baseforms/fdbbase.h"

#include <QCborMap>

#include <functional>

namespace quillon {
struct DataPacket;
}

namespace warden {

// What the administration windows share: the module's data module, and server calls whose
// refusals are shown as a warning with the server's text before the action stops.
class TfWardenBase : public tessera::TfDBBase
{
    Q_OBJECT
public:
    explicit TfWardenBase(QWidget *parent = nullptr);

    // The administration call; a refusal shows its text and ends in host::SilentAbort.
    QCborMap Call(const QString &call, const QCborMap &args = QCborMap());
    quillon::DataPacket CallPacket(const QString &call, const QString &key,
                                   const QCborMap &args = QCborMap());

    // The signed-on user ("LogOnUser") and whether it is the super administrator.
    static QString logOnUser();
    static bool isSuperUser();

    // A new entry is being entered (not yet saved).
    bool isNew() const { return m_new; }

protected:
    void InitPDM() override;
    void FormShow() override;
    // What the first showing of the window loads: by default its list (刷新), a refusal
    // already shown to the user.
    virtual void firstShow();
    // 刷新, 新增, 保存 and 撤消 on the toolbar of a window that edits the entries of one
    // list, with their handlers; `selected` tells whether an entry is chosen. The window
    // adds its own tools after these.
    void addEntryTools(std::function<void()> add, std::function<void()> save,
                       std::function<void()> cancel, std::function<bool()> selected);
    // A required text: warns with `message`, focuses the control and stops the action.
    void require(bool ok, QWidget *control, const QString &message);

    bool m_new = false;

private:
    bool m_shown = false;
};

} // namespace warden
