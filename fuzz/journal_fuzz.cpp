// Arbitrary bytes as a file, an interrupted write group and what happened to
// both since (tests/journal_fit_property.h): the file page store must never
// write a file whose pages do not all fit its journal, and must put back
// exactly one that does. The target stops on any broken promise.
// Run from a -DKW_FUZZ=ON build directory:
//   ./journal_fuzz -max_total_time=300 CORPUS_DIR
#include <cstdio>
#include <cstdlib>

#include "tests/journal_fit_property.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string broken = kw::jet::journal_fit::Check(data, size).broken;
  if (!broken.empty()) {
    std::fprintf(stderr, "broken promise: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
