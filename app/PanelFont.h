#pragma once
// The faces the panel's font is looked for among, each system its own
// (PanelFont_linux.cpp, PanelFont_win.cpp): the first installed as a scalable
// face is used (app::panelFont()).

#include <span>

namespace app {

std::span<const char* const> panelFontFamilies();

}  // namespace app
