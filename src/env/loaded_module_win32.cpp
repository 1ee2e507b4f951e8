#include <windows.h>

#include "env/loaded_module.h"
#include "runtime/activation.h"

namespace env::detail {

std::optional<std::int32_t> CallDllGetVersion(const std::string& name, DllVersionInfo& info) {
  const runtime::Activation activation("CALLDLLGETVERSION", __LINE__);
  HMODULE module = ::GetModuleHandleA(name.c_str());
  if (module == nullptr) return std::nullopt;
  using GetVersion = HRESULT(CALLBACK*)(DllVersionInfo*);
  auto get_version = reinterpret_cast<GetVersion>(
      reinterpret_cast<void (*)()>(::GetProcAddress(module, "DllGetVersion")));
  if (get_version == nullptr) return std::nullopt;
  return static_cast<std::int32_t>(get_version(&info));
}

}  // namespace env::detail
