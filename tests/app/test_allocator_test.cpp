// The app tests' operator new (tests/support/test_allocator.h), and checks that it
// passes allocations through, counts them and refuses one when asked.
#include "support/test_allocator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

namespace tessary::testing {

AllocationWatch& allocationWatch() {
  thread_local AllocationWatch watch;
  return watch;
}

}  // namespace tessary::testing

void* operator new(std::size_t size) {
  tessary::testing::AllocationWatch& watch = tessary::testing::allocationWatch();
  if (watch.grantedBeforeRefusal == 0) {
    watch.grantedBeforeRefusal = -1;
    ++watch.refusals;
    throw std::bad_alloc();
  }
  if (watch.grantedBeforeRefusal > 0) --watch.grantedBeforeRefusal;
  if (watch.counting) watch.countedBytes += size;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace tessary::testing {
namespace {

TEST(TestAllocator, CountsAndRefusesWhenAsked) {
  AllocationWatch& watch = allocationWatch();
  watch.countedBytes = 0;
  watch.counting = true;
  const std::string block(1000, 'x');
  watch.counting = false;
  EXPECT_GE(watch.countedBytes, 1000u);

  watch.refusals = 0;
  // On this thread: one granted, the next refused, the one after granted again.
  bool firstGranted = false;
  bool secondRefused = false;
  watch.grantedBeforeRefusal = 1;
  try {
    const std::string first(100, 'a');
    firstGranted = first.size() == 100;
    const std::string second(100, 'b');
    firstGranted = firstGranted && second.size() == 100;
  } catch (const std::bad_alloc&) {
    secondRefused = true;
  }
  const long afterRefusal = watch.grantedBeforeRefusal;
  EXPECT_TRUE(firstGranted);
  EXPECT_TRUE(secondRefused);
  EXPECT_EQ(watch.refusals, 1);
  EXPECT_EQ(afterRefusal, -1);
  EXPECT_NO_THROW(const std::string again(100, 'c'));
}

}  // namespace
}  // namespace tessary::testing
