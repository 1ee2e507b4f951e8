#include <string>

#include "mailclient/mime/media_type.h"
#include "runtime/whole_file.h"

namespace mailclient::detail {

std::string SystemMediaType(const std::string& extension) {
  // The table of Debian's media-types package and of most other systems;
  // without it every attachment is application/octet-stream.
  std::string table;
  std::string reason;
  if (!runtime::ReadWholeFile("/etc/mime.types", table, reason)) return {};
  return MediaTypeFromTable(table, extension);
}

}  // namespace mailclient::detail
