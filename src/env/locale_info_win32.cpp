#include <windows.h>

#include "env/locale_info.h"
#include "runtime/activation.h"

namespace env::detail {

int UserLocaleInfo(unsigned item, char* buffer, int size) {
  const runtime::Activation activation("USERLOCALEINFO", __LINE__);
  return ::GetLocaleInfoA(::GetUserDefaultLCID(), static_cast<LCTYPE>(item), buffer, size);
}

}  // namespace env::detail
