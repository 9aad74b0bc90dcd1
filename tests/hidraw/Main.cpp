// The hidraw scenarios enter their private machine before anything else runs
// (no thread may exist yet), then run on Qt's offscreen platform.

#include "Application.h"
#include "Machine.h"
#include "Offscreen.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    hidraw_sim::enterPrivateMachine(argc, argv);
    testing_support::useOffscreenPlatform();
    ::testing::InitGoogleTest(&argc, argv);
    if (hidraw_sim::runningAsUser())
        hidraw_sim::registerAsUserTests();
    app::Application application(argc, argv);
    return RUN_ALL_TESTS();
}
