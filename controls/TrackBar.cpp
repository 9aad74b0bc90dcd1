#include "TrackBar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

namespace toolkit {

namespace {

constexpr int kRepeatDelayMs = 500;
constexpr int kRepeatIntervalMs = 50;

bool IsScrollKey(int key)
{
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

}  // namespace

TrackBar::TrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(1);
    setSingleStep(1);
    setPageStep(2);
    setFocusPolicy(Qt::StrongFocus);
    connect(&pageRepeat_, &QTimer::timeout, this, &TrackBar::repeatPage);
    connect(this, &QSlider::valueChanged, this, [this] {
        if (!scrolling_)
            emit scrolled();
    });
}

QRect TrackBar::handleRect() const
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    return style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
}

int TrackBar::valueAtHandleLeft(int x) const
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    return QStyle::sliderValueFromPosition(minimum(), maximum(), x - groove.x(), span, opt.upsideDown);
}

void TrackBar::scrollTo(int v)
{
    scrolling_ = true;
    setValue(v);
    scrolling_ = false;
    emit scrolled();
}

void TrackBar::keyPressEvent(QKeyEvent* event)
{
    int target = 0;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        target = value() - singleStep();
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        target = value() + singleStep();
        break;
    case Qt::Key_PageUp:
        target = value() - pageStep();
        break;
    case Qt::Key_PageDown:
        target = value() + pageStep();
        break;
    case Qt::Key_Home:
        target = minimum();
        break;
    case Qt::Key_End:
        target = maximum();
        break;
    default:
        QSlider::keyPressEvent(event);
        return;
    }
    event->accept();
    scrollTo(target);
}

void TrackBar::keyReleaseEvent(QKeyEvent* event)
{
    if (!IsScrollKey(event->key())) {
        QSlider::keyReleaseEvent(event);
        return;
    }
    event->accept();
    if (!event->isAutoRepeat())
        emit scrolled();  // end of tracking
}

void TrackBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || tracking_ != Tracking::None) {
        event->ignore();
        return;
    }
    event->accept();
    const QPoint pos = event->position().toPoint();
    const QRect handle = handleRect();
    if (handle.contains(pos)) {
        tracking_ = Tracking::Thumb;
        grabOffset_ = pos.x() - handle.x();
        setSliderDown(true);
        return;
    }
    tracking_ = Tracking::Channel;
    pointer_ = pos;
    pageDirection_ = pos.x() > handle.center().x() ? 1 : -1;
    scrollTo(value() + pageDirection_ * pageStep());
    pageRepeat_.start(kRepeatDelayMs);
}

void TrackBar::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    switch (tracking_) {
    case Tracking::Thumb:
        event->accept();
        // A moved thumb notifies through valueChanged, once per real move.
        setValue(valueAtHandleLeft(pos.x() - grabOffset_));
        break;
    case Tracking::Channel:
        event->accept();
        pointer_ = pos;
        break;
    case Tracking::None:
        QSlider::mouseMoveEvent(event);
        break;
    }
}

void TrackBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || tracking_ == Tracking::None) {
        event->ignore();
        return;
    }
    event->accept();
    const bool thumb = tracking_ == Tracking::Thumb;
    cancelTracking();
    if (thumb)
        emit scrolled();  // final thumb position
    emit scrolled();      // end of tracking
}

void TrackBar::cancelTracking()
{
    if (tracking_ == Tracking::Thumb)
        setSliderDown(false);
    tracking_ = Tracking::None;
    pageRepeat_.stop();
}

void TrackBar::hideEvent(QHideEvent* event)
{
    cancelTracking();  // the release will not reach us
    QSlider::hideEvent(event);
}

void TrackBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        cancelTracking();
    QSlider::changeEvent(event);
}

void TrackBar::wheelEvent(QWheelEvent* event) { event->accept(); }

bool TrackBar::channelReachedPointer() const
{
    const QRect handle = handleRect();
    return pageDirection_ > 0 ? (pointer_.x() <= handle.right() || value() == maximum())
                              : (pointer_.x() >= handle.left() || value() == minimum());
}

void TrackBar::repeatPage()
{
    // Keeps running while the button is held: the pointer may move on ahead
    // of the handle again, and paging then resumes in the same direction.
    pageRepeat_.setInterval(kRepeatIntervalMs);
    if (!channelReachedPointer())
        scrollTo(value() + pageDirection_ * pageStep());
}

}  // namespace toolkit
