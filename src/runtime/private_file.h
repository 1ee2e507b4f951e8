// Files that hold what others on the machine must not read (a protocol
// trace names recipients, headers and the user name), and the check that
// a name is a plain file, so that a write to it can never block.
#pragma once

#include <string>

#include "runtime/handle.h"

namespace runtime {

/// Creates an empty file that only the current user may read and write
/// (mode 0600 on POSIX; on Windows an access list that names the user
/// alone) where no file of that name exists, in one step that no other
/// process can come between; an existing file is left as it is. True when
/// it was created.
bool FCreateNewPrivate(const std::string& name);
/// As FCreateNewPrivate, the file kept open for writing (on Windows shared
/// with no other handle, and open for deletion too): its handle, or
/// kInvalidHandle.
Handle OpenNewPrivate(const std::string& name);

/// True when `name` is an existing regular file: not a directory, a FIFO,
/// a device or a socket.
bool IsRegularFile(const std::string& name);

}  // namespace runtime
