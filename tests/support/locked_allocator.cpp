#include "support/locked_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "runtime/exceptions.h"
#include "runtime/process.h"

namespace {
// Not a std::mutex: taking it again on the same thread must wait, not
// fail or count.
std::atomic_flag g_lock = ATOMIC_FLAG_INIT;
std::atomic<bool> g_fault{false};
void* volatile g_kept = nullptr;
}  // namespace

void* operator new(std::size_t size) {
  while (g_lock.test_and_set(std::memory_order_acquire)) runtime::PlatformSleepFor(1);
  if (g_fault.load()) runtime::ForceProcessorException();
  void* block = std::malloc(size == 0 ? 1 : size);
  g_lock.clear(std::memory_order_release);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace test_support {

void FaultInsideAllocator() {
  g_fault = true;
  // A call, not a new-expression, so that the compiler cannot leave it out.
  // It never returns.
  g_kept = ::operator new(16);
}

}  // namespace test_support
