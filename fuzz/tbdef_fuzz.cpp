// Arbitrary bytes as a client's table-definition file, read through
// TbDefRead with table numbers taken from the input (see ReplayTbDefInput).
// Inputs that once failed are kept in tests/data/fuzz/tbdef and replayed by
// the unit tests.
#include <cstddef>
#include <cstdint>

#include "hostdata/tbdef_test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!kw::tbdef_test::ReplayTbDefInput(data, size)) __builtin_trap();  // a file left open
  return 0;
}
