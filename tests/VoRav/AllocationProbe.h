// The largest single heap allocation made while a function runs, as the
// address sanitizer's allocator sees it (all threads). Without the
// sanitizer there is nothing to see: Available() is false.
#pragma once

#include <atomic>
#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAV_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KAV_TEST_ASAN 1
#endif

#ifdef KAV_TEST_ASAN
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace kav::test {

class TAllocationProbe {
 public:
  static bool Available() {
#ifdef KAV_TEST_ASAN
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree) != 0;
    return installed;
#else
    return false;
#endif
  }

  template <class F>
  static size_t LargestDuring(F&& f) {
    Available();
    Largest().store(0);
    Active().store(true);
    f();
    Active().store(false);
    return Largest().load();
  }

 private:
  static std::atomic<bool>& Active() {
    static std::atomic<bool> active{false};
    return active;
  }
  static std::atomic<size_t>& Largest() {
    static std::atomic<size_t> largest{0};
    return largest;
  }
  static void OnMalloc(const volatile void*, size_t size) {
    if (!Active().load(std::memory_order_relaxed)) return;
    size_t seen = Largest().load(std::memory_order_relaxed);
    while (size > seen && !Largest().compare_exchange_weak(seen, size)) {
    }
  }
  static void OnFree(const volatile void*) {}
};

}  // namespace kav::test
