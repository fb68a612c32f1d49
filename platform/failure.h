// How library code reports a failure: it never prints and never ends the
// process, it throws one of these and the driver prints it and picks the exit
// code.
#ifndef TOLVANE_PLATFORM_FAILURE_H_
#define TOLVANE_PLATFORM_FAILURE_H_

#include <stdexcept>
#include <string>

#include "platform/file_system.h"

namespace tolvane {

enum class Channel { kOut, kErr };

class Failure : public std::runtime_error {
 public:
  // `message` is printed exactly as given, line feeds included.
  // `note`, when given, goes to standard error after the message: what the
  // user must know about the files when a failed run could not be undone.
  Failure(std::string message, Channel channel, bool usage, bool pause, std::string note = "")
      : std::runtime_error(message),
        message_(std::move(message)),
        channel_(channel),
        usage_(usage),
        pause_(pause),
        note_(std::move(note)) {}

  const std::string& message() const { return message_; }
  Channel channel() const { return channel_; }
  bool usage() const { return usage_; }
  bool pause() const { return pause_; }
  const std::string& note() const { return note_; }

 private:
  std::string message_;
  Channel channel_;
  bool usage_;
  bool pause_;
  std::string note_;
};

// A command-line failure: message on standard output, then usage and pause.
inline Failure UsageFailure(std::string message) {
  return Failure(std::move(message), Channel::kOut, true, true);
}
// A failure around the work files: "Cannot ..." on standard error, then pause.
inline Failure FileFailure(std::string message) {
  return Failure(std::move(message), Channel::kErr, false, true);
}
// The same for an I/O error: the system's reason follows on the next line,
// so that the user knows whether to free space, raise a limit or fix a
// permission. `message` has no line feed.
inline Failure FileFailure(const std::string& message, const IoError& error) {
  return FileFailure(message + "\n" + error.reason() + "\n");
}
// A failure in the content of an input: message on standard output only.
inline Failure InputFailure(std::string message) {
  return Failure(std::move(message), Channel::kOut, false, false);
}

// Runs `step` and returns what it returns; an I/O error in it becomes the
// file failure `message` with the error's reason.
template <typename Step>
auto or_fail(const std::string& message, Step step) {
  try {
    return step();
  } catch (const IoError& error) {
    throw FileFailure(message, error);
  }
}

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_FAILURE_H_
