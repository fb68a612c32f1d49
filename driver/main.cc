// Tolvane: compiles a message source into a table of an MSG catalogue and
// keeps the names header in step.
#include <signal.h>

#include <string>
#include <vector>

#include "driver/run.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/native_file_system.h"

int main(int argc, char** argv) {
  // Past a file-size limit a write must fail like any other, so that the run
  // is undone, rather than end the process with the files half replaced.
#ifdef SIGXFSZ
  signal(SIGXFSZ, SIG_IGN);
#endif
  // The console is for people, the files are the product: a reader that
  // went away (`| head`) makes writes to it fail, which the console ignores,
  // rather than end the run half-way or change its exit code.
#ifdef SIGPIPE
  signal(SIGPIPE, SIG_IGN);
#endif
  // Ctrl-C, kill and a closed terminal stop the run at a safe point, with
  // the files as they were; then the process ends as the signal would have
  // ended it, so that shells and make see an interrupted run.
  tolvane::catch_interrupts();
  std::vector<std::string> args = tolvane::program_arguments(argc, argv);
  tolvane::NativeFileSystem fs;
  tolvane::StdConsole console;
  int code = tolvane::run_tolvane(args, fs, console);
  if (int signal = tolvane::interrupt_signal()) tolvane::end_by_signal(signal);
  return code;
}
