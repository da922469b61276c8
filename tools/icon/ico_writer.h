#pragma once
// An icon file (.ico) with one 32 x 32 picture in 16 colours, made from XPM
// rows whose colours are among the 16 standard VGA colours ("None" is
// transparent). The Windows program's icon resource is made so from the
// program's icon (platform/icon_xpm.h).
#include <string>

namespace kw {

// The .ico bytes; throws std::invalid_argument for XPM rows that are not a
// 32 x 32 picture in those colours.
std::string IcoFromXpm(const char* const* xpm);

}  // namespace kw
