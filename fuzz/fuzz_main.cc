// The libFuzzer entry of one target; TOLVANE_FUZZ_ENTRY names its function.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const tolvane::fuzz::FuzzResult result =
      TOLVANE_FUZZ_ENTRY(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!result.problem.empty()) {
    // An abort makes libFuzzer keep the input as a crash.
    std::fprintf(stderr, "broken invariant: %s\n", result.problem.c_str());
    std::abort();
  }
  return 0;
}
