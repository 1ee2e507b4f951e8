#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/command.h"
#include "runtime/activation.h"
#include "runtime/owned.h"
#include "runtime/wide_text_win32.h"

namespace runtime {

namespace {

constexpr DWORD kCmdNotFound = 9009;

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n ? std::string(text, n) : "system error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

struct HandleTraits {
  using Value = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
using OwnedHandle = UniqueHandle<HandleTraits>;

// What one pipe gave. The thread that reads it owns the pipe and this
// record with the caller, so that a reader still blocked (by something the
// command left running and holding the pipe) can be left behind.
struct Drained {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  std::string text;
};

// Reads a pipe to its end, keeping at most `most` bytes but draining the
// rest, so the command never blocks on a full pipe; then closes it.
void Drain(OwnedHandle pipe, std::shared_ptr<Drained> drained, std::size_t most) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(pipe.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) {
    const std::lock_guard<std::mutex> hold(drained->lock);
    drained->text.append(buffer, std::min<std::size_t>(n, most - std::min(most, drained->text.size())));
  }
  pipe.reset();
  const std::lock_guard<std::mutex> hold(drained->lock);
  drained->done = true;
  drained->ended.notify_all();
}

// Starts a reader for `pipe`, which it then owns.
std::shared_ptr<Drained> StartDrain(OwnedHandle& pipe, std::size_t most) {
  auto drained = std::make_shared<Drained>();
  std::thread(Drain, std::move(pipe), drained, most).detach();
  return drained;
}

// What the pipe gave once its reader has ended, or once `grace` has passed:
// a reader still blocked then is left behind.
std::string Collect(Drained& drained, std::chrono::milliseconds grace) {
  std::unique_lock<std::mutex> hold(drained.lock);
  drained.ended.wait_for(hold, grace, [&] { return drained.done; });
  return drained.text;
}

// A running command: cmd's process, the job that holds it and all it
// starts (none where the system gave no job), and the reading ends of its
// standard output and error.
struct Child {
  OwnedHandle process;
  OwnedHandle job;
  OwnedHandle out;
  OwnedHandle err;
};

// A pipe whose writing end the command inherits; the reason when there is
// none.
std::string OpenPipe(OwnedHandle& read, OwnedHandle& write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(read.put(), write.put(), &inherit, 0)) return SystemMessage(GetLastError());
  SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
  return "";
}

// Starts cmd in a job of its own, with no input and its output in two
// pipes; otherwise the reason it could not start.
std::string Spawn(const std::string& command, Child& child) {
  OwnedHandle out_write;
  OwnedHandle err_write;
  if (std::string why = OpenPipe(child.out, out_write); !why.empty()) return why;
  if (std::string why = OpenPipe(child.err, err_write); !why.empty()) return why;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const OwnedHandle null_in(
      CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));

  // The command goes to cmd as typed: /s takes the outer quotes off again.
  wchar_t system_dir[MAX_PATH];
  const UINT dir_length = GetSystemDirectoryW(system_dir, MAX_PATH);
  std::wstring shell =
      dir_length > 0 && dir_length < MAX_PATH ? std::wstring(system_dir, dir_length) : L"C:\\Windows\\system32";
  shell += L"\\cmd.exe";
  std::wstring line = L"cmd.exe /d /s /c \"" + runtime::WideText(command) + L"\"";

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in.get();
  startup.hStdOutput = out_write.get();
  startup.hStdError = err_write.get();
  PROCESS_INFORMATION process{};
  // Suspended until it is in the job, so that nothing it starts escapes
  // the kill at the deadline.
  child.job.reset(CreateJobObjectW(nullptr, nullptr));
  if (child.job) {
    // The job ends with its last handle, postrine's own: when postrine is
    // interrupted or killed, the command and all it started go with it.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(child.job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  if (!CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &process)) {
    return SystemMessage(GetLastError());
  }
  child.process.reset(process.hProcess);
  const OwnedHandle thread(process.hThread);
  if (child.job && !AssignProcessToJobObject(child.job.get(), child.process.get())) child.job.reset();
  ResumeThread(thread.get());
  return "";
}

// Waits for cmd until the deadline, when the job (or cmd alone, without a
// job) is killed; ends what it left running, which would hold the pipes.
void Reap(const Child& child, int timeout_ms, CommandResult& result) {
  const HANDLE process = child.process.get();
  if (WaitForSingleObject(process, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
    result.timed_out = true;
    if (!child.job || !TerminateJobObject(child.job.get(), 1)) TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
    return;
  }
  DWORD code = 0;
  if (GetExitCodeProcess(process, &code)) result.exit_status = static_cast<int>(code);
  // cmd's code for a command it does not know ("... is not recognized as
  // an internal or external command").
  result.not_found = code == kCmdNotFound;
  if (child.job) TerminateJobObject(child.job.get(), 0);
}

}  // namespace

CommandResult RunCommand(const std::string& command, int timeout_ms, std::size_t most) {
  const runtime::Activation activation("RUNCOMMAND", __LINE__);
  CommandResult result;
  Child child;
  result.why = Spawn(command, child);
  result.started = result.why.empty();
  if (!result.started) return result;
  // The readers drain the pipes while cmd runs, so it never blocks on them.
  const std::shared_ptr<Drained> out = StartDrain(child.out, most);
  const std::shared_ptr<Drained> err = StartDrain(child.err, most);
  Reap(child, timeout_ms, result);
  // With the job gone the pipes close at once; without one, something the
  // command started may hold them open: its output is not waited for.
  const std::chrono::milliseconds grace(child.job ? 2000 : 250);
  result.out = Collect(*out, grace);
  result.err = Collect(*err, grace);
  return result;
}

}  // namespace runtime
