#include "Beside.h"

#include "MonitorWindow.h"

namespace app {

void showBeside(TForm1& panel, QWidget& window)
{
    window.setAttribute(Qt::WA_QuitOnClose, false);
    panel.show();
    monitor::placeBeside(window, panel);
    window.show();
}

}  // namespace app
