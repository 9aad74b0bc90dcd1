#include "Panel.h"

#include "StatusBar.h"

#include <QString>

namespace testing_support {

virtualboard::VirtualInterface bridgeAt(const std::string& path)
{
    virtualboard::VirtualInterface i = virtualboard::VirtualBridge::evaluationBoard();
    i.path = path;
    return i;
}

virtualboard::VirtualInterface keyboardAt(const std::string& path)
{
    virtualboard::VirtualInterface i;
    i.path = path;
    i.vendorId = 0x046D;
    i.productId = 0xC31C;
    i.product = u"USB Keyboard";
    i.serial = u"K-1";
    return i;
}

std::string hex(const virtualboard::Report& report)
{
    std::string text;
    for (const auto byte : report) {
        if (!text.empty())
            text += ' ';
        text += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper().toStdString();
    }
    return text;
}

std::vector<int> commands(const virtualboard::VirtualBridge& bridge)
{
    std::vector<int> bytes;
    for (const auto& report : bridge.written())
        bytes.push_back(report.size() > 2 ? report[2] : -1);
    return bytes;
}

Panel::Panel(bool plugged, app::Environment environment)
{
    bridge.setRealTime(false);
    if (plugged)
        bridge.plug(virtualboard::VirtualBridge::evaluationBoard());
    form = std::make_unique<app::TForm1>(bridge, std::move(environment));
    form->show();
    (void)QTest::qWaitForWindowExposed(form.get());
}

Panel::~Panel() = default;

QString Panel::panel(const char* bar, int index)
{
    return find<toolkit::StatusBar>(bar).Text(index);
}

}  // namespace testing_support
