#pragma once
// The panel with its traffic recorded and a window on the record beside it,
// as the program (--monitor, --log) and the demo (the board window) build it.

#include "HIDapi.h"
#include "Record.h"
#include "RecordingHost.h"
#include "TForm1.h"

#include <QWidget>

namespace app {

// The record of every exchange on `host`, and the host that keeps it: the
// one the panel is to run on.
struct Recording {
    explicit Recording(bridge::HIDapi& host) : recorded(host, record) {}

    record::Record record;
    record::RecordingHost recorded;
};

// Shows the panel, then `window` beside it (monitor::placeBeside). Closing
// the panel ends the program; closing `window` alone does not.
void showBeside(TForm1& panel, QWidget& window);

}  // namespace app
