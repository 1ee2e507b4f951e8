#include "runtime/identity.h"

#include <random>

#include "runtime/activation.h"

namespace runtime {

std::string RandomHex(int digits) {
  const Activation activation("RANDOMHEX", __LINE__);
  static const char kHex[] = "0123456789abcdef";
  std::random_device source;
  std::string text;
  while (static_cast<int>(text.size()) < digits) {
    unsigned bits = source();
    for (int i = 0; i < 8 && static_cast<int>(text.size()) < digits; ++i, bits >>= 4) {
      text += kHex[bits & 0xf];
    }
  }
  return text;
}

}  // namespace runtime
