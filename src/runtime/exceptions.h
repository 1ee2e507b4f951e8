// Processor exceptions (an access violation, a division by zero, an illegal
// instruction) reach the handler slot as error records with SubCode 5333:
// OsCode the exception code, ArgType its flags, FuncPtr its address, ArgNum
// the number of its parameters, FuncSym its information. There is no way to
// go on after one: when the handler returns, the process ends with the
// record's generic code.
//
// The handler runs on whatever the fault left behind, perhaps a lock of the
// C library that its first allocation then waits for. A watchdog armed
// before it starts ends the process with the generic code when the report
// has not finished within kReportSeconds; only a person reading the error
// dialog stops the clock.
#pragma once

#include "runtime/error_structure.h"

namespace runtime {

/// How long the report of a processor exception may take, a person's answer
/// not counted.
inline constexpr unsigned kReportSeconds = 5;

/// Installs the translation (signal handlers on POSIX, the unhandled
/// exception filter on Windows). Called once at start-up.
void InstallExceptionTranslation();

/// Causes an access violation, for test builds of the program.
void ForceProcessorException();

/// Fills `es` for a processor exception and hands it to the handler; ends
/// the process when the handler returns.
[[noreturn]] void RaiseProcessorException(ErrorStructure& es);

/// Stops the watchdog of a processor exception's report for its lifetime
/// (while a person is asked) and gives the report kReportSeconds anew
/// afterwards. Outside such a report it does nothing.
class WatchdogPause {
 public:
  WatchdogPause();
  ~WatchdogPause();
  WatchdogPause(const WatchdogPause&) = delete;
  WatchdogPause& operator=(const WatchdogPause&) = delete;
};

}  // namespace runtime
