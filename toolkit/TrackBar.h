#pragma once
// A horizontal track bar that notifies as the platform's track bar does: one
// Change() for every scroll notification the operator causes, after the new
// position is in place, whether or not the position changed.

#include <QSlider>

namespace toolkit {

class TrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TrackBar(QWidget* parent = nullptr);

signals:
    void Change();
};

}  // namespace toolkit
