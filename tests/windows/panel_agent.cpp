// The panel as KRL7741AT.exe makes it (the real host, the window, the
// platform's device notices), steered one line at a time from standard input,
// answering one line each on standard output, so that a scenario outside wine
// can press its keys and read its texts while it runs on a simulated bridge
// (tests/hidraw/wine_test.cpp, WinePanel). scripts/build-windows --test puts it
// beside the installed programs, so it runs on the installed Qt and hidapi.
//
//   text <bar> <panel>              the panel's text ("USB = OPEN ")
//   wait <bar> <panel> <ms> <text>  waits until the panel shows text, then as text
//   portw                           the message field's text
//   press <track bar> <Left|Right>  a key pressed and let go on the track bar
//   click <radio button>            a click on its circle
//   shot <file>                     saves a picture of the window (a PNG file)
//   quit

#include "Application.h"
#include "HidapiHost.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TrackBar.h"

#include <QEventLoop>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <chrono>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

template <typename T>
T* control(QWidget& window, const std::string& name)
{
    return window.findChild<T*>(QString::fromStdString(name));
}

std::string text(app::TForm1& form, const std::string& bar, int index)
{
    auto* statusBar = control<toolkit::StatusBar>(form, bar);
    return statusBar ? statusBar->text(index).toStdString() : "(no status bar " + bar + ")";
}

// Runs the event loop until the panel shows `wanted` or `ms` have passed.
std::string waitFor(app::TForm1& form, const std::string& bar, int index, int ms, const std::string& wanted)
{
    QEventLoop loop;
    QTimer poll;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    const auto check = [&] {
        if (text(form, bar, index) == wanted || std::chrono::steady_clock::now() >= deadline)
            loop.quit();
    };
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    poll.start(10);
    check();
    if (text(form, bar, index) != wanted)
        loop.exec();
    return text(form, bar, index);
}

std::string run(app::TForm1& form, const std::string& line)
{
    std::istringstream in(line);
    std::string verb, name;
    in >> verb;
    if (verb == "text") {
        int index = 0;
        in >> name >> index;
        return text(form, name, index);
    }
    if (verb == "wait") {
        int index = 0, ms = 0;
        in >> name >> index >> ms;
        std::string wanted;
        std::getline(in, wanted);
        if (!wanted.empty() && wanted.front() == ' ')
            wanted.erase(0, 1);
        return waitFor(form, name, index, ms, wanted);
    }
    if (verb == "portw") {
        auto* field = control<QTextEdit>(form, "PORTW");
        return field ? field->toPlainText().toStdString() : "(no PORTW)";
    }
    if (verb == "press") {
        std::string key;
        in >> name >> key;
        auto* trackBar = control<toolkit::TrackBar>(form, name);
        if (!trackBar)
            return "(no track bar " + name + ")";
        trackBar->setFocus();
        QTest::keyClick(trackBar, key == "Left" ? Qt::Key_Left : Qt::Key_Right);
        return "ok";
    }
    if (verb == "click") {
        in >> name;
        auto* button = control<QRadioButton>(form, name);
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
        return form.grab().save(QString::fromStdString(file)) ? "ok" : "cannot write " + file;
    }
    return "unknown command: " + line;
}

}  // namespace

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    bridge::HidapiHost host;
    app::TForm1 form(host);
    form.show();
    // Standard input is read on a thread of its own; each line is handled on
    // the window's thread, between its events.
    std::thread([&form] {
        std::string line;
        while (std::getline(std::cin, line)) {
            while (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line == "quit")
                break;
            const auto handle = [&form, line] { std::cout << run(form, line) << std::endl; };
            QMetaObject::invokeMethod(&form, handle, Qt::BlockingQueuedConnection);
        }
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }).detach();
    std::cout << "ready" << std::endl;
    return application.exec();
}
