// The profile text functions on any file content: after a key is set, it
// reads back as set, and every other key keeps its value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/profile_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto other_before = settings::FindProfileValue(text, "Other", "Key");
  const std::string updated = settings::SetProfileValue(text, "Settings", "ServerName", "mail.example.com");
  const auto value = settings::FindProfileValue(updated, "Settings", "ServerName");
  if (!value || *value != "mail.example.com") std::abort();
  if (settings::FindProfileValue(updated, "Other", "Key") != other_before) std::abort();
  return 0;
}
