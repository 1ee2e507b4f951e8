// The reply parser on any server output, line by line: it ends every reply
// as done or malformed, and a done reply has a code in range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mailclient/smtp/csmtp.h"
#include "mailclient/smtp/reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  mailclient::ReplyParser parser;
  while (!rest.empty()) {
    const std::size_t nl = rest.find('\n');
    const std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    const auto status = parser.Feed(line);
    if (status == mailclient::ReplyParser::Status::kDone) {
      const mailclient::Reply& reply = parser.reply();
      if (reply.code < 200 || reply.code > 599) std::abort();
      (void)mailclient::ParseCapabilities(reply);
      (void)reply.Quote();
    }
    if (status != mailclient::ReplyParser::Status::kMore) parser.Reset();
  }
  return 0;
}
