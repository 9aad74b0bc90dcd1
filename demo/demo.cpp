// The panel on the virtual evaluation board: a virtual bridge with a KRL7741B
// behind it, plugged in from the start, and beside the panel a window showing
// what the board does and the panel's traffic with it, and letting the
// operator break it.

#include "Application.h"
#include "Beside.h"
#include "BoardWindow.h"
#include "TForm1.h"
#include "VirtualBridge.h"

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(KRL_DESKTOP_FILE));
    virtualboard::VirtualBridge board;
    // The panel's traffic with the board, recorded as the bus monitor records it.
    app::Recording traffic(board);
    // The board window first, so its trace starts with the panel's first report.
    virtualboard::BoardWindow boardWindow(board, traffic.record);
    board.plug(virtualboard::VirtualBridge::evaluationBoard());
    app::TForm1 Form1(traffic.recorded);
    app::showBeside(Form1, boardWindow);
    return application.exec();
}
