#include "mailclient/mime/media_type.h"

#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {

constexpr char kDefaultType[] = "application/octet-stream";

// RFC 2045's token: what a type and a subtype may hold, so that no table
// entry can break the header it goes into.
bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c <= 0x20 || c >= 0x7f || std::string_view("()<>@,;:\\\"/[]?=").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

bool IsMediaType(std::string_view type) {
  const std::size_t slash = type.find('/');
  return slash != std::string_view::npos && IsToken(type.substr(0, slash)) && IsToken(type.substr(slash + 1));
}

// The common types, for an extension that the system's table does not know
// (wine's registry knows no .pdf, a Linux without the media-types package
// knows nothing), so that a report goes out as the same type from every
// system: the names that IANA registers and Debian's table gives.
constexpr char kCommonTypes[] =
    "application/pdf pdf\n"
    "application/json json\n"
    "application/xml xml\n"
    "application/zip zip\n"
    "application/gzip gz tgz\n"
    "application/x-tar tar\n"
    "application/x-7z-compressed 7z\n"
    "application/rtf rtf\n"
    "application/msword doc dot\n"
    "application/vnd.ms-excel xls xlt\n"
    "application/vnd.ms-powerpoint ppt pps\n"
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document docx\n"
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet xlsx\n"
    "application/vnd.openxmlformats-officedocument.presentationml.presentation pptx\n"
    "application/vnd.oasis.opendocument.text odt\n"
    "application/vnd.oasis.opendocument.spreadsheet ods\n"
    "application/vnd.oasis.opendocument.presentation odp\n"
    "text/plain txt text log\n"
    "text/csv csv\n"
    "text/tab-separated-values tsv\n"
    "text/html html htm\n"
    "text/css css\n"
    "text/markdown md\n"
    "text/calendar ics\n"
    "text/vcard vcf\n"
    "image/png png\n"
    "image/jpeg jpeg jpg jpe\n"
    "image/gif gif\n"
    "image/svg+xml svg svgz\n"
    "image/webp webp\n"
    "image/bmp bmp\n"
    "image/tiff tiff tif\n"
    "audio/mpeg mp3\n"
    "video/mp4 mp4 m4v\n";

}  // namespace

std::string MediaTypeFromTable(std::string_view table, std::string_view extension) {
  const runtime::Activation activation("MEDIATYPEFROMTABLE", __LINE__);
  std::size_t at = 0;
  while (at < table.size()) {
    std::size_t end = table.find('\n', at);
    if (end == std::string_view::npos) end = table.size();
    std::string_view line = table.substr(at, end - at);
    at = end + 1;
    line = line.substr(0, line.find('#'));
    std::string_view type;
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
      const std::size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
      const std::string_view word = line.substr(start, i - start);
      if (word.empty()) break;
      if (type.empty()) {
        type = word;
      } else if (runtime::AsciiLower(std::string(word)) == extension) {
        return std::string(type);
      }
    }
  }
  return {};
}

std::string MediaType(const std::string& file_name) {
  const runtime::Activation activation("MEDIATYPE", __LINE__);
  const std::size_t dot = file_name.rfind('.');
  if (dot == std::string::npos || file_name.find_first_of("/\\", dot) != std::string::npos) return kDefaultType;
  const std::string extension = runtime::AsciiLower(file_name.substr(dot + 1));
  if (extension.empty()) return kDefaultType;
  std::string type = runtime::AsciiLower(detail::SystemMediaType(extension));
  if (!IsMediaType(type)) type = MediaTypeFromTable(kCommonTypes, extension);
  // An attachment goes as base64, which a message or multipart entity may
  // not be (RFC 2045 section 6.4): a reader would take a saved .eml apart
  // as a broken message instead of giving back its bytes.
  const bool composite = type.starts_with("message/") || type.starts_with("multipart/");
  return IsMediaType(type) && !composite ? type : kDefaultType;
}

}  // namespace mailclient
