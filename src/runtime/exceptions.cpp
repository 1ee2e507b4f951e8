#include "runtime/exceptions.h"

#include "runtime/error_slot.h"
#include "runtime/process.h"

namespace runtime {

void RaiseProcessorException(ErrorStructure& es) {
  es.SubSystem = "RUNTIME";
  es.SubCode = kSubCodeException;
  es.GenCode = kGenException;
  es.Severity = 2;
  es.CanDefault = 0;
  es.CanRetry = 0;
  es.CanSubstitute = 0;
  RaiseError(es);
  Quit(ExitStatusFor(es.GenCode));
}

}  // namespace runtime
