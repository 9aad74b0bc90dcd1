#pragma once
// The panel program's command line and what its options add to the panel:
// --monitor, the bus monitor beside it; --log FILE, every exchange appended to
// FILE as a JSON line; --serial S, only the bridge with serial number S is
// used; --review FILE, a log or saved record opened for review instead of the
// panel; --help and --version. Without options the panel is all there is, on
// the host as it is.

#include "Application.h"
#include "Beside.h"
#include "HIDapi.h"
#include "Log.h"
#include "MonitorWindow.h"
#include "ReviewWindow.h"
#include "TForm1.h"

#include <QStringList>
#include <QTextStream>

#include <functional>
#include <memory>

namespace app {

inline constexpr int kExitUsage = 64;  // a bad command line or an unusable log: nothing was sent

// "KRL7741AT <version>".
QString versionText();

struct Options {
    bool monitor = false;
    QString log;     // empty: no log
    QString serial;  // empty: any bridge
    QString review;  // a file to review instead of the panel; empty: none
};

class Program {
public:
    // Reads the command line (arguments[0] is the program) and builds the
    // panel on `host` with what the options ask for, none of it shown yet.
    // Help and the version go to `out`. When the result has no program, the
    // command line was help, the version, wrong, or named a log that cannot
    // be written: `status` is the exit status, the reason is on `err`, and
    // nothing was sent. main() shows both (showStartTexts, StartTexts.h).
    struct Started;
    static Started start(const QStringList& arguments, bridge::HIDapi& host, QTextStream& out,
                         QTextStream& err);

    // A log that stops says so on the monitor, or without one in a box over
    // the panel.
    Program(const Options& options, bridge::HIDapi& host);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Shows the panel, and the monitor beside it.
    void show();

    // The panel; none with --review.
    TForm1& form() { return *form_; }
    monitor::ReviewWindow* review() { return review_.get(); }
    monitor::MonitorWindow* monitor() { return monitor_.get(); }
    record::Record* traffic() { return recording_ ? &recording_->record : nullptr; }

private:
    std::unique_ptr<Recording> recording_;
    std::unique_ptr<record::Log> log_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<monitor::MonitorWindow> monitor_;
    std::unique_ptr<monitor::ReviewWindow> review_;
};

struct Program::Started {
    std::unique_ptr<Program> program;
    int status = 0;
};

// The program as KRL7741AT's main() runs it on `host`: the command line of
// `application` read (Program::start), the start-up texts shown where the
// person who started it sees them, the windows shown and the event loop run;
// the exit status. `shown`, when given, is called with the program once its
// windows are shown, before the event loop runs (the Windows test agent,
// tests/windows/panel_agent.cpp, steers the windows from there).
int run(Application& application, bridge::HIDapi& host, const std::function<void(Program&)>& shown = {});

}  // namespace app
