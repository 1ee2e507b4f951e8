#include "mailclient/mime/header_field.h"

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {

// The fields every message gets from the program: a second one would
// contradict it, and readers take either.
bool WrittenByTheProgram(std::string_view name) {
  const std::string lower = runtime::AsciiLower(name);
  static const char* const kOwn[] = {"from",         "to",      "cc",       "bcc",     "date", "message-id",
                                     "mime-version", "subject", "reply-to", "x-mailer"};
  for (const char* own : kOwn) {
    if (lower == own) return true;
  }
  return lower.starts_with("content-");
}

}  // namespace

std::optional<std::string> HeaderFieldRefusal(std::string_view name, std::string_view value) {
  const runtime::Activation activation("HEADERFIELDREFUSAL", __LINE__);
  if (name.empty()) return "the header name is empty";
  const std::string shown = "\"" + runtime::Printable(name, runtime::kMostQuoted) + "\"";
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == ' ' || c == '\t') return "the header name " + shown + " holds a blank";
    if (c == ':') return "the header name " + shown + " holds a \":\"";
    if (c < 33 || c > 126) return "the header name " + shown + " holds a character other than printable ASCII";
  }
  if (name.size() > kMaxFieldName) {
    return "the header name " + shown + " is longer than " + std::to_string(kMaxFieldName) + " characters";
  }
  if (WrittenByTheProgram(name)) return shown + " is written by the program itself";
  for (char c : value) {
    if (c == '\r' || c == '\n') return "the value of " + shown + " holds a line break";
    if (c == '\0') return "the value of " + shown + " holds a NUL character";
  }
  return std::nullopt;
}

}  // namespace mailclient
