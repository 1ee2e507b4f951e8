#include "runtime/value.h"

namespace runtime {

TypeCode Value::Type() const {
  static constexpr TypeCode kCodes[] = {kTypeNone,  kTypeLogical, kTypeLong,    kTypeDouble, kTypeString,
                                        kTypeArray, kTypeSymbol,  kTypePointer, kTypeObject};
  return kCodes[v_.index()];
}

}  // namespace runtime
