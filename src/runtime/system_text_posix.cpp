#include <cstring>

#include "runtime/system_text.h"

namespace runtime {

std::string SystemErrorText(unsigned long code) { return std::strerror(static_cast<int>(code)); }

}  // namespace runtime
