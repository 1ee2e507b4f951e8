// Synchronous signals as processor exceptions. The handlers run on their
// own stack, so that a stack overflow is reported too.
#include <csignal>
#include <cstdint>

#include "runtime/exceptions.h"

namespace runtime {

namespace {
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
alignas(16) char g_alternate_stack[64 * 1024];

const char* Describe(int sig) {
  switch (sig) {
    case SIGSEGV: return "Access violation (SIGSEGV)";
    case SIGBUS: return "Bus error (SIGBUS)";
    case SIGFPE: return "Arithmetic exception (SIGFPE)";
    case SIGILL: return "Illegal instruction (SIGILL)";
    default: return "Processor exception";
  }
}

void OnSignal(int sig, siginfo_t* info, void*) {
  // A second fault while reporting the first ends the process at once.
  for (int s : kSignals) std::signal(s, SIG_DFL);
  ErrorStructure es;
  es.OsCode = static_cast<std::uint32_t>(sig);
  es.ArgType = static_cast<std::uint32_t>(info != nullptr ? info->si_code : 0);
  es.FuncPtr = info != nullptr ? info->si_addr : nullptr;
  es.ArgNum = 1;
  es.FuncSym = static_cast<std::uintptr_t>(info != nullptr ? static_cast<unsigned>(info->si_errno) : 0u);
  es.Description = Describe(sig);
  RaiseProcessorException(es);
}
}  // namespace

void InstallExceptionTranslation() {
  stack_t stack{};
  stack.ss_sp = g_alternate_stack;
  stack.ss_size = sizeof g_alternate_stack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_sigaction = OnSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaction(s, &action, nullptr);
}

void ForceProcessorException() { std::raise(SIGSEGV); }

}  // namespace runtime
