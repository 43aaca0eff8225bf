#pragma once
// The window of a module dialog: a QDialog that one form fills. The host's dialog
// presenter runs it, so tests never block. Esc and the close box close the form (its own
// close handling runs); a form that closes ends the dialog.

#include <QDialog>

namespace tessera {
class TfBase;
}

namespace tuner {

class TModalFrame : public QDialog
{
    Q_OBJECT
public:
    // Takes `form` as its only child. `fixedSize`: single border, not resizable.
    TModalFrame(tessera::TfBase *form, const QString &title, const QSize &size, bool fixedSize);

    tessera::TfBase *form() const { return m_form; }
    // Shows the form again (a kept dialog was hidden by its last close) and runs the frame
    // modally through the presenter. Returns the presenter's result.
    int showModal();
    // Called by the form when it closed: ends the modal run.
    void formClosed();

    // The frame of a form shown in one, else nullptr.
    static TModalFrame *of(const QWidget *form);

protected:
    void reject() override;

private:
    tessera::TfBase *m_form;
};

} // namespace tuner
