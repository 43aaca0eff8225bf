#include "host/errordisplay.h"

#include "host/dialogpresenter.h"
#include "host/errors.h"

#include <QLoggingCategory>
#include <QString>

Q_LOGGING_CATEGORY(lcHostErrors, "waylink.host.errors", QtWarningMsg)

namespace host {

void showException(std::exception_ptr e) noexcept
{
    QString text;
    try {
        std::rethrow_exception(e);
    } catch (const host::SilentAbort &) {
        return;
    } catch (const host::UserError &err) {
        text = err.message();
    } catch (const std::exception &err) {
        text = QString::fromUtf8(err.what());
    } catch (...) {
        text = QStringLiteral("发生未知错误");
    }
    try {
        host::dialogPresenter().showMessage(host::MessageKind::Error, QStringLiteral("错误"), text);
    } catch (...) {
        qCCritical(lcHostErrors) << "cannot show error:" << text;
    }
}

} // namespace host
