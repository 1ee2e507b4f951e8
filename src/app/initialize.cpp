#include "app/postrine.h"
#include "runtime/activation.h"

bool Postrine::Initialize() {
  const runtime::Activation activation("POSTRINE:INITIALIZE", __LINE__);
  return false;
}
