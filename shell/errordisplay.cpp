#include "shell/errordisplay.h"

#include "host/dialogpresenter.h"
#include "host/errors.h"

#include <QLoggingCategory>
#include <QString>

Q_LOGGING_CATEGORY(lcShellErrors, "waylink.shell.errors", QtWarningMsg)

namespace shell {

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
        qCCritical(lcShellErrors) << "cannot show error:" << text;
    }
}

} // namespace shell
