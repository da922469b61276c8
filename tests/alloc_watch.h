#pragma once
// The largest single allocation a test binary has made since the last reset,
// so that a test can tell that a hostile file did not make a reader ask for a
// huge block, and how many allocations it made (that a loop allocates
// nothing per turn). Only the allocation tests link this: without AddressSanitizer
// it replaces the global operator new; with it, it listens to the
// sanitizer's own allocator and leaves its operator new in place.
#include <cstddef>

namespace kw::alloc_watch {

void Reset();
size_t Largest();
size_t Count();

}  // namespace kw::alloc_watch
