// Waylink: the desktop client's entry point.
#include "shell/application.h"
#include "shell/fclient.h"

int main(int argc, char **argv)
{
    shell::WaylinkApplication app(argc, argv);
    shell::TfClient form;
    form.show();
    return app.exec();
}
