// The logic of each fuzz target as a plain function of one input held in
// memory, shared by the libFuzzer programs and by the test that replays the
// committed corpus and regression inputs with any compiler.
#ifndef TOLVANE_FUZZ_FUZZ_ENTRIES_H_
#define TOLVANE_FUZZ_FUZZ_ENTRIES_H_

#include <string>
#include <string_view>
#include <vector>

namespace tolvane::fuzz {

// What one input did to the code under test.
struct FuzzResult {
  // The input was valid for that code (a message source that reads, a file
  // that passes the checks, a build that completes).
  bool accepted = false;
  // The first broken invariant, or empty. Crashes and sanitizer reports are
  // caught by the sanitizers themselves.
  std::string problem;
};

using FuzzEntry = FuzzResult (*)(std::string_view input);

struct FuzzTarget {
  const char* name;  // also the folder of its corpus and regression inputs
  FuzzEntry entry;
};

// Every target built into this program.
const std::vector<FuzzTarget>& fuzz_targets();

// Inputs made of several files hold them one after the other, separated by
// this line.
inline constexpr std::string_view kPartSeparator = "\n%%%%\n";

// Cuts `input` at its first `max_parts - 1` separators.
std::vector<std::string_view> split_input(std::string_view input, size_t max_parts);

// A message source read with its directives and #message lines, every text
// encoded in both codings.
FuzzResult fuzz_source_reader(std::string_view input);
// An existing MSG file through the checks a build makes before it starts,
// then the header area a build would lay out for it.
FuzzResult fuzz_msg_file(std::string_view input);
// A previous names header, separator, #message lines: the merged header.
FuzzResult fuzz_names_merge(std::string_view input);
// A message source, separator, an existing MSG file, and optionally a
// separator and a previous names header: one whole build in memory.
FuzzResult fuzz_build(std::string_view input);
// Every mode of the MSG file inspector on the input.
FuzzResult fuzz_dump(std::string_view input);

}  // namespace tolvane::fuzz

#endif  // TOLVANE_FUZZ_FUZZ_ENTRIES_H_
