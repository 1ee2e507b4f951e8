#include "app/postrine.h"
#include "runtime/activation.h"

bool Postrine::Process() {
  const runtime::Activation activation("POSTRINE:PROCESS", __LINE__);
  return true;
}
