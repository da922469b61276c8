#pragma once
#include <string_view>

#include "app/run_state.h"
#include "app/step_runner.h"

namespace kw {

constexpr std::string_view kNewAreaCode = "044";

// Opens the database, selects the rows of the selection and sets column to
// "044" row by row, each saved by its own update and shown in Label3 as its
// postal code and town. A row is changed only if, when edited, it still has
// LAND 'CH' and column '01' (compared as the selection compares); a row
// another user deleted or changed meanwhile is passed over without a word. Every step runs under the handler in force. The
// record set is closed at the end; the database stays open in the handle.
void ReplacePass(Platform& p, RunState& s, StepRunner& r, std::string_view databaseFile,
                 std::string_view selection, std::string_view column);

}  // namespace kw
