// Hot paths that must not allocate: counted by replacing the global allocator, which is why
// this test is a binary of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "phonetic.h"
#include "spell.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tolvani::engine {
namespace {

long allocations_during(auto&& work) {
  const long before = g_allocations.load();
  work();
  return g_allocations.load() - before;
}

TEST(AllocationTest, EditDistanceAllocatesNothingAfterWarmUp) {
  bounded_edit_distance("\u0986\u09AE\u09BE\u09B0\u09C7\u09B0", "\u0986\u09AE\u09BE\u09B0");
  EXPECT_EQ(allocations_during([] {
              for (int i = 0; i < 100; ++i) {
                bounded_edit_distance("\u09AC\u09BE\u0982\u09B2\u09BE", "\u09AC\u09BE\u0982\u09B2");
                bounded_edit_distance("\u09A1\u09BC", "\u09DC");
              }
            }),
            0);
}

TEST(AllocationTest, ConversionAllocatesOnlyItsResult) {
  phonetic::convert_with_options("amra bangla likhchhi onek", true);  // builds the grammar
  for (const char* input : {"amra bangla likhchhi", "korrmo", "bOrrD12", "ami"}) {
    std::string out;
    EXPECT_LE(allocations_during([&] { out = phonetic::convert_with_options(input, true); }), 1)
        << input;
  }
}

}  // namespace
}  // namespace tolvani::engine
