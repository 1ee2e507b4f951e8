// The date, time and number settings of the run-time, taken once at
// start-up from the user's locale.
#pragma once

#include <functional>

#include "runtime/value.h"

/// With the mode symbol "WINDOWS": applies the user's locale to the
/// run-time's format settings, item by item, with a fallback for every item
/// the locale does not give. A run-time error on the way ends the work
/// where it happens; the error handler in place before is always restored.
void SetInternational(const runtime::Symbol& mode);

namespace env {

/// Where the locale items come from (GetLocaleInfoA semantics); tests put a
/// table in place of the user's locale. Empty restores the real source.
using LocaleSource = std::function<int(unsigned item, char* buffer, int size)>;
LocaleSource SetLocaleSource(LocaleSource source);

}  // namespace env
