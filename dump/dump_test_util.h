// Helpers for the inspector's tests: catalogues built by the real tool, and
// runs of the real tolvane-dump.
#ifndef TOLVANE_DUMP_DUMP_TEST_UTIL_H_
#define TOLVANE_DUMP_DUMP_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "test_util/test_util.h"

namespace tolvane::dump::testing {

// Builds a catalogue in `dir` from `sources` with one run of Tolvane each,
// the first with -c, and returns it. Fails the test when a run fails.
std::string build_catalogue(const tolvane::testing::TempDir& dir,
                            const std::vector<std::string>& sources,
                            const std::string& msg_name = "app.msg");

// Runs tolvane-dump in `cwd`.
tolvane::testing::RunResult run_dump(const std::vector<std::string>& args, const std::string& cwd);

// Overwrites a little-endian field of `bytes`.
void put16(std::string* bytes, uint64_t offset, uint32_t value);
void put32(std::string* bytes, uint64_t offset, uint32_t value);

// The block of the table whose record is number `record` (from 0) in a
// catalogue, found from the record's offsets: everything from its index to
// the next block or the end of the file.
std::string table_block(const std::string& catalogue, size_t record);

}  // namespace tolvane::dump::testing

#endif  // TOLVANE_DUMP_DUMP_TEST_UTIL_H_
