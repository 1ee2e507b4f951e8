#include "app/call_options.h"

#include <algorithm>

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace app {

namespace {

bool IsBlankOnly(std::string_view s) { return s.find_first_not_of(" \t\r\n") == std::string_view::npos; }

std::string_view Trimmed(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// The text up to the next line feed, taken off `text` with it; a UTF-8
// byte-order mark (which only the first line has) is passed over.
std::string_view NextLine(std::string_view& text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::size_t end = std::min(text.find('\n'), text.size());
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return line;
}

void Append(std::string& list, const std::string& more) {
  if (!list.empty()) list += ',';
  list += more;
}

std::string DsnValue(const std::string& value) {
  const std::string upper = runtime::AsciiUpper(value);
  if (upper == "NEVER") return upper;
  std::string seen = ",";
  std::size_t start = 0;
  while (start <= upper.size()) {
    std::size_t end = upper.find(',', start);
    if (end == std::string::npos) end = upper.size();
    const std::string word(Trimmed(std::string_view(upper).substr(start, end - start)));
    const bool known = word == "SUCCESS" || word == "FAILURE" || word == "DELAY";
    if (!known || seen.find("," + word + ",") != std::string::npos) return {};
    seen += word + ",";
    start = end + 1;
  }
  return seen.substr(1, seen.size() - 2);
}

// Takes the value of option `option` into `call`; false with `why` set when
// the value is one the option does not take.
bool TakeValue(const std::string& option, const std::string& value, Call& call, std::string& why) {
  if (option == "-a") {
    call.attachments.push_back(value);
  } else if (option == "-cc") {
    Append(call.cc, value);
  } else if (option == "-bcc") {
    Append(call.bcc, value);
  } else if (option == "-replyto") {
    call.reply_to = value;
  } else if (option == "-alt") {
    call.alt_file = value;
  } else if (option == "-embed") {
    call.embeds.push_back(value);
  } else if (option == "-tf") {
    call.recipient_files.push_back(value);
  } else if (option == "-profile") {
    call.profile = value;
  } else if (option == "-priority") {
    call.priority = runtime::AsciiLower(value);
    if (call.priority != "high" && call.priority != "normal" && call.priority != "low") {
      why = "unknown -priority value \"" + value + "\" (use high, normal or low)";
    }
  } else if (option == "-dsn") {
    call.dsn = DsnValue(value);
    if (call.dsn.empty()) {
      why = "unknown -dsn value \"" + value + "\" (use never, or success, failure and delay joined by commas)";
    }
  } else if (option == "-x") {
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos) {
      why = "the header \"" + value + "\" given with -x holds no \":\" (use -x \"Name: value\")";
    } else {
      call.header_fields.emplace_back(value.substr(0, colon), std::string(Trimmed(value.substr(colon + 1))));
    }
  } else {
    return false;
  }
  return why.empty();
}

bool TakesValue(const std::string& option) {
  for (const char* known : {"-a", "-cc", "-bcc", "-replyto", "-tf", "-profile", "-priority", "-dsn", "-x", "-alt", "-embed"}) {
    if (option == known) return true;
  }
  return false;
}

// "-s" takes the next argument as the subject unless it is the last one;
// blank arguments are passed over. With `extended` the other options are
// taken the same way.
CallParse Parse(const std::vector<std::string>& args, bool extended) {
  Call call;
  std::string why;
  int positional = 0;
  const std::size_t n = args.size();
  for (std::size_t i = 1; i < n; ++i) {
    const std::string& a = args[i];
    const std::string option = runtime::AsciiLower(a);
    if (option == "-s" && i + 1 < n) {
      call.subject = args[++i];
      continue;
    }
    if (extended && TakesValue(option) && i + 1 < n) {
      if (!TakeValue(option, args[++i], call, why)) return {std::nullopt, why};
      continue;
    }
    if (extended && (option == "-receipt" || option == "-html")) {
      (option == "-html" ? call.html : call.receipt) = true;
      continue;
    }
    if (IsBlankOnly(a)) continue;
    if (positional == 0) {
      call.mail_file = a;
    } else if (positional == 1) {
      call.recipients = a;
    } else {
      return {};
    }
    ++positional;
  }
  call.extended = extended;
  return {call, ""};
}

}  // namespace

CallParse ParseCall(const std::vector<std::string>& args) {
  const runtime::Activation activation("PARSECALL", __LINE__);
  CallParse plain = Parse(args, false);
  return plain.call ? plain : Parse(args, true);
}

std::vector<std::string> RecipientFileLines(std::string_view text) {
  const runtime::Activation activation("RECIPIENTFILELINES", __LINE__);
  std::vector<std::string> lines;
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quoted = !quoted;
      if (line[i] == '#' && !quoted) line = line.substr(0, i);
    }
    line = Trimmed(line);
    if (!line.empty()) lines.emplace_back(line);
  }
  return lines;
}

bool HasSection(std::string_view text, std::string_view section) {
  const runtime::Activation activation("HASSECTION", __LINE__);
  const std::string wanted = "[" + runtime::AsciiLower(std::string(Trimmed(section))) + "]";
  while (!text.empty()) {
    const std::string_view line = Trimmed(NextLine(text));
    const std::size_t close = line.find(']');
    if (line.starts_with('[') && close != std::string::npos) {
      const std::string name(Trimmed(line.substr(1, close - 1)));
      if ("[" + runtime::AsciiLower(name) + "]" == wanted) return true;
    }
  }
  return false;
}

std::vector<std::pair<std::string, std::string>> PriorityHeaders(const std::string& priority) {
  if (priority == "high") return {{"X-Priority", "1 (Highest)"}, {"Importance", "high"}, {"Priority", "urgent"}};
  if (priority == "low") return {{"X-Priority", "5 (Lowest)"}, {"Importance", "low"}, {"Priority", "non-urgent"}};
  return {{"X-Priority", "3 (Normal)"}, {"Importance", "normal"}, {"Priority", "normal"}};
}

}  // namespace app
