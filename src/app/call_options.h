// The command line as the command reads it: the subject, the mail file and
// the recipients, and the options that give a use to calls that would
// otherwise be refused. Pure text functions, so that every call can be
// checked without a run.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

/// One call, as given.
struct Call {
  std::string subject;
  std::string mail_file;
  /// The recipient argument as typed.
  std::string recipients;
  std::vector<std::string> attachments;
  /// The "-cc" and "-bcc" lists as typed, each joined by ",".
  std::string cc;
  std::string bcc;
  std::string reply_to;
  /// "high", "normal" or "low" in lower case; empty when not given.
  std::string priority;
  bool receipt = false;
  /// "-html": the body is HTML whatever the mail file's name.
  bool html = false;
  /// "-alt": the text alternative of an HTML body; empty: made from it.
  std::string alt_file;
  /// The "-embed" images of an HTML body, in order.
  std::vector<std::string> embeds;
  /// "NEVER" or a comma list of SUCCESS, FAILURE, DELAY; empty: none asked.
  std::string dsn;
  /// The "-x" headers as name and value.
  std::vector<std::pair<std::string, std::string>> header_fields;
  std::vector<std::string> recipient_files;
  std::string profile;
  /// Took any option beyond "-s".
  bool extended = false;
};

/// The outcome of reading the arguments: the call, or a refusal. A refusal
/// with an empty `why` is a call that gets the usage text.
struct CallParse {
  std::optional<Call> call;
  std::string why;
};

/// Reads `args` (args[0] is the program's name). A call that reads with
/// "-s" alone keeps that reading; only one that would be refused is read
/// again with the other options.
CallParse ParseCall(const std::vector<std::string>& args);

/// The recipients of a recipient file: one entry per line that holds any,
/// without the comment that "#" begins outside quotes, a UTF-8 byte-order
/// mark, or the blanks around it.
std::vector<std::string> RecipientFileLines(std::string_view text);

/// Whether the settings text holds a "[section]" line (names match without
/// regard to letter case).
bool HasSection(std::string_view text, std::string_view section);

/// The priority headers that mail readers act on, for "high", "normal" or
/// "low".
std::vector<std::pair<std::string, std::string>> PriorityHeaders(const std::string& priority);

}  // namespace app
