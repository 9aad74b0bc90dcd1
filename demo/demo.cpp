// The panel on the virtual evaluation board: a virtual bridge with a KRL7741B
// behind it, plugged in from the start, and beside the panel a window showing
// what the board does and the panel's traffic with it, and letting the
// operator break it.

#include "Application.h"
#include "BoardWindow.h"
#include "MonitorWindow.h"
#include "Record.h"
#include "RecordingHost.h"
#include "TForm1.h"
#include "VirtualBridge.h"

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(KRL_DESKTOP_FILE));
    virtualboard::VirtualBridge board;
    // The panel's traffic with the board, recorded as the bus monitor records it.
    record::Record traffic;
    record::RecordingHost recorded(board, traffic);
    // The board window first, so its trace starts with the panel's first report.
    virtualboard::BoardWindow boardWindow(board, traffic);
    board.plug(virtualboard::VirtualBridge::evaluationBoard());
    app::TForm1 Form1(recorded);
    Form1.show();

    // Closing the panel ends the demo; the board window alone does not keep it running.
    boardWindow.setAttribute(Qt::WA_QuitOnClose, false);
    monitor::placeBeside(boardWindow, Form1);
    boardWindow.show();
    return application.exec();
}
