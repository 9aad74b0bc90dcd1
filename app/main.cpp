// The panel on real hardware: the bridge through the host's HID services.

#include "Application.h"
#include "HidapiHost.h"
#include "TForm1.h"

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(KRL_DESKTOP_FILE));
    bridge::HidapiHost host;
    app::TForm1 Form1(host);
    Form1.show();
    return application.exec();
}
