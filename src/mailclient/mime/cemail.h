// CEmail: one mail message, composed as RFC 5322 text. The header is built
// from the sender, the recipients, the subject and the caller's extra lines
// (Cargo); the body is sent as it was given, in the lightest transfer
// encoding that carries it intact to the server at hand. With attachments
// the message is multipart/mixed, the body its first part. Body and
// attachments may stay on disk: they are read once to plan the message and
// again while it is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mailclient/mime/content.h"
#include "runtime/file_source.h"

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
  /// Recipients shown in a Cc: line, typed pieces like DestList.
  void CcList(std::vector<std::string> value) { cc_ = std::move(value); }
  const std::vector<std::string>& CcList() const { return cc_; }
  /// Recipients that no header line shows.
  void BccList(std::vector<std::string> value) { bcc_ = std::move(value); }
  const std::vector<std::string>& BccList() const { return bcc_; }
  /// The address of a Reply-To: line, as typed; the caller has checked it
  /// with ParseAddress.
  void ReplyTo(std::string typed) { reply_to_ = std::move(typed); }
  const std::string& ReplyTo() const { return reply_to_; }
  /// Adds the header line "name: value" after the Cargo lines, in the order
  /// added. The reason, and nothing added, when `name` is no field name or
  /// one the program writes itself, or `value` holds a line break or NUL.
  std::optional<std::string> HeaderField(const std::string& name, const std::string& value);
  void MailBody(std::string value);
  /// The body read from `file` while sending. The reason when the first
  /// pass cannot read it or finds it larger than 2 GiB.
  std::optional<std::string> MailBody(std::shared_ptr<runtime::FileSource> file);
  /// The body is HTML (text/html) rather than plain text.
  void Html(bool on) { html_ = on; }
  /// Adds the open `file` as an attachment named `name` (its base name is
  /// shown), of the media type `type`. Text (a type text/...) is read once
  /// to learn its charset: the reason when that fails.
  std::optional<std::string> Attach(const std::string& name, std::shared_ptr<runtime::FileSource> file,
                                    std::string type);

  /// The addresses of DestList, CcList and BccList in that order, with the
  /// blanks around them trimmed and empty pieces left out. An address given
  /// twice comes twice.
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
  /// and the line "." of the DATA phase. A quoted-printable body is read
  /// once more to count; 0 when that failed, with ReadError set.
  std::uint64_t DataSize(const BodyPlan& plan, const std::string& header) const;

  /// The DATA phase: header and encoded body with CR LF line ends and dots
  /// doubled, ended by the line ".", handed to `sink` in chunks of about
  /// 64 KiB. Stops at the first chunk `sink` refuses, or when a file cannot
  /// be read or no longer holds what the first pass found (ReadError says
  /// so, and the line "." has not been given); false then.
  bool WriteData(const BodyPlan& plan, const std::string& header,
                 const std::function<bool(std::string_view)>& sink) const;

  /// Why the last DataSize or WriteData could not read the body or an
  /// attachment; empty when they could.
  const std::string& ReadError() const { return read_error_; }

 private:
  struct Part {
    Content content;
    ContentScan scan;
    std::string name;  // an attachment's base name
    std::string type;
    std::string charset;  // a text attachment's
    std::uint64_t digest = 0;  // of the bytes the first pass read
  };
  // Where the layout of the message goes: a counter of its size, or the
  // writer of the DATA phase.
  class MessageSink;
  class SizeCounter;
  class DataWriter;

  /// The first pass over a part: its size and digest, and what its text
  /// holds when `text` is true. The reason when it cannot be read.
  static std::optional<std::string> Scan(Part& part, bool text);
  bool Multipart() const { return !attachments_.empty(); }
  std::string BodyPartHeader(const BodyPlan& plan) const;
  std::string AttachmentHeader(const Part& part) const;
  std::string Delimiter(bool last) const;
  /// How an error names the part.
  static std::string What(const Part& part);
  /// The message, header first, laid out into `sink`; false at the first
  /// piece it refuses.
  bool Layout(const BodyPlan& plan, const std::string& header, MessageSink& sink) const;

  std::string from_;
  std::string subject_;
  std::string cargo_;
  std::vector<std::string> dest_;
  std::vector<std::string> cc_;
  std::vector<std::string> bcc_;
  std::string reply_to_;
  std::string fields_;  // the lines HeaderField added, ended by CR LF
  Part body_;
  bool html_ = false;
  std::vector<Part> attachments_;
  std::string boundary_;
  mutable std::string read_error_;
};

}  // namespace mailclient
