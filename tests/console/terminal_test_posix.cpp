// The console on a real pseudo-terminal: the bytes a terminal receives, and
// the key waits in raw mode. Each case runs the console in a child whose
// standard handles are the terminal's slave side; the parent plays the user
// at the master side.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "console/console.h"

namespace {

// Appends what `fd` gives within `ms`; false at its end or when the time
// is up.
bool ReadMore(int fd, std::string& seen, int ms) {
  pollfd p{fd, POLLIN, 0};
  char buf[512];
  ssize_t n = 0;
  if (::poll(&p, 1, ms) == 1 && (n = ::read(fd, buf, sizeof buf)) > 0) seen.append(buf, static_cast<std::size_t>(n));
  return n > 0;
}

// Reads from `fd` until `needle` has appeared in `seen` (or the time is up),
// then drops what `seen` holds up to the needle's end.
bool ReadUntil(int fd, std::string& seen, const std::string& needle) {
  std::size_t at;
  while ((at = seen.find(needle)) == std::string::npos) {
    if (!ReadMore(fd, seen, 10000)) return false;
  }
  seen.erase(0, at + needle.size());
  return true;
}

void Put(int fd, const std::string& s) { ASSERT_EQ(::write(fd, s.data(), s.size()), ssize_t(s.size())); }

// Runs `child` in a process on a new terminal of 100 x 30 cells; the child
// reports through `report`.
struct TerminalRun {
  int master = -1;
  int report = -1;
  pid_t pid = -1;
};

TerminalRun StartOnTerminal(const std::function<std::string(Console&)>& child) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {};
  winsize ws{};
  ws.ws_col = 100;
  ws.ws_row = 30;
  TerminalRun run;
  run.pid = ::forkpty(&run.master, nullptr, nullptr, &ws);
  if (run.pid == 0) {
    ::close(pipe_fds[0]);
    Console console(runtime::Value(false));
    const std::string result = child(console);
    (void)!::write(pipe_fds[1], result.data(), result.size());
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  run.report = pipe_fds[0];
  return run;
}

std::string Finish(TerminalRun& run, std::string& screen) {
  std::string report;
  while (ReadMore(run.report, report, -1)) {
  }
  while (ReadMore(run.master, screen, 2000)) {
  }
  int status = 0;
  ::waitpid(run.pid, &status, 0);
  ::close(run.report);
  ::close(run.master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child ended by signal";
  return report;
}

std::string Join(std::initializer_list<std::string> parts) {
  std::string s;
  for (const auto& p : parts) s += p + "|";
  return s;
}

}  // namespace

// Writes after Destroy report false and show nowhere.
TEST(ConsoleOnTerminal, ScreenStateIsSentAsEscapeSequencesAndRememberedUntilDestroyed) {
  TerminalRun run = StartOnTerminal([](Console& c) {
    c.TextAttribute(12);
    c.Title("nightly report");
    c.CursorPos(ConsoleCoord(3, 4));
    c.CursorVisible(false);
    c.CursorSize(50);
    const ConsoleCoord size = c.Size();
    const ConsoleCoord pos = c.CursorPos();
    std::string r = Join({std::to_string(c.TextAttribute()), c.Title(), std::to_string(size.X),
                          std::to_string(size.Y), std::to_string(pos.X), std::to_string(pos.Y),
                          c.CursorVisible() ? "visible" : "hidden", std::to_string(c.CursorSize())});
    c.Clear();
    c.TextAttribute(7);
    const bool before = c.WriteLine("still here");
    c.Destroy();
    return r + Join({before ? "wrote" : "lost", c.WriteLine("gone") ? "wrote" : "lost"});
  });
  std::string screen;
  EXPECT_EQ(Finish(run, screen), "12|nightly report|100|30|3|4|hidden|50|wrote|lost|");
  for (const char* expected : {"\x1b[0;91;40m", "\x1b]0;nightly report\x07", "\x1b[5;4H",
                               "\x1b[?25l", "\x1b[H\x1b[2J", "\x1b[0;37;40m"}) {
    EXPECT_NE(screen.find(expected), std::string::npos) << "missing " << expected + 1;
  }
  EXPECT_EQ(screen.find("gone"), std::string::npos);
}

// A read takes at most 256 bytes of a line that ends in CR LF, as on
// Windows, and gives them less the last two: 254 characters at most, and
// what is left of a long line comes with the next read.
TEST(ConsoleOnTerminal, WaitTakesOneKeyOrClickInRawModeAndReadTakesAtMost254Characters) {
  struct Case {
    std::size_t typed;
    const char* lengths;  // of the reads that this line gives
  } cases[] = {{0, "0"}, {253, "253"}, {254, "254"}, {255, "254 0"}, {256, "254 0"}, {300, "254 44"}};
  std::string typing = "monthly figures\n";
  std::string expected = "a|ctrl-c|k|click|monthly figures|";
  int reads = 0;
  for (const Case& c : cases) {
    typing += std::string(c.typed, 'x') + "\n";
    expected += std::string(c.lengths) + " ";
    reads += 1 + static_cast<int>(std::string(c.lengths).find(' ') != std::string::npos);
  }
  TerminalRun run = StartOnTerminal([reads](Console& c) {
    const std::string letter = c.Wait();
    const std::string interrupt = c.Wait();  // control-c must not end the process
    const std::string arrow_then_key = c.Wait();
    const std::string click = c.Wait();
    std::string r = Join({letter, interrupt == "\x03" ? "ctrl-c" : interrupt, arrow_then_key,
                          click == "\x80" ? "click" : click, c.Read()});
    for (int i = 0; i < reads; ++i) r += std::to_string(c.Read().size()) + " ";
    return r;
  });
  std::string screen;
  // Each wait announces itself by switching mouse reports on.
  ASSERT_TRUE(ReadUntil(run.master, screen, "\x1b[?1000h"));
  Put(run.master, "a");
  ASSERT_TRUE(ReadUntil(run.master, screen, "\x1b[?1000la"));  // mode restored, key echoed
  ASSERT_TRUE(ReadUntil(run.master, screen, "\x1b[?1000h"));
  Put(run.master, "\x03");
  ASSERT_TRUE(ReadUntil(run.master, screen, "\x1b[?1000h"));
  Put(run.master, "\x1b[Ak");
  ASSERT_TRUE(ReadUntil(run.master, screen, "\x1b[?1000lk"));
  ASSERT_TRUE(ReadUntil(run.master, screen, "\x1b[?1000h"));
  Put(run.master, "\x1b[M#!!");  // a release first: no button down
  Put(run.master, "\x1b[M !!");  // then the left button
  ASSERT_TRUE(ReadUntil(run.master, screen, "\x1b[?1000l"));
  Put(run.master, typing + "one read too many\n");  // a read too few never hangs the test
  EXPECT_EQ(Finish(run, screen), expected);
}
