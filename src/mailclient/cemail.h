// CEmail: one mail message, composed as RFC 5322 text. The header is built
// from the sender, the recipients, the subject and the caller's extra lines
// (Cargo); the body is sent as it was given, in the lightest transfer
// encoding that carries it intact to the server at hand.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mailclient {

/// How a body travels.
enum class TransferEncoding { k7Bit, k8Bit, kQuotedPrintable, kBase64 };

struct BodyPlan {
  TransferEncoding encoding = TransferEncoding::k7Bit;
  std::string charset = "us-ascii";
  /// The MAIL command must declare BODY=8BITMIME.
  bool eight_bit_mime = false;
};

class CEmail {
 public:
  CEmail() = default;  // CEmail:Init

  void FromAddress(std::string value) { from_ = std::move(value); }
  const std::string& FromAddress() const { return from_; }
  void Subject(std::string value) { subject_ = std::move(value); }
  const std::string& Subject() const { return subject_; }
  /// Extra header lines, each ended by CR LF.
  void Cargo(std::string value) { cargo_ = std::move(value); }
  const std::string& Cargo() const { return cargo_; }
  void DestList(std::vector<std::string> value) { dest_ = std::move(value); }
  const std::vector<std::string>& DestList() const { return dest_; }
  void MailBody(std::string value);
  const std::string& MailBody() const { return body_; }

  /// The addresses of DestList with the blanks around them trimmed and
  /// empty pieces left out.
  std::vector<std::string> Recipients() const;

  /// The encoding for this body; `eight_bit_ok` when the server takes
  /// 8BITMIME.
  BodyPlan Plan(bool eight_bit_ok) const;

  /// The header block, ended by the empty line, dated `now`. `utf8`: the
  /// server takes SMTPUTF8, so addresses go in UTF-8 (RFC 6532); otherwise
  /// their domains go as A-labels.
  std::string Header(const BodyPlan& plan, std::time_t now, bool utf8 = false) const;

  /// The message's exact size as the SIZE parameter counts it (RFC 1870):
  /// header and encoded body with CR LF line ends, without the doubled dots
  /// and the line "." of the DATA phase.
  std::size_t DataSize(const BodyPlan& plan, const std::string& header) const;

  /// The DATA phase: header and encoded body with CR LF line ends and dots
  /// doubled, ended by the line ".", handed to `sink` in chunks of about
  /// 64 KiB. Stops at the first chunk `sink` refuses; false then.
  bool WriteData(const BodyPlan& plan, const std::string& header,
                 const std::function<bool(std::string_view)>& sink) const;

 private:
  bool Encode(const BodyPlan& plan, const std::string& header, bool stuff_dots,
              const std::function<bool(std::string_view)>& sink) const;

  std::string from_;
  std::string subject_;
  std::string cargo_;
  std::vector<std::string> dest_;
  std::string body_;
  // What the body holds, found once when it is set.
  bool has_nul_ = false;
  bool ascii_ = true;
  std::size_t longest_line_ = 0;
  std::size_t line_ends_ = 0;
  std::size_t line_end_bytes_ = 0;  // the CR and LF bytes of those line ends
};

}  // namespace mailclient
