// Window tests run the panel's application object on the offscreen platform.

#include "Application.h"
#include "Offscreen.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing_support::useOffscreenPlatform();
    ::testing::InitGoogleTest(&argc, argv);
    app::Application application(argc, argv);
    return RUN_ALL_TESTS();
}
