#pragma once
// Gives a control the keyboard focus as a person would by clicking into its
// window: its window becomes the active one, then the control takes focus.
// Key presses sent with QTest then reach it as they would on screen.

#include <QApplication>
#include <QWidget>

namespace testing_support {

inline void focusOn(QWidget& control)
{
    QWidget* window = control.window();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    control.setFocus();
}

}  // namespace testing_support
