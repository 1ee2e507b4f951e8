// Synchronous signals as processor exceptions. The handlers run on their
// own stack, so that a stack overflow is reported too; SIGALRM is the
// watchdog of the report.
#include <csignal>
#include <cstdint>
#include <unistd.h>
#if defined(__linux__)
#include <ucontext.h>
#endif

#include "runtime/exceptions.h"
#include "runtime/process.h"

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

// The address of the instruction that faulted, where the machine context
// tells it; else the address the signal reports.
const void* FaultingInstruction(const siginfo_t* info, void* context) {
#if defined(__linux__)
  const auto* uc = static_cast<const ucontext_t*>(context);
#else
  const void* uc = context;
#endif
#if defined(__linux__) && defined(__x86_64__)
  if (uc != nullptr) return reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__linux__) && defined(__i386__)
  if (uc != nullptr) return reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__linux__) && defined(__aarch64__)
  if (uc != nullptr) return reinterpret_cast<const void*>(uc->uc_mcontext.pc);
#else
  (void)uc;
#endif
  return info != nullptr ? info->si_addr : nullptr;
}

volatile sig_atomic_t g_watchdog_armed = 0;
volatile sig_atomic_t g_watchdog_status = 1;

constexpr char kReportLate[] =
    "\r\nThe report of the processor exception did not finish within 5 seconds; the process ends.\r\n";
static_assert(kReportSeconds == 5, "kReportLate names the time");

// Only calls that are safe whatever the interrupted code held. The second
// alarm, a second later, interrupts a write that cannot go on (a full pipe,
// a stopped terminal): SA_NODEFER lets it in.
void OnWatchdog(int) {
  static volatile sig_atomic_t told = 0;
  if (told == 0) {
    told = 1;
    ::alarm(1);
    if (::write(STDERR_FILENO, kReportLate, sizeof kReportLate - 1) < 0) {
    }
  }
  ::_exit(g_watchdog_status);
}

void ArmWatchdog() {
  g_watchdog_status = ExitStatusFor(kGenException);
  struct sigaction action {};
  action.sa_handler = OnWatchdog;
  action.sa_flags = SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  sigset_t alarm_only;
  sigemptyset(&alarm_only);
  sigaddset(&alarm_only, SIGALRM);
  sigprocmask(SIG_UNBLOCK, &alarm_only, nullptr);
  g_watchdog_armed = 1;
  ::alarm(kReportSeconds);
}

void OnSignal(int sig, siginfo_t* info, void* context) {
  ArmWatchdog();
  // A second fault while reporting the first ends the process at once.
  for (int s : kSignals) std::signal(s, SIG_DFL);
  ErrorStructure es;
  es.OsCode = static_cast<std::uint32_t>(sig);
  es.ArgType = static_cast<std::uint32_t>(info != nullptr ? info->si_code : 0);
  // Like the Windows report: the instruction's address, and as the one
  // parameter the address that the signal names (the data address of an
  // access violation).
  es.FuncPtr = FaultingInstruction(info, context);
  es.ArgNum = 1;
  es.FuncSym = info != nullptr ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;
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

WatchdogPause::WatchdogPause() {
  if (g_watchdog_armed != 0) ::alarm(0);
}

WatchdogPause::~WatchdogPause() {
  if (g_watchdog_armed != 0) ::alarm(kReportSeconds);
}

}  // namespace runtime
