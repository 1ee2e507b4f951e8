// The error record: the fields that describe one run-time error, the call
// stack captured when it is created, and DefErrorGen, which builds a record
// from the run-time's low-level error structure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/error_structure.h"
#include "runtime/value.h"

class Error {
 public:
  /// Error:Init. `skip`: the number of innermost activations (counted from
  /// the caller) left out of `Stack`; 0 when it is not a number.
  explicit Error(const runtime::Value& skip = runtime::Value());
  virtual ~Error() = default;

  /// Hands the record to the current handler; returns its answer.
  runtime::Value Throw() const;

  std::string SubSystem;
  std::uint32_t SubCode = 0;
  std::uint32_t GenCode = 0;
  std::uint32_t OsCode = 0;
  std::uint32_t Severity = 0;
  bool CanDefault = false;
  bool CanRetry = false;
  bool CanSubstitute = false;
  std::string Operation;
  std::string Description;
  std::string FileName;
  runtime::Array Args;
  std::uint32_t Tries = 0;
  /// A symbol; in a processor exception report the exception information.
  runtime::Value FuncSym = runtime::Symbol{};
  std::uint32_t FileHandle = 0;
  std::uint32_t ArgNum = 0;
  runtime::Pointer FuncPtr;
  std::string SubCodeText;
  std::string Arg;
  std::uint32_t ArgType = 0;
  std::uint32_t ArgTypeReq = 0;
  std::uint32_t MaxSize = 0;
  std::uint32_t SubstituteType = 0;
  std::uint32_t Choice = 0;
  runtime::Symbol CallFuncSym;
  runtime::Value Cargo;
  runtime::Value MethodSelf;
  std::string Stack;
};

namespace error {

/// The running executable's name without its directory.
std::string ApplicationName();

/// The record as a value of the run-time (an object of class "ERROR").
runtime::Value ErrorValue(std::shared_ptr<Error> record);
/// The record held by `v`; null when `v` is not an error record.
std::shared_ptr<Error> AsError(const runtime::Value& v);

/// The test point for a record that cannot be created: when set, the next
/// record fails to be created.
void FailNextErrorCreation();

}  // namespace error

/// One line per activation from `skip` outward (0 = the caller), at most 5:
/// name, " (Line:", line, ")" and CR LF; "*EmptyCallStack*" and CR LF when
/// none is listed.
std::string CallStackText(std::uint32_t skip);

/// Builds a record from a Pointer to an ErrorStructure. Without a record
/// (no memory) it reports that and returns an empty value.
runtime::Value DefErrorGen(const runtime::Value& structure);
