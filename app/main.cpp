// The panel on real hardware: the bridge through the host's HID services,
// with the bus monitor and the log when the command line asks for them.

#include "Application.h"
#include "HidapiHost.h"
#include "Program.h"

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(KRL_DESKTOP_FILE));
    bridge::HidapiHost host;
    return app::run(application, host);
}
