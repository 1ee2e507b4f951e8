// The token command's runner on POSIX: the shell's output and status come
// back, a command that hangs is killed with what it started, at the limit.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <signal.h>

#include "runtime/command.h"

namespace {

// Alive and not a zombie, as /proc tells where there is one.
bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return ::kill(pid, 0) == 0;
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

// Output, errors and the status as the token command gives them show in the
// end-to-end tests of the token command.
TEST(RunCommand, CutsTheOutputAtItsBoundAndStopsACommandAtItsLimit) {
  runtime::CommandResult r = runtime::RunCommand("head -c 1000000 /dev/zero | tr '\\0' x", 5000, 100);
  EXPECT_EQ(r.out, std::string(100, 'x')) << "cut to the bound, and the command still ends";
  EXPECT_EQ(r.exit_status, 0);

  const auto start = std::chrono::steady_clock::now();
  // The child of the shell keeps the pipe open: it must die too.
  r = runtime::RunCommand("sleep 30 & sleep 30", 300, 1024);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.timed_out);
  EXPECT_LT(took, std::chrono::seconds(5));
  // Once it has ended, an interrupt is the caller's again: no handler is
  // left to stop a group whose id may since have passed to others.
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
    struct sigaction after {};
    ::sigaction(sig, nullptr, &after);
    EXPECT_EQ(after.sa_handler, SIG_DFL) << sig;
  }
}

TEST(RunCommand, EndsWithTheShellWhenABackgroundChildHoldsThePipeOpen) {
  // A helper that starts an agent and prints the token: its answer is
  // complete when the shell ends, not when the agent does.
  const auto start = std::chrono::steady_clock::now();
  const runtime::CommandResult r = runtime::RunCommand("sleep 30 & echo tok; echo note >&2", 20000, 1024);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "tok\n");
  EXPECT_EQ(r.err, "note\n");
  EXPECT_LT(took, std::chrono::seconds(5));

  // An agent started on purpose, which lets go of the output, lives on.
  const runtime::CommandResult agent = runtime::RunCommand("sleep 30 >/dev/null 2>&1 & echo $!", 5000, 1024);
  const pid_t agent_pid = static_cast<pid_t>(std::atoi(agent.out.c_str()));
  ASSERT_GT(agent_pid, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(Running(agent_pid));
  ::kill(agent_pid, SIGKILL);

  // Started by a program that ignores SIGCHLD, the shell is reaped by the
  // system: its end is still seen at once.
  const auto before = std::signal(SIGCHLD, SIG_IGN);
  const runtime::CommandResult ignored = runtime::RunCommand("echo tok", 5000, 1024);
  std::signal(SIGCHLD, before);
  EXPECT_FALSE(ignored.timed_out);
  EXPECT_EQ(ignored.out, "tok\n");
}

}  // namespace
