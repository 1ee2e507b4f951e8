#include "error/error.h"

#include <new>

#include "runtime/activation.h"
#include "runtime/error_dialog.h"
#include "runtime/error_slot.h"
#include "runtime/process.h"

namespace {
constexpr std::size_t kCallStackLimit = 5;
constexpr char kErrorClass[] = "ERROR";
bool g_fail_next_creation = false;

// The stack for a record made by Error:Init, whose caller is `skip` + 1
// activations out from here (this frame and Error:Init's own).
std::string StackFor(std::uint32_t skip, std::size_t own_frames) {
  const std::size_t depth = runtime::ActivationDepth();
  std::string text;
  std::size_t lines = 0;
  // Counted in 64 bits: with a 32-bit size_t the largest skip would wrap
  // around to the innermost frame.
  for (std::uint64_t n = std::uint64_t{skip} + own_frames; n < depth && lines < kCallStackLimit; ++n, ++lines) {
    const auto frame = static_cast<std::size_t>(n);
    std::string name = runtime::ProcName(frame);
    if (name.empty()) name = "*ProcName*";
    text += name + " (Line:" + std::to_string(runtime::ProcLine(frame)) + ")\r\n";
  }
  return lines == 0 ? "*EmptyCallStack*\r\n" : text;
}

std::string Text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

runtime::Symbol SymbolAt(std::uintptr_t slot) {
  return runtime::Symbol{slot != 0 ? std::string(reinterpret_cast<const char*>(slot)) : std::string()};
}
}  // namespace

Error::Error(const runtime::Value& skip) {
  const runtime::Activation activation("ERROR:INIT", __LINE__);
  std::uint32_t n = 0;
  if (skip.IsNumber() && skip.AsNumber() > 0) n = static_cast<std::uint32_t>(skip.AsNumber());
  Stack = StackFor(n, 1);
  SubSystem = error::ApplicationName();
}

std::string error::ApplicationName() {
  std::string exe = runtime::ExeFileName();
  std::size_t cut = exe.find_last_of("\\/");
  return cut == std::string::npos ? exe : exe.substr(cut + 1);
}

runtime::Value Error::Throw() const {
  const runtime::Activation activation("ERROR:THROW", __LINE__);
  runtime::ErrorHandler handler = runtime::ErrorBlock();
  if (!handler) return runtime::Value();
  return handler(error::ErrorValue(std::make_shared<Error>(*this)));
}

runtime::Value error::ErrorValue(std::shared_ptr<Error> record) {
  return runtime::Value(runtime::Object{std::static_pointer_cast<void>(std::move(record)), kErrorClass});
}

std::shared_ptr<Error> error::AsError(const runtime::Value& v) {
  if (!v.IsObject() || v.AsObject().class_name != kErrorClass) return nullptr;
  return std::static_pointer_cast<Error>(v.AsObject().instance);
}

std::string CallStackText(std::uint32_t skip) {
  const runtime::Activation activation("CALLSTACKTEXT", __LINE__);
  return StackFor(skip, 1);
}

void error::FailNextErrorCreation() { g_fail_next_creation = true; }

runtime::Value DefErrorGen(const runtime::Value& structure) {
  const runtime::Activation activation("DEFERRORGEN", __LINE__);
  std::shared_ptr<Error> record;
  try {
    if (g_fail_next_creation) {
      g_fail_next_creation = false;
      throw std::bad_alloc();
    }
    record = std::make_shared<Error>(runtime::Value(0));
  } catch (const std::bad_alloc&) {
    runtime::InfoBox("No error object created !", "FROM DefErrorGen");
    return runtime::Value();
  }
  if (!structure.IsPointer() || structure.AsPointer().address == 0) {
    runtime::InfoBox("Error structure has wrong tag", "FROM DefErrorGen");
    return error::ErrorValue(record);
  }
  const auto& es = *reinterpret_cast<const runtime::ErrorStructure*>(structure.AsPointer().address);
  record->SubSystem = Text(es.SubSystem);
  record->SubCode = es.SubCode;
  record->GenCode = es.GenCode;
  record->OsCode = es.OsCode;
  record->Severity = es.Severity;
  record->CanDefault = es.CanDefault != 0;
  record->CanRetry = es.CanRetry != 0;
  record->CanSubstitute = es.CanSubstitute != 0;
  record->Operation = Text(es.Operation);
  record->Description = Text(es.Description);
  record->FileName = Text(es.FileName);
  if (es.Args != nullptr) {
    const std::size_t count = es.Args->count > es.Args->count2 ? es.Args->count : es.Args->count2;
    if (es.Args->values != nullptr) record->Args.assign(es.Args->values, es.Args->values + count);
  }
  record->Tries = es.Tries;
  // An exception report carries the exception information word here.
  if (es.SubCode == runtime::kSubCodeException) {
    record->FuncSym = runtime::Value(static_cast<std::uint32_t>(es.FuncSym));
  } else {
    record->FuncSym = SymbolAt(es.FuncSym);
  }
  record->FileHandle = es.FileHandle;
  record->ArgNum = es.ArgNum;
  record->FuncPtr = runtime::Pointer{reinterpret_cast<std::uintptr_t>(es.FuncPtr)};
  record->SubCodeText = Text(es.SubCodeText);
  record->Arg = Text(es.Arg);
  record->ArgType = es.ArgType;
  record->ArgTypeReq = es.ArgTypeReq;
  record->MaxSize = es.MaxSize;
  record->SubstituteType = es.SubstituteType;
  record->Choice = es.Choice;
  record->CallFuncSym = SymbolAt(es.CallFuncSym);
  return error::ErrorValue(record);
}
