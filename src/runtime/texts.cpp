#include "runtime/texts.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "runtime/error_structure.h"
#include "runtime/format.h"

namespace runtime {

std::string AsString(const Value& v) {
  char buf[64];
  switch (v.Type()) {
    case kTypeNone:
      return "NIL";
    case kTypeLogical:
      return v.AsLogical() ? "TRUE" : "FALSE";
    case kTypeLong:
      return std::to_string(v.AsLong());
    case kTypeDouble: {
      std::string text = Str(v.AsDouble(), 0, Formats().decimals);
      return text;
    }
    case kTypeString:
      return v.AsStr();
    case kTypeSymbol:
      return v.AsSymbol().name;
    case kTypePointer:
      std::snprintf(buf, sizeof buf, "0x%0*llX", static_cast<int>(sizeof(void*) * 2),
                    static_cast<unsigned long long>(v.AsPointer().address));
      return buf;
    case kTypeArray:
      return "{[" + std::to_string(v.AsArray().size()) + "]}";
    case kTypeObject:
      return "{" + v.AsObject().class_name + "}";
    default:
      return "?";
  }
}

std::string ErrString(std::uint32_t gen_code) {
  static const std::map<std::uint32_t, const char*> kTexts = {
      {0, "No error"},
      {kGenArgument, "Argument error"},
      {kGenBound, "Bound error"},
      {kGenStringOverflow, "String overflow"},
      {kGenNumericOverflow, "Numeric overflow"},
      {kGenZeroDivide, "Division by zero"},
      {kGenNumeric, "Numeric error"},
      {kGenMemory, "Memory low"},
      {kGenNoFunction, "Undefined function"},
      {kGenNoMethod, "No exported method"},
      {kGenNoVariable, "Variable does not exist"},
      {kGenCreate, "Create error"},
      {kGenOpen, "Open error"},
      {kGenClose, "Close error"},
      {kGenRead, "Read error"},
      {kGenWrite, "Write error"},
      {kGenWrongClass, "Wrong class"},
      {kGenUnsupported, "Unsupported operation"},
      {kGenLimit, "Limit exceeded"},
      {kGenDataType, "Data type error"},
      {kGenLock, "Lock error"},
      {kGenException, "Processor exception"},
      {kGenInternal, "Internal error"},
  };
  auto it = kTexts.find(gen_code);
  return it == kTexts.end() ? "Unknown error" : it->second;
}

std::string TypeString(std::uint32_t type) {
  switch (type) {
    case kTypeNone: return "NIL";
    case kTypeLong: return "LONGINT";
    case kTypeDouble: return "FLOAT";
    case kTypeArray: return "ARRAY";
    case kTypeObject: return "OBJECT";
    case kTypeString: return "STRING";
    case kTypeLogical: return "LOGIC";
    case kTypeCodeBlock: return "CODEBLOCK";
    case kTypeSymbol: return "SYMBOL";
    case kTypeDword: return "DWORD";
    case kTypePointer: return "PTR";
    default: return "UNKNOWN";
  }
}

std::string Version() { return "postrine run-time 1.0"; }

double Val(const std::string& text) {
  // strtod reads the C locale's decimal point, which the program never
  // changes; a text with no number at its start is 0.
  const char* start = text.c_str();
  char* end = nullptr;
  double value = std::strtod(start, &end);
  return end == start ? 0.0 : value;
}

std::uint32_t SymbolWord(const Symbol& s) {
  if (s.name.empty()) return 0;
  static std::map<std::string, std::uint32_t> table;
  auto [it, added] = table.emplace(s.name, static_cast<std::uint32_t>(table.size() + 1));
  (void)added;
  return it->second;
}

}  // namespace runtime
