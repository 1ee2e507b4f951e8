#include "app/postrine.h"

#include "runtime/activation.h"

Postrine::Postrine() : ConsoleWindow(runtime::Value(false)) {
  const runtime::Activation activation("POSTRINE:INIT", __LINE__);
}

void Postrine::Cleanup() {
  const runtime::Activation activation("POSTRINE:CLEANUP", __LINE__);
  // Undo the red or white of the usage text and the error line.
  ConsoleWindow.TextAttribute(7);
  EndTrace();
}

void Start() {
  const runtime::Activation activation("START", __LINE__);
  Postrine app;
  if (app.Initialize()) {
    app.Process();
  }
  app.Cleanup();
}
