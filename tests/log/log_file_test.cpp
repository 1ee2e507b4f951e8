// LogFile against real files in a scratch directory: where the log goes and
// what it is called, backup and append, the property rules, the debugger
// output, and a log that another handle holds.
#include "log/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "error/error.h"
#include "log/debug_output.h"
#include "log/fopen_retry.h"
#include "runtime/error_slot.h"
#include "runtime/files.h"
#include "runtime/places.h"
#include "runtime/process.h"
#include "support/machine_registry.h"
#include "support/platform.h"
#include "support/read_file.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

using test_support::NativePath;

void Put(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }

// Pauses counted instead of slept, with something to do at a given pause.
struct Pauses {
  static inline std::vector<unsigned> seen;
  static inline std::size_t release_at = 0;
  static inline runtime::Handle holder = runtime::kInvalidHandle;
  static void Release() {
    if (holder != runtime::kInvalidHandle) runtime::FClose(holder);
    holder = runtime::kInvalidHandle;
  }
  static void Pause(unsigned ms) {
    seen.push_back(ms);
    if (seen.size() == release_at) Release();
  }
  static void Start(runtime::Handle h, std::size_t release = 0) {
    seen.clear();
    holder = h;
    release_at = release;
    runtime::SetPauseFunction(&Pause);
  }
  static void Stop() {
    runtime::SetPauseFunction(nullptr);
    Release();
  }
};

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override { runtime::NetErr(false); }
  void TearDown() override {
    Pauses::Stop();
    logging::SetDebugSink(nullptr);
  }
  std::string Name(const std::string& file) const { return dir_ / file; }

  test_support::ScratchDir dir_{"log"};
};

TEST(LogFileName, FollowsTheBaseNameOrTheWebServerDirectory) {
  const struct {
    const char* base;
    bool web;
    const char* web_dir;
    const char* expected;
  } cases[] = {
      {"D:\\Logs\\run.", false, "", "D:\\Logs\\run.log"},
      {"D:\\Logs\\a.b.txt", false, "", "D:\\Logs\\a.b.log"},
      {"C:\\my.dir\\run", false, "", "C:\\my.dir\\run.log"},
      {"D:\\Logs\\run.txt", true, "E:\\Web\\", "E:\\Web\\\\run.log"},
      {"D:\\Logs\\run.txt", true, "", "\\run.log"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(logging::LogFileNameFor(NativePath(c.base), c.web, NativePath(c.web_dir)), NativePath(c.expected))
        << c.base;
  }
}

TEST_F(LogFileTest, NoNameGivesTheExecutablesOwnLogAndABareNameLivesBesideIt) {
  const std::string exe = runtime::ExeFileName();
  const std::string expected = fs::path(exe).replace_extension(".log").string();
  fs::remove(expected);
  for (const runtime::Value& none : {runtime::Value(), runtime::Value(""), runtime::Value(7)}) {
    LogFile log(none);
    EXPECT_EQ(log.FName(), expected);
    EXPECT_EQ(log.ServerPath(), fs::path(exe).parent_path().string() + runtime::PathSeparator());
    EXPECT_EQ(log.LogPath(), fs::path(exe).parent_path().string());
    EXPECT_TRUE(log.Append());
    EXPECT_TRUE(log.Log2File());
    EXPECT_EQ(log.BackupName(), "");
    EXPECT_TRUE(log.DebugMsg("extended"));
  }
  EXPECT_EQ(test_support::ReadFile(expected), "extended\r\nextended\r\nextended\r\n");
  fs::remove(expected);
  const std::string bare = "postrine_trace_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
  EXPECT_EQ(LogFile(bare + ".txt").FName(), runtime::WorkDir() + bare + ".log");
  EXPECT_TRUE(fs::remove(runtime::WorkDir() + bare + ".log"));
}

TEST_F(LogFileTest, TheWebServerFlagPutsTheLogInTheWebServersDirectory) {
  test_support::ScratchMachineRegistry registry;
  fs::create_directories(dir_.path() / "web");
  registry.SetValue("SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters", "LogFileDirectory",
                    (dir_.path() / "web").string());
  LogFile log(Name("run.txt"), true);
  EXPECT_EQ(log.FName(), (dir_.path() / "web").string() + NativePath("\\run.log"));
  EXPECT_TRUE(log.DebugMsg("to the web server's log"));
  EXPECT_EQ(test_support::ReadFile(log.FName()), "to the web server's log\r\n");
  // Only a logical value turns the flag on.
  LogFile beside(Name("run.txt"), "yes");
  EXPECT_EQ(beside.FName(), Name("run.log"));
}

TEST_F(LogFileTest, AppendExtendsAndStartingAnewBacksUpFirst) {
  Put(Name("run.log"), "one\r\n");
  Put(Name("run.bak"), "stale backup\r\n");
  LogFile extend(Name("run.log"));
  EXPECT_EQ(test_support::ReadFile(Name("run.log")), "one\r\n");
  EXPECT_TRUE(extend.DebugMsg("two"));
  EXPECT_TRUE(extend.DebugMsg(""));
  EXPECT_EQ(test_support::ReadFile(Name("run.log")), "one\r\ntwo\r\n\r\n");
  EXPECT_EQ(test_support::ReadFile(Name("run.bak")), "stale backup\r\n");

  LogFile fresh(Name("run.log"), false, false);
  EXPECT_EQ(fresh.BackupName(), Name("run.bak"));
  EXPECT_EQ(test_support::ReadFile(Name("run.bak")), "one\r\ntwo\r\n\r\n");
  EXPECT_EQ(test_support::ReadFile(Name("run.log")), "");
  EXPECT_TRUE(fresh.DebugMsg("three"));
  EXPECT_EQ(test_support::ReadFile(Name("run.log")), "three\r\n");
  // Not logical: the default, extend.
  LogFile again(Name("run.log"), false, "no");
  EXPECT_TRUE(again.Append());
  EXPECT_EQ(test_support::ReadFile(Name("run.log")), "three\r\n");
}

TEST_F(LogFileTest, PropertiesIgnoreValuesOfAnotherType) {
  LogFile log(Name("run"));
  const std::string name = log.FName();
  EXPECT_EQ(log.FName(42), name);
  EXPECT_EQ(log.BackupName(3.5), "");
  EXPECT_EQ(log.BackupName(Name("other.bak")), Name("other.bak"));
  EXPECT_TRUE(log.Log2File("no"));
  EXPECT_FALSE(log.Log2File(false));
  EXPECT_FALSE(log.Append(false));
  EXPECT_EQ(log.FName(Name("moved.log")), Name("moved.log"));
  EXPECT_EQ(log.LogPath(), dir_.path().string());
  EXPECT_TRUE(log.Log2File(true));
  // Later writes go to the new path; it must exist, since writes only open.
  EXPECT_FALSE(log.DebugMsg("nowhere yet"));
  Put(Name("moved.log"), "");
  EXPECT_TRUE(log.DebugMsg("moved"));
  EXPECT_EQ(test_support::ReadFile(Name("moved.log")), "moved\r\n");
  EXPECT_EQ(test_support::ReadFile(Name("run.log")), "");
  // A name without any separator is its own log path.
  log.FName("plain.log");
  EXPECT_EQ(log.LogPath(), "plain.log");
}

std::vector<std::string> g_debug_lines;

// Even after an old conflict: a missing directory is no busy file, and no
// open is retried.
TEST_F(LogFileTest, WithoutAUsableFileLinesGoToTheDebuggerOutputAtOnce) {
  g_debug_lines.clear();
  logging::SetDebugSink([](const std::string& text) { g_debug_lines.push_back(text); });
  Pauses::Start(runtime::kInvalidHandle);
  runtime::NetErr(true);
  EXPECT_EQ(FOpenRetry(Name("missing.log"), runtime::FO_READWRITE), runtime::kInvalidHandle);
  EXPECT_FALSE(runtime::NetErr());
  runtime::NetErr(true);
  LogFile log(Name(NativePath("missing\\dir\\run")));
  EXPECT_FALSE(log.Log2File());
  EXPECT_TRUE(Pauses::seen.empty());
  EXPECT_FALSE(fs::exists(dir_.path() / "missing")) << "no directory is created";
  EXPECT_TRUE(log.DebugMsg("to the debugger"));
  EXPECT_FALSE(log.DebugMsg(""));
  EXPECT_EQ(g_debug_lines, (std::vector<std::string>{"to the debugger", ""}));
}

TEST_F(LogFileTest, FOpenRetryTriesABusyFileTenTimesAMillisecondApartAndTheLogIsKept) {
  Put(Name("busy.log"), "kept\r\n");
  Pauses::Start(runtime::FOpen(Name("busy.log"), runtime::FO_READWRITE));
  ASSERT_NE(Pauses::holder, runtime::kInvalidHandle);
  EXPECT_EQ(FOpenRetry(Name("busy.log"), runtime::FO_READWRITE), runtime::kInvalidHandle);
  EXPECT_EQ(Pauses::seen, std::vector<unsigned>(10, 1u));
  EXPECT_TRUE(runtime::NetErr());
  // A busy log is still the log, and is neither emptied nor backed up.
  EXPECT_TRUE(LogFile(Name("busy.log")).Log2File());
  EXPECT_TRUE(LogFile(Name("busy.log"), false, false).Log2File());
  EXPECT_FALSE(fs::exists(Name("busy.bak")));

  // Released after the third conflict: the fourth attempt opens it.
  Pauses::Stop();
  Pauses::Start(runtime::FOpen(Name("busy.log"), runtime::FO_READWRITE), 3);
  const runtime::Handle h = FOpenRetry(Name("busy.log"), runtime::FO_READWRITE);
  EXPECT_NE(h, runtime::kInvalidHandle);
  EXPECT_EQ(Pauses::seen.size(), 3u);
  runtime::FClose(h);
  EXPECT_EQ(test_support::ReadFile(Name("busy.log")), "kept\r\n");
}

TEST_F(LogFileTest, ALineWaitsForAWriterThatOutlastsTenTriesAndIsDroppedOnlyAfterLongBusy) {
  Put(Name("busy.log"), "");
  LogFile log(Name("busy.log"));
  // Held for 25 conflicts: past the ten tries of one FOpenRetry.
  Pauses::Start(runtime::FOpen(Name("busy.log"), runtime::FO_READWRITE), 25);
  EXPECT_TRUE(log.DebugMsg("waited"));
  EXPECT_EQ(Pauses::seen.size(), 25u);
  Pauses::Stop();
  EXPECT_EQ(test_support::ReadFile(Name("busy.log")), "waited\r\n");

  // An error dump waits the same way.
  Pauses::Start(runtime::FOpen(Name("busy.log"), runtime::FO_READWRITE), 12);
  log.DumpError(Error());
  EXPECT_EQ(Pauses::seen.size(), 12u);
  Pauses::Stop();
  EXPECT_NE(test_support::ReadFile(Name("busy.log")).find("Error Object created:"), std::string::npos);
  fs::resize_file(Name("busy.log"), 8);

  Pauses::Start(runtime::FOpen(Name("busy.log"), runtime::FO_READWRITE));
  EXPECT_FALSE(log.DebugMsg("dropped"));
  // All the rounds, unless a very slow machine reaches the time limit first.
  EXPECT_GT(Pauses::seen.size(), static_cast<std::size_t>(logging::kOpenTries));
  EXPECT_LE(Pauses::seen.size(), static_cast<std::size_t>(logging::kLogWriteRounds * logging::kOpenTries));
  Pauses::Stop();
  EXPECT_EQ(test_support::ReadFile(Name("busy.log")), "waited\r\n");
}

}  // namespace
