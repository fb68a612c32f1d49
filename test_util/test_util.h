// Helpers shared by the tests: temporary directories, whole-file I/O, running
// the real executable with both output streams captured, and a console that
// records what the driver prints.
#ifndef TOLVANE_TEST_UTIL_TEST_UTIL_H_
#define TOLVANE_TEST_UTIL_TEST_UTIL_H_

#include <functional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "platform/console.h"
#include "platform/file_system.h"

namespace tolvane::testing {

// A fresh directory under $TMPDIR (or /tmp), removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // `name` inside this directory.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// What `op` throws; each fails the test when it throws none.
IoError io_error_of(const std::function<void()>& op);
Failure catch_failure(const std::function<void()>& op);

std::string read_file(const std::string& path);  // empty when missing
void write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);
// Creates the directory `path`; false when it cannot.
bool make_dir(const std::string& path);
// Names of the entries of `dir`, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string& dir);

struct RunResult {
  int exit_code = -1;  // -1 when killed by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs `binary` with `args` in `cwd`, standard input from /dev/null.
// `in_child` runs in the child just before exec (to set limits, say).
// On Windows there is no such moment: `in_child` is not run, standard input
// is NUL, every run is ended after 300 seconds (reported as signal 9), and
// the CR LF line ends of the console streams are given as LF.
RunResult run_binary(const std::string& binary, const std::vector<std::string>& args,
                     const std::string& cwd, const std::function<void()>& in_child = {});

// For `in_child`: the run is ended by a signal after `seconds`, so that a
// hang (or a pause waiting for a key) fails the test instead of blocking it.
std::function<void()> time_limit(unsigned seconds);

// The built Tolvane executable.
std::string tolvane_binary();

// Runs Tolvane in `cwd`.
RunResult run_tolvane(const std::vector<std::string>& args, const std::string& cwd,
                      const std::function<void()>& in_child = {});

// Records what the driver prints, the pause included as "<pause>" in `out`.
class RecordingConsole : public Console {
 public:
  void write_out(const std::string& text) override { out += text; }
  void write_err(const std::string& text) override { err += text; }
  void wait_key() override {
    ++pauses;
    out += "<pause>";
  }
  std::string out;
  std::string err;
  int pauses = 0;
};

// A message source: the five directive lines, then `body`.
std::string message_source(const std::string& language, const std::string& body,
                           const std::string& coding = "ISO8859", const std::string& font = "F",
                           const std::string& file_type = "1", const std::string& appli_type = "2");

}  // namespace tolvane::testing

#endif  // TOLVANE_TEST_UTIL_TEST_UTIL_H_
