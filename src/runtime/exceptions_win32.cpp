// Structured exceptions that nothing handles become processor exception
// reports. The filter runs on the faulting thread, with whatever locks the
// fault interrupted still held, so the report has a watchdog: a thread
// started with the program that waits on a timer the filter sets. Setting
// the timer neither allocates nor takes a lock of the C library.
#include <windows.h>

#include <cstdint>

#include "runtime/exceptions.h"
#include "runtime/process.h"

namespace runtime {

namespace {
const char* Describe(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "Access violation";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "Integer division by zero";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO: return "Floating-point division by zero";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "Illegal instruction";
    case EXCEPTION_STACK_OVERFLOW: return "Stack overflow";
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "Array bounds exceeded";
    default: return "Processor exception";
  }
}

HANDLE g_watchdog_timer = nullptr;
bool g_watchdog_armed = false;

void SetWatchdog(unsigned seconds) {
  LARGE_INTEGER due{};
  due.QuadPart = -10000000LL * seconds;  // relative, in 100 ns
  ::SetWaitableTimer(g_watchdog_timer, &due, 0, nullptr, nullptr, FALSE);
}

// The way out when the report has not finished in time: TerminateProcess,
// because the normal exit would take the locks the report is stuck on.
DWORD WINAPI Watch(void*) {
  ::WaitForSingleObject(g_watchdog_timer, INFINITE);
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(ExitStatusFor(kGenException)));
  return 0;
}

void StartWatchdog() {
  g_watchdog_timer = ::CreateWaitableTimerW(nullptr, TRUE, nullptr);
  if (g_watchdog_timer == nullptr) return;
  const HANDLE thread = ::CreateThread(nullptr, 64 * 1024, Watch, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    ::CloseHandle(g_watchdog_timer);
    g_watchdog_timer = nullptr;
    return;
  }
  ::CloseHandle(thread);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  if (g_watchdog_timer != nullptr) {
    g_watchdog_armed = true;
    SetWatchdog(kReportSeconds);
  }
  const EXCEPTION_RECORD* record = pointers != nullptr ? pointers->ExceptionRecord : nullptr;
  ErrorStructure es;
  if (record != nullptr) {
    es.OsCode = record->ExceptionCode;
    es.ArgType = record->ExceptionFlags;
    es.FuncPtr = record->ExceptionAddress;
    es.ArgNum = record->NumberParameters;
    es.FuncSym = record->NumberParameters > 0 ? static_cast<std::uintptr_t>(record->ExceptionInformation[0]) : 0;
    es.Description = Describe(record->ExceptionCode);
  }
  RaiseProcessorException(es);
}
}  // namespace

void InstallExceptionTranslation() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  ::SetUnhandledExceptionFilter(OnUnhandledException);
  StartWatchdog();
}

void ForceProcessorException() { ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr); }

WatchdogPause::WatchdogPause() {
  if (g_watchdog_armed) ::CancelWaitableTimer(g_watchdog_timer);
}

WatchdogPause::~WatchdogPause() {
  if (g_watchdog_armed) SetWatchdog(kReportSeconds);
}

}  // namespace runtime
