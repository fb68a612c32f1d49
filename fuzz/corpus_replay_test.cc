// Replays every committed fuzz input, corpus and past crashes alike, through
// the same entries the fuzzers use, so that any compiler checks them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"

namespace tolvane::fuzz {

void PrintTo(const FuzzTarget& target, std::ostream* out) { *out << target.name; }

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_in(const fs::path& dir) {
  std::vector<fs::path> inputs;
  if (!fs::is_directory(dir)) return inputs;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

class CorpusReplay : public ::testing::TestWithParam<FuzzTarget> {};

// Seeds named valid-* must be taken by the code under test and seeds named
// bad-* refused, so that the corpus keeps covering both ways.
TEST_P(CorpusReplay, CorpusInputsKeepEveryInvariant) {
  const FuzzTarget& target = GetParam();
  const std::vector<fs::path> inputs =
      inputs_in(fs::path(TOLVANE_FUZZ_DIR) / "corpus" / target.name);
  ASSERT_GE(inputs.size(), 3u) << "the corpus of " << target.name << " is missing";
  int valid = 0, bad = 0;
  for (const fs::path& path : inputs) {
    const FuzzResult result = target.entry(slurp(path));
    EXPECT_EQ(result.problem, "") << path;
    const std::string name = path.filename().string();
    if (name.rfind("valid-", 0) == 0) {
      ++valid;
      EXPECT_TRUE(result.accepted) << path << " should be accepted";
    } else if (name.rfind("bad-", 0) == 0) {
      ++bad;
      EXPECT_FALSE(result.accepted) << path << " should be refused";
    }
  }
  EXPECT_GT(valid, 0) << "no valid-* seed for " << target.name;
  EXPECT_GT(bad, 0) << "no bad-* seed for " << target.name;
}

TEST_P(CorpusReplay, InputsThatOnceFailedStayFixed) {
  const FuzzTarget& target = GetParam();
  for (const fs::path& path : inputs_in(fs::path(TOLVANE_FUZZ_DIR) / "regressions" / target.name)) {
    EXPECT_EQ(target.entry(slurp(path)).problem, "") << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay, ::testing::ValuesIn(fuzz_targets()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SplitInput, CutsAtTheFirstSeparatorsOnly) {
  const std::string input = "a\n%%%%\nb\n%%%%\nc\n%%%%\nd";
  EXPECT_EQ(split_input(input, 1), std::vector<std::string_view>({input}));
  EXPECT_EQ(split_input(input, 3), std::vector<std::string_view>({"a", "b", "c\n%%%%\nd"}));
  EXPECT_EQ(split_input("no separator", 3), std::vector<std::string_view>({"no separator"}));
  EXPECT_EQ(split_input("\n%%%%\n", 2), std::vector<std::string_view>({"", ""}));
}

}  // namespace
}  // namespace tolvane::fuzz
