// The console the driver talks to: two output channels and one key read.
#ifndef TOLVANE_PLATFORM_CONSOLE_H_
#define TOLVANE_PLATFORM_CONSOLE_H_

#include <string>

namespace tolvane {

class Console {
 public:
  virtual ~Console() = default;
  virtual void Out(const std::string& text) = 0;
  virtual void Err(const std::string& text) = 0;
  // Waits for one key, read without echo, when a person can press one.
  virtual void WaitKey() = 0;
};

// Standard output and error; the key is read only when standard input is a
// terminal, so that the tool never hangs in a build script or CI.
class StdConsole : public Console {
 public:
  void Out(const std::string& text) override;
  void Err(const std::string& text) override;
  void WaitKey() override;
};

// Reads one key from terminal `fd` without echo and without waiting for a
// line feed. Returns false when `fd` is no terminal (nothing is read then).
bool ReadKeyNoEcho(int fd);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_CONSOLE_H_
