#pragma once
// Reads one table's definition from the host product's table-definition file
// (the database's base name followed by ".def") into the run's TbDefState.
#include <cstdint>
#include <string>

#include "config/modul.h"
#include "hostdata/shared_file.h"
#include "hostdata/tbdef_model.h"
#include "platform/platform.h"

namespace kw {

// The definition file that holds table TableNo: table 8 in the general data
// directory under the general database's base name (AdoSettings slot 1), every
// other table in the current client's directory under the client database's
// base name (slot 3). A missing slot gives an empty base name.
std::string TbDefFileName(const KwandorModul& m, int16_t TableNo);

// Reads the definition of table TableNo into TbDefs(TableNo), the column texts
// that follow it into TbColTexts, and its supplementary records into a slot of
// TbSuppAList / TbSuppBList (the slot numbers replace SuppA and SuppB). Table 3
// is built in and needs no file. TbDefs grows to the file's table maximum.
// WithColumns: afterwards make the column lists span 1..ColCount; otherwise
// they keep the bounds stored in the file. `Third` is not consulted.
//
// True when the definition was read or built, and when the file holds none for
// the table (TbDefs then unchanged; so also for tables above 817, which the
// file's 16-bit directory positions cannot reach). False for table 0, for a
// file that cannot be opened (after a message box naming it; TbDefs
// unchanged), and for a file that ends early or holds what the product cannot
// have written: a definition that cannot be read whole is left empty.
bool TbDefRead(Platform& p, const KwandorModul& m, FileTable& files, TbDefState& s,
               int16_t TableNo, bool WithColumns, bool Third);

}  // namespace kw
