#pragma once
// A panel window on a virtual bridge, and helpers to find its named controls
// and to read what the bridge received.

#include "Record.h"
#include "RecordingHost.h"
#include "TForm1.h"
#include "VirtualBridge.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace testing_support {

// A bridge with the evaluation board's ids at path `path`.
virtualboard::VirtualInterface bridgeAt(const std::string& path);
// A HID device that is not the bridge.
virtualboard::VirtualInterface keyboardAt(const std::string& path);

// "00 70 6C 6C" for a report.
std::string hex(const virtualboard::Report& report);
// The command bytes (byte 2) of every report written, in order.
std::vector<int> commands(const virtualboard::VirtualBridge& bridge);

// The control named `name` in `window`; throws when there is none.
template <typename T>
T& control(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        throw std::runtime_error(std::string("no control named ") + name);
    return *found;
}

// Drags the track bar's handle to `value` with the mouse, as a person would.
void dragTo(QWidget& trackBar, int value);

// The panel on a virtual bridge, its traffic recorded as the bus monitor
// records it.
struct Panel {
    explicit Panel(bool plugged = true, app::Environment environment = {});
    ~Panel();

    template <typename T>
    T& find(const char* name)
    {
        return control<T>(*form, name);
    }

    QString panel(const char* bar, int index);
    QString portw() { return find<QTextEdit>("PORTW").toPlainText(); }

    virtualboard::VirtualBridge bridge;
    record::Record record;
    record::RecordingHost recorded{bridge, record};
    std::unique_ptr<app::TForm1> form;
};

}  // namespace testing_support
