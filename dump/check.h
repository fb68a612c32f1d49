// Structural validation of a whole MSG catalogue: every way in which its
// layout breaks the format, each with the byte offset where it shows. The
// rules are msgfile/'s, the ones a build refuses a damaged file by.
#ifndef TOLVANE_DUMP_CHECK_H_
#define TOLVANE_DUMP_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "dump/model.h"

namespace tolvane::dump {

struct Problem {
  uint64_t offset = 0;  // the byte (usually a field) where the problem shows
  std::string text;
};

// All problems of the catalogue, ordered by offset. Empty for every file a
// build writes, and for every file a build accepts.
std::vector<Problem> check_catalogue(const OpenCatalogue& catalogue);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_CHECK_H_
