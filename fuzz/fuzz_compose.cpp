// The message composer on any subject and body, the same text also as a
// display name and an extra field's value: what goes on the wire has only
// CR LF line ends, no line of SMTP's forbidden length, a header that ends
// only once and shows no Bcc recipient, no line "." before the one that
// ends the data, and the size announced is the size sent. The body is
// HTML, with its text alternative, when the first byte's high bit is set.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mailclient/mime/cemail.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t cut = data[0] % 64 < size ? data[0] % 64 : size - 1;
  mailclient::CEmail mail;
  const std::string text(reinterpret_cast<const char*>(data + 1), cut);
  mail.FromAddress(text + " <alerts@example.com>");
  mail.Subject(text);
  mail.DestList({"ops@example.com"});
  mail.CcList({text, "\"" + text + "\" <cc@example.com>"});
  // Longer than the text may be, so that only the Bcc list can bring it.
  const std::string hidden = std::string(60, 'h') + "@example.com";
  mail.BccList({hidden});
  mail.HeaderField("X-Fuzz", text);
  mail.Cargo("Message-Id: <1@example.com>\r\n");
  mail.Html(data[0] >= 0x80);
  mail.MailBody(std::string(reinterpret_cast<const char*>(data + 1 + cut), size - 1 - cut));
  for (bool eight_bit : {false, true}) {
    const mailclient::BodyPlan plan = mail.Plan(eight_bit);
    const std::string header = mail.Header(plan, 0);
    if (header.find("\r\n\r\n") + 4 != header.size() || header.find(hidden) != std::string::npos) std::abort();
    std::string wire;
    mail.WriteData(plan, header, [&](std::string_view chunk) {
      wire.append(chunk);
      return true;
    });
    if (wire.size() < 5 || wire.compare(wire.size() - 5, 5, "\r\n.\r\n") != 0) std::abort();
    std::size_t start = 0;
    std::size_t stuffed = 0;
    while (start < wire.size()) {
      const std::size_t end = wire.find("\r\n", start);
      if (end == std::string::npos) std::abort();
      const std::string_view line(wire.data() + start, end - start);
      if (line.find_first_of("\r\n") != std::string_view::npos) std::abort();
      if (line.size() > 998) std::abort();
      if (line == "." && end + 2 != wire.size()) std::abort();
      if (!eight_bit && plan.eight_bit_mime) std::abort();
      if (line.starts_with('.') && end + 2 != wire.size()) ++stuffed;
      start = end + 2;
    }
    if (mail.DataSize(plan, header) != wire.size() - 3 - stuffed) std::abort();
  }
  return 0;
}
