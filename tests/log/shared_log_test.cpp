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

  std::istringstream lines(test_support::ReadFile(log));
  std::map<std::string, int> next{{"A", 0}, {"B", 0}};
  std::string line;
  int bad = 0;
  while (std::getline(lines, line)) {
    const std::size_t blank = line.find(' ');
    const std::string tag = line.substr(0, blank);
    if (line.empty() || line.back() != '\r' || blank == std::string::npos || !next.count(tag) ||
        line.substr(blank + 1, line.size() - blank - 2) != std::to_string(next[tag])) {
      if (++bad <= 5) ADD_FAILURE() << "unexpected line: " << line;
      continue;
    }
    ++next[tag];
  }
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(next["A"], kLines);
  EXPECT_EQ(next["B"], kLines);
}

}  // namespace
