#include <time.h>

#include "runtime/local_time.h"

namespace runtime {

bool BrokenDownTime(std::time_t t, bool local, std::tm& out) {
  return (local ? ::localtime_s(&out, &t) : ::gmtime_s(&out, &t)) == 0;
}

}  // namespace runtime
