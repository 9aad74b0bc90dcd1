// The panel on the virtual evaluation board: a virtual bridge with a KRL7741B
// behind it, plugged in from the start.

#include "Application.h"
#include "TForm1.h"
#include "VirtualBridge.h"

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    virtualboard::VirtualBridge board;
    board.plug(virtualboard::VirtualBridge::evaluationBoard());
    app::TForm1 Form1(board);
    Form1.show();
    return application.exec();
}
