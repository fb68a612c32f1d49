#include "platform/arguments.h"

#include <gtest/gtest.h>

#include "base/failure.h"

namespace tolvane {
namespace {

TEST(ArgumentReader, ValuesAfterEqualsOrInTheNextArgument) {
  const std::vector<std::string> args = {"--a=1", "--b", "2", "--c=", "-o=3", "x=4", "--d"};
  ArgumentReader in(args);
  std::vector<std::string> seen;
  while (in.next()) {
    seen.push_back(in.arg());
    if (in.arg() == "--a" || in.arg() == "--b" || in.arg() == "--c") seen.push_back(in.value());
  }
  // Only a long option carries its value after "="; an empty one is a value.
  EXPECT_EQ(seen,
            (std::vector<std::string>{"--a", "1", "--b", "2", "--c", "", "-o=3", "x=4", "--d"}));
  try {
    in.value();
    ADD_FAILURE() << "a value past the end";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::kUsage);
    EXPECT_EQ(failure.message(), "--d needs a value");
  }
}

}  // namespace
}  // namespace tolvane
