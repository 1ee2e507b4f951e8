// The media type of an attachment from a table in the format of
// /etc/mime.types.
#include <gtest/gtest.h>

#include "mailclient/mime/media_type.h"

using mailclient::MediaTypeFromTable;

TEST(MediaTypeFromTable, FindsTheExtensionInAnyPlaceOfItsLine) {
  const std::string table =
      "# media types\r\n"
      "application/pdf\t\t\t\tpdf\n"
      "text/csv  csv   tsvx # comma separated\n"
      "image/jpeg jpeg jpg JPE\n"
      "text/plain\n"
      "#text/html html\n";
  const std::pair<const char*, const char*> cases[] = {
      {"pdf", "application/pdf"}, {"csv", "text/csv"}, {"tsvx", "text/csv"}, {"jpg", "image/jpeg"},
      {"jpe", "image/jpeg"},      {"html", ""},         {"separated", ""},    {"plain", ""},
  };
  for (const auto& [extension, type] : cases) EXPECT_EQ(MediaTypeFromTable(table, extension), type) << extension;
}

// Types on which the system's table, where it knows the extension, and the
// built-in one agree: the same on every system, whatever it has installed.
TEST(MediaType, IsTheSameOnEverySystemForTheCommonExtensions) {
  const std::pair<const char*, const char*> cases[] = {
      {"Q1.CSV", "text/csv"},
      {"data.json", "application/json"},
      {"no extension", "application/octet-stream"},
      {"dir.pdf/README", "application/octet-stream"},
      {"unknown.zzqx", "application/octet-stream"},
  };
  for (const auto& [name, type] : cases) EXPECT_EQ(mailclient::MediaType(name), type) << name;
}
