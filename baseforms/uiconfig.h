#pragma once

#include <QColor>
#include <QString>

namespace tessera {

// The colour configuration of the windows: section "C_sysColor" of the executable's
// configuration file, read once. Values are 0x00BBGGRR integers as the file stores them.
class TUIConfig
{
public:
    // Reads `configFile` (default: the executable's configuration file). A missing file, a
    // missing section or an unreadable value gives the default of that key.
    explicit TUIConfig(const QString &configFile = {});

    qint64 MainBackColor = 0;
    qint64 MainFormColor = 0;
    qint64 DBGridColor = 0;
    qint64 DBGridEvenRowColor = 0;
    qint64 DBGridFixedColor = 0;
    qint64 GradientColorStart = 0;
    qint64 GradientColorStop = 0;
    // Not read from any file; "1.0" switches data forms to the older MDI display.
    QString E3Version;

    static QColor color(qint64 bgr);
};

// The process-wide colour configuration, created on first use.
TUIConfig &UIConfig();
// Reads the configuration again (for tests and after the host changed the file).
void reloadUIConfig(const QString &configFile = {});

} // namespace tessera
