#include "host/errordisplay.h"

#include "host/dialogpresenter.h"
#include "host/errors.h"

#include <QLoggingCategory>
#include <QString>

Q_LOGGING_CATEGORY(lcHostErrors, "waylink.host.errors", QtWarningMsg)

namespace host {

ErrorText describeException(std::exception_ptr e) noexcept
{
    ErrorText out;
    try {
        std::rethrow_exception(e);
    } catch (const host::UserError &err) {
        out.text = err.message();
        out.details = err.details();
    } catch (const std::exception &err) {
        const QString what = QString::fromUtf8(err.what());
        const auto *facing = dynamic_cast<const host::UserFacing *>(&err);
        if (facing && !facing->userText().isEmpty()) {
            out.text = facing->userText();
            out.details = facing->technicalText();
        } else if (host::looksChinese(what)) {
            out.text = what;
        } else {
            out.details = what;
        }
    } catch (...) {
    }
    if (out.text.isEmpty()) {
        out.text = QStringLiteral("程序遇到了意外的问题，刚才的操作没有完成。请重试；"
                                  "问题持续时请把详细信息告诉系统管理员。");
    }
    return out;
}

void showException(std::exception_ptr e) noexcept
{
    try {
        std::rethrow_exception(e);
    } catch (const host::SilentAbort &) {
        return;
    } catch (...) {
    }
    const ErrorText t = describeException(e);
    if (!t.details.isEmpty())
        qCWarning(lcHostErrors).noquote() << t.text << "|" << t.details;
    try {
        host::dialogPresenter().showDetailedMessage(host::MessageKind::Error,
                                                    QStringLiteral("错误"), t.text, t.details);
    } catch (...) {
        qCCritical(lcHostErrors) << "cannot show error:" << t.text;
    }
}

} // namespace host
