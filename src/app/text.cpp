#include "app/text.h"

#include <algorithm>

#include "runtime/activation.h"
#include "runtime/places.h"
#include "runtime/process.h"

namespace {

constexpr std::string_view kBlanks = " \t\r\n";
constexpr std::size_t npos = std::string_view::npos;

// Replaces every `from` pair with the single character `to`, left to right.
std::string ReplacePairs(const std::string& s, char first, char second, char to) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == first && i + 1 < s.size() && s[i + 1] == second) {
      out += to;
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string Unescape(std::string token, char quote) {
  if (quote != '"') token = ReplacePairs(token, '\\', '"', '"');
  if (quote != '\'') token = ReplacePairs(token, '\\', '\'', '\'');
  return ReplacePairs(token, '\\', '\\', '\\');
}

/// The tokeniser's state: the text and where its remaining part begins.
/// Tokens are gathered from slices of the text, so nothing is copied more
/// than once.
class Cutter {
 public:
  Cutter(std::string_view text, std::string_view delimiter, std::string_view quote,
         std::vector<std::string>* passed_over)
      : text_(text),
        delim_(delimiter.empty() ? '\0' : delimiter.front()),
        has_delim_(!delimiter.empty()),
        quote_(quote.empty() ? '\0' : quote.front()),
        has_quote_(!quote.empty()),
        last_non_blank_(text.find_last_not_of(kBlanks)),
        passed_over_(passed_over) {}

  bool Done() const { return last_non_blank_ == npos || pos_ > last_non_blank_; }

  std::string Next() {
    std::string token = (has_quote_ && text_[pos_] == quote_) ? Quoted() : Plain();
    return Unescape(std::move(token), has_quote_ ? quote_ : '\0');
  }

 private:
  std::size_t FindDelim(std::size_t from) const {
    return has_delim_ ? text_.find(delim_, from) : npos;
  }
  std::size_t FindQuote(std::size_t from) const { return text_.find(quote_, from); }
  bool IsQuote(std::size_t at) const { return at < text_.size() && text_[at] == quote_; }
  void Skip(std::size_t to) { pos_ = to < text_.size() ? to : text_.size(); }

  // Notes the quoted token that began at `start` as it stands in the text,
  // up to the next delimiter after `from`.
  void PassedOver(std::size_t start, std::size_t from) {
    if (passed_over_ == nullptr) return;
    const std::size_t end = std::min(FindDelim(from), text_.size());
    const std::string_view piece = text_.substr(start, end - start);
    passed_over_->emplace_back(piece.substr(0, piece.find_last_not_of(kBlanks) + 1));
  }

  std::string Plain() {
    std::string token;
    for (;;) {
      const std::size_t p = FindDelim(pos_);
      if (p == npos) {
        token.append(text_.substr(pos_));
        Skip(npos);
        return token;
      }
      if (p == pos_ || text_[p - 1] != '\\') {
        token.append(text_.substr(pos_, p - pos_));
        Skip(p + 1);
        return token;
      }
      // An escaped delimiter: backslash and delimiter go, the sides join.
      token.append(text_.substr(pos_, p - 1 - pos_));
      Skip(p + 1);
    }
  }

  std::string Quoted() {
    std::string token;
    const std::size_t start = pos_;
    Skip(pos_ + 1);  // the opening quote
    for (;;) {
      std::size_t p = FindQuote(pos_);
      if (p == npos) {  // an unterminated quote runs to the end
        token.append(text_.substr(pos_));
        Skip(npos);
        return token;
      }
      const bool two_quotes_left = text_.size() - pos_ == 2 && IsQuote(pos_) && IsQuote(pos_ + 1);
      const bool quote_quote_delim =
          IsQuote(p + 1) && has_delim_ && p + 2 < text_.size() && text_[p + 2] == delim_;
      if (two_quotes_left || quote_quote_delim) {
        if (p > pos_ || !token.empty()) PassedOver(start, p);
        Skip(p + 3);
        return {};
      }
      // Doubled quotes stand for one. The text before each kept quote is
      // gathered at once; `seg` is where the rest of the token continues.
      std::size_t seg = pos_;
      while (IsQuote(p + 1)) {
        token.append(text_.substr(seg, p + 1 - seg));
        seg = p + 2;
        p = FindQuote(seg);
        if (p == npos) {
          // The last quote of the text was doubled: nothing closes the
          // token, so it ends with the text, as an unterminated one does.
          token.append(text_.substr(seg));
          Skip(npos);
          return token;
        }
      }
      // The character before p is a backslash only when it is part of the
      // text since `seg`; right after a doubled quote it is that quote.
      const bool escaped = p > seg && text_[p - 1] == '\\';
      if (!escaped) {
        token.append(text_.substr(seg, p - seg));
        Skip(p + 1);
        const std::size_t d = FindDelim(pos_);
        // Blanks after the closing quote lose nothing; anything else does.
        const std::size_t dropped_end = d != npos ? d : std::min(pos_ + 1, text_.size());
        const std::string_view dropped = text_.substr(pos_, dropped_end - pos_);
        if (dropped.find_first_not_of(kBlanks) != npos) PassedOver(start, pos_);
        // Whatever stands between the closing quote and the next delimiter
        // is dropped; with no delimiter, one character is.
        Skip(d != npos ? d + 1 : pos_ + 1);
        return token;
      }
      token.append(text_.substr(seg, p - 1 - seg));
      token += quote_;
      Skip(p + 1);
    }
  }

  std::string_view text_;
  char delim_;
  bool has_delim_;
  char quote_;
  bool has_quote_;
  std::size_t last_non_blank_;
  std::vector<std::string>* passed_over_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<std::string> Text2Array(std::string_view text, std::string_view delimiter,
                                    std::string_view quote) {
  const runtime::Activation activation("TEXT2ARRAY", __LINE__);
  return Text2Array(text, delimiter, quote, nullptr);
}

std::vector<std::string> Text2Array(std::string_view text, std::string_view delimiter,
                                    std::string_view quote, std::vector<std::string>* passed_over) {
  const runtime::Activation activation("TEXT2ARRAY", __LINE__);
  std::vector<std::string> result;
  Cutter cutter(text, delimiter, quote, passed_over);
  while (!cutter.Done()) result.push_back(cutter.Next());
  return result;
}

std::string GetExeFileName() {
  const runtime::Activation activation("GETEXEFILENAME", __LINE__);
  return runtime::ExeFileName();
}

std::string GetPathFromFileName(const std::string& file_name) {
  const runtime::Activation activation("GETPATHFROMFILENAME", __LINE__);
  const std::size_t sep = file_name.rfind(runtime::PathSeparator()[0]);
  return sep == std::string::npos ? std::string() : file_name.substr(0, sep);
}
