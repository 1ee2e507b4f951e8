#include <idn2.h>

#include <cstdlib>
#include <string>

#include "mailclient/mime/system.h"
#include "runtime/activation.h"

namespace mailclient {

bool DomainToAscii(const std::string& utf8, std::string& ascii) {
  const runtime::Activation activation("DOMAINTOASCII", __LINE__);
  // IDNA2008 with the mapping of UTS 46 (non-transitional), as browsers
  // and mail programs resolve names today.
  char* out = nullptr;
  const int rc = ::idn2_to_ascii_8z(utf8.c_str(), &out, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
  if (rc != IDN2_OK || out == nullptr) {
    ::idn2_free(out);
    return false;
  }
  ascii = out;
  ::idn2_free(out);
  return true;
}

}  // namespace mailclient
