// LogFile:DumpError: a labelled listing of an error record appended to the
// log: a banner, the run-time's version, the date and time, and the error
// field block with the record's call stack after its GenCode line.
#include <string_view>
#include <vector>

#include "error/error.h"
#include "error/field_block.h"
#include "log/fopen_retry.h"
#include "log/log_file.h"
#include "runtime/activation.h"
#include "runtime/files.h"
#include "runtime/format.h"
#include "runtime/texts.h"

namespace {

// The call-stack text as lines of the dump: one per piece between CR LFs,
// up to the first empty piece; none for a text of blanks and line ends.
std::vector<std::string> StackLines(std::string_view stack) {
  const runtime::Activation activation("STACKLINES", __LINE__);
  std::vector<std::string> lines;
  if (stack.find_first_not_of(" \t\r\n") == std::string_view::npos) return lines;
  std::size_t from = 0;
  while (from < stack.size()) {
    const std::size_t end = stack.find("\r\n", from);
    const std::string_view piece = stack.substr(from, end == std::string_view::npos ? end : end - from);
    if (piece.empty()) break;
    lines.push_back(std::string(lines.empty() ? "Stack           :" : "                :") + "'" +
                    std::string(piece) + "'");
    if (end == std::string_view::npos) break;
    from = end + 2;
  }
  return lines;
}

}  // namespace

LogFile& LogFile::DumpError(const Error& error) {
  const runtime::Activation activation("LOGFILE:DUMPERROR", __LINE__);
  const runtime::Handle h = logging::OpenLogForWrite(fname_);
  if (h == runtime::kInvalidHandle) return *this;
  runtime::FSeek(h, 0, runtime::FS_END);
  runtime::FPutS(h, "***********************ERROR********************************");
  runtime::FPutS(h, runtime::Version());
  runtime::FPutS(h, runtime::DToC(runtime::Today()) + " " + runtime::Time());
  runtime::FPutS(h, " ");
  runtime::FPutS(h, "Error Object created:");
  runtime::FPutS(h, "--------------------");
  error::WriteErrorFieldBlock(h, error, StackLines(error.Stack));
  runtime::FClose(h);
  return *this;
}
