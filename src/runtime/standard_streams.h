// The three standard streams as the process found them at its start. A
// stream that a caller closed (`<&-`) must not be taken for an empty one,
// nor may a file the program opens later take its place.
#pragma once

namespace runtime {

/// Called first in main, before any file is opened: notes which standard
/// streams are closed and, on POSIX, puts the null device in their place
/// so that no file the program opens gets their descriptors (console lines
/// would otherwise be written into it).
void GuardStandardStreams();

/// The reason given when the mail file "-" is read from a closed input.
inline constexpr char kStandardInputClosed[] = "standard input is closed";

/// True when standard input was closed when the process started.
bool StandardInputClosed();

}  // namespace runtime
