// The activation stack: every function and method of the program opens with
//   const runtime::Activation activation("CLASS:METHOD", __LINE__);
// so that error records can name where they arose and list the calls that
// led there, with no debug information in the executable.
#pragma once

#include <cstddef>
#include <string>

namespace runtime {

class Activation {
 public:
  /// `name` must outlive the activation (a string literal).
  Activation(const char* name, int line) noexcept;
  ~Activation();
  Activation(const Activation&) = delete;
  Activation& operator=(const Activation&) = delete;
};

/// Name of activation n, counted from the innermost (0); empty beyond the
/// stack's depth.
std::string ProcName(std::size_t n = 0);
/// Source line of activation n; 0 beyond the stack's depth.
int ProcLine(std::size_t n = 0);
/// Number of activations on the stack.
std::size_t ActivationDepth();

}  // namespace runtime
