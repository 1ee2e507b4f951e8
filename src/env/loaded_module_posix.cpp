#include <dlfcn.h>

#include "env/loaded_module.h"
#include "runtime/activation.h"

namespace env::detail {

std::optional<std::int32_t> CallDllGetVersion(const std::string& name, DllVersionInfo& info) {
  const runtime::Activation activation("CALLDLLGETVERSION", __LINE__);
  // An empty name would give the program itself, which GetModuleHandleA
  // never does for a name.
  if (name.empty()) return std::nullopt;
  void* module = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (module == nullptr) return std::nullopt;
  using GetVersion = std::int32_t (*)(DllVersionInfo*);
  auto get_version = reinterpret_cast<GetVersion>(::dlsym(module, "DllGetVersion"));
  std::optional<std::int32_t> result;
  if (get_version != nullptr) result = get_version(&info);
  // RTLD_NOLOAD still counts a reference; give it back.
  ::dlclose(module);
  return result;
}

}  // namespace env::detail
