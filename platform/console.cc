#include "platform/console.h"

#include <stdio.h>

namespace tolvane {

void StdConsole::write_out(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

void StdConsole::write_err(const std::string& text) {
  fflush(stdout);
  fwrite(text.data(), 1, text.size(), stderr);
  fflush(stderr);
}

void StdConsole::wait_key() { read_key_no_echo(0); }

}  // namespace tolvane
