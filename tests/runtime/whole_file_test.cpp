// Whole-file reads: what is read, what is refused and with which words, and
// that a file that outgrows the limit while it is read is cut off there.
#include "runtime/whole_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "runtime/files.h"
#include "support/scratch_dir.h"

namespace {

// Refusals that the mail file shares (a directory, a device) show in the
// end-to-end tests; here the size limits, the program's own bound included.
TEST(WholeFileTest, AFileIsReadWholeOrRefusedBeforeAnythingIsRead) {
  test_support::ScratchDir dir("whole_file");
  std::ofstream(dir / "empty.txt", std::ios::binary).flush();
  std::ofstream(dir / "text.txt", std::ios::binary) << std::string("a\r\nb\0c\n", 7);
  std::ofstream(dir / "bounded.txt", std::ios::binary) << std::string(65537, 'x');
  // Sparse where the file system allows: no 3 GiB are written.
  const runtime::Handle h = runtime::FCreate(dir / "large.txt", runtime::FC_ARCHIVED);
  ASSERT_NE(h, runtime::kInvalidHandle);
  ASSERT_EQ(runtime::FSeek(h, std::int64_t{3} << 30), std::int64_t{3} << 30);
  ASSERT_EQ(runtime::FWrite(h, "x"), 1u);
  runtime::FClose(h);
  struct Case {
    const char* name;
    std::uint64_t most;
    bool read;
    std::string content_or_reason;
  };
  const Case cases[] = {
      {"empty.txt", runtime::kMaxWholeFile, true, ""},
      {"text.txt", runtime::kMaxWholeFile, true, std::string("a\r\nb\0c\n", 7)},
      {"large.txt", runtime::kMaxWholeFile, false, "larger than 2 GiB"},
      {"bounded.txt", 65536, false, "larger than 65536 bytes"},
      {"bounded.txt", 65537, true, std::string(65537, 'x')},
  };
  for (const Case& c : cases) {
    std::string content = "left over";
    std::string reason;
    EXPECT_EQ(runtime::ReadWholeFile(dir / c.name, content, reason, c.most), c.read) << c.name;
    EXPECT_EQ(c.read ? content : reason, c.content_or_reason) << c.name << " " << c.most;
    if (!c.read) {
      EXPECT_EQ(content, "") << c.name;
      EXPECT_LT(content.capacity(), 1024u * 1024u) << c.name;
    }
  }
}

// A file that holds more than its size said when it was opened: it has
// grown meanwhile. The limit is small here to keep the test quick.
TEST(WholeFileTest, AFileThatGrowsIsReadToItsEndButNeverPastTheLimit) {
  test_support::ScratchDir dir("whole_file");
  const std::string name = dir / "growing.txt";
  std::ofstream(name, std::ios::binary) << std::string(200000, 'g');
  struct Case {
    std::uint64_t limit;
    bool read;
  };
  for (const Case c : {Case{200000, true}, Case{150000, false}, Case{1000, false}}) {
    const runtime::Handle h = runtime::FOpen(name);
    ASSERT_NE(h, runtime::kInvalidHandle);
    std::string content;
    std::string reason;
    EXPECT_EQ(runtime::detail::ReadToEnd(h, 10, c.limit, content, reason), c.read) << c.limit;
    if (c.read) {
      EXPECT_EQ(content, std::string(200000, 'g'));
    } else {
      EXPECT_EQ(reason, "larger than 2 GiB");
      EXPECT_EQ(content, "");
      EXPECT_EQ(runtime::FSeek(h, 0, runtime::FS_RELATIVE), static_cast<std::int64_t>(c.limit + 1));
    }
    runtime::FClose(h);
  }
}

}  // namespace
