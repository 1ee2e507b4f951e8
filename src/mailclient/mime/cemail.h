// CEmail: one mail message, composed as RFC 5322 text. The header is built
// from the sender, the recipients, the subject and the caller's extra lines
// (Cargo); the body is sent as it was given, in the lightest transfer
// encoding that carries it intact to the server at hand. An HTML body goes
// with a text alternative (multipart/alternative), and with the images it
// shows (multipart/related); with attachments the message is
// multipart/mixed, the body its first part. Each level is there only when
// it has more than one part. Body, images and attachments may stay on
// disk: they are read once to plan the message and again while it is sent.
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
  /// The text alternative of an HTML body.
  TransferEncoding text_encoding = TransferEncoding::k7Bit;
  std::string text_charset = "us-ascii";
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
  /// The message as a queue keeps it: header and body as WriteMessage
  /// wrote them (with Plan(false), so in 7 bits), the bytes of `file` after
  /// its first `offset`. Header() then gives nothing: the message is sent
  /// as it was composed (with bcc_field, the Bcc line is all it gives).
  /// The reason when the first pass cannot read it.
  std::optional<std::string> StoredMessage(std::shared_ptr<runtime::FileSource> file, std::uint64_t offset);
  /// The body is HTML (text/html) rather than plain text. It goes with a
  /// text alternative, made from it unless AlternativeText gives one.
  void Html(bool on);
  /// The text alternative of an HTML body, read from `file` while sending.
  /// The reason when the first pass cannot read it.
  std::optional<std::string> AlternativeText(std::shared_ptr<runtime::FileSource> file);
  /// Adds the open `file` as an image of an HTML body, of the media type
  /// `type`: inline, its Content-ID the base name of `name`, which the HTML
  /// reaches as "cid:" and that name. The reason when it cannot be read.
  /// Check the name with ContentIdRefusal first.
  std::optional<std::string> Embed(const std::string& name, std::shared_ptr<runtime::FileSource> file,
                                   std::string type);
  /// Why the base name of `name` cannot be the Content-ID of an embedded
  /// image (it must read the same in a cid: URL and in the header, and be
  /// unique); nothing when it can.
  std::optional<std::string> ContentIdRefusal(const std::string& name) const;
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
  /// their domains go as A-labels. `bcc_field`: the Bcc recipients in a
  /// Bcc: line, for a sender that takes the recipients from the header and
  /// removes that line itself (Microsoft Graph); SMTP never gets one.
  std::string Header(const BodyPlan& plan, std::time_t now, bool utf8 = false, bool bcc_field = false) const;

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

  /// The message as WriteData lays it out, without the doubled dots and the
  /// line "." of the DATA phase: DataSize bytes in all.
  bool WriteMessage(const BodyPlan& plan, const std::string& header,
                    const std::function<bool(std::string_view)>& sink) const;

  /// An attachment as a sender that uploads it on its own needs it: its
  /// base name, media type and size in bytes.
  struct AttachmentFacts {
    std::string name;
    std::string type;
    std::uint64_t size = 0;
  };
  std::vector<AttachmentFacts> AttachmentList() const;
  /// This message without the attachments that `left_out` marks (by their
  /// place in AttachmentList), for a draft whose large files go apart.
  /// Boundaries, header lines and every other part stay as they are.
  CEmail Without(const std::vector<bool>& left_out) const;
  /// Hands the bytes of attachment `index` to `sink` in chunks of at most
  /// 64 KiB. False when `sink` refused one, or the file cannot be read or
  /// no longer holds what the first pass found (ReadError says so).
  bool ReadAttachment(std::size_t index, const std::function<bool(std::string_view)>& sink) const;

  /// Why the last DataSize, WriteData, WriteMessage or ReadAttachment could
  /// not read the body or an attachment; empty when they could.
  const std::string& ReadError() const { return read_error_; }

 private:
  struct Part {
    Part() = default;
    Part(Content c, std::string w, std::string n = {}, std::string t = {})
        : content(std::move(c)), what(std::move(w)), name(std::move(n)), type(std::move(t)) {}
    Content content;
    ContentScan scan;
    std::string what;  // how an error names it
    std::string name;  // an attachment's or image's base name
    std::string type;
    std::string charset;  // a text attachment's
    std::uint64_t digest = 0;  // of the bytes the first pass read
    bool inline_image = false;
  };
  // The entities of the message, from the outside in.
  enum class Entity { kMixed, kAlternative, kRelated, kBody };
  // Where the layout of the message goes: a counter of its size, or the
  // writer of the DATA phase.
  class MessageSink;
  class SizeCounter;
  class DataWriter;

  /// The first pass over a part: its size and digest, and what its text
  /// holds when `text` is true. The reason when it cannot be read.
  static std::optional<std::string> Scan(Part& part, bool text);
  /// The text alternative made from the body, when it is HTML and none
  /// was given.
  void MakeText();
  bool Multipart() const { return Outer() != Entity::kBody; }
  Entity Outer() const;
  /// The entity that `entity` holds first.
  Entity Inner(Entity entity) const;
  /// The Content-Type and Content-Transfer-Encoding lines of `entity`.
  std::string EntityHeader(Entity entity, const BodyPlan& plan) const;
  std::string BodyPartHeader(const BodyPlan& plan) const;
  std::string AttachmentHeader(const Part& part) const;
  std::string Delimiter(Entity entity, bool last) const;
  /// The message, header first, laid out into `sink`; false at the first
  /// piece it refuses.
  bool Layout(const BodyPlan& plan, const std::string& header, MessageSink& sink) const;
  bool LayoutEntity(Entity entity, const BodyPlan& plan, MessageSink& sink) const;

  std::string from_;
  std::string subject_;
  std::string cargo_;
  std::vector<std::string> dest_;
  std::vector<std::string> cc_;
  std::vector<std::string> bcc_;
  std::string reply_to_;
  std::string fields_;  // the lines HeaderField added, ended by CR LF
  Part body_;
  bool stored_ = false;  // body_ is the whole message
  bool html_ = false;
  Part text_;  // the text alternative of an HTML body
  bool text_given_ = false;
  std::vector<Part> images_;
  std::vector<Part> attachments_;
  // One for each multipart entity, each random of its own, so that none is
  // the start of another.
  std::string boundary_[3];
  mutable std::string read_error_;
};

}  // namespace mailclient
