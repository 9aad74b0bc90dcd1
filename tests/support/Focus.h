#pragma once
// Gives a control the keyboard focus as a person would by clicking into its
// window: its window becomes the active one, then the control takes focus.
// Key presses sent with QTest then reach it as they would on screen.

#include <QTest>
#include <QWidget>

namespace testing_support {

inline void focusOn(QWidget& control)
{
    QWidget* window = control.window();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window);
    control.setFocus();
}

}  // namespace testing_support
