#include "runtime/files.h"

#include "runtime/activation.h"
#include "runtime/error_slot.h"

namespace runtime {

namespace {
std::uint32_t g_ferror = 0;

// Opens or creates; a conflict goes to the handler, which may ask to try
// again (true) or let the operation fail with its default (anything else).
Handle OpenRaising(const char* operation, const std::string& name, unsigned mode, bool create, unsigned attributes) {
  // The conflict flag tells of this open alone: left over from an earlier
  // conflict it would make a missing file look like a busy one.
  NetErr(false);
  for (std::uint32_t tries = 1;; ++tries) {
    std::uint32_t code = 0;
    Handle h = detail::PlatformOpen(name, mode, create, attributes, code);
    g_ferror = h == kInvalidHandle ? code : 0;
    if (h != kInvalidHandle) return h;
    if (code != kOsSharingViolation && code != kOsLockViolation) return kInvalidHandle;
    const Value args_values[] = {Value(name), Value(create ? attributes : mode)};
    const ArgumentBlock args{2, 2, args_values};
    ErrorStructure es;
    es.SubSystem = "RUNTIME";
    es.GenCode = kGenOpen;
    es.OsCode = code;
    es.Severity = 2;
    es.CanDefault = 1;
    es.CanRetry = 1;
    es.Operation = operation;
    es.Description = code == kOsLockViolation ? "The file is locked by another process"
                                              : "The file is in use by another process";
    es.FileName = name.c_str();
    es.Args = &args;
    es.Tries = tries;
    es.FuncSym = SymbolSlot(operation);
    Value answer = RaiseError(es);
    if (!(answer.IsLogical() && answer.AsLogical())) {
      g_ferror = code;
      return kInvalidHandle;
    }
  }
}
}  // namespace

namespace detail {
void SetFError(std::uint32_t code) { g_ferror = code; }
}  // namespace detail

Handle FOpen(const std::string& name, unsigned mode) {
  const Activation activation("FOPEN", __LINE__);
  return OpenRaising("FOPEN", name, mode, false, 0);
}

Handle FCreate(const std::string& name, unsigned attributes) {
  const Activation activation("FCREATE", __LINE__);
  return OpenRaising("FCREATE", name, FO_READWRITE, true, attributes);
}

std::size_t FPutS(Handle h, std::string_view text) {
  const Activation activation("FPUTS", __LINE__);
  std::string line(text);
  line += "\r\n";
  return FWrite(h, line);
}

std::uint32_t FError() { return g_ferror; }

}  // namespace runtime
