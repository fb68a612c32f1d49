#include "platform/arguments.h"

#include "base/failure.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: shellapi.h builds on it.
#include <shellapi.h>

#include "platform/utf16.h"
#endif

namespace tolvane {

#ifdef _WIN32

std::vector<std::string> program_arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0), argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) {
    args.push_back(utf16_to_utf8(reinterpret_cast<const char16_t*>(wide[i])));
  }
  LocalFree(wide);
  return args;
}

#else

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0), argv + argc);
}

#endif

bool ArgumentReader::next() {
  if (next_ >= args_.size()) return false;
  arg_ = args_[next_++];
  value_.reset();
  if (arg_.rfind("--", 0) == 0) {
    if (size_t equals = arg_.find('='); equals != std::string::npos) {
      value_ = arg_.substr(equals + 1);
      arg_.resize(equals);
    }
  }
  return true;
}

std::string ArgumentReader::value() {
  if (value_) return *value_;
  if (next_ >= args_.size()) throw usage_failure(arg_ + " needs a value");
  return args_[next_++];
}

}  // namespace tolvane
