#pragma once

#include <QString>
#include <stdexcept>
#include <utility>

namespace server {

// The text a user is shown for a refusal of this status when nothing more precise can be
// said (what to do next); the technical reason goes to the request log.
inline QString standardRefusalText(int status)
{
    switch (status) {
    case 400:
        return QStringLiteral("服务器无法识别这次请求的内容，请确认客户端是最新版本后重试；"
                              "问题持续时请联系系统管理员。");
    case 403:
        return QStringLiteral("服务器拒绝了此操作：您没有相应的权限。如需使用，请联系系统管理员。");
    case 404:
        return QStringLiteral("服务器不提供此功能，请确认客户端与服务器的版本一致，或联系系统管理员。");
    case 408:
        return QStringLiteral("请求没有在规定时间内传完，请检查网络后重试。");
    case 409:
        return QStringLiteral("数据已被其他用户修改或已存在相同的记录，请刷新后重试。");
    case 413:
        return QStringLiteral("提交的数据太大，请分批提交或缩小附件后重试。");
    case 415:
        return QStringLiteral("服务器不接受这种压缩方式的数据，请升级客户端后重试。");
    case 429:
        return QStringLiteral("服务器正忙，请稍后重试。");
    case 431:
        return QStringLiteral("请求头太大，服务器无法处理，请重新登录后重试；问题持续时请联系系统管理员。");
    case 503:
        return QStringLiteral("服务器当前连接过多，请稍后重试；经常出现时请联系系统管理员。");
    default:
        return QStringLiteral("服务器处理请求时出错，请稍后重试；问题持续时请联系系统管理员。");
    }
}

// A refusal or failure of the server as the caller gets it: the HTTP status, the text the
// user is shown (Chinese, says what to do next) and the technical reason for the log. The
// one error type of requests: the route, method and administration handlers, the file
// areas, ApplyData and the server's limits all throw it.
class ServerError : public std::runtime_error
{
public:
    ServerError(int status, const QString &userText, const QString &reason = QString())
        : std::runtime_error((reason.isEmpty() ? userText : reason).toStdString())
        , m_status(status)
        , m_userText(userText)
        , m_reason(reason.isEmpty() ? userText : reason)
    {}
    // A refusal whose reason is technical only: the user gets the standard text of the
    // status.
    static ServerError technical(int status, const QString &reason)
    {
        return ServerError(status, standardRefusalText(status), reason);
    }
    int status() const noexcept { return m_status; }
    const QString &userText() const noexcept { return m_userText; }
    const QString &reason() const noexcept { return m_reason; }
    // The kind the answer names for callers that tell refusals apart (the protocol's error
    // kinds, e.g. quillon::protocol::kDuplicateKeyError); empty: none.
    const QString &kind() const noexcept { return m_kind; }
    ServerError &&withKind(const QString &kind) &&
    {
        m_kind = kind;
        return std::move(*this);
    }

private:
    int m_status;
    QString m_userText;
    QString m_reason;
    QString m_kind;
};

} // namespace server
