// Tests of a control on its own: a plain QApplication, no panel.

#include "Offscreen.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing_support::useOffscreenPlatform();
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
