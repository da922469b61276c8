#pragma once
#include <string_view>

#include "app/run_state.h"
#include "app/step_runner.h"

namespace kw {

constexpr double kMinVersion = 6.4;

// The leading number of a version text: blanks, tabs and line feeds anywhere
// are ignored, "." is the only decimal separator, and a text that does not
// begin with a number gives 0 ("6,4" gives 6, "V6.4" gives 0).
double VersionNumber(std::string_view text);

// True when the flag text, with two blanks appended, has an upper-case "V"
// as its second character.
bool IsAreaCodeColumn(std::string_view flags);

// Converts every marked area-code column of ADRSTM of every client whose
// database exists and whose format is 6.4 or later, in the order of the
// client list. From the first area-code column on, an error abandons the
// client at hand and the pass goes on with the next one.
void ClientPass(Platform& p, RunState& s, StepRunner& r);

}  // namespace kw
