#pragma once
#include "app/run_state.h"
#include "platform/platform.h"

namespace kw {

// The product's data directory from the registry; PublicDir below it.
// Returns false when the registry names no data directory: the message has
// then been shown and the run must end without asking its question.
bool DataDirectoryStep(Platform& p, RunState& s);

// Fills slot 3 of AdoSettings (the client database) from "NoltData.ini";
// missing keys are written back with their defaults.
void SettingsStep(Platform& p, RunState& s);

}  // namespace kw
