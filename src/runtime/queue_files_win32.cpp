#include <windows.h>

#include <cstring>
#include <vector>

#include "runtime/activation.h"
#include "runtime/private_file.h"
#include "runtime/queue_files.h"
#include "runtime/system_text.h"
#include "runtime/wide_text_win32.h"

namespace runtime {

namespace {

std::string LastError() { return SystemErrorText(::GetLastError()); }

HANDLE Native(Handle h) { return reinterpret_cast<HANDLE>(h); }

// The lock lies far beyond the end of any message, so that it never
// stands in the way of reading the file through another handle.
constexpr DWORD kLockOffsetHigh = 0x40000000;

}  // namespace

NewQueueFile::~NewQueueFile() {
  if (h_ == kInvalidHandle) return;
  ::CloseHandle(Native(h_));
  ::DeleteFileW(WideText(name_).c_str());
}

bool NewQueueFile::Create(const std::string& name, std::string& reason) {
  const Activation activation("NEWQUEUEFILE:CREATE", __LINE__);
  // Made and opened in one step, shared with no one while it is written,
  // so that a run that clears what a crashed one left never takes it.
  h_ = OpenNewPrivate(name);
  if (h_ == kInvalidHandle) {
    reason = LastError();
    return false;
  }
  name_ = name;
  return true;
}

bool NewQueueFile::Write(std::string_view bytes, std::string& reason) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD size = bytes.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(bytes.size());
    if (!::WriteFile(Native(h_), bytes.data(), size, &written, nullptr) || written == 0) {
      reason = LastError();
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

bool NewQueueFile::Commit(const std::string& name, std::string& reason, bool replace) {
  const Activation activation("NEWQUEUEFILE:COMMIT", __LINE__);
  // Renamed through its own handle, so that no other run comes between.
  const std::wstring to = WideText(name);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, to.c_str(), rename->FileNameLength);
  if (!::FlushFileBuffers(Native(h_)) ||
      !::SetFileInformationByHandle(Native(h_), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
    reason = LastError();
    return false;  // the destructor removes it
  }
  ::CloseHandle(Native(h_));
  h_ = kInvalidHandle;
  return true;
}

QueueFileLock::~QueueFileLock() {
  if (h_ != kInvalidHandle) ::CloseHandle(Native(h_));
}

bool QueueFileLock::Take(const std::string& name, std::string& reason) {
  const Activation activation("QUEUEFILELOCK:TAKE", __LINE__);
  reason.clear();
  const HANDLE h = ::CreateFileW(WideText(name).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    // Gone, being written, or removed by another run and waiting for its
    // last handle.
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) {
      reason = SystemErrorText(code);
    }
    return false;
  }
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  FILE_STANDARD_INFO info{};
  if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) ||
      (::GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof info) && info.DeletePending)) {
    ::CloseHandle(h);
    return false;
  }
  h_ = reinterpret_cast<Handle>(h);
  name_ = name;
  return true;
}

bool QueueFileLock::OlderThan(int seconds) const {
  FILETIME written{}, now{};
  if (!::GetFileTime(Native(h_), nullptr, nullptr, &written)) return false;
  ::GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return ticks(written) + static_cast<ULONGLONG>(seconds) * 10000000ULL < ticks(now);
}

bool QueueFileLock::Remove(std::string& reason) {
  // Gone from the directory once the lock's handle closes; no other run
  // can open it meanwhile.
  if (::DeleteFileW(WideText(name_).c_str())) return true;
  reason = LastError();
  return false;
}

bool QueueFileLock::MoveTo(const std::string& name, std::string& reason) {
  // The handle keeps the lock; the file goes on under its new name.
  if (::MoveFileExW(WideText(name_).c_str(), WideText(name).c_str(), MOVEFILE_WRITE_THROUGH)) {
    name_ = name;
    return true;
  }
  reason = LastError();
  return false;
}

bool ListDirectory(const std::string& directory, std::vector<std::string>& names, std::string& reason) {
  const Activation activation("LISTDIRECTORY", __LINE__);
  names.clear();
  WIN32_FIND_DATAW found{};
  const HANDLE h = ::FindFirstFileW(WideText(directory + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    reason = LastError();
    return false;
  }
  do {
    const std::string name = TextFromWide(found.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileW(h, &found));
  ::FindClose(h);
  return true;
}

void RemoveFile(const std::string& name) { ::DeleteFileW(WideText(name).c_str()); }

bool MakeDirectory(const std::string& directory, std::string& reason) {
  if (::CreateDirectoryW(WideText(directory).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) return true;
  reason = LastError();
  return false;
}

}  // namespace runtime
