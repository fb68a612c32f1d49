// Catalogue bytes built in memory from msgfile/'s own pieces (the records'
// encoders, the plan, the block builder), laid out as a build lays them out,
// for tests of the layers below the programs.
#ifndef TOLVANE_TEST_UTIL_CATALOGUE_BYTES_H_
#define TOLVANE_TEST_UTIL_CATALOGUE_BYTES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "msgfile/catalogue.h"
#include "msgfile/layout.h"

namespace tolvane::testing {

struct TestTable {
  std::string language;
  // Identifier and encoded text, without its terminator, in source order.
  std::vector<std::pair<int32_t, std::string>> texts;
  uint16_t coding = kByteCoding;
  std::string font = "F";
  uint32_t type_key = make_type_key(1, 2);
};

// `catalogue` with `table` added after its tables, as one build adds it; an
// empty `catalogue` is a new file whose header names it `name`. `catalogue`
// must be sound.
std::string add_table(const std::string& catalogue, const TestTable& table,
                      const std::string& name = "APP.MSG");

// Reads `bytes` as a build reads an existing MSG file it calls APP.MSG, into
// `catalogue`: the damage it refuses the file for, without the file's name
// before it, or nothing. Checks that a refusal is an input failure naming
// the file.
std::optional<std::string> read_bytes(const std::string& bytes, Catalogue* catalogue);

}  // namespace tolvane::testing

#endif  // TOLVANE_TEST_UTIL_CATALOGUE_BYTES_H_
