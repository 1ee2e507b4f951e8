// Reading back what a test wrote: the whole file as bytes.
#pragma once

#include <string>

#include "runtime/whole_file.h"

namespace test_support {

/// The file's content; empty when it cannot be read.
inline std::string ReadFile(const std::string& name) {
  std::string content;
  std::string reason;
  if (!runtime::ReadWholeFile(name, content, reason)) content.clear();
  return content;
}

}  // namespace test_support
