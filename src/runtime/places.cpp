#include "runtime/places.h"

#include "runtime/process.h"

namespace runtime {

std::string WorkDir() {
  std::string exe = ExeFileName();
  std::size_t cut = exe.find_last_of(PathSeparator());
  return cut == std::string::npos ? std::string() : exe.substr(0, cut + 1);
}

}  // namespace runtime
