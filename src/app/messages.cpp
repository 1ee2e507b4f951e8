#include "app/postrine.h"
#include "runtime/activation.h"

void Postrine::OutputUsage() {
  const runtime::Activation activation("POSTRINE:OUTPUTUSAGE", __LINE__);
}

void Postrine::WriteError(const std::string& message) {
  const runtime::Activation activation("POSTRINE:WRITEERROR", __LINE__);
  ConsoleWindow.TextAttribute(12);
  ConsoleWindow.WriteLine(message);
}

std::string Postrine::GetTimeStamp() {
  const runtime::Activation activation("POSTRINE:GETTIMESTAMP", __LINE__);
  return {};
}
