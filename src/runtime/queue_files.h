// The files of a mail queue: each message written under a temporary name
// readable by its owner alone, flushed to disk and renamed in one step, so
// that the queue holds whole messages only whatever happens meanwhile; a
// lock on a queued file taken without waiting, so that two runs never
// deliver the same message; and the listing of a queue's directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/handle.h"

namespace runtime {

/// A file being written for a queue.
class NewQueueFile {
 public:
  NewQueueFile() = default;
  ~NewQueueFile();  // a file never committed is removed
  NewQueueFile(const NewQueueFile&) = delete;
  NewQueueFile& operator=(const NewQueueFile&) = delete;

  /// Creates `name`, which must not exist, readable and writable by the
  /// current user alone (mode 0600; on Windows an access list that names
  /// the user alone). False with the reason.
  bool Create(const std::string& name, std::string& reason);
  bool Write(std::string_view bytes, std::string& reason);
  /// Flushes the file to the disk, closes it and renames it to `name` (in
  /// the same directory), the directory flushed too where the system
  /// allows; an existing `name` is replaced when `replace`. False with the
  /// reason; the file is removed then.
  bool Commit(const std::string& name, std::string& reason, bool replace = false);

 private:
  Handle h_ = kInvalidHandle;
  std::string name_;
};

/// A queued file this process alone works on.
class QueueFileLock {
 public:
  QueueFileLock() = default;
  ~QueueFileLock();
  QueueFileLock(const QueueFileLock&) = delete;
  QueueFileLock& operator=(const QueueFileLock&) = delete;

  /// Takes the lock of `name` without waiting. False when another process
  /// holds it or the file is gone (also when it went before the lock was
  /// had); `reason` then empty, or the system's words on a failure.
  bool Take(const std::string& name, std::string& reason);
  /// Whether the file was last written more than `seconds` ago.
  bool OlderThan(int seconds) const;
  /// Removes the file from its directory, the lock still held. Every
  /// other handle of this process to it must be closed first (Windows).
  bool Remove(std::string& reason);
  /// Moves the file to `name`, the lock still held; the same holds.
  bool MoveTo(const std::string& name, std::string& reason);

 private:
  Handle h_ = kInvalidHandle;
  std::string name_;
};

/// The names (not paths) of the entries of `directory`. False with the
/// reason when it cannot be read.
bool ListDirectory(const std::string& directory, std::vector<std::string>& names, std::string& reason);

/// Removes the file `name` if it is there.
void RemoveFile(const std::string& name);

/// Makes `directory` (one level) unless it exists. False with the reason.
bool MakeDirectory(const std::string& directory, std::string& reason);

}  // namespace runtime
