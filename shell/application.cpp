#include "shell/application.h"

#include "host/errordisplay.h"

namespace shell {

WaylinkApplication::WaylinkApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Waylink"));
    setOrganizationName(QStringLiteral("Waylink"));
}

bool WaylinkApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        host::showException(std::current_exception());
        return false;
    }
}

} // namespace shell
