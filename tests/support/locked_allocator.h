// A test build's allocator with a lock of its own, which can meet a
// processor exception while it holds the lock, as a fault inside the C
// library's allocator would. Every allocation after that waits for ever.
#pragma once

namespace test_support {

/// Allocates once more, and that allocation faults with the lock held.
void FaultInsideAllocator();

}  // namespace test_support
