#pragma once
// Opens the page store of a database file named by its Windows path, over a
// Wine-style prefix: the store the Jet engine writes the real file through.
#include "platform/jet/jet_engine.h"
#include "platform/wine/wine_paths.h"

namespace kw::jet {

StoreOpener FileStoreOpener(const WinePaths& paths);

}  // namespace kw::jet
