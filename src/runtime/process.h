// The process as the run-time layer knows it: its command line, its
// executable, its exit code and the pause.
#pragma once

#include <string>
#include <vector>

namespace runtime {

/// Called once from main, before anything asks for the command line.
void InitProcess(int argc, char** argv);

/// The command line as one text. On Windows the wide command line as
/// UTF-8, so that no character outside the ANSI code page is lost; on
/// POSIX the arguments (bytes, taken as they are) joined by single blanks,
/// each quoted only where it needs it, so that splitting at blanks with
/// double quotes gives back the arguments.
std::string CommandLine();

/// False when the command line holds something that is no text (on
/// Windows an unpaired UTF-16 surrogate, which CommandLine gives as
/// U+FFFD); always true on POSIX.
bool CommandLineIsText();

/// The command line text for an argument list, as CommandLine builds it.
/// An argument that ends in a backslash can be split back only when it is
/// the last one; anywhere else its closing quote would read as escaped.
std::string JoinCommandLine(const std::vector<std::string>& args);

/// The executable's full name, at most 1023 bytes (on Windows UTF-8, cut
/// at a character); empty when unknown.
std::string ExeFileName();

/// Pauses the process for `ms` milliseconds. The program always pauses for
/// real; unit tests may replace the pause function to keep their time.
void Sleep(unsigned ms);
using PauseFunction = void (*)(unsigned ms);
/// Replaces the pause function; returns the previous one. nullptr restores
/// the real pause.
PauseFunction SetPauseFunction(PauseFunction fn);
/// The real pause, whatever the pause function is.
void PlatformSleepFor(unsigned ms);

/// The exit status that tells `code` to the caller: the code itself, except
/// that a code the system would read as success (0, or on POSIX a multiple
/// of 256, which the status cannot hold) becomes 1.
int ExitStatusFor(unsigned long code);

/// Ends the process through the normal exit with `code`.
[[noreturn]] void Quit(int code);
/// From now on Quit ends the process at once, without running the exit
/// handlers: after a processor exception the program's state cannot be
/// trusted to clean up (a fault inside the allocator would deadlock it).
void QuitWithoutCleanup();

/// The exit code that main returns.
void SetErrorLevel(int code);
int ErrorLevel();

}  // namespace runtime
