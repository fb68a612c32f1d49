// I/O errors of the file system as the failures library code throws: the
// operation in the caller's words ("Cannot write X"), with the file and the
// system's reason the error carries.
#ifndef TOLVANE_PLATFORM_IO_FAILURE_H_
#define TOLVANE_PLATFORM_IO_FAILURE_H_

#include <string>

#include "base/failure.h"
#include "platform/file_system.h"

namespace tolvane {

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

#endif  // TOLVANE_PLATFORM_IO_FAILURE_H_
