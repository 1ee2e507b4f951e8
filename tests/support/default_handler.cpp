#include "support/default_handler.h"

#include "error/def_error.h"

namespace test_support {

void InstallDefaultHandler() {
  InstallDefError();
  RegisterDefErrorGen();
}

}  // namespace test_support
