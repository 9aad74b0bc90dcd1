#include "StartTexts.h"

#include <cstdio>

namespace app {

void showStartTexts(const QString&, const QString& out, const QString& err)
{
    std::fputs(out.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    std::fputs(err.toLocal8Bit().constData(), stderr);
}

}  // namespace app
