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
void Drain(HANDLE pipe, std::shared_ptr<Drained> drained, std::size_t most) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    const std::lock_guard<std::mutex> hold(drained->lock);
    drained->text.append(buffer, std::min<std::size_t>(n, most - std::min(most, drained->text.size())));
  }
  CloseHandle(pipe);
  const std::lock_guard<std::mutex> hold(drained->lock);
  drained->done = true;
  drained->ended.notify_all();
}

// Starts a reader for `pipe`, which it then owns.
std::shared_ptr<Drained> StartDrain(HANDLE& pipe, std::size_t most) {
  auto drained = std::make_shared<Drained>();
  std::thread(Drain, pipe, drained, most).detach();
  pipe = nullptr;
  return drained;
}

// What the pipe gave once its reader has ended, or once `grace` has passed:
// a reader still blocked then is left behind.
std::string Collect(Drained& drained, std::chrono::milliseconds grace) {
  std::unique_lock<std::mutex> hold(drained.lock);
  drained.ended.wait_for(hold, grace, [&] { return drained.done; });
  return drained.text;
}

struct Handles {
  HANDLE h[7] = {};
  ~Handles() {
    for (HANDLE x : h) {
      if (x && x != INVALID_HANDLE_VALUE) CloseHandle(x);
    }
  }
};

}  // namespace

CommandResult RunCommand(const std::string& command, int timeout_ms, std::size_t most) {
  const runtime::Activation activation("RUNCOMMAND", __LINE__);
  CommandResult result;
  Handles hs;
  HANDLE& out_read = hs.h[0];
  HANDLE& out_write = hs.h[1];
  HANDLE& err_read = hs.h[2];
  HANDLE& err_write = hs.h[3];
  HANDLE& null_in = hs.h[4];
  HANDLE& job = hs.h[5];
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(&out_read, &out_write, &inherit, 0) || !CreatePipe(&err_read, &err_write, &inherit, 0)) {
    result.why = SystemMessage(GetLastError());
    return result;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  null_in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

  // The command goes to cmd as typed: /s takes the outer quotes off again.
  wchar_t system_dir[MAX_PATH];
  const UINT dir_length = GetSystemDirectoryW(system_dir, MAX_PATH);
  std::wstring shell = dir_length > 0 && dir_length < MAX_PATH ? std::wstring(system_dir, dir_length) : L"C:\\Windows\\system32";
  shell += L"\\cmd.exe";
  std::wstring line = L"cmd.exe /d /s /c \"" + runtime::WideText(command) + L"\"";

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process{};
  // Suspended until it is in the job, so that nothing it starts escapes
  // the kill at the deadline.
  job = CreateJobObjectW(nullptr, nullptr);
  if (job) {
    // The job ends with its last handle, postrine's own: when postrine is
    // interrupted or killed, the command and all it started go with it.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  if (!CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &process)) {
    result.why = SystemMessage(GetLastError());
    return result;
  }
  hs.h[6] = process.hProcess;
  if (job && !AssignProcessToJobObject(job, process.hProcess)) {
    CloseHandle(job);
    job = nullptr;
  }
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  CloseHandle(out_write);
  CloseHandle(err_write);
  out_write = err_write = nullptr;
  result.started = true;

  const std::shared_ptr<Drained> out = StartDrain(out_read, most);
  const std::shared_ptr<Drained> err = StartDrain(err_read, most);
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
    result.timed_out = true;
    if (!job || !TerminateJobObject(job, 1)) TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  } else {
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result.exit_status = static_cast<int>(code);
    // cmd's code for a command it does not know ("... is not recognized as
    // an internal or external command").
    result.not_found = code == kCmdNotFound;
    // What it left running would hold the pipes open.
    if (job) TerminateJobObject(job, 0);
  }
  // With the job gone the pipes close at once; without one, something the
  // command started may hold them open: its output is not waited for.
  const std::chrono::milliseconds grace(job ? 2000 : 250);
  result.out = Collect(*out, grace);
  result.err = Collect(*err, grace);
  return result;
}

}  // namespace runtime
