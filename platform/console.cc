#include "platform/console.h"

#include <stdio.h>

namespace tolvane {

void StdConsole::Out(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

void StdConsole::Err(const std::string& text) {
  fflush(stdout);
  fwrite(text.data(), 1, text.size(), stderr);
  fflush(stderr);
}

void StdConsole::WaitKey() { ReadKeyNoEcho(0); }

}  // namespace tolvane
