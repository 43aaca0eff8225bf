#include "modules/tuner/modalframe.h"

#include "baseforms/fbase.h"
#include "host/dialogpresenter.h"

#include <QVBoxLayout>

namespace tuner {

TModalFrame::TModalFrame(tessera::TfBase *form, const QString &title, const QSize &size,
                         bool fixedSize)
    : QDialog(nullptr)
    , m_form(form)
{
    setObjectName(form->objectName() + QStringLiteral("Frame"));
    setWindowTitle(title);
    // Only the system menu and the close box in the caption bar.
    setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    form->setParent(this);
    layout->addWidget(form);
    if (fixedSize)
        setFixedSize(size);
    else
        resize(size);
}

TModalFrame *TModalFrame::of(const QWidget *form)
{
    return form ? qobject_cast<TModalFrame *>(form->parentWidget()) : nullptr;
}

int TModalFrame::showModal()
{
    m_form->setVisible(true);
    return host::dialogPresenter().execDialog(this);
}

void TModalFrame::formClosed()
{
    if (isVisible())
        done(QDialog::Rejected);
}

void TModalFrame::reject()
{
    // The form decides (it may keep the dialog open); its close handling ends the run.
    if (m_form->isVisible())
        m_form->close();
    else
        QDialog::reject();
}

} // namespace tuner
