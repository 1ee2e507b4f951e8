#include "runtime/identity.h"

#include <random>

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace runtime {

std::string RandomHex(int digits) {
  const Activation activation("RANDOMHEX", __LINE__);
  std::random_device source;
  std::string text;
  while (static_cast<int>(text.size()) < digits) {
    unsigned bits = source();
    for (int i = 0; i < 8 && static_cast<int>(text.size()) < digits; ++i, bits >>= 4) {
      text += HexDigit(bits, true);
    }
  }
  return text;
}

}  // namespace runtime
