// Waylink: the desktop client's entry point.
#include "dataaccess/packet/localtimezone.h"
#include "shell/application.h"
#include "shell/fclient.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QTimer>
#include <cstdio>

namespace {

// With WAYLINK_STARTUP_PROBE set, the program reports when the log-on panel has been
// painted for the first time and ends (used by the start-up benchmark).
class StartupProbe : public QObject
{
public:
    explicit StartupProbe(const QElapsedTimer &clock)
        : m_clock(clock)
    {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTimer::singleShot(0, qApp, [this] {
                std::printf("WAYLINK-LOGON-VISIBLE %.3f\n", m_clock.nsecsElapsed() / 1e6);
                std::fflush(stdout);
                QCoreApplication::exit(0); // quit() would ask to close the window
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer &m_clock;
    bool m_done = false;
};

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer clock;
    clock.start();
    quillon::pinLocalTimeZone();
    shell::WaylinkApplication app(argc, argv);
    shell::installLogFile(QCoreApplication::applicationDirPath() + QStringLiteral("/log/waylink.log"));
    shell::TfClient form;
    StartupProbe probe(clock);
    if (qEnvironmentVariableIsSet("WAYLINK_STARTUP_PROBE"))
        form.GrpLogIn->installEventFilter(&probe);
    form.show();
    return app.exec();
}
