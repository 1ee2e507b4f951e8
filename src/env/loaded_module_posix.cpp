#include <dlfcn.h>

#include "env/loaded_module.h"
#include "runtime/activation.h"

namespace env::detail {

namespace {
// True when `address` lies in the module behind `module`. dlsym on a handle
// also searches the libraries the module depends on; GetProcAddress looks
// at the module's own exports only.
bool InModule(void* module, void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
  void* owner = ::dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (owner == nullptr) return false;
  ::dlclose(owner);
  return owner == module;
}
}  // namespace

std::optional<std::int32_t> CallDllGetVersion(const std::string& name, DllVersionInfo& info) {
  const runtime::Activation activation("CALLDLLGETVERSION", __LINE__);
  // An empty name would give the program itself, which GetModuleHandleA
  // never does for a name.
  if (name.empty()) return std::nullopt;
  void* module = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (module == nullptr) return std::nullopt;
  void* symbol = ::dlsym(module, "DllGetVersion");
  std::optional<std::int32_t> result;
  if (symbol != nullptr && InModule(module, symbol)) {
    using GetVersion = std::int32_t (*)(DllVersionInfo*);
    result = reinterpret_cast<GetVersion>(symbol)(&info);
  }
  // RTLD_NOLOAD still counts a reference; give it back.
  ::dlclose(module);
  return result;
}

}  // namespace env::detail
