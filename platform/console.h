// The console the driver talks to: two output channels and one key read.
#ifndef TOLVANE_PLATFORM_CONSOLE_H_
#define TOLVANE_PLATFORM_CONSOLE_H_

#include <string>

namespace tolvane {

class Console {
 public:
  virtual ~Console() = default;
  // A write that fails (a closed pipe, a full disk under a redirection) is
  // ignored: what the console shows never changes what a run does.
  virtual void write_out(const std::string& text) = 0;
  virtual void write_err(const std::string& text) = 0;
  // Waits for one key, read without echo, when a person can press one.
  virtual void wait_key() = 0;
};

// Standard output and error; the key is read only when standard input is a
// terminal, so that the tool never hangs in a build script or CI.
class StdConsole : public Console {
 public:
  void write_out(const std::string& text) override;
  void write_err(const std::string& text) override;
  void wait_key() override;
};

// Reads one key from terminal `fd` without echo and without waiting for a
// line feed. Returns false when `fd` is no terminal (nothing is read then).
bool read_key_no_echo(int fd);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_CONSOLE_H_
