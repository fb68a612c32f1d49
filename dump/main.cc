// tolvane-dump: shows, checks and decompiles MSG catalogues.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "dump/command.h"
#include "dump/model.h"
#include "dump/render.h"
#include "platform/arguments.h"
#include "platform/io_failure.h"
#include "platform/native_file_system.h"

namespace {

void print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// What a failure says, on one line: an I/O failure ends in the system's
// reason, in the words Tolvane gives for it.
std::string failure_text(const tolvane::Failure& failure) {
  if (failure.kind() != tolvane::FailureKind::kIo) return failure.message();
  return failure.message() + ": " + failure.reason();
}

// A failure goes to standard error; with --json it is also the document on
// standard output, so that a script reading it always gets one.
void report(bool json, const std::string& message) {
  if (json) print(stdout, "{\"error\": " + tolvane::dump::json_string(message) + "}\n");
  print(stderr, "tolvane-dump: " + message + "\n");
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
    report(std::find(args.begin(), args.end(), "--json") != args.end(), failure.message());
    print(stderr, dump_usage());
    return 2;
  }
  if (options.help) {
    print(stdout, dump_usage());
    return 0;
  }
  if (options.version) {
    print(stdout, dump_version());
    return 0;
  }
  const bool json = options.json;
  try {
    NativeFileSystem fs;
    // The catalogue is read as each mode needs it, never whole.
    std::shared_ptr<File> file = open_file(fs, options.msg_path);
    const std::string names = options.names_path.empty() ? "" : load_file(fs, options.names_path);
    DumpResult result;
    Output out(stdout);
    // What a failure leaves of the output: the text shown so far, or in
    // place of a JSON document the failure's own.
    auto cut_short = [&] {
      if (json) {
        out.discard();
        if (out.started()) print(stdout, "\n");
      } else {
        out.flush();
      }
    };
    try {
      result = run_dump(options, std::move(file), names, out);
    } catch (const Failure& failure) {
      cut_short();
      report(json, options.msg_path + ": " + failure_text(failure));
      return 1;
    } catch (const IoError& error) {
      cut_short();
      report(json, failure_text(io_failure("cannot read " + options.msg_path, error)));
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
    report(json, failure_text(failure));
    return 1;
  } catch (const std::bad_alloc&) {
    report(json, "out of memory");
    return 1;
  }
}
