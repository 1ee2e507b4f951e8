// Processor exceptions (an access violation, a division by zero, an illegal
// instruction) reach the handler slot as error records with SubCode 5333:
// OsCode the exception code, ArgType its flags, FuncPtr its address, ArgNum
// the number of its parameters, FuncSym its information. There is no way to
// go on after one: when the handler returns, the process ends with the
// record's generic code.
#pragma once

#include "runtime/error_structure.h"

namespace runtime {

/// Installs the translation (signal handlers on POSIX, the unhandled
/// exception filter on Windows). Called once at start-up.
void InstallExceptionTranslation();

/// Causes an access violation, for test builds of the program.
void ForceProcessorException();

/// Fills `es` for a processor exception and hands it to the handler; ends
/// the process when the handler returns.
[[noreturn]] void RaiseProcessorException(ErrorStructure& es);

}  // namespace runtime
