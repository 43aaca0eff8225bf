#include "baseforms/msgconfig.h"

#include "baseforms/environment.h"
#include "baseforms/inifile.h"

namespace tessera {

TMsgConfig::TMsgConfig(QString directory)
    : m_directory(std::move(directory))
{}

QString TMsgConfig::GetMsgStr(const QString &msgId)
{
    if (m_msgList.isEmpty()) {
        QString dir = m_directory.isEmpty() ? appPath() : m_directory;
        if (!dir.endsWith(QLatin1Char('/')))
            dir += QLatin1Char('/');
        const IniFile ini(dir + QStringLiteral("ShowMsg.ini"));
        m_msgList = ini.values(QStringLiteral("MsgList"));
    }
    for (const auto &line : std::as_const(m_msgList))
        if (line.first.compare(msgId, Qt::CaseInsensitive) == 0)
            return line.second;
    return {};
}

TMsgConfig &MsgConfig()
{
    static TMsgConfig config;
    return config;
}

QString msgText(const QString &msgId)
{
    return MsgConfig().GetMsgStr(msgId);
}

} // namespace tessera
