#include <cerrno>
#include <csignal>
#include <iterator>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runtime/command.h"
#include "runtime/deadline.h"
#include "runtime/activation.h"
#include "runtime/owned.h"

extern char** environ;

namespace runtime {

namespace {

struct FdTraits {
  using Value = int;
  static int Invalid() { return -1; }
  static bool Valid(int fd) { return fd >= 0; }
  static void Close(int fd) { ::close(fd); }
};
using Fd = UniqueHandle<FdTraits>;

// A pipe's two ends.
struct Pipe {
  Fd read;
  Fd write;
};

// A new pipe whose ends no other program inherits; the error number when
// there is none.
int OpenPipe(Pipe& pipe) {
  int fds[2] = {-1, -1};
  if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
  pipe.read.reset(fds[0]);
  pipe.write.reset(fds[1]);
  return 0;
}

// The command runs in a group of its own, which neither a Ctrl+C at the
// terminal (sent to the foreground group) nor a kill of postrine reaches.
// While it runs, these signals stop its group first and then end postrine
// as they would have.
constexpr int kInterrupts[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
volatile std::sig_atomic_t g_command_group = 0;

// Only kill: the handler may run anywhere in the program. SA_RESETHAND has
// put the default action back, so the signal, held until the handler
// returns, then ends the process with its usual status.
void OnInterrupt(int sig) {
  const pid_t group = g_command_group;
  if (group > 0) ::kill(-group, SIGKILL);
  ::raise(sig);
}

// The handlers, for the signals whose action is the default, from before
// the command starts until its group can be forgotten. A signal the caller
// ignores or handles itself is left to it.
class InterruptGuard {
 public:
  InterruptGuard() {
    sigemptyset(&interrupts_);
    for (int sig : kInterrupts) sigaddset(&interrupts_, sig);
    // Held until the group is known, so that none slips in between.
    ::pthread_sigmask(SIG_BLOCK, &interrupts_, &mask_);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigfillset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
      installed_[i] = ::sigaction(kInterrupts[i], nullptr, &before_[i]) == 0 &&
                      (before_[i].sa_flags & SA_SIGINFO) == 0 && before_[i].sa_handler == SIG_DFL &&
                      ::sigaction(kInterrupts[i], &action, nullptr) == 0;
    }
  }
  ~InterruptGuard() { Forget(); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  /// The signal mask the command starts with: the caller's own.
  const sigset_t& mask() const { return mask_; }

  void Started(pid_t group) {
    g_command_group = group;
    ::pthread_sigmask(SIG_SETMASK, &mask_, nullptr);
  }

  /// Before the group's leader is reaped and its id may pass on.
  void Forget() {
    if (done_) return;
    done_ = true;
    ::pthread_sigmask(SIG_BLOCK, &interrupts_, nullptr);
    // One that came in the meantime ends postrine once the mask is back.
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    for (int sig : kInterrupts) {
      if (g_command_group > 0 && sigismember(&pending, sig) == 1) ::kill(-g_command_group, SIGKILL);
    }
    g_command_group = 0;
    for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
      if (installed_[i]) ::sigaction(kInterrupts[i], &before_[i], nullptr);
    }
    ::pthread_sigmask(SIG_SETMASK, &mask_, nullptr);
  }

 private:
  sigset_t interrupts_{};
  sigset_t mask_{};
  struct sigaction before_[std::size(kInterrupts)] {};
  bool installed_[std::size(kInterrupts)] = {};
  bool done_ = false;
};

// What posix_spawn takes besides the command line, released however the
// spawn went.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// A running command: the shell's id, which is also its group's, and the
// reading ends of its standard output and error.
struct Child {
  pid_t pid = 0;
  Fd out;
  Fd err;
};

// Starts the shell in a group of its own, with no input and its output in
// two pipes; otherwise the reason it could not start.
std::string Spawn(const std::string& command, InterruptGuard& interrupts, Child& child) {
  Pipe out;
  Pipe err;
  if (int failed = OpenPipe(out); failed != 0) return std::strerror(failed);
  if (int failed = OpenPipe(err); failed != 0) return std::strerror(failed);
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, out.write.get(), 1);
  posix_spawn_file_actions_adddup2(&setup.actions, err.write.get(), 2);
  // A group of its own, so that the deadline ends whatever the shell started.
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  posix_spawnattr_setsigmask(&setup.attributes, &interrupts.mask());
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  const int spawned =
      ::posix_spawn(&child.pid, "/bin/sh", &setup.actions, &setup.attributes, const_cast<char**>(argv), environ);
  if (spawned != 0) return std::strerror(spawned);
  interrupts.Started(child.pid);
  child.out = std::move(out.read);
  child.err = std::move(err.read);
  return "";
}

// Whether the shell has ended; it stays a zombie, so that its group id
// cannot pass to another process before the group is killed. Where the
// caller ignores SIGCHLD the system reaps it at once, and it is simply
// gone.
bool ShellEnded(pid_t pid) {
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno == ECHILD;
  return info.si_pid == pid;
}

// Reads the command's output, keeping at most `most` bytes of each, until
// both pipes end, the shell has gone, or the deadline passes (then
// `result.timed_out`). True when something still holds the pipes.
bool Drain(Child& child, const Deadline& deadline, std::size_t most, CommandResult& result) {
  Fd* pipes[2] = {&child.out, &child.err};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  // Reads what is ready within `wait_ms`.
  auto read_ready = [&](int wait_ms) {
    pollfd fds[2] = {{child.out.get(), POLLIN, 0}, {child.err.get(), POLLIN, 0}};
    if (::poll(fds, 2, wait_ms) <= 0) return;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        // Read on past the bound, so the command is never stuck writing.
        const std::size_t room = most - std::min(most, sinks[i]->size());
        sinks[i]->append(buffer, std::min(room, static_cast<std::size_t>(n)));
      } else if (n == 0 || errno != EINTR) {
        pipes[i]->reset();
        --open;
      }
    }
  };
  constexpr int kLook = 50;    // how often, in milliseconds, the shell's end is looked for
  constexpr int kGrace = 250;  // milliseconds for what it left to let go of the pipes
  while (open > 0) {
    const int left = deadline.Left();
    if (left == 0) {
      result.timed_out = true;
      break;
    }
    read_ready(std::min(left, kLook));
    if (open > 0 && ShellEnded(child.pid)) {
      // Something it started in the background may hold the pipes open
      // for as long as it runs: what the shell wrote is in them already.
      // A moment's grace lets a child that is about to redirect its
      // output (an agent started on purpose) let go of them.
      const Deadline grace(kGrace);
      while (open > 0 && !deadline.Passed() && !grace.Passed()) read_ready(std::min(grace.Left(), deadline.Left()));
      break;
    }
  }
  child.out.reset();
  child.err.reset();
  return open > 0;
}

// Waits for the shell within the deadline, kills its group at the deadline
// or when something it left still `held` the pipes, and takes its status.
void Reap(const Child& child, const Deadline& deadline, bool held, InterruptGuard& interrupts,
          CommandResult& result) {
  // Its output has ended; its end follows within the same deadline.
  while (!result.timed_out && !ShellEnded(child.pid)) {
    if (deadline.Passed()) result.timed_out = true;
    else ::usleep(2000);
  }
  // What still holds the pipes after the shell has gone is ended with it;
  // something that let go of them (an agent started on purpose) is left.
  if (result.timed_out || held) ::kill(-child.pid, SIGKILL);
  interrupts.Forget();
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  if (result.timed_out) return;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  // The shell's own codes for a command it cannot run or cannot find.
  result.not_found = result.exit_status == 126 || result.exit_status == 127;
}

}  // namespace

CommandResult RunCommand(const std::string& command, int timeout_ms, std::size_t most) {
  const runtime::Activation activation("RUNCOMMAND", __LINE__);
  CommandResult result;
  InterruptGuard interrupts;
  Child child;
  result.why = Spawn(command, interrupts, child);
  result.started = result.why.empty();
  if (!result.started) return result;
  const Deadline deadline(timeout_ms);
  const bool held = Drain(child, deadline, most, result);
  Reap(child, deadline, held, interrupts, result);
  return result;
}

}  // namespace runtime
