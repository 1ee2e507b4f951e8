// The media type of an attachment from a table in the format of
// /etc/mime.types.
#include <gtest/gtest.h>

#include "mailclient/media_type.h"

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
