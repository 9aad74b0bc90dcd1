#include "Panel.h"

#include "Commands.h"
#include "StatusBar.h"

#include <QSlider>
#include <QString>
#include <QStyle>
#include <QStyleOptionSlider>

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
        text += driver::hexByte(byte).toStdString();
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

namespace {

// Exposes the style option a slider paints with.
class SliderProbe : public QSlider {
public:
    using QSlider::initStyleOption;
};

}  // namespace

void dragTo(QWidget& trackBar, int value)
{
    auto& slider = static_cast<SliderProbe&>(static_cast<QSlider&>(trackBar));
    QStyleOptionSlider opt;
    slider.initStyleOption(&opt);
    const QStyle* style = slider.style();
    const QRect groove = style->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, &slider);
    const QRect handle = style->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, &slider);
    const int span = groove.width() - handle.width();
    const int left
        = groove.x() + QStyle::sliderPositionFromValue(slider.minimum(), slider.maximum(), value, span);
    const QPoint from = handle.center();
    const QPoint to(left + handle.width() / 2, from.y());
    QTest::mousePress(&slider, Qt::LeftButton, {}, from);
    const int steps = 6;
    for (int i = 1; i <= steps; ++i)
        QTest::mouseMove(&slider, from + (to - from) * i / steps);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, to);
}

Panel::Panel(bool plugged, app::Environment environment)
{
    bridge.setRealTime(false);
    if (plugged)
        bridge.plug(virtualboard::VirtualBridge::evaluationBoard());
    form = std::make_unique<app::TForm1>(recorded, std::move(environment));
    form->show();
    (void)QTest::qWaitForWindowExposed(form.get());
}

Panel::~Panel() = default;

QString Panel::panel(const char* bar, int index) { return find<toolkit::StatusBar>(bar).text(index); }

}  // namespace testing_support
