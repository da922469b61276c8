#pragma once
// The database definition page (page 0) of a new Jet 4 file.
#include "tools/jet/jet_schema.h"

namespace kw::jetw {

// Page 0: Jet 4 (Access 2000 format), code page 1252, General sort order,
// no password, no encoding key, created at the given time.
Bytes DatabaseDefinitionPage(DateTime created);

}  // namespace kw::jetw
