#pragma once
// The first page of a database file named by its Windows path, read over a
// Wine-style prefix, for the choice of its engine.
#include <string_view>

#include "platform/jet/engine_choice.h"
#include "platform/wine/wine_paths.h"

namespace kw {

jet::FirstBytes ReadFirstBytes(const WinePaths& paths, std::string_view name);

}  // namespace kw
