// Structured exceptions that nothing handles become processor exception
// reports.
#include <windows.h>

#include <cstdint>

#include "runtime/exceptions.h"

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

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
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
}

void ForceProcessorException() { ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr); }

}  // namespace runtime
