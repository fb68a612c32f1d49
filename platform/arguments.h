// The command line as UTF-8 text.
#ifndef TOLVANE_PLATFORM_ARGUMENTS_H_
#define TOLVANE_PLATFORM_ARGUMENTS_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

// The arguments after the program name. On Windows they are read again as
// wide characters, since `argv` holds them in the local code page, which
// cannot spell every file name.
std::vector<std::string> program_arguments(int argc, char** argv);

// Walks the arguments one at a time. A long option may carry its value in the
// same argument ("--name=value"); otherwise an option's value is the next
// argument.
class ArgumentReader {
 public:
  explicit ArgumentReader(const std::vector<std::string>& args) : args_(args) {}
  // Moves to the next argument; false when there is none.
  bool next();
  // The argument, without the "=value" of a long option.
  const std::string& arg() const { return arg_; }
  // The option's value: what follows "=", or else the next argument, which
  // is then passed over. Throws a usage Failure when there is none.
  std::string value();

 private:
  const std::vector<std::string>& args_;
  size_t next_ = 0;
  std::string arg_;
  std::optional<std::string> value_;
};

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_ARGUMENTS_H_
