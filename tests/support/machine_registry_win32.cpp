#include <windows.h>

#include <string>

#include "support/machine_registry.h"

namespace test_support {

// HKEY_LOCAL_MACHINE of this process is redirected to a key under
// HKEY_CURRENT_USER, so the tests never touch the machine's own settings.
struct ScratchMachineRegistry::Place {
  std::string path;
  HKEY root = nullptr;
};

ScratchMachineRegistry::ScratchMachineRegistry() : place_(std::make_unique<Place>()) {
  place_->path = "Software\\postrine-tests\\machine-" + std::to_string(::GetCurrentProcessId());
  ::RegDeleteTreeA(HKEY_CURRENT_USER, place_->path.c_str());
  ::RegCreateKeyExA(HKEY_CURRENT_USER, place_->path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &place_->root, nullptr);
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, place_->root);
}

ScratchMachineRegistry::~ScratchMachineRegistry() {
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  ::RegCloseKey(place_->root);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, place_->path.c_str());
}

void ScratchMachineRegistry::SetValue(const std::string& key_path, const std::string& name,
                                      const std::string& value) {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(place_->root, key_path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS) {
    ::RegSetValueExA(key, name.c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
    ::RegCloseKey(key);
  }
}

// The redirected root is deleted while still open: no key can be opened or
// created beneath it any more.
void ScratchMachineRegistry::MakeUnopenable() { ::RegDeleteTreeA(HKEY_CURRENT_USER, place_->path.c_str()); }

}  // namespace test_support
