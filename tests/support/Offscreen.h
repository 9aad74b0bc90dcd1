#pragma once
// Test programs run on Qt's offscreen platform unless told otherwise, so no
// display is needed. Every test main calls this before creating its
// application object; it is the one place that makes that choice.

#include <QByteArray>
#include <QtGlobal>

namespace testing_support {

inline void useOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

}  // namespace testing_support
