#include "settings/profile_text.h"

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace settings {

namespace {

constexpr std::string_view kBlanks = " \t\r";

// Notepad starts a UTF-8 file with a byte-order mark; it is no part of the
// first line.
std::size_t ByteOrderMarkLength(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

std::string_view Trim(std::string_view s) { return runtime::TrimBlanks(s, kBlanks); }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

/// One line of the text: where it starts, its content without the line
/// end, and where the next line starts.
struct Line {
  std::size_t begin = 0;
  std::string_view content;
  std::size_t next = 0;
};

Line LineAt(std::string_view text, std::size_t begin) {
  const std::size_t nl = text.find('\n', begin);
  Line line;
  line.begin = begin;
  line.next = nl == std::string_view::npos ? text.size() : nl + 1;
  std::string_view content = text.substr(begin, (nl == std::string_view::npos ? text.size() : nl) - begin);
  if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
  line.content = content;
  return line;
}

// The name of a section header line, or nothing.
std::optional<std::string_view> SectionName(std::string_view content) {
  const std::string_view t = Trim(content);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const std::size_t close = t.find(']');
  return Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

// True when the line is "key = value" for `key`; `value` gets the value.
bool KeyLine(std::string_view content, std::string_view key, std::string_view& value) {
  const std::size_t eq = content.find('=');
  if (eq == std::string_view::npos || !SameName(Trim(content.substr(0, eq)), key)) return false;
  value = Trim(content.substr(eq + 1));
  // One pair of quotes around a value goes, as with the Windows functions.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return true;
}

/// Where a key stands: the line that holds it, or the end of its section.
struct Place {
  bool section_found = false;
  bool key_found = false;
  std::size_t key_begin = 0;     // the key's line
  std::size_t key_end = 0;       // end of the key's line content
  std::size_t section_end = 0;   // after the section's last non-blank line
  std::string_view value;
};

Place Locate(std::string_view text, std::string_view section, std::string_view key) {
  Place place;
  bool inside = false;
  for (std::size_t at = ByteOrderMarkLength(text); at < text.size();) {
    const Line line = LineAt(text, at);
    at = line.next;
    if (const auto name = SectionName(line.content)) {
      if (inside) break;  // the section ended; a later one of the same name is ignored
      inside = SameName(*name, section);
      if (inside) {
        place.section_found = true;
        place.section_end = line.next;
      }
      continue;
    }
    if (!inside) continue;
    if (!Trim(line.content).empty()) place.section_end = line.next;
    if (KeyLine(line.content, key, place.value)) {
      place.key_found = true;
      place.key_begin = line.begin;
      place.key_end = line.begin + line.content.size();
      break;
    }
  }
  return place;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
  const runtime::Activation activation("FINDPROFILEVALUE", __LINE__);
  const Place place = Locate(text, section, key);
  if (!place.key_found) return std::nullopt;
  return std::string(place.value);
}

std::string SetProfileValue(std::string_view text, std::string_view section,
                            std::string_view key, std::string_view value) {
  const runtime::Activation activation("SETPROFILEVALUE", __LINE__);
  const Place place = Locate(text, section, key);
  // A line break in the value would start a line of its own: the value
  // ends there.
  value = value.substr(0, value.find_first_of("\r\n"));
  std::string line;
  line.append(key).append("=").append(value);
  std::string out;
  out.reserve(text.size() + line.size() + section.size() + 8);
  if (place.key_found) {
    out.append(text.substr(0, place.key_begin)).append(line).append(text.substr(place.key_end));
  } else if (place.section_found) {
    const std::size_t at = place.section_end;
    out.append(text.substr(0, at));
    // A last line without a line end gets one before the new key.
    if (!out.empty() && out.back() != '\n') out.append("\r\n");
    out.append(line).append("\r\n").append(text.substr(at));
  } else {
    out.append(text);
    if (out.size() > ByteOrderMarkLength(out)) {
      if (out.back() != '\n') out.append("\r\n");
      out.append("\r\n");
    }
    out.append("[").append(section).append("]\r\n").append(line).append("\r\n");
  }
  return out;
}

}  // namespace settings
