// The low-level error structure in which the run-time describes an error
// before any error record exists, and the generic error codes shared by
// every component. The registered error function turns a structure into a
// record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/value.h"

namespace runtime {

/// Argument block of a failing call: two counts and the values. The number
/// of values is the larger of the two counts.
struct ArgumentBlock {
  std::uint16_t count = 0;
  std::uint16_t count2 = 0;
  const Value* values = nullptr;
};

/// One 32-bit slot per field on a 32-bit build (100 bytes in all). Texts are
/// NUL-terminated and may be null. A symbol slot holds the address of the
/// symbol's upper-case name, 0 for the empty symbol; in a processor
/// exception report (SubCode 5333) FuncSym holds the exception information
/// word instead.
struct ErrorStructure {
  const char* SubSystem = nullptr;
  std::uint32_t SubCode = 0;
  std::uint32_t GenCode = 0;
  std::uint32_t OsCode = 0;
  std::uint32_t Severity = 0;
  std::uint32_t CanDefault = 0;
  std::uint32_t CanRetry = 0;
  std::uint32_t CanSubstitute = 0;
  const char* Operation = nullptr;
  const char* Description = nullptr;
  const char* FileName = nullptr;
  const ArgumentBlock* Args = nullptr;
  std::uint32_t Tries = 0;
  std::uintptr_t FuncSym = 0;
  std::uint32_t FileHandle = 0;
  std::uint32_t ArgNum = 0;
  const void* FuncPtr = nullptr;
  const char* SubCodeText = nullptr;
  const char* Arg = nullptr;
  std::uint32_t ArgType = 0;
  std::uint32_t ArgTypeReq = 0;
  std::uint32_t MaxSize = 0;
  std::uint32_t SubstituteType = 0;
  std::uint32_t Choice = 0;
  std::uintptr_t CallFuncSym = 0;
};

/// The symbol slot for a name (a string literal or other long-lived text).
inline std::uintptr_t SymbolSlot(const char* name) { return reinterpret_cast<std::uintptr_t>(name); }

// On a 32-bit build the structure is exactly the run-time's 100-byte layout.
static_assert(sizeof(void*) != 4 || sizeof(ErrorStructure) == 100, "ErrorStructure must be 100 bytes");
static_assert(sizeof(void*) != 4 || offsetof(ErrorStructure, Operation) == 32, "Operation at 32");
static_assert(sizeof(void*) != 4 || offsetof(ErrorStructure, Args) == 44, "Args at 44");
static_assert(sizeof(void*) != 4 || offsetof(ErrorStructure, FuncSym) == 52, "FuncSym at 52");
static_assert(sizeof(void*) != 4 || offsetof(ErrorStructure, FuncPtr) == 64, "FuncPtr at 64");
static_assert(sizeof(void*) != 4 || offsetof(ErrorStructure, ArgType) == 76, "ArgType at 76");
static_assert(sizeof(void*) != 4 || offsetof(ErrorStructure, CallFuncSym) == 96, "CallFuncSym at 96");

/// SubCode of a record that reports a processor exception.
inline constexpr std::uint32_t kSubCodeException = 5333;

/// Generic error codes (GenCode). Their texts come from ErrString.
enum GenericCode : std::uint32_t {
  kGenArgument = 1,
  kGenBound = 2,
  kGenStringOverflow = 3,
  kGenNumericOverflow = 4,
  kGenZeroDivide = 5,
  kGenNumeric = 6,
  kGenMemory = 11,
  kGenNoFunction = 12,
  kGenNoMethod = 13,
  kGenNoVariable = 14,
  kGenCreate = 20,
  kGenOpen = 21,
  kGenClose = 22,
  kGenRead = 23,
  kGenWrite = 24,
  kGenWrongClass = 28,
  kGenUnsupported = 30,
  kGenLimit = 31,
  kGenDataType = 33,
  kGenLock = 40,
  kGenException = 50,
  kGenInternal = 51,
};

/// Windows system error codes the program tests for; the POSIX back ends
/// report their failures in the same codes.
inline constexpr std::uint32_t kOsFileNotFound = 2;
inline constexpr std::uint32_t kOsPathNotFound = 3;
inline constexpr std::uint32_t kOsAccessDenied = 5;
inline constexpr std::uint32_t kOsSharingViolation = 32;
inline constexpr std::uint32_t kOsLockViolation = 33;

}  // namespace runtime
