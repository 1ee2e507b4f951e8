// Owners for what the system and its C libraries hand out and want back:
// a pointer freed by its library's function, and a handle (a descriptor, a
// socket, a Windows HANDLE) closed by its own. Whatever path a function
// leaves by, what it got is given back once.
#pragma once

#include <memory>
#include <utility>

namespace runtime {

template <auto Free>
struct FreeWith {
  template <class T>
  void operator()(T* p) const {
    Free(p);
  }
};

/// A pointer that `Free` releases, e.g. Owned<SSL, SSL_free>.
template <class T, auto Free>
using Owned = std::unique_ptr<T, FreeWith<Free>>;

/// A handle of the kind `Traits` describes: its `Value` type, the
/// `Invalid()` value, `Valid(v)` and `Close(v)`.
template <class Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() = default;
  explicit UniqueHandle(Value v) : v_(v) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : v_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Value get() const { return v_; }
  /// For a call that hands the handle out through a pointer.
  Value* put() {
    reset();
    return &v_;
  }
  Value release() { return std::exchange(v_, Traits::Invalid()); }
  void reset(Value v = Traits::Invalid()) {
    if (Traits::Valid(v_)) Traits::Close(v_);
    v_ = v;
  }
  explicit operator bool() const { return Traits::Valid(v_); }

 private:
  Value v_ = Traits::Invalid();
};

}  // namespace runtime
