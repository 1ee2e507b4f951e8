#include "runtime/conversion.h"

#include <cmath>
#include <string>

#include "runtime/error_slot.h"
#include "runtime/texts.h"

namespace runtime {

std::int64_t ToLong(const Value& v, const char* operation, std::uint32_t arg_num) {
  if (v.IsLong()) return v.AsLong();
  if (v.IsDouble() && std::isfinite(v.AsDouble())) return static_cast<std::int64_t>(std::trunc(v.AsDouble()));
  const std::string text = AsString(v);
  const Value args_values[] = {v};
  const ArgumentBlock args{1, 1, args_values};
  ErrorStructure es;
  es.SubSystem = "RUNTIME";
  es.GenCode = kGenDataType;
  es.Severity = 2;
  es.CanDefault = 1;
  es.CanSubstitute = 1;
  es.Operation = operation;
  es.Description = "The value is not a number";
  es.Args = &args;
  es.FuncSym = SymbolSlot(operation);
  es.ArgNum = arg_num;
  es.Arg = text.c_str();
  es.ArgType = v.Type();
  es.ArgTypeReq = kTypeLong;
  es.SubstituteType = kTypeLong;
  const Value answer = RaiseError(es);
  if (answer.IsLong()) return answer.AsLong();
  if (answer.IsDouble() && std::isfinite(answer.AsDouble())) return static_cast<std::int64_t>(answer.AsDouble());
  return 0;
}

}  // namespace runtime
