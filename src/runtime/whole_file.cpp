#include "runtime/whole_file.h"

#include "runtime/activation.h"

namespace runtime {

std::string MemoRead(const std::string& name) {
  const Activation activation("MEMOREAD", __LINE__);
  std::string content;
  std::string reason;
  if (!ReadWholeFile(name, content, reason)) content.clear();
  return content;
}

}  // namespace runtime
