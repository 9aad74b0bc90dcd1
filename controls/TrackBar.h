#pragma once
// A horizontal track bar that notifies as the platform's track bar does: one
// scrolled() for every scroll notification the operator causes, after the new
// position is in place, whether or not the position changed. A position set
// by the program notifies only when it really moves the bar.

#include <QPoint>
#include <QSlider>
#include <QTimer>

namespace toolkit {

class TrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TrackBar(QWidget* parent = nullptr);

signals:
    void scrolled();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class Tracking { None, Thumb, Channel };

    QRect handleRect() const;
    int valueAtHandleLeft(int x) const;
    // Puts v in place without the program-change notification, then notifies.
    void scrollTo(int v);
    bool channelReachedPointer() const;
    void repeatPage();
    void cancelTracking();

    Tracking tracking_ = Tracking::None;
    int grabOffset_ = 0;     // pointer x minus handle left while dragging
    int pageDirection_ = 0;  // +1 or -1 while paging along the channel
    QPoint pointer_;         // last pointer position while paging
    QTimer pageRepeat_;
    bool scrolling_ = false;
};

}  // namespace toolkit
