// KRL7741AT.exe as its main() runs it (app::run: the command line it is given,
// --monitor and --log among them, the real host, the windows and the
// platform's device notices), steered one line at a time from standard input,
// answering one line each on standard output, so that a scenario outside wine
// can press its keys and read its texts while it runs on a simulated bridge
// (tests/hidraw/wine_test.cpp, WinePanel). The windows are found as a person
// finds them, by what is on the screen: the program's top-level windows, by
// object name. scripts/build-windows --test puts the agent beside the
// installed programs, so it runs on the installed Qt and hidapi.
//
//   text <bar> <panel>          the panel's status bar text ("USB = OPEN ")
//   portw                       the message field's text
//   trace                       the monitor's newest trace line
//   label <name>                a label's text in the monitor ("HostPwm1", "LogStatus")
//   windows                     the object names of the windows shown, sorted
//   wait <ms> <query> = <text>  waits until the query (one of the above) answers
//                               text, then answers as the query
//   wait <ms> <query> ~ <text>  the same, until the answer holds text
//   press <track bar> <Left|Right>  a key pressed and let go on the track bar
//   click <radio button>        a click on its circle
//   shot <file>                 saves a picture of the panel (a PNG file)
//   quit

#include "Application.h"
#include "HidapiHost.h"
#include "Program.h"
#include "StatusBar.h"
#include "TraceView.h"
#include "TrackBar.h"

#include <QEventLoop>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// A window shown, by object name ("Form1", "MonitorWindow").
QWidget* window(const char* name)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto named
        = [name](const QWidget* w) { return w->isVisible() && w->objectName() == QLatin1String(name); };
    const auto found = std::find_if(windows.begin(), windows.end(), named);
    return found == windows.end() ? nullptr : *found;
}

template <typename T>
T* control(const char* windowName, const std::string& name)
{
    QWidget* w = window(windowName);
    return w ? w->findChild<T*>(QString::fromStdString(name)) : nullptr;
}

// A query's answer: what a person would read on the screen.
std::string query(std::istringstream& in)
{
    std::string verb, name;
    in >> verb;
    if (verb == "text") {
        int index = 0;
        in >> name >> index;
        auto* bar = control<toolkit::StatusBar>("Form1", name);
        return bar ? bar->text(index).toStdString() : "(no status bar " + name + ")";
    }
    if (verb == "portw") {
        auto* field = control<QTextEdit>("Form1", "PORTW");
        return field ? field->toPlainText().toStdString() : "(no PORTW)";
    }
    if (verb == "trace") {
        auto* trace = control<monitor::TraceView>("MonitorWindow", "Trace");
        if (!trace)
            return "(no trace)";
        const QStringList lines = trace->lines();
        return lines.isEmpty() ? "(no line)" : lines.back().toStdString();
    }
    if (verb == "label") {
        in >> name;
        auto* label = control<QLabel>("MonitorWindow", name);
        return label ? label->text().toStdString() : "(no label " + name + ")";
    }
    if (verb == "windows") {
        QStringList names;
        for (const QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible())
                names.append(w->objectName());
        }
        names.sort();
        return names.join(QLatin1Char(' ')).toStdString();
    }
    return "unknown query: " + verb;
}

// Runs the event loop, so that the windows follow what happened, until the
// query answers `wanted` (or holds it, with `~`) or `ms` have passed.
std::string waitFor(int ms, const std::string& asked, char how, const std::string& wanted)
{
    const auto answer = [&asked] {
        std::istringstream in(asked);
        return query(in);
    };
    const auto good = [&] {
        const std::string now = answer();
        return how == '~' ? now.find(wanted) != std::string::npos : now == wanted;
    };
    QEventLoop loop;
    QTimer poll;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    const auto check = [&] {
        if (good() || std::chrono::steady_clock::now() >= deadline)
            loop.quit();
    };
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    poll.start(10);
    if (!good())
        loop.exec();
    return answer();
}

std::string run(const std::string& line)
{
    std::istringstream in(line);
    std::string verb, name;
    in >> verb;
    if (verb == "wait") {
        int ms = 0;
        in >> ms;
        std::string rest;
        std::getline(in >> std::ws, rest);
        const auto mark = rest.find_first_of("=~");
        if (mark == std::string::npos || mark == 0 || mark + 1 >= rest.size() || rest[mark + 1] != ' ')
            return "wait needs: wait <ms> <query> = <text>";
        return waitFor(ms, rest.substr(0, mark - 1), rest[mark], rest.substr(mark + 2));
    }
    if (verb == "press") {
        std::string key;
        in >> name >> key;
        auto* trackBar = control<toolkit::TrackBar>("Form1", name);
        if (!trackBar)
            return "(no track bar " + name + ")";
        trackBar->setFocus();
        QTest::keyClick(trackBar, key == "Left" ? Qt::Key_Left : Qt::Key_Right);
        return "ok";
    }
    if (verb == "click") {
        in >> name;
        auto* button = control<QRadioButton>("Form1", name);
        if (!button)
            return "(no radio button " + name + ")";
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect circle
            = button->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, button);
        QTest::mouseClick(button, Qt::LeftButton, {}, circle.center());
        return button->isChecked() ? "ok" : "not checked";
    }
    if (verb == "shot") {
        std::string file;
        std::getline(in >> std::ws, file);
        QWidget* form = window("Form1");
        return form && form->grab().save(QString::fromStdString(file)) ? "ok" : "cannot write " + file;
    }
    std::istringstream asked(line);
    return query(asked);
}

// Reads standard input on a thread of its own; each line is handled on the
// windows' thread, between their events.
void steerFromStandardInput(app::Program&)
{
    std::thread([] {
        std::string line;
        while (std::getline(std::cin, line)) {
            while (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line == "quit")
                break;
            const auto handle = [line] { std::cout << run(line) << std::endl; };
            QMetaObject::invokeMethod(qApp, handle, Qt::BlockingQueuedConnection);
        }
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }).detach();
    std::cout << "ready" << std::endl;
}

}  // namespace

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    bridge::HidapiHost host;
    return app::run(application, host, steerFromStandardInput);
}
