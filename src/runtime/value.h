// Value: one small variant for the places where a value of any kind is
// needed (error record fields, property sets that ignore other types, the
// error handler's argument and result). Everything else uses plain C++ types.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace runtime {

/// Type codes of the run-time's values.
enum TypeCode : std::uint32_t {
  kTypeNone = 0,
  kTypeLong = 1,
  kTypeDouble = 3,
  kTypeArray = 5,
  kTypeObject = 6,
  kTypeString = 7,
  kTypeLogical = 8,
  kTypeCodeBlock = 9,
  kTypeSymbol = 10,
  kTypeDword = 14,
  kTypePointer = 18,
};

class Value;
using Array = std::vector<Value>;

/// A symbol: a name, empty for none.
struct Symbol {
  std::string name;
  bool operator==(const Symbol&) const = default;
};

/// An address, printed but never followed.
struct Pointer {
  std::uintptr_t address = 0;
  bool operator==(const Pointer&) const = default;
};

/// An object of the program, known by its class name.
struct Object {
  std::shared_ptr<void> instance;
  std::string class_name;
  bool operator==(const Object& o) const { return instance == o.instance; }
};

class Value {
 public:
  using Storage =
      std::variant<std::monostate, bool, std::int64_t, double, std::string, Array, Symbol, Pointer, Object>;

  Value() = default;
  Value(bool b) : v_(b) {}
  Value(int i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned long long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(Array a) : v_(std::move(a)) {}
  Value(Symbol s) : v_(std::move(s)) {}
  Value(Pointer p) : v_(p) {}
  Value(Object o) : v_(std::move(o)) {}

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(v_); }
  bool IsLogical() const { return std::holds_alternative<bool>(v_); }
  bool IsLong() const { return std::holds_alternative<std::int64_t>(v_); }
  bool IsDouble() const { return std::holds_alternative<double>(v_); }
  bool IsNumber() const { return IsLong() || IsDouble(); }
  bool IsString() const { return std::holds_alternative<std::string>(v_); }
  bool IsArray() const { return std::holds_alternative<Array>(v_); }
  bool IsSymbol() const { return std::holds_alternative<Symbol>(v_); }
  bool IsPointer() const { return std::holds_alternative<Pointer>(v_); }
  bool IsObject() const { return std::holds_alternative<Object>(v_); }

  /// The run-time's type code; 0 for an empty value.
  TypeCode Type() const;

  bool AsLogical() const { return std::get<bool>(v_); }
  std::int64_t AsLong() const { return std::get<std::int64_t>(v_); }
  double AsDouble() const { return std::get<double>(v_); }
  /// A number of either kind as a double.
  double AsNumber() const { return IsLong() ? static_cast<double>(AsLong()) : AsDouble(); }
  const std::string& AsStr() const { return std::get<std::string>(v_); }
  const Array& AsArray() const { return std::get<Array>(v_); }
  const Symbol& AsSymbol() const { return std::get<Symbol>(v_); }
  const Pointer& AsPointer() const { return std::get<Pointer>(v_); }
  const Object& AsObject() const { return std::get<Object>(v_); }

  const Storage& storage() const { return v_; }
  bool operator==(const Value& o) const { return v_ == o.v_; }

 private:
  Storage v_;
};

}  // namespace runtime
