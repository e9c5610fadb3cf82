#pragma once
// The app tests' program replaces operator new (tests/app/test_allocator_test.cpp):
// it hands out memory as the library's own does, and on the calling thread only it
// can count what it hands out or refuse an allocation, as a system out of memory
// would refuse it.
#include <cstddef>

namespace tessary::testing {

struct AllocationWatch {
  // While set, the bytes handed out on this thread are added to `countedBytes`.
  bool counting = false;
  std::size_t countedBytes = 0;
  // Allocations of this thread still granted before one is refused with
  // std::bad_alloc; negative: none is refused. Back to negative after a refusal.
  long grantedBeforeRefusal = -1;
  int refusals = 0;
};

// This thread's watch.
AllocationWatch& allocationWatch();

}  // namespace tessary::testing
