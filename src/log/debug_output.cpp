#include "log/debug_output.h"

#include "runtime/activation.h"

namespace logging {

namespace {
DebugSink g_sink = nullptr;
}  // namespace

void DebugOutput(const std::string& text) {
  const runtime::Activation activation("DEBUGOUTPUT", __LINE__);
  if (g_sink != nullptr) {
    g_sink(text);
  } else {
    detail::PlatformDebugOutput(text);
  }
}

DebugSink SetDebugSink(DebugSink sink) {
  const runtime::Activation activation("SETDEBUGSINK", __LINE__);
  const DebugSink old = g_sink;
  g_sink = sink;
  return old;
}

}  // namespace logging
