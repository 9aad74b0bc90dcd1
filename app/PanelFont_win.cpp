#include "PanelFont.h"

namespace app {

// "MS Sans Serif" is a bitmap face on Windows (sserife.fon), which Qt cannot
// scale, so the panel never took it there; nor are Liberation Sans and DejaVu
// Sans part of Windows. Microsoft Sans Serif is its scalable counterpart, with
// the same widths, and ships with every Windows 10 and 11, as do Tahoma and
// Segoe UI. Liberation Sans stays last but one for Qt's offscreen platform,
// which the tests use and which reads only the fonts in Qt's lib/fonts folder.
std::span<const char* const> panelFontFamilies()
{
    static constexpr const char* kFamilies[]
        = {"Microsoft Sans Serif", "Tahoma", "Segoe UI", "Liberation Sans", "DejaVu Sans"};
    return kFamilies;
}

}  // namespace app
