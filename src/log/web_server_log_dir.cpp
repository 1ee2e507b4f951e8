#include "log/web_server_log_dir.h"

#include <algorithm>
#include <string_view>

#include "log/registry.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/places.h"

namespace {

namespace registry = logging::detail;

constexpr std::size_t kBufferSize = 260;
constexpr const char* kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters";
constexpr std::string_view kPlaceholder = "%SystemRoot%";

// Position of the first "%SystemRoot%" in any letter case, or npos.
std::size_t FindPlaceholder(std::string_view text) {
  const auto same = [](char a, char b) { return runtime::AsciiLower(a) == runtime::AsciiLower(b); };
  const auto at = std::search(text.begin(), text.end(), kPlaceholder.begin(), kPlaceholder.end(), same);
  return at == text.end() ? std::string_view::npos : static_cast<std::size_t>(at - text.begin());
}

}  // namespace

std::string GetWebServerLogDir() {
  const runtime::Activation activation("GETWEBSERVERLOGDIR", __LINE__);
  const std::optional<std::string> value =
      registry::QueryMachineValue(kServiceKey, "LogFileDirectory", kBufferSize);
  if (!value) return {};
  if (value->empty()) {
    const std::string system = registry::SystemDirectory(kBufferSize);
    return system.empty() ? std::string() : system + runtime::PathSeparator() + "LogFiles";
  }
  const std::size_t at = FindPlaceholder(*value);
  if (at == std::string::npos) return *value;
  const std::string root =
      registry::EnvironmentValue("SystemRoot", kBufferSize).value_or(registry::DefaultSystemRoot());
  return root + value->substr(at + kPlaceholder.size());
}
