#include "support/default_handler.h"

#include "error/def_error.h"

namespace test_support {

void InstallDefaultHandler() {
  error::InstallDefError();
  error::RegisterDefErrorGen();
}

}  // namespace test_support
