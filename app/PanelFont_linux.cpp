#include "PanelFont.h"

namespace app {

// "MS Sans Serif" where a scalable face of that name is installed, else
// Liberation Sans (Debian's fonts-liberation), whose widths and true bold keep
// every caption within its place, else DejaVu Sans.
std::span<const char* const> panelFontFamilies()
{
    static constexpr const char* kFamilies[] = {"MS Sans Serif", "Liberation Sans", "DejaVu Sans"};
    return kFamilies;
}

}  // namespace app
