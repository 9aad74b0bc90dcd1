// Test programs run the panel's application object on the offscreen platform.

#include "Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    app::Application application(argc, argv);
    return RUN_ALL_TESTS();
}
