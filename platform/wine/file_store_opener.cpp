#include "platform/wine/file_store_opener.h"

#include "platform/jet/file_page_store.h"
#include "platform/jet/jet_errors.h"

namespace kw::jet {

StoreOpener FileStoreOpener(const WinePaths& paths) {
  return [paths](std::string_view name) -> std::unique_ptr<PageStore> {
    const std::string host = paths.ToHost(name);
    if (host.empty()) throw RunError("Could not find file " + Quoted(name) + ".");
    return FilePageStore::Open(host, std::string(name));
  };
}

}  // namespace kw::jet
