// Tolvane: compiles a message source into a table of an MSG catalogue and
// keeps the names header in step.
#include <signal.h>

#include <string>
#include <vector>

#include "driver/run.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/native_file_system.h"

int main(int argc, char** argv) {
  // Past a file-size limit a write must fail like any other, so that the run
  // is undone, rather than end the process with the files half replaced.
#ifdef SIGXFSZ
  signal(SIGXFSZ, SIG_IGN);
#endif
  std::vector<std::string> args = tolvane::ProgramArguments(argc, argv);
  tolvane::NativeFileSystem fs;
  tolvane::StdConsole console;
  return tolvane::run_tolvane(args, fs, console);
}
