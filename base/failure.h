// How every layer reports a failure: it never prints and never ends the
// process, it throws one of these saying what went wrong. Each program maps
// the kind to where and how the text is shown and to its exit code.
#ifndef TOLVANE_BASE_FAILURE_H_
#define TOLVANE_BASE_FAILURE_H_

#include <stdexcept>
#include <string>

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
  // hold inner ones). An I/O failure also carries the file the operation
  // failed on (`path`, which may be a work file `message` does not name) and
  // the system's `reason`.
  Failure(FailureKind kind, std::string message, std::string path = "", std::string reason = "")
      : std::runtime_error(message),
        kind_(kind),
        message_(std::move(message)),
        path_(std::move(path)),
        reason_(std::move(reason)) {}

  FailureKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  // The file an I/O failure is about; empty for other kinds.
  const std::string& path() const { return path_; }
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
  std::string path_;
  std::string reason_;
  std::string note_;
  bool self_contained_ = false;
};

inline Failure usage_failure(std::string message) {
  return Failure(FailureKind::kUsage, std::move(message));
}
// How to use the command line, with no error to name ("" for the usage
// text alone).
inline Failure usage_advice(std::string message) {
  return usage_failure(std::move(message)).as_self_contained();
}
inline Failure input_failure(std::string message) {
  return Failure(FailureKind::kInput, std::move(message));
}
// A refusal of a message source's content whose message says where.
inline Failure source_failure(std::string message) {
  return input_failure(std::move(message)).as_self_contained();
}
inline Failure file_failure(std::string message) {
  return Failure(FailureKind::kFile, std::move(message));
}

}  // namespace tolvane

#endif  // TOLVANE_BASE_FAILURE_H_
