// How library code reports a failure: it never prints and never ends the
// process, it throws one of these saying what went wrong. Each program maps
// the kind to where and how the text is shown and to its exit code.
#ifndef TOLVANE_PLATFORM_FAILURE_H_
#define TOLVANE_PLATFORM_FAILURE_H_

#include <stdexcept>
#include <string>

#include "platform/file_system.h"

namespace tolvane {

enum class FailureKind {
  kUsage,  // the command line cannot be followed
  kInput,  // an input's content is refused
  kFile,   // a file cannot be handled as the run needs it
  kIo,     // an operation on a file failed; reason() says why
};

class Failure : public std::runtime_error {
 public:
  // `message` says what went wrong, with no line feed at its end (it may
  // hold inner ones). `subject` is the file or argument it is about, when it
  // is about one; `message` names it too.
  Failure(FailureKind kind, std::string message, std::string subject = "", std::string reason = "")
      : std::runtime_error(message),
        kind_(kind),
        message_(std::move(message)),
        subject_(std::move(subject)),
        reason_(std::move(reason)) {}

  FailureKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  const std::string& subject() const { return subject_; }
  // Whether `message` stands alone as written: advice on the command line
  // as a whole, or a refusal that names its own place in a source. Other
  // refusals are shown under the program's heading for errors.
  bool self_contained() const { return self_contained_; }
  // The system's reason for an I/O failure, so that the user knows whether
  // to free space, raise a limit or fix a permission; empty otherwise.
  const std::string& reason() const { return reason_; }
  // What the user must know about the files when a failed run could not be
  // undone, line feeds included; empty when everything was put back.
  const std::string& note() const { return note_; }

  Failure with_note(std::string note) const {
    Failure failure = *this;
    failure.note_ = std::move(note);
    return failure;
  }
  Failure as_self_contained() const {
    Failure failure = *this;
    failure.self_contained_ = true;
    return failure;
  }

 private:
  FailureKind kind_;
  std::string message_;
  std::string subject_;
  std::string reason_;
  std::string note_;
  bool self_contained_ = false;
};

inline Failure usage_failure(std::string message, std::string subject = "") {
  return Failure(FailureKind::kUsage, std::move(message), std::move(subject));
}
// How to use the command line, with no error to name ("" for the usage
// text alone).
inline Failure usage_advice(std::string message) {
  return usage_failure(std::move(message)).as_self_contained();
}
inline Failure input_failure(std::string message, std::string subject = "") {
  return Failure(FailureKind::kInput, std::move(message), std::move(subject));
}
// A refusal of a message source's content whose message says where.
inline Failure source_failure(std::string message, std::string source_path) {
  return input_failure(std::move(message), std::move(source_path)).as_self_contained();
}
inline Failure file_failure(std::string message) {
  return Failure(FailureKind::kFile, std::move(message));
}
// `message` says which operation on which file failed ("Cannot write X").
inline Failure io_failure(std::string message, const IoError& error) {
  return Failure(FailureKind::kIo, std::move(message), error.path(), error.reason());
}

// Runs `step` and returns what it returns; an I/O error in it becomes the
// I/O failure `message`.
template <typename Step>
auto or_fail(const std::string& message, Step step) {
  try {
    return step();
  } catch (const IoError& error) {
    throw io_failure(message, error);
  }
}

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_FAILURE_H_
