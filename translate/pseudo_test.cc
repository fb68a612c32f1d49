#include "translate/pseudo.h"

#include <gtest/gtest.h>

namespace tolvane::translate {
namespace {

bool anything(char32_t) { return true; }
bool latin1(char32_t c) { return c < 0x100; }

TEST(Pseudo, AccentsLettersAndLeavesConversionsAndControlsInOrder) {
  EXPECT_EQ(pseudo_text("Saved %d files\tto %s\n", 0, anything),
            "[\u0160\u00E5v\u00E9\u00F0 %d \u0192\u00EE\u013C\u00E9\u0161\t\u0163\u00F6 %s]\n");
  // Within Latin-1 the first forms outside it give way to later ones or the
  // letter itself.
  EXPECT_EQ(pseudo_text("fl", 0, latin1), "[fl]");
  EXPECT_EQ(pseudo_text("Ls", 0, latin1), "[Ls]");
}

TEST(Pseudo, GrowsByThePercentageInsideTheBrackets) {
  // 10 characters, 35% more: 4 of padding.
  EXPECT_EQ(pseudo_text("0123456789\n\n", 35, anything), "[0123456789 ~~~]\n\n");
  EXPECT_EQ(pseudo_text("", 35, anything), "[]");
}

}  // namespace
}  // namespace tolvane::translate
