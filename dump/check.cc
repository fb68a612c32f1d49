#include "dump/check.h"

#include <algorithm>

#include "msgfile/catalogue_layout.h"

namespace tolvane::dump {

std::vector<Problem> check_catalogue(const OpenCatalogue& catalogue) {
  std::vector<Problem> problems;
  find_damage(*catalogue.file, catalogue, [&](const Damage& damage) {
    problems.push_back({damage.offset, damage.text});
    return true;
  });
  std::stable_sort(problems.begin(), problems.end(),
                   [](const Problem& a, const Problem& b) { return a.offset < b.offset; });
  return problems;
}

}  // namespace tolvane::dump
