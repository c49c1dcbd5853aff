#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

#include "KavLib2/KavProcess/KavMemoryPolicy.h"

namespace kav {
namespace {

// So that no allocation below is left out; several threads store here at once.
std::atomic<void*> g_keep{nullptr};

void* Touch(size_t size) {
  void* p = std::malloc(size);
  std::memset(p, 1, size);
  g_keep.store(p, std::memory_order_relaxed);
  return p;
}

// Whether malloc is glibc's: a large block shows in its count of mapped
// blocks. A sanitizer's allocator may let mallopt succeed yet keep its own
// books (ThreadSanitizer's does).
bool MallocIsGlibcs() {
  const size_t before = mallinfo2().hblks;
  void* p = Touch(16 << 20);
  const bool counted = mallinfo2().hblks > before;
  std::free(p);
  return counted;
}

// With glibc's moving threshold, a block of the size of one just freed
// comes from the heap; under the policy it is mapped for itself again, and
// given back when freed.
TEST(MemoryPolicy, LargeBlocksStayMappedAfterOneIsFreed) {
  if (!SetLongRunHeapPolicy() || !MallocIsGlibcs()) GTEST_SKIP() << "the allocator is not glibc's (a sanitizer's, say)";
  const size_t size = 4 << 20;  // about half a full-screen buffer
  std::free(Touch(size));
  const size_t mapped = mallinfo2().hblks;
  void* again = Touch(size);
  EXPECT_EQ(mallinfo2().hblks, mapped + 1);
  std::free(again);
  EXPECT_EQ(mallinfo2().hblks, mapped);
  // Below the threshold blocks stay in the heap.
  void* small = Touch(kLargeBlockBytes / 2);
  EXPECT_EQ(mallinfo2().hblks, mapped);
  std::free(small);
}

size_t ResidentBytes() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  unsigned long size = 0, resident = 0;
  if (f) {
    if (std::fscanf(f, "%lu %lu", &size, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return size_t(resident) * size_t(sysconf(_SC_PAGESIZE));
}

// Blocks below the threshold freed among blocks still in use leave their
// pages resident (free does not give back what is not at the heap's top);
// trimming gives them back.
TEST(MemoryPolicy, TrimmingGivesBackTheFreePagesAmongBlocksInUse) {
  if (!SetLongRunHeapPolicy() || !MallocIsGlibcs()) GTEST_SKIP() << "the allocator is not glibc's (a sanitizer's, say)";
  const size_t block = kLargeBlockBytes / 4;
  std::vector<void*> blocks;
  for (int i = 0; i < 128; ++i) blocks.push_back(Touch(block));
  for (size_t i = 0; i < blocks.size(); ++i)
    if (i % 8 != 7) std::free(std::exchange(blocks[i], nullptr));
  const size_t before = ResidentBytes();
  EXPECT_TRUE(TrimHeap());
  const size_t after = ResidentBytes();
  EXPECT_GT(before, after + (16 << 20)) << "before " << (before >> 20) << " MB, after " << (after >> 20) << " MB";
  for (void* b : blocks) std::free(b);
}

// malloc's arenas, counted in its own report.
int Arenas() {
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  malloc_info(0, f);
  std::fclose(f);
  int n = 0;
  for (const char* p = text; (p = std::strstr(p, "<heap nr=")) != nullptr; ++p) ++n;
  std::free(text);
  return n;
}

// Eight threads allocating at once would each get an arena of their own.
TEST(MemoryPolicy, ThreadsShareTheCappedArenas) {
  if (!SetLongRunHeapPolicy()) GTEST_SKIP() << "the allocator is not glibc's (a sanitizer's, say)";
  // All alive at once: an ending thread's arena is handed to the next one.
  constexpr int kThreads = 8;
  std::latch allocated(kThreads), done(1);
  std::vector<std::thread> threads;
  std::vector<void*> blocks(kThreads);
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      blocks[size_t(i)] = Touch(1000);
      allocated.count_down();
      done.wait();
    });
  allocated.wait();
  EXPECT_LE(Arenas(), kHeapArenas);
  done.count_down();
  for (auto& t : threads) t.join();
  for (void* b : blocks) std::free(b);
}

}  // namespace
}  // namespace kav
