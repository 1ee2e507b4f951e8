// LogFile:DumpError, line by line: the header, then the field block with
// the record's call stack cut into lines after the GenCode line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "error/error.h"
#include "error/field_block.h"
#include "log/log_file.h"
#include "runtime/format.h"
#include "runtime/texts.h"
#include "support/read_file.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
    lines.push_back(text.substr(from, end - from));
  }
  EXPECT_EQ(from, text.size()) << "every line ends in CR LF";
  return lines;
}

class DumpError : public ::testing::Test {
 protected:
  void SetUp() override {
    error_.SubSystem = "POSTRINE";
    error_.GenCode = 21;
    error_.OsCode = 32;
    error_.Operation = "FOPEN";
  }

  // The dump's lines after the header.
  std::vector<std::string> DumpedBlock() {
    LogFile log(log_name_);
    EXPECT_EQ(&log.DumpError(error_), &log);
    std::vector<std::string> lines = Lines(test_support::ReadFile(log_name_));
    EXPECT_GE(lines.size(), 6u);
    return std::vector<std::string>(lines.begin() + std::min<std::size_t>(6, lines.size()), lines.end());
  }

  test_support::ScratchDir dir_{"dump"};
  std::string log_name_ = dir_ / "dump.log";
  Error error_;
};

TEST_F(DumpError, TheStackIsCutAtCrLfAndStopsAtAnEmptyPiece) {
  const struct {
    const char* stack;
    std::vector<std::string> lines;
  } cases[] = {
      {"A\r\nB\r\nC", {"Stack           :'A'", "                :'B'", "                :'C'"}},
      {"A\r\n\r\nC\r\n", {"Stack           :'A'"}},
      {"\r\nA\r\n", {}},
      {"A\rB\nC\r\n", {"Stack           :'A\rB\nC'"}},
      {" x \r\n", {"Stack           :' x '"}},
      {"", {}},
      {" \t\r\n\r\n \n", {}},
  };
  for (const auto& c : cases) {
    fs::remove(log_name_);
    error_.Stack = c.stack;
    EXPECT_EQ(DumpedBlock(), Lines(error::ErrorFieldBlock(error_, c.lines))) << c.stack;
  }
}

TEST_F(DumpError, NoLogFileNoDumpAndTheHeaderFollowsWhatTheLogHeldWhateverLog2File) {
  LogFile log(log_name_);
  fs::remove(log_name_);
  EXPECT_EQ(&log.DumpError(error_), &log);
  EXPECT_FALSE(fs::exists(log_name_));

  // The header goes after what the log held.
  std::ofstream(log_name_, std::ios::binary) << "before\r\n";
  log.Log2File(false);
  log.DumpError(error_);
  const std::vector<std::string> lines = Lines(test_support::ReadFile(log_name_));
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
            (std::vector<std::string>{"before", "***********************ERROR********************************",
                                      runtime::Version()}));
  EXPECT_EQ(lines[3].substr(0, lines[3].find(' ')), runtime::DToC(runtime::Today()));
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.begin() + 7),
            (std::vector<std::string>{" ", "Error Object created:", "--------------------"}));
}

}  // namespace
