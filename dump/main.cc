// tolvane-dump: shows, checks and decompiles MSG catalogues.
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "dump/command.h"
#include "dump/model.h"
#include "platform/arguments.h"
#include "platform/failure.h"
#include "platform/native_file_system.h"

namespace {

void print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tolvane;
  using namespace tolvane::dump;
  std::vector<std::string> args = program_arguments(argc, argv);
  DumpOptions options;
  try {
    options = parse_dump_options(args);
  } catch (const Failure& failure) {
    print(stderr, "tolvane-dump: " + failure.message() + "\n");
    print(stderr, dump_usage());
    return 2;
  }
  if (options.help) {
    print(stdout, dump_usage());
    return 0;
  }
  try {
    NativeFileSystem fs;
    // The catalogue is read as each mode needs it, never whole.
    std::shared_ptr<File> file = open_file(fs, options.msg_path);
    const std::string names = options.names_path.empty() ? "" : load_file(fs, options.names_path);
    DumpResult result;
    Output out(stdout);
    try {
      result = run_dump(options, std::move(file), names, out);
    } catch (const Failure& failure) {
      out.flush();
      print(stderr, "tolvane-dump: " + options.msg_path + ": " + failure.message() + "\n");
      return 1;
    } catch (const IoError& error) {
      out.flush();
      print(stderr, "tolvane-dump: cannot read " + options.msg_path + ": " +
                        std::strerror(error.error()) + "\n");
      return 1;
    }
    if (!out.flush() || std::fflush(stdout) != 0 || std::ferror(stdout)) {
      print(stderr, "tolvane-dump: cannot write the output\n");
      return 1;
    }
    if (!result.warning.empty()) {
      print(stderr, "tolvane-dump: " + options.msg_path + ": " + result.warning);
    }
    return result.damaged ? 1 : 0;
  } catch (const Failure& failure) {
    print(stderr, "tolvane-dump: " + failure.message() + "\n");
    return 1;
  } catch (const std::bad_alloc&) {
    print(stderr, "tolvane-dump: out of memory\n");
    return 1;
  }
}
