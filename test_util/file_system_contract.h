// What every FileSystem does alike, the real ones and the fake the other
// tests run on: each implementation's test runs these checks on it, so that
// the fake cannot drift from the disks it stands in for.
#ifndef TOLVANE_TEST_UTIL_FILE_SYSTEM_CONTRACT_H_
#define TOLVANE_TEST_UTIL_FILE_SYSTEM_CONTRACT_H_

#include <functional>
#include <string>

#include "platform/file_system.h"

namespace tolvane::testing {

// A whole file's content, read through `fs`; and a file made afresh with
// `content`, written through it.
std::string read_whole(FileSystem& fs, const std::string& path);
void write_whole(FileSystem& fs, const std::string& path, const std::string& content);

// Checks `fs` on fresh names that `at` makes from a short one ("a", "b"),
// which name no file yet. Writing through a file opened for reading fails
// with `read_only_error` (the systems differ on it).
void check_file_system_contract(FileSystem& fs,
                                const std::function<std::string(const std::string&)>& at,
                                int read_only_error);

}  // namespace tolvane::testing

#endif  // TOLVANE_TEST_UTIL_FILE_SYSTEM_CONTRACT_H_
