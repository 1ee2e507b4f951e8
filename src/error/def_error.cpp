#include "error/def_error.h"

#include "error/error.h"
#include "error/error_log.h"
#include "runtime/activation.h"
#include "runtime/error_dialog.h"
#include "runtime/error_slot.h"
#include "runtime/files.h"
#include "runtime/handle.h"
#include "runtime/process.h"
#include "runtime/recovery.h"
#include "runtime/texts.h"

namespace {
constexpr std::uint32_t kQuit = 0x80000000u;
constexpr std::uint32_t kQuitToRecovery = 0x80000003u;

// The handler's own structure, for the records it builds itself.
runtime::ErrorStructure g_structure;
bool g_in_def_error = false;

std::shared_ptr<Error> WrongClassRecord(const runtime::Value& value) {
  const std::string text = runtime::AsString(value);
  g_structure = runtime::ErrorStructure{};
  g_structure.GenCode = runtime::kGenWrongClass;
  g_structure.Severity = 2;
  g_structure.FuncSym = runtime::SymbolSlot("DEFERROR");
  g_structure.Arg = text.c_str();
  g_structure.ArgNum = 1;
  g_structure.CanDefault = 1;
  const runtime::Value pointer(runtime::Pointer{reinterpret_cast<std::uintptr_t>(&g_structure)});
  std::shared_ptr<Error> record = error::AsError(runtime::ErrorBuild(g_structure));
  return record != nullptr ? record : error::AsError(DefErrorGen(pointer));
}

struct Reentry {
  Reentry() { g_in_def_error = true; }
  ~Reentry() { g_in_def_error = false; }
};
}  // namespace

runtime::Value DefError(const runtime::Value& value) {
  const runtime::Activation activation("DEFERROR", __LINE__);
  std::shared_ptr<Error> record = error::AsError(value);
  if (record == nullptr) record = WrongClassRecord(value);
  if (record == nullptr) return runtime::Value(false);  // no memory even for the report
  if (g_in_def_error) {
    // An error while an error is being reported: tell it once, go on.
    runtime::WriteHandle(runtime::GetStdHandle(runtime::StdHandle::Error), ErrorMessageText(*record));
    return runtime::Value(false);
  }
  Reentry reentry;
  const runtime::HandlerActive active;

  if (record->CanDefault && record->GenCode == runtime::kGenOpen &&
      (record->OsCode == runtime::kOsSharingViolation || record->OsCode == runtime::kOsLockViolation)) {
    runtime::NetErr(true);
    return runtime::Value(false);
  }
  const std::string caption = record->Severity == 1 ? "WARNING" : "ERROR";
  if (record->SubstituteType == runtime::kTypePointer) record->Severity = 3;

  std::string text = ErrorMessageText(*record);
  if (record->Stack.empty()) record->Stack = CallStackText(1);
  if (!record->Stack.empty()) text += "CallStack:\r\n" + record->Stack;

  if (runtime::SetBeep()) {
    runtime::Tone(440, 1);
    runtime::Tone(494, 1);
    runtime::Tone(523, 1);
  }

  const std::uint32_t default_option = record->CanDefault || record->CanSubstitute ? 1 : 0;
  std::uint32_t retry_option = 0;
  if (record->CanRetry) {
    if (record->GenCode == runtime::kGenNoVariable) {
      record->CanRetry = false;
    } else {
      retry_option = 2;
    }
  }
  const std::uint32_t quit_option = runtime::CanBreak() ? kQuitToRecovery : kQuit;

  if (runtime::SetErrorLog()) {
    runtime::Handle log = ErrorLogOpen();
    if (log != runtime::kInvalidHandle) {
      runtime::FSeek(log, 0, runtime::FS_END);
      ErrorLogWrite(log, text, *record);
      runtime::FClose(log);
    }
  }

  const std::uint32_t answer = runtime::ErrorMessageBox(text, caption, default_option, retry_option, quit_option);
  if (answer == runtime::kAnswerDefault) {
    return record->CanSubstitute ? runtime::EmptyUsual(record->SubstituteType) : runtime::Value(false);
  }
  if (answer == runtime::kAnswerRetry) return runtime::Value(true);
  runtime::MathInit();
  if (runtime::CanBreak()) runtime::Break(error::ErrorValue(record));
  // An error never ends the process with the status of success.
  runtime::Quit(runtime::ExitStatusFor(record->GenCode));
}

bool error::InstallDefError() {
  const runtime::Activation activation("INSTALLDEFERROR", __LINE__);
  if (runtime::ErrorBlock()) return false;
  runtime::ErrorBlock([](const runtime::Value& record) { return DefError(record); });
  return true;
}

void error::RegisterDefErrorGen() {
  const runtime::Activation activation("REGISTERDEFERRORGEN", __LINE__);
  if (runtime::ClientCount() == 1) runtime::ErrorFunc(DefErrorGen);
}
