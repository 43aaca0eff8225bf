#include "modules/tally/financerun.h"

#include "host/errors.h"
#include "modules/tally/financecalls.h"

namespace tally {

LineFailure lineFailureOf(std::exception_ptr error, const QString &bill)
{
    const QString line = QStringLiteral("运单[%1]").arg(bill);
    const QString unexpected = QStringLiteral("请重试；问题持续时请把详细信息告诉系统管理员");
    try {
        std::rethrow_exception(error);
    } catch (const RunError &e) {
        return {e.message(), e.advice(), e.details()};
    } catch (const host::SilentAbort &) {
        // Its own message was shown already.
        return {line + QStringLiteral("没有处理完"), QStringLiteral("请按刚才的提示处理"), QString()};
    } catch (const host::UserError &e) {
        if (host::looksChinese(e.message()))
            return {line + QStringLiteral("没有处理完：") + e.message(), QStringLiteral("请检查这条记录"),
                    e.details()};
        return {line + QStringLiteral("处理时出现意外错误"), unexpected, e.message() + u' ' + e.details()};
    } catch (const std::exception &e) {
        const auto *facing = dynamic_cast<const host::UserFacing *>(&e);
        QString details = facing ? facing->technicalText() : QString::fromUtf8(e.what());
        if (facing && host::looksChinese(facing->userText()))
            return {line + QStringLiteral("没有处理完：") + facing->userText(), kAdviceConnection, details};
        return {line + QStringLiteral("处理时出现意外错误"), unexpected, details};
    } catch (...) {
    }
    return {line + QStringLiteral("处理时出现意外错误"), unexpected, QString()};
}

QString runEndText(const RunReport &r, const QString &doneHint)
{
    switch (r.end) {
    case RunReport::End::Done:
        return doneHint;
    case RunReport::End::Stopped:
        return QStringLiteral("已停止：处理了%1条，其余%2条没有改动。").arg(r.done).arg(r.total - r.done);
    case RunReport::End::Failed:
        break;
    }
    // Chinese texts end their sentences themselves; the advice gets the closing full stop.
    auto sentence = [](QString s) {
        while (s.endsWith(u'。') || s.endsWith(u'.') || s.endsWith(u'！') || s.endsWith(u'!'))
            s.chop(1);
        return s;
    };
    const QString failure = sentence(r.failure.message);
    const QString advice = sentence(r.failure.advice);
    if (r.single)
        return failure + QStringLiteral("，这条记录没有改动。") + advice + QStringLiteral("。");
    return failure
           + QStringLiteral("，处理停在这一条，这条记录没有改动；之前已处理的%1条保留新值（尚未保存）。").arg(r.done)
           + advice + QStringLiteral("，再对其余记录重做。");
}

} // namespace tally
