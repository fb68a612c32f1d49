// The file system of the system the program is built for.
#ifndef TOLVANE_PLATFORM_NATIVE_FILE_SYSTEM_H_
#define TOLVANE_PLATFORM_NATIVE_FILE_SYSTEM_H_

#ifdef _WIN32
#include "platform/windows_file_system.h"
namespace tolvane {
using NativeFileSystem = WindowsFileSystem;
}  // namespace tolvane
#else
#include "platform/posix_file_system.h"
namespace tolvane {
using NativeFileSystem = PosixFileSystem;
}  // namespace tolvane
#endif

#endif  // TOLVANE_PLATFORM_NATIVE_FILE_SYSTEM_H_
