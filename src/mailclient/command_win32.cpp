#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>

#include "mailclient/command.h"
#include "runtime/activation.h"

namespace mailclient {

namespace {

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

// Reads a pipe to its end, keeping at most `most` bytes but draining the
// rest, so the command never blocks on a full pipe.
void Drain(HANDLE pipe, std::string& sink, std::size_t most) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    sink.append(buffer, std::min<std::size_t>(n, most - std::min(most, sink.size())));
  }
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
  const int wide_length = MultiByteToWideChar(CP_ACP, 0, command.data(), static_cast<int>(command.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, command.data(), static_cast<int>(command.size()), wide.data(), wide_length);
  std::wstring line = L"cmd.exe /d /s /c \"" + wide + L"\"";

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
  if (!CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &process)) {
    result.why = SystemMessage(GetLastError());
    return result;
  }
  hs.h[6] = process.hProcess;
  if (job) AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  CloseHandle(out_write);
  CloseHandle(err_write);
  out_write = err_write = nullptr;
  result.started = true;

  std::thread out_reader(Drain, out_read, std::ref(result.out), most);
  std::thread err_reader(Drain, err_read, std::ref(result.err), most);
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
    result.timed_out = true;
    if (!job || !TerminateJobObject(job, 1)) TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  } else {
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result.exit_status = static_cast<int>(code);
    // What it left running would hold the pipes open.
    if (job) TerminateJobObject(job, 0);
  }
  out_reader.join();
  err_reader.join();
  return result;
}

}  // namespace mailclient
