#include "tests/alloc_watch.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KW_ALLOC_WATCH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KW_ALLOC_WATCH_ASAN 1
#endif
#endif

#ifdef KW_ALLOC_WATCH_ASAN
// The sanitizer runtime's own interface (sanitizer/allocator_interface.h,
// not installed everywhere).
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void*, size_t), void (*free_hook)(const volatile void*));
#elif defined(__GNUC__) && !defined(__clang__)
// The replaced operator new below pairs malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace kw::alloc_watch {
namespace {

std::atomic<size_t> largest{0};
std::atomic<size_t> count{0};

void Note(size_t n) {
  count.fetch_add(1, std::memory_order_relaxed);
  size_t seen = largest.load(std::memory_order_relaxed);
  while (n > seen && !largest.compare_exchange_weak(seen, n)) {
  }
}

}  // namespace

void Reset() {
  largest = 0;
  count = 0;
}
size_t Largest() { return largest.load(); }
size_t Count() { return count.load(); }

}  // namespace kw::alloc_watch

#ifdef KW_ALLOC_WATCH_ASAN

namespace {

void OnMalloc(const volatile void*, size_t n) { kw::alloc_watch::Note(n); }
void OnFree(const volatile void*) {}

// The sanitizer calls the hook for malloc and operator new alike.
[[maybe_unused]] const int installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);

}  // namespace

#else

void* operator new(size_t n) {
  kw::alloc_watch::Note(n);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

#endif
