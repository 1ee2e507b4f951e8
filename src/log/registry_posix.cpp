// The registry, the system directory and the environment on POSIX.
//
// The registry is a profile file (registry_posix.h). A missing file is an
// empty registry: every key opens, since creating a key that holds no value
// would change nothing a reader can see, and nothing is written. A file
// that exists but cannot be read (no rights, a directory) is a key that
// cannot be opened. The system directory is "/var/log", so that the log
// directory falls back to "/var/log/LogFiles"; the system root when
// "SystemRoot" is unset is the root directory, written as an empty prefix.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "log/registry.h"
#include "log/registry_posix.h"
#include "runtime/activation.h"
#include "runtime/whole_file.h"
#include "settings/profile_text.h"

namespace logging {

namespace {

std::string& RegistryFile() {
  static std::string file = kMachineRegistryFile;
  return file;
}

// The file's bytes; false when it exists but cannot be read.
bool ReadRegistry(const std::string& file, std::string& text) {
  std::string reason;
  if (runtime::ReadWholeFile(file, text, reason)) return true;
  struct stat st {};
  return ::stat(file.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

}  // namespace

std::string SetMachineRegistryFile(std::string file) {
  const runtime::Activation activation("SETMACHINEREGISTRYFILE", __LINE__);
  std::swap(RegistryFile(), file);
  return file;
}

namespace detail {

std::optional<std::string> QueryMachineValue(const std::string& key_path, const std::string& value_name,
                                             std::size_t buffer_size) {
  const runtime::Activation activation("QUERYMACHINEVALUE", __LINE__);
  std::string text;
  if (!ReadRegistry(RegistryFile(), text)) return std::nullopt;
  std::string value = settings::FindProfileValue(text, key_path, value_name).value_or("");
  value.resize(std::strlen(value.c_str()));
  if (value.size() >= buffer_size) value.clear();
  return value;
}

std::string SystemDirectory(std::size_t buffer_size) {
  const runtime::Activation activation("SYSTEMDIRECTORY", __LINE__);
  const std::string dir = "/var/log";
  return dir.size() < buffer_size ? dir : std::string();
}

std::optional<std::string> EnvironmentValue(const std::string& name, std::size_t buffer_size) {
  const runtime::Activation activation("ENVIRONMENTVALUE", __LINE__);
  const char* value = std::getenv(name.c_str());
  if (value == nullptr || std::strlen(value) >= buffer_size) return std::nullopt;
  return std::string(value);
}

const char* DefaultSystemRoot() { return ""; }

}  // namespace detail

}  // namespace logging
