// The panel on the virtual evaluation board: a virtual bridge with a KRL7741B
// behind it, plugged in from the start, and beside the panel a window showing
// what the board does and letting the operator break it.

#include "Application.h"
#include "BoardWindow.h"
#include "TForm1.h"
#include "VirtualBridge.h"

#include <QScreen>

#include <algorithm>

namespace {

constexpr int kGap = 8;  // between the panel and the board window

// To the right of the panel, top edges level; on the left when the screen has
// no room on the right; kept on the screen either way.
void placeBeside(QWidget& board, const QWidget& panel)
{
    const QRect frame = panel.frameGeometry();
    const QScreen* screen = panel.screen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const int width = board.frameGeometry().width();
    const int height = board.frameGeometry().height();

    int x = frame.right() + 1 + kGap;
    if (room.isValid() && x + width > room.right() + 1)
        x = frame.left() - kGap - width;
    int y = frame.top();
    if (room.isValid()) {
        x = std::clamp(x, room.left(), std::max(room.left(), room.right() + 1 - width));
        y = std::clamp(y, room.top(), std::max(room.top(), room.bottom() + 1 - height));
    }
    board.move(x, y);
}

}  // namespace

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(KRL_DESKTOP_FILE));
    virtualboard::VirtualBridge board;
    // The board window first, so its trace starts with the panel's first report.
    virtualboard::BoardWindow boardWindow(board);
    board.plug(virtualboard::VirtualBridge::evaluationBoard());
    app::TForm1 Form1(board);
    Form1.show();

    // Closing the panel ends the demo; the board window alone does not keep it running.
    boardWindow.setAttribute(Qt::WA_QuitOnClose, false);
    placeBeside(boardWindow, Form1);
    boardWindow.show();
    return application.exec();
}
