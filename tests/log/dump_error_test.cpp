// LogFile:DumpError, line by line: the header, the field block, and the
// record's call stack cut into lines after the GenCode line.
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
#include "runtime/identity.h"
#include "support/read_file.h"

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
    dir_ = fs::temp_directory_path() /
           ("postrine_dump_" + std::to_string(runtime::ProcessId()) + "_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    log_name_ = (dir_ / "dump.log").string();
    error_.SubSystem = "POSTRINE";
    error_.GenCode = 21;
    error_.OsCode = 32;
    error_.Operation = "FOPEN";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The dump's lines from the one after the header on.
  std::vector<std::string> DumpedBlock() {
    LogFile log(log_name_);
    EXPECT_EQ(&log.DumpError(error_), &log);
    std::vector<std::string> lines = Lines(test_support::ReadFile(log_name_));
    EXPECT_GE(lines.size(), 6u);
    return std::vector<std::string>(lines.begin() + std::min<std::size_t>(6, lines.size()), lines.end());
  }

  fs::path dir_;
  std::string log_name_;
  Error error_;
};

TEST_F(DumpError, HeaderLinesThenTheFieldBlockClosedByHyphens) {
  error_.Stack = "POSTRINE:PROCESS (Line:57)\r\n";
  std::ofstream(log_name_, std::ios::binary) << "before\r\n";
  LogFile log(log_name_);
  const std::string today = runtime::DToC(runtime::Today());
  log.DumpError(error_);
  const std::vector<std::string> lines = Lines(test_support::ReadFile(log_name_));
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[0], "before");
  EXPECT_EQ(lines[1], "***********************ERROR********************************");
  EXPECT_EQ(lines[1].size(), 60u);
  EXPECT_EQ(lines[2], runtime::Version());
  ASSERT_EQ(lines[3].size(), today.size() + 9);
  EXPECT_EQ(lines[3].substr(0, today.size() + 1), today + " ");
  EXPECT_EQ(lines[3][today.size() + 3], ':');
  EXPECT_EQ(lines[3][today.size() + 6], ':');
  EXPECT_EQ(lines[4], " ");
  EXPECT_EQ(lines[5], "Error Object created:");
  EXPECT_EQ(lines[6], "--------------------");
  EXPECT_EQ(lines.back(), "--------------------");
  const std::vector<std::string> block(lines.begin() + 7, lines.end());
  EXPECT_EQ(block, Lines(error::ErrorFieldBlock(error_, {"Stack           :'POSTRINE:PROCESS (Line:57)'"})));
  EXPECT_EQ(block[2].rfind("GenCode         :", 0), 0u);
  EXPECT_EQ(block[3], "Stack           :'POSTRINE:PROCESS (Line:57)'");
}

TEST_F(DumpError, TheStackIsCutAtCrLfAndStopsAtAnEmptyPiece) {
  const struct {
    const char* stack;
    std::vector<std::string> lines;
  } cases[] = {
      {"A (Line:1)\r\nB (Line:2)\r\n", {"Stack           :'A (Line:1)'", "                :'B (Line:2)'"}},
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
    const std::vector<std::string> block = DumpedBlock();
    ASSERT_GE(block.size(), 3u);
    // Between "GenCode" and the first "OsCode" line: the stack lines only.
    std::vector<std::string> stack(block.begin() + 3, block.begin() + 3 + std::min(c.lines.size(), block.size() - 3));
    EXPECT_EQ(stack, c.lines) << c.stack;
    EXPECT_EQ(block.at(3 + c.lines.size()).rfind("OsCode          :", 0), 0u) << c.stack;
    EXPECT_EQ(block.back(), "--------------------");
  }
}

TEST_F(DumpError, NoLogFileNoDumpAndLog2FileIsNotConsulted) {
  LogFile log(log_name_);
  fs::remove(log_name_);
  EXPECT_EQ(&log.DumpError(error_), &log);
  EXPECT_FALSE(fs::exists(log_name_));

  std::ofstream(log_name_, std::ios::binary) << "";
  log.Log2File(false);
  log.DumpError(error_);
  EXPECT_EQ(Lines(test_support::ReadFile(log_name_)).at(4), "Error Object created:");
}

}  // namespace
