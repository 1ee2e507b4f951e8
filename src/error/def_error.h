// The default error handler: sounds the error, logs it to the error log,
// shows the error dialog and, unless the answer lets the failing operation
// go on, ends the process with the error's generic code. A sharing or lock
// conflict that can default only sets the network-error flag.
#pragma once

#include "runtime/value.h"

/// Handles `record` (any value is accepted; a value that is not an error
/// record is reported as a wrong-class error). Returns false (go on with the
/// default), true (try again) or the substitute value; or does not return.
runtime::Value DefError(const runtime::Value& record);

namespace error {

/// Start-up step 1: installs DefError when the handler slot is empty. True
/// when it did, so that the caller applies the locale settings next.
bool InstallDefError();

/// Start-up step 2: registers DefErrorGen as the error function when this
/// program is the run-time's only client.
void RegisterDefErrorGen();

}  // namespace error
