#include "mailclient/mime/html_text.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/activation.h"
#include "runtime/ansi_text.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {

enum Kind {
  kUnknown, kLine, kPara, kBr, kLi, kUl, kOl, kDl, kDt, kDd, kTable, kTr, kCell, kQuote, kPre, kHr,
  kA, kImg, kHead, kHeadItem, kBody, kTemplate, kScript, kStyle, kTitle, kNoscript,
};

struct Name {
  std::string_view name;
  int kind;
};

// Longer names are no tag this program knows; the tokenizer keeps no more.
constexpr std::size_t kMaxName = 12;
constexpr std::size_t kMaxEntity = 32;
constexpr std::size_t kMaxQuotes = 16;
constexpr std::size_t kMaxCellDepth = 63;

constexpr Name kTags[] = {
    {"p", kPara}, {"div", kLine}, {"br", kBr}, {"a", kA}, {"td", kCell}, {"th", kCell}, {"tr", kTr},
    {"li", kLi}, {"ul", kUl}, {"ol", kOl}, {"img", kImg}, {"table", kTable}, {"h1", kPara},
    {"h2", kPara}, {"h3", kPara}, {"h4", kPara}, {"h5", kPara}, {"h6", kPara}, {"dl", kDl},
    {"dt", kDt}, {"dd", kDd}, {"blockquote", kQuote}, {"pre", kPre}, {"hr", kHr},
    {"section", kLine}, {"article", kLine}, {"header", kLine}, {"footer", kLine}, {"nav", kLine},
    {"aside", kLine}, {"main", kLine}, {"address", kLine}, {"figure", kLine},
    {"figcaption", kLine}, {"form", kLine}, {"fieldset", kLine}, {"legend", kLine},
    {"center", kLine}, {"caption", kLine}, {"details", kLine}, {"summary", kLine},
    {"listing", kPre}, {"xmp", kPre}, {"head", kHead}, {"meta", kHeadItem},
    {"link", kHeadItem}, {"base", kHeadItem}, {"html", kHeadItem}, {"body", kBody}, {"template", kTemplate},
    {"script", kScript}, {"style", kStyle}, {"title", kTitle}, {"noscript", kNoscript},
};

// The elements whose content is not HTML but runs to their end tag.
const char* RawName(int kind) {
  switch (kind) {
    case kScript: return "script";
    case kStyle: return "style";
    case kTitle: return "title";
    case kNoscript: return "noscript";
    default: return nullptr;
  }
}

int Lookup(std::string_view name) {
  for (const Name& t : kTags) {
    if (name == t.name) return t.kind;
  }
  return kUnknown;
}

bool IsHex(char c) { return runtime::IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

struct Entity {
  const char* name;
  std::uint32_t code_point;
};

// The character entities of HTML 4 besides ISO 8859-1's (which follow
// below in the order of their code points), and XML's apos.
constexpr Entity kEntities[] = {
    {"quot", 34}, {"amp", 38}, {"apos", 39}, {"lt", 60}, {"gt", 62}, {"OElig", 338},
    {"oelig", 339}, {"Scaron", 352}, {"scaron", 353}, {"Yuml", 376}, {"fnof", 402}, {"circ", 710},
    {"tilde", 732}, {"Alpha", 913}, {"Beta", 914}, {"Gamma", 915}, {"Delta", 916},
    {"Epsilon", 917}, {"Zeta", 918}, {"Eta", 919}, {"Theta", 920}, {"Iota", 921}, {"Kappa", 922},
    {"Lambda", 923}, {"Mu", 924}, {"Nu", 925}, {"Xi", 926}, {"Omicron", 927}, {"Pi", 928},
    {"Rho", 929}, {"Sigma", 931}, {"Tau", 932}, {"Upsilon", 933}, {"Phi", 934}, {"Chi", 935},
    {"Psi", 936}, {"Omega", 937}, {"alpha", 945}, {"beta", 946}, {"gamma", 947}, {"delta", 948},
    {"epsilon", 949}, {"zeta", 950}, {"eta", 951}, {"theta", 952}, {"iota", 953}, {"kappa", 954},
    {"lambda", 955}, {"mu", 956}, {"nu", 957}, {"xi", 958}, {"omicron", 959}, {"pi", 960},
    {"rho", 961}, {"sigmaf", 962}, {"sigma", 963}, {"tau", 964}, {"upsilon", 965}, {"phi", 966},
    {"chi", 967}, {"psi", 968}, {"omega", 969}, {"thetasym", 977}, {"upsih", 978}, {"piv", 982},
    {"ensp", 8194}, {"emsp", 8195}, {"thinsp", 8201}, {"zwnj", 8204}, {"zwj", 8205},
    {"lrm", 8206}, {"rlm", 8207}, {"ndash", 8211}, {"mdash", 8212}, {"lsquo", 8216},
    {"rsquo", 8217}, {"sbquo", 8218}, {"ldquo", 8220}, {"rdquo", 8221}, {"bdquo", 8222},
    {"dagger", 8224}, {"Dagger", 8225}, {"bull", 8226}, {"hellip", 8230}, {"permil", 8240},
    {"prime", 8242}, {"Prime", 8243}, {"lsaquo", 8249}, {"rsaquo", 8250}, {"oline", 8254},
    {"frasl", 8260}, {"euro", 8364}, {"image", 8465}, {"weierp", 8472}, {"real", 8476},
    {"trade", 8482}, {"alefsym", 8501}, {"larr", 8592}, {"uarr", 8593}, {"rarr", 8594},
    {"darr", 8595}, {"harr", 8596}, {"crarr", 8629}, {"lArr", 8656}, {"uArr", 8657},
    {"rArr", 8658}, {"dArr", 8659}, {"hArr", 8660}, {"forall", 8704}, {"part", 8706},
    {"exist", 8707}, {"empty", 8709}, {"nabla", 8711}, {"isin", 8712}, {"notin", 8713},
    {"ni", 8715}, {"prod", 8719}, {"sum", 8721}, {"minus", 8722}, {"lowast", 8727},
    {"radic", 8730}, {"prop", 8733}, {"infin", 8734}, {"ang", 8736}, {"and", 8743}, {"or", 8744},
    {"cap", 8745}, {"cup", 8746}, {"int", 8747}, {"there4", 8756}, {"sim", 8764}, {"cong", 8773},
    {"asymp", 8776}, {"ne", 8800}, {"equiv", 8801}, {"le", 8804}, {"ge", 8805}, {"sub", 8834},
    {"sup", 8835}, {"nsub", 8836}, {"sube", 8838}, {"supe", 8839}, {"oplus", 8853},
    {"otimes", 8855}, {"perp", 8869}, {"sdot", 8901}, {"lceil", 8968}, {"rceil", 8969},
    {"lfloor", 8970}, {"rfloor", 8971}, {"lang", 9001}, {"rang", 9002}, {"loz", 9674},
    {"spades", 9824}, {"clubs", 9827}, {"hearts", 9829}, {"diams", 9830},
};

// U+00A0 to U+00FF.
constexpr const char* kLatin1[96] = {
    "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf",
    "laquo", "not", "shy", "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute", "micro", "para",
    "middot", "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave", "Eacute", "Ecirc",
    "Euml", "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve", "Oacute", "Ocirc",
    "Otilde", "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN",
    "szlig", "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil", "egrave",
    "eacute", "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth", "ntilde", "ograve",
    "oacute", "ocirc", "otilde", "ouml", "divide", "oslash", "ugrave", "uacute", "ucirc", "uuml",
    "yacute", "thorn", "yuml",
};

// What windows-1252 puts at 0x80 to 0x9F, which pages that declare
// Latin-1 mean when they write those numbers; 0 where it puts nothing.
constexpr std::uint16_t kWindows1252[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

constexpr std::uint32_t kReplacement = 0xFFFD;

std::uint32_t NamedEntity(std::string_view name) {
  static const std::vector<Entity> sorted = [] {
    std::vector<Entity> all(std::begin(kEntities), std::end(kEntities));
    for (std::uint32_t i = 0; i < 96; ++i) all.push_back({kLatin1[i], 0xA0 + i});
    std::sort(all.begin(), all.end(), [](const Entity& a, const Entity& b) { return std::strcmp(a.name, b.name) < 0; });
    return all;
  }();
  const auto at = std::lower_bound(sorted.begin(), sorted.end(), name,
                                   [](const Entity& e, std::string_view n) { return std::string_view(e.name) < n; });
  return at != sorted.end() && name == at->name ? at->code_point : 0;
}

// The code point of `body` (what stands between "&" and ";"), 0 when it is
// none: then the reference stays as typed.
std::uint32_t DecodeEntity(std::string_view body, bool terminated) {
  if (body.empty()) return 0;
  if (body[0] != '#') return terminated ? NamedEntity(body) : 0;
  const bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
  const std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty()) return 0;
  std::uint32_t value = 0;
  for (char c : digits) {
    const std::uint32_t d = runtime::IsAsciiDigit(c) ? static_cast<std::uint32_t>(c - '0')
                                                     : static_cast<std::uint32_t>(runtime::AsciiLower(c) - 'a' + 10);
    value = value * (hex ? 16 : 10) + d;
    if (value > 0x10FFFF) return kReplacement;
  }
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return kReplacement;
  if (value >= 0x80 && value <= 0x9F) return kWindows1252[value - 0x80] ? kWindows1252[value - 0x80] : value;
  return value;
}

void AppendUtf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// An attribute's value with its references decoded; blanks and line ends
// stay, for the caller to treat as its use needs.
std::string DecodeValue(std::string_view raw) {
  std::string out;
  std::size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] != '&') {
      out += raw[i++];
      continue;
    }
    std::size_t j = i + 1;
    const bool numeric = j < raw.size() && raw[j] == '#';
    if (numeric) {
      ++j;
      if (j < raw.size() && (raw[j] == 'x' || raw[j] == 'X')) ++j;
    }
    const bool hex = numeric && j > i + 2;
    while (j < raw.size() && j - i <= kMaxEntity &&
           (numeric ? (hex ? IsHex(raw[j]) : runtime::IsAsciiDigit(raw[j]))
                    : runtime::IsAsciiAlnum(raw[j]))) {
      ++j;
    }
    const bool terminated = j < raw.size() && raw[j] == ';';
    const std::uint32_t cp = DecodeEntity(raw.substr(i + 1, j - i - 1), terminated);
    if (cp == 0) {
      out += raw[i++];
      continue;
    }
    if (cp != 0xAD) AppendUtf8(cp, out);
    i = terminated ? j + 1 : j;
  }
  return out;
}

std::size_t CodePoints(std::string_view s) {
  std::size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

const std::array<std::string, 128>& AnsiTable() {
  static const std::array<std::string, 128> table = [] {
    std::array<std::string, 128> t;
    for (std::size_t i = 0; i < 128; ++i) {
      const char byte = static_cast<char>(0x80 + i);
      std::string utf8;
      if (!runtime::AnsiToUtf8(std::string_view(&byte, 1), utf8) || utf8.empty()) {
        utf8.clear();
        AppendUtf8(kReplacement, utf8);
      }
      t[i] = utf8;
    }
    return t;
  }();
  return table;
}

}  // namespace

HtmlText::HtmlText(bool utf8) : ansi_(utf8 ? nullptr : &AnsiTable()) {}

std::size_t HtmlText::Held() const {
  return sequence_.size() + name_.size() + attr_.size() + value_.size() + entity_.size() + word_.size() +
         bullet_.size() + link_.size() + link_text_.size();
}

void HtmlText::Feed(std::string_view html, std::string& text) {
  const runtime::Activation activation("HTMLTEXT:FEED", __LINE__);
  out_ = &text;
  for (std::size_t i = 0; i < html.size();) {
    const std::size_t run = Run(html.substr(i));
    if (run > 0) {
      i += run;
    } else {
      Byte(static_cast<unsigned char>(html[i++]));
    }
  }
  out_ = nullptr;
}

// What the byte-by-byte path would do with a run of bytes, done at once:
// the plain letters of a word, and what a comment, a declaration, an
// attribute nobody shows or a script holds. A run ends at an ASCII byte,
// so that no UTF-8 sequence is left open across it.
std::size_t HtmlText::Run(std::string_view html) {
  if (need_ != 0) return 0;
  const auto until = [&](char c) {
    const void* at = std::memchr(html.data(), c, html.size());
    return at == nullptr ? html.size() : static_cast<std::size_t>(static_cast<const char*>(at) - html.data());
  };
  switch (state_) {
    case State::kComment:
      return dashes_ == 0 ? until('-') : 0;
    case State::kBogus:
      return until('>');
    case State::kValueQuoted:
      return capturing_ ? 0 : until(quote_);
    case State::kRaw:
      return matched_ == 0 ? until('<') : 0;
    case State::kText: {
      if (Dropping() || link_open_ || word_.size() >= kMaxWord) return 0;
      const std::size_t most = std::min(html.size(), kMaxWord - word_.size());
      std::size_t n = 0;
      while (n < most) {
        const unsigned char c = static_cast<unsigned char>(html[n]);
        if (c <= ' ' || c >= 0x7F || c == '<' || c == '&') break;
        ++n;
      }
      if (n > 0) {
        word_.append(html.data(), n);
        after_cr_ = false;
        begun_ = true;
      }
      return n;
    }
    default:
      return 0;
  }
}

void HtmlText::Finish(std::string& text) {
  const runtime::Activation activation("HTMLTEXT:FINISH", __LINE__);
  out_ = &text;
  if (!sequence_.empty()) {
    sequence_.clear();
    need_ = 0;
    StepReplacement();
  }
  // A tag, comment or script still open is dropped; text held back is not.
  if (state_ == State::kEntity) {
    ResolveEntity(false);
  } else if (state_ == State::kTagOpen) {
    Char('<');
  } else if (state_ == State::kEndTagOpen) {
    Chars("</");
  }
  state_ = State::kText;
  CloseLink();
  FlushWord();
  EndLine();
  name_.clear();
  attr_.clear();
  value_.clear();
  entity_.clear();
  bullet_.clear();
  out_ = nullptr;
}

// The input made well-formed UTF-8: a byte of the ANSI code page becomes its
// character, and a sequence that is not UTF-8 becomes U+FFFD, so that the
// text written is UTF-8 whatever came in.
void HtmlText::Byte(unsigned char c) {
  if (c < 0x80 && need_ == 0) {
    begun_ = true;
    Step(c);
    return;
  }
  if (ansi_ != nullptr) {
    begun_ = true;
    for (char b : (*ansi_)[c - 0x80]) Step(static_cast<unsigned char>(b));
    return;
  }
  if (need_ > 0) {
    if (c >= low_ && c <= high_) {
      sequence_ += static_cast<char>(c);
      low_ = 0x80;
      high_ = 0xBF;
      if (--need_ == 0) {
        // A byte order mark starting the HTML says how it is written; it is
        // no text.
        if (begun_ || sequence_ != "\xEF\xBB\xBF") {
          for (char b : sequence_) Step(static_cast<unsigned char>(b));
        }
        sequence_.clear();
        begun_ = true;
      }
      return;
    }
    sequence_.clear();
    need_ = 0;
    StepReplacement();
    Byte(c);
    return;
  }
  low_ = 0x80;
  high_ = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    need_ = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need_ = 2;
    if (c == 0xE0) low_ = 0xA0;
    if (c == 0xED) high_ = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    need_ = 3;
    if (c == 0xF0) low_ = 0x90;
    if (c == 0xF4) high_ = 0x8F;
  } else {
    StepReplacement();
    return;
  }
  sequence_ += static_cast<char>(c);
}

void HtmlText::StepReplacement() {
  begun_ = true;
  for (char b : std::string_view("\xEF\xBF\xBD")) Step(static_cast<unsigned char>(b));
}

void HtmlText::Step(unsigned char c) {
  switch (state_) {
    case State::kText:
      if (c == '<') {
        state_ = State::kTagOpen;
      } else if (c == '&') {
        entity_.clear();
        state_ = State::kEntity;
      } else if (IsBlank(c)) {
        Space(c);
      } else {
        Char(c);
      }
      return;
    case State::kEntity: {
      const bool numeric = !entity_.empty() && entity_[0] == '#';
      const bool hex = numeric && entity_.size() > 1 && (entity_[1] == 'x' || entity_[1] == 'X');
      bool part = false;
      if (!numeric) {
        part = runtime::IsAsciiAlnum(static_cast<char>(c)) || (c == '#' && entity_.empty());
      } else if (entity_.size() == 1 && (c == 'x' || c == 'X')) {
        part = true;
      } else {
        part = hex ? IsHex(static_cast<char>(c)) : runtime::IsAsciiDigit(static_cast<char>(c));
      }
      if (part && entity_.size() < kMaxEntity) {
        entity_ += static_cast<char>(c);
        return;
      }
      state_ = State::kText;
      if (c == ';') {
        ResolveEntity(true);
        return;
      }
      ResolveEntity(false);
      Step(c);
      return;
    }
    case State::kTagOpen:
      if (runtime::IsAsciiAlpha(static_cast<char>(c))) {
        StartTagName(c, false);
      } else if (c == '/') {
        state_ = State::kEndTagOpen;
      } else if (c == '!') {
        matched_ = 0;
        bang_ = 0;
        state_ = State::kBang;
      } else if (c == '?') {
        state_ = State::kBogus;
      } else {
        state_ = State::kText;
        Char('<');
        Step(c);
      }
      return;
    case State::kEndTagOpen:
      if (runtime::IsAsciiAlpha(static_cast<char>(c))) {
        StartTagName(c, true);
      } else {
        state_ = c == '>' ? State::kText : State::kBogus;
      }
      return;
    case State::kTagName:
      if (IsBlank(c) || c == '/') {
        EndTagName();
        state_ = State::kBeforeAttr;
      } else if (c == '>') {
        EndTagName();
        EmitTag();
      } else if (name_.size() < kMaxName) {
        name_ += runtime::AsciiLower(static_cast<char>(c));
      } else {
        name_long_ = true;
      }
      return;
    case State::kBeforeAttr:
      if (c == '>') {
        EmitTag();
      } else if (!IsBlank(c) && c != '/') {
        StartAttr(c);
      }
      return;
    case State::kAttrName:
      if (IsBlank(c)) {
        state_ = State::kAfterAttrName;
      } else if (c == '/' || c == '>') {
        StartValue();
        EndValue();
        if (c == '>') EmitTag();
        else state_ = State::kBeforeAttr;
      } else if (c == '=') {
        state_ = State::kBeforeValue;
      } else if (attr_.size() < kMaxName) {
        attr_ += runtime::AsciiLower(static_cast<char>(c));
      } else {
        attr_long_ = true;
      }
      return;
    case State::kAfterAttrName:
      if (c == '=') {
        state_ = State::kBeforeValue;
      } else if (!IsBlank(c)) {
        StartValue();
        EndValue();
        if (c == '>') EmitTag();
        else if (c == '/') state_ = State::kBeforeAttr;
        else StartAttr(c);
      }
      return;
    case State::kBeforeValue:
      if (IsBlank(c)) return;
      StartValue();
      if (c == '"' || c == '\'') {
        quote_ = static_cast<char>(c);
        state_ = State::kValueQuoted;
      } else if (c == '>') {
        EndValue();
        EmitTag();
      } else {
        state_ = State::kValueUnquoted;
        ValueByte(c);
      }
      return;
    case State::kValueQuoted:
      if (c == static_cast<unsigned char>(quote_)) {
        EndValue();
        state_ = State::kBeforeAttr;
      } else {
        ValueByte(c);
      }
      return;
    case State::kValueUnquoted:
      if (IsBlank(c)) {
        EndValue();
        state_ = State::kBeforeAttr;
      } else if (c == '>') {
        EndValue();
        EmitTag();
      } else {
        ValueByte(c);
      }
      return;
    case State::kBang: {
      // "<!--" opens a comment, "<![CDATA[" a section; anything else, a
      // declaration, runs to the next ">".
      static constexpr std::string_view kComment = "--", kCdata = "[CDATA[";
      if (matched_ == 0) bang_ = static_cast<char>(c);
      const std::string_view want = bang_ == '-' ? kComment : kCdata;
      if (matched_ < want.size() && c == static_cast<unsigned char>(want[matched_])) {
        if (++matched_ == want.size()) {
          // "<!-->" and "<!--->" are whole, empty comments.
          dashes_ = 2;
          matched_ = 0;
          state_ = bang_ == '-' ? State::kComment : State::kCdata;
        }
        return;
      }
      state_ = c == '>' ? State::kText : State::kBogus;
      return;
    }
    case State::kComment:
      if (c == '-') {
        ++dashes_;
      } else {
        if (c == '>' && dashes_ >= 2) state_ = State::kText;
        dashes_ = 0;
      }
      return;
    case State::kCdata:
      if (c == ']') {
        ++matched_;
      } else {
        if (c == '>' && matched_ >= 2) state_ = State::kText;
        matched_ = 0;
      }
      return;
    case State::kBogus:
      if (c == '>') state_ = State::kText;
      return;
    case State::kRaw: {
      // The content runs to "</name" followed by a blank, "/" or ">".
      const std::string_view name = RawName(raw_);
      if (matched_ == name.size() + 2) {
        if (IsBlank(c) || c == '/' || c == '>') {
          name_ = name;
          name_long_ = false;
          end_tag_ = true;
          EndTagName();
          state_ = State::kBeforeAttr;
          Step(c);
          return;
        }
        matched_ = 0;
      }
      if (matched_ == 0 ? c == '<'
                        : matched_ == 1 ? c == '/'
                                        : runtime::AsciiLower(static_cast<char>(c)) == name[matched_ - 2]) {
        ++matched_;
      } else {
        matched_ = c == '<' ? 1 : 0;
      }
      return;
    }
  }
}

void HtmlText::StartTagName(unsigned char c, bool end) {
  name_.assign(1, runtime::AsciiLower(static_cast<char>(c)));
  name_long_ = false;
  end_tag_ = end;
  state_ = State::kTagName;
}

void HtmlText::EndTagName() {
  tag_ = name_long_ ? kUnknown : Lookup(name_);
  name_.clear();
  value_.clear();
  value_found_ = false;
  value_long_ = false;
}

void HtmlText::StartAttr(unsigned char c) {
  attr_.assign(1, runtime::AsciiLower(static_cast<char>(c)));
  attr_long_ = false;
  state_ = State::kAttrName;
}

// Of a start tag only the one attribute it shows is kept: a link's target,
// an image's alt text; the first of several counts.
void HtmlText::StartValue() {
  const char* wanted = end_tag_ ? nullptr : tag_ == kA ? "href" : tag_ == kImg ? "alt" : nullptr;
  capturing_ = wanted != nullptr && !attr_long_ && !value_found_ && attr_ == wanted;
  attr_.clear();
}

void HtmlText::ValueByte(unsigned char c) {
  if (!capturing_) return;
  // A value cut short ends with a whole character.
  if (!value_long_ && (value_.size() < kMaxTarget || (c & 0xC0) == 0x80)) {
    value_ += static_cast<char>(c);
  } else {
    value_long_ = true;
  }
}

void HtmlText::EndValue() {
  if (capturing_) value_found_ = true;
  capturing_ = false;
}

void HtmlText::EmitTag() {
  state_ = State::kText;
  const int tag = tag_;
  const bool end = end_tag_;
  Tag(tag, end);
  value_.clear();
  if (!end && RawName(tag) != nullptr) {
    raw_ = tag;
    matched_ = 0;
    state_ = State::kRaw;
  }
}

void HtmlText::ResolveEntity(bool terminated) {
  const std::uint32_t cp = DecodeEntity(entity_, terminated);
  if (cp != 0) {
    Decoded(cp);
  } else {
    Char('&');
    Chars(entity_);
    if (terminated) Char(';');
  }
  entity_.clear();
}

void HtmlText::Decoded(std::uint32_t cp) {
  if (cp == 0xAD) return;  // a soft hyphen is only a place a word may break
  if (cp == 0xA0) {
    Char(' ');  // part of the word: neither collapsed nor a place to wrap
    return;
  }
  if (cp < 0x80 && IsBlank(static_cast<unsigned char>(cp))) {
    Space(static_cast<unsigned char>(cp));
    return;
  }
  std::string utf8;
  AppendUtf8(cp, utf8);
  Chars(utf8);
}

// ---------------------------------------------------------------------------
// What a reader sees.

bool HtmlText::Dropping() const { return in_head_ || template_depth_ > 0 || state_ == State::kRaw; }

bool HtmlText::InCell() const { return (cells_open_ >> std::min(table_depth_, kMaxCellDepth)) & 1u; }

bool HtmlText::Preserve() const { return pre_depth_ > 0 && !InCell(); }

bool HtmlText::Wrapping() const { return pre_depth_ == 0 && table_depth_ == 0 && !InCell(); }

void HtmlText::Char(unsigned char c) {
  if (in_head_ && template_depth_ == 0 && state_ != State::kRaw) in_head_ = false;  // text starts the body
  if (Dropping()) return;
  after_cr_ = false;
  if (word_.size() >= kMaxWord && (c & 0xC0) != 0x80) {
    FlushWord();
    if (Wrapping()) EndLine();
  }
  word_ += static_cast<char>(c);
  if (link_open_ && link_text_ok_) {
    if (link_text_.size() < link_.size()) link_text_ += static_cast<char>(c);
    else link_text_ok_ = false;
  }
}

void HtmlText::Chars(std::string_view s) {
  for (char c : s) Char(static_cast<unsigned char>(c));
}

void HtmlText::Space(unsigned char c) {
  if (Dropping()) return;
  FlushWord();
  if (link_open_ && link_text_ok_ && !link_text_.empty() && link_text_.back() != ' ') {
    if (link_text_.size() < link_.size()) link_text_ += ' ';
    else link_text_ok_ = false;
  }
  if (!Preserve()) {
    soft_blank_ = true;
    return;
  }
  if (c == '\n' && after_cr_) {
    after_cr_ = false;
    return;
  }
  after_cr_ = c == '\r';
  if (c == '\r' || c == '\n') {
    LineBreak();
  } else if (c == '\t') {
    hard_blanks_ += 8 - (column_ + hard_blanks_) % 8;
  } else {
    ++hard_blanks_;
  }
}

void HtmlText::FlushWord() {
  if (word_.empty()) return;
  // Blanks that end the word (no-break spaces) wait for what follows, so
  // that no line ends in one.
  const std::size_t end = word_.find_last_not_of(' ');
  if (end != std::string::npos) Put(std::string_view(word_).substr(0, end + 1));
  if (end != std::string::npos) soft_blank_ = false;
  hard_blanks_ += word_.size() - (end == std::string::npos ? 0 : end + 1);
  word_.clear();
}

void HtmlText::Put(std::string_view word) {
  const std::size_t length = CodePoints(word);
  std::size_t blanks = hard_blanks_ + (soft_blank_ ? 1 : 0);
  if (line_open_ && Wrapping() && column_ + blanks + length > kWidth) EndLine();
  if (!line_open_) {
    StartLine();
    blanks = hard_blanks_;
  }
  out_->append(blanks, ' ');
  out_->append(word);
  column_ += blanks + length;
  hard_blanks_ = 0;
  soft_blank_ = false;
}

void HtmlText::StartLine() {
  if (blank_pending_ && written_) {
    out_->append(std::min(blank_depth_, kMaxQuotes), '>');
    out_->append("\r\n");
  }
  blank_pending_ = false;
  const std::size_t quotes = std::min(quote_depth_, kMaxQuotes);
  if (quotes > 0) {
    out_->append(quotes, '>');
    *out_ += ' ';
  }
  column_ = quotes > 0 ? quotes + 1 : 0;
  if (!bullet_.empty()) {
    const std::size_t at = indent_ - bullet_.size();
    out_->append(at, ' ');
    out_->append(bullet_);
    bullet_.clear();
  } else {
    out_->append(indent_, ' ');
  }
  column_ += indent_;
  line_open_ = true;
  written_ = true;
}

void HtmlText::EndLine() {
  if (line_open_) out_->append("\r\n");
  line_open_ = false;
  column_ = 0;
  hard_blanks_ = 0;
  soft_blank_ = false;
}

void HtmlText::WantBlank() {
  blank_depth_ = blank_pending_ ? std::min(blank_depth_, quote_depth_) : quote_depth_;
  blank_pending_ = true;
}

void HtmlText::Block(bool blank) {
  FlushWord();
  if (InCell()) {
    // A table row stays one line: what would break it is a blank.
    soft_blank_ = true;
    return;
  }
  EndLine();
  if (blank) WantBlank();
}

void HtmlText::LineBreak() {
  FlushWord();
  if (InCell()) {
    soft_blank_ = true;
  } else if (line_open_) {
    EndLine();
  } else {
    WantBlank();
  }
}

void HtmlText::OpenLink() {
  CloseLink();
  std::string target;
  for (char c : DecodeValue(value_)) {
    if (c != '\t' && c != '\r' && c != '\n') target += c;
  }
  const std::size_t first = target.find_first_not_of(' ');
  if (value_long_ || first == std::string::npos) return;
  target = target.substr(first, target.find_last_not_of(' ') + 1 - first);
  if (target[0] == '#' || runtime::AsciiLower(target.substr(0, 11)) == "javascript:") return;
  link_ = target;
  link_text_.clear();
  link_open_ = true;
  link_text_ok_ = true;
}

// The target follows the link's text unless the text already says it.
void HtmlText::CloseLink() {
  if (!link_open_) return;
  link_open_ = false;
  while (!link_text_.empty() && link_text_.back() == ' ') link_text_.pop_back();
  const bool said = link_text_ok_ && (link_text_ == link_ || "mailto:" + link_text_ == link_);
  if (!said && !Dropping()) {
    FlushWord();
    soft_blank_ = true;
    Put("<" + link_ + ">");
  }
  link_.clear();
  link_text_.clear();
}

void HtmlText::Cell() {
  FlushWord();
  if (cells_ == 0) Block(false);
  if (cells_ > 0) {
    soft_blank_ = line_open_;
    Put("|");
    soft_blank_ = true;
  }
  ++cells_;
  cells_open_ |= std::uint64_t{1} << std::min(table_depth_, kMaxCellDepth);
}

void HtmlText::List(int kind, bool end) {
  if (!end) {
    Block(depth_ == 0 && lost_levels_ == 0);
    if (depth_ < kMaxLevels) {
      levels_[depth_] = Level{static_cast<std::uint8_t>(kind), 0, static_cast<std::uint32_t>(indent_)};
      ++depth_;
    } else {
      ++lost_levels_;
    }
    return;
  }
  if (lost_levels_ > 0) {
    --lost_levels_;
    Block(false);
    return;
  }
  if (depth_ == 0) {
    Block(true);
    return;
  }
  --depth_;
  Block(depth_ == 0);
  bullet_.clear();
  indent_ = depth_ > 0 ? levels_[depth_ - 1].indent : 0;
}

// A list item, a term or a description: a line of its own, its wrapped
// lines under its text.
void HtmlText::Item(bool bullet, bool deeper) {
  Block(false);
  if (InCell()) return;
  const std::size_t at = depth_ > 0 ? 2 * (depth_ - 1) : 0;
  bullet_.clear();
  if (depth_ == 0) {
    if (bullet) bullet_ = "* ";
  } else {
    Level& level = levels_[depth_ - 1];
    ++level.number;
    if (bullet) bullet_ = level.kind == kOl ? std::to_string(level.number) + ". " : "* ";
    if (level.kind == kDl && bullet) bullet_.clear();
  }
  indent_ = at + bullet_.size() + (deeper ? 2 : 0);
  if (depth_ > 0) levels_[depth_ - 1].indent = static_cast<std::uint32_t>(indent_);
}

void HtmlText::Quote(bool end) {
  if (end && quote_depth_ == 0) return;
  Block(true);
  if (InCell()) return;
  quote_depth_ = end ? quote_depth_ - 1 : quote_depth_ + 1;
  blank_depth_ = std::min(blank_depth_, quote_depth_);
}

void HtmlText::Tag(int kind, bool end) {
  if (kind == kHead) {
    in_head_ = !end;
    return;
  }
  if (kind == kTemplate) {
    if (!end) ++template_depth_;
    else if (template_depth_ > 0) --template_depth_;
    return;
  }
  // A tag of the body ends a head whose end tag is missing.
  if (in_head_ && !end && template_depth_ == 0 && kind != kUnknown && kind != kHeadItem && RawName(kind) == nullptr) {
    in_head_ = false;
  }
  if (Dropping() || RawName(kind) != nullptr) return;
  switch (kind) {
    case kBody:
    case kHeadItem:
    case kUnknown:
      return;
    case kLine:
      Block(false);
      return;
    case kPara:
      Block(true);
      return;
    case kBr:
      if (!end) LineBreak();
      return;
    case kHr:
      Block(true);
      if (!end && !InCell()) {
        Put(std::string(40, '-'));
        Block(true);
      }
      return;
    case kPre:
      Block(true);
      if (!end) ++pre_depth_;
      else if (pre_depth_ > 0) --pre_depth_;
      return;
    case kQuote:
      Quote(end);
      return;
    case kUl:
    case kOl:
    case kDl:
      List(kind, end);
      return;
    case kLi:
      if (end) Block(false);
      else Item(true, false);
      return;
    case kDt:
      if (end) Block(false);
      else Item(false, false);
      return;
    case kDd:
      if (end) Block(false);
      else Item(false, true);
      return;
    case kTable:
      if (!end) {
        ++table_depth_;
        cells_open_ &= ~(std::uint64_t{1} << std::min(table_depth_, kMaxCellDepth));
        Block(true);
      } else if (table_depth_ > 0) {
        cells_open_ &= ~(std::uint64_t{1} << std::min(table_depth_, kMaxCellDepth));
        Block(true);
        --table_depth_;
      }
      cells_ = 0;
      return;
    case kTr:
      cells_open_ &= ~(std::uint64_t{1} << std::min(table_depth_, kMaxCellDepth));
      Block(false);
      cells_ = 0;
      return;
    case kCell:
      if (end) {
        FlushWord();
        cells_open_ &= ~(std::uint64_t{1} << std::min(table_depth_, kMaxCellDepth));
      } else {
        Cell();
      }
      return;
    case kA:
      if (end) CloseLink();
      else if (value_found_) OpenLink();
      else CloseLink();
      return;
    case kImg: {
      if (end || !value_found_) return;
      const std::string alt = DecodeValue(value_);
      if (alt.find_first_not_of(" \t\r\n\f") == std::string::npos) return;
      Char('[');
      for (char c : alt) {
        if (IsBlank(static_cast<unsigned char>(c))) Space(' ');
        else Char(static_cast<unsigned char>(c));
      }
      Char(']');
      return;
    }
    default:
      return;
  }
}

}  // namespace mailclient
