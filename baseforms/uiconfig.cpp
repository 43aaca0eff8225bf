#include "baseforms/uiconfig.h"

#include "baseforms/environment.h"
#include "baseforms/inifile.h"

#include <memory>

namespace tessera {

TUIConfig::TUIConfig(const QString &configFile)
{
    const IniFile ini(configFile.isEmpty() ? configFileName() : configFile);
    const QString s = QStringLiteral("C_sysColor");
    MainBackColor = ini.intValue(s, QStringLiteral("C_MainBackColor"), 11758082);
    MainFormColor = ini.intValue(s, QStringLiteral("C_MainColor"), 16250356);
    DBGridColor = ini.intValue(s, QStringLiteral("C_DBGridColor"), 16777215);
    DBGridEvenRowColor = ini.intValue(s, QStringLiteral("C_DBGridEvenRowColor"), 16707053);
    DBGridFixedColor = ini.intValue(s, QStringLiteral("C_DBGridFixedColor"), 16636634);
    GradientColorStart = ini.intValue(s, QStringLiteral("C_GradientColorStart"), 16579064);
    GradientColorStop = ini.intValue(s, QStringLiteral("C_GradientColorStop"), 15790320);
}

QColor TUIConfig::color(qint64 bgr)
{
    return colorFromBgr(bgr);
}

namespace {
std::unique_ptr<TUIConfig> &slot()
{
    static std::unique_ptr<TUIConfig> config;
    return config;
}
} // namespace

TUIConfig &UIConfig()
{
    if (!slot())
        slot() = std::make_unique<TUIConfig>();
    return *slot();
}

void reloadUIConfig(const QString &configFile)
{
    const QString e3 = slot() ? slot()->E3Version : QString();
    slot() = std::make_unique<TUIConfig>(configFile);
    slot()->E3Version = e3;
}

} // namespace tessera
