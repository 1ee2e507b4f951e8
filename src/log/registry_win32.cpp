// The registry, the system directory and the environment on Windows.
#include <windows.h>

#include <cstring>
#include <vector>

#include "log/registry.h"
#include "runtime/activation.h"

namespace logging::detail {

std::optional<std::string> QueryMachineValue(const std::string& key_path, const std::string& value_name,
                                             std::size_t buffer_size) {
  const runtime::Activation activation("QUERYMACHINEVALUE", __LINE__);
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // One byte more than the buffer keeps a terminating zero behind a value
  // that fills it exactly; such a value still counts as fitting.
  std::vector<char> buffer(buffer_size + 1, '\0');
  DWORD size = static_cast<DWORD>(buffer_size);
  const LSTATUS status = ::RegQueryValueExA(key, value_name.c_str(), nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(buffer.data()), &size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::string();
  if (size > buffer_size) size = static_cast<DWORD>(buffer_size);
  std::string value(buffer.data(), size);
  value.resize(std::strlen(value.c_str()));
  // A text that takes every byte has no room for its own end in the buffer.
  if (value.size() >= buffer_size) value.clear();
  return value;
}

std::string SystemDirectory(std::size_t buffer_size) {
  const runtime::Activation activation("SYSTEMDIRECTORY", __LINE__);
  std::vector<char> buffer(buffer_size + 1, '\0');
  const UINT n = ::GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer_size));
  if (n == 0 || n >= buffer_size) return {};
  return std::string(buffer.data(), n);
}

std::optional<std::string> EnvironmentValue(const std::string& name, std::size_t buffer_size) {
  const runtime::Activation activation("ENVIRONMENTVALUE", __LINE__);
  std::vector<char> buffer(buffer_size + 1, '\0');
  const DWORD n = ::GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer_size));
  if (n == 0 || n >= buffer_size) return std::nullopt;
  return std::string(buffer.data(), n);
}

const char* DefaultSystemRoot() { return "c:\\winnt"; }

}  // namespace logging::detail
