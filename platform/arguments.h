// The command line as UTF-8 text.
#ifndef TOLVANE_PLATFORM_ARGUMENTS_H_
#define TOLVANE_PLATFORM_ARGUMENTS_H_

#include <string>
#include <vector>

namespace tolvane {

// The arguments after the program name. On Windows they are read again as
// wide characters, since `argv` holds them in the local code page, which
// cannot spell every file name.
std::vector<std::string> program_arguments(int argc, char** argv);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_ARGUMENTS_H_
