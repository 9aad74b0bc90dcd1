// The panel on real hardware: the bridge through the host's HID services,
// with the bus monitor and the log when the command line asks for them.

#include "Application.h"
#include "HidapiHost.h"
#include "Program.h"
#include "StartTexts.h"

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(KRL_DESKTOP_FILE));
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    bridge::HidapiHost host;
    const app::Program::Started started = app::Program::start(application.arguments(), host, out, err);
    out.flush();
    err.flush();
    app::showStartTexts(application.title(), outText, errText);
    if (!started.program)
        return started.status;
    started.program->show();
    return application.exec();
}
