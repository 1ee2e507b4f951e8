#include "error/field_block.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/activation.h"
#include "runtime/files.h"
#include "runtime/texts.h"
#include "runtime/ascii.h"

namespace {
std::string Hex8(std::uint32_t word) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(word));
  return buf;
}

std::string Line(const char* label, const std::string& value) { return std::string(label) + value + "\r\n"; }

runtime::Value Num(std::uint32_t n) { return runtime::Value(n); }

std::string HexOfDouble(double d) {
  // Wide: not a whole number, or outside the 32-bit ranges.
  const bool wide = d != std::floor(d) || !std::isfinite(d) || d > 4294967295.0 || d < -2147483647.0;
  if (wide) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    return Hex8(static_cast<std::uint32_t>(bits)) + Hex8(static_cast<std::uint32_t>(bits >> 32));
  }
  if (d > 0) return Hex8(static_cast<std::uint32_t>(d));
  return Hex8(static_cast<std::uint32_t>(static_cast<std::int32_t>(d)));
}
}  // namespace

std::string String2Hex(const std::string& text) {
  const runtime::Activation activation("STRING2HEX", __LINE__);
  std::string hex;
  hex.reserve(text.size() * 3);
  for (unsigned char c : text) {
    runtime::AppendHex(hex, c);
    hex += ' ';
  }
  return hex;
}

std::string Value2Hex(const runtime::Value& v) {
  const runtime::Activation activation("VALUE2HEX", __LINE__);
  switch (v.Type()) {
    case runtime::kTypeString:
      return String2Hex(v.AsStr());
    case runtime::kTypeDouble:
      return HexOfDouble(v.AsDouble());
    case runtime::kTypeLong:
      return Hex8(static_cast<std::uint32_t>(v.AsLong()));
    case runtime::kTypeLogical:
      return Hex8(v.AsLogical() ? 1 : 0);
    case runtime::kTypePointer:
      return Hex8(static_cast<std::uint32_t>(v.AsPointer().address));
    case runtime::kTypeSymbol:
      return Hex8(runtime::SymbolWord(v.AsSymbol()));
    case runtime::kTypeObject:
      return Hex8(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(v.AsObject().instance.get())));
    default:
      return Hex8(0);
  }
}

std::string error::ErrorFieldBlock(const Error& e, const std::vector<std::string>& after_gencode) {
  const runtime::Activation activation("ERRORFIELDBLOCK", __LINE__);
  using runtime::AsString;
  using runtime::TypeString;
  std::string block;
  block += Line("SubSystem       :", AsString(e.SubSystem));
  block += Line("SubCode         :", AsString(Num(e.SubCode)));
  block += Line("GenCode         :", runtime::ErrString(e.GenCode));
  for (const std::string& line : after_gencode) block += line + "\r\n";
  if (e.SubCode == runtime::kSubCodeException) {
    block += Line("ExceptionCode   :", Value2Hex(Num(e.OsCode)));
    block += Line("ExceptionFlags  :", Value2Hex(Num(e.ArgType)));
    block += Line("ExceptionAddress:", Value2Hex(e.FuncPtr));
    block += Line("ParamNumber     :", AsString(Num(e.ArgNum)));
    block += Line("ExceptionInfo   :", Value2Hex(e.FuncSym));
  } else {
    block += Line("OsCode          :", AsString(Num(e.OsCode)));
    block += Line("ArgType         :", TypeString(e.ArgType));
    block += Line("FuncPtr         :", AsString(e.FuncPtr));
    block += Line("ArgNum          :", AsString(Num(e.ArgNum)));
    block += Line("FuncSym         :", AsString(e.FuncSym));
  }
  block += Line("Severity        :", AsString(Num(e.Severity)));
  block += Line("CanDefault      :", AsString(e.CanDefault));
  block += Line("CanRetry        :", AsString(e.CanRetry));
  block += Line("CanSubstitute   :", AsString(e.CanSubstitute));
  block += Line("Operation       :", AsString(e.Operation));
  block += Line("Description     :", AsString(e.Description));
  block += Line("FileName        :", AsString(e.FileName));
  block += Line("Tries           :", AsString(Num(e.Tries)));
  block += Line("FileHandle      :", AsString(Num(e.FileHandle)));
  block += Line("SubCodeText     :", AsString(e.SubCodeText));
  block += Line("Arg             :", AsString(e.Arg));
  block += Line("ArgTypeReq      :", TypeString(e.ArgTypeReq));
  block += Line("MaxSize         :", AsString(Num(e.MaxSize)));
  block += Line("SubstituteType  :", TypeString(e.SubstituteType));
  block += Line("CallFuncSym     :", AsString(e.CallFuncSym));
  block += "--------------------\r\n";
  return block;
}

void error::WriteErrorFieldBlock(runtime::Handle h, const Error& e, const std::vector<std::string>& after_gencode) {
  const runtime::Activation activation("WRITEERRORFIELDBLOCK", __LINE__);
  runtime::FWrite(h, error::ErrorFieldBlock(e, after_gencode));
}
