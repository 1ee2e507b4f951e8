#include "runtime/activation.h"

namespace runtime {

namespace {
// A fixed array: the stack is read from signal handlers, which must not
// allocate. Activations beyond its size are counted but not recorded. Each
// thread has a stack of its own (the name resolver runs on one).
constexpr std::size_t kMaxRecorded = 512;
struct Frame {
  const char* name;
  int line;
};
thread_local Frame g_frames[kMaxRecorded];
thread_local std::size_t g_depth = 0;
}  // namespace

Activation::Activation(const char* name, int line) noexcept {
  if (g_depth < kMaxRecorded) g_frames[g_depth] = Frame{name, line};
  ++g_depth;
}

Activation::~Activation() { --g_depth; }

std::string ProcName(std::size_t n) {
  if (n >= g_depth) return {};
  std::size_t index = g_depth - 1 - n;
  if (index >= kMaxRecorded) return "?";
  return g_frames[index].name;
}

int ProcLine(std::size_t n) {
  if (n >= g_depth) return 0;
  std::size_t index = g_depth - 1 - n;
  return index < kMaxRecorded ? g_frames[index].line : 0;
}

std::size_t ActivationDepth() { return g_depth; }

}  // namespace runtime
