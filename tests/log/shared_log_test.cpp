// Two processes appending to one log at the same moment: every line of each
// arrives exactly once, whole, and in its writer's order.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "log/log_file.h"
#include "support/platform.h"
#include "support/read_file.h"
#include "support/scratch_dir.h"

namespace {

#if defined(_WIN32)
constexpr int kLines = 8000;  // every open is a trip to the wine server
#else
constexpr int kLines = 20000;
#endif

TEST(SharedLog, TwoProcessesAppendingAtOnceLoseNoLine) {
  const test_support::ScratchDir dir("shared_log");
  const std::string log = dir / "shared.log";
  const std::string start = dir / "start";
  { LogFile created(log, false, false); }

  const std::string helper = test_support::ProgramPath(POSTRINE_LOG_HELPER);
  const std::string count = std::to_string(kLines);
  const std::vector<int> codes = test_support::RunTogether(
      {
          {helper, log, "A", count, start},
          {helper, log, "B", count, start},
      },
      [&] { std::ofstream(start) << "go"; });
  EXPECT_EQ(codes, (std::vector<int>{0, 0}));

  // Each writer's lines whole and in its order: "A 0", "A 1", ... with CR LF.
  std::istringstream lines(test_support::ReadFile(log));
  std::map<std::string, int> next{{"A", 0}, {"B", 0}};
  std::vector<std::string> unexpected;  // the first few
  for (std::string line; std::getline(lines, line);) {
    const std::string tag = line.substr(0, 1);
    if (next.count(tag) != 0 && line == tag + " " + std::to_string(next[tag]) + "\r") {
      ++next[tag];
    } else if (unexpected.size() < 5) {
      unexpected.push_back(line);
    }
  }
  EXPECT_EQ(unexpected, std::vector<std::string>());
  EXPECT_EQ(next, (std::map<std::string, int>{{"A", kLines}, {"B", kLines}}));
}

}  // namespace
