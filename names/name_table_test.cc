#include "names/name_table.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

TEST(NameTable, NamesEachIdentifierByTheBestDefinition) {
  // An exact definition wins over one that only matches in its low 16 bits.
  NameTable both("#define WIDE 65537\n#define ONE 1\n#define OTHER 2\n");
  EXPECT_EQ(both.name(1), "ONE");
  EXPECT_EQ(both.name(2), "OTHER");
  EXPECT_EQ(NameTable("#define WIDE 65537\r\n").name(1), "WIDE");
  EXPECT_EQ(both.name(3), "MSG_3");
  EXPECT_EQ(both.find(3), nullptr);

  // Of two definitions of one identifier the first counts; names no
  // #message line could carry are skipped, and so are other lines.
  NameTable names(
      "#define A 5\n#define B 5\n#define BAD\"NAME 6\n#define D E 7\nint x;\n#define C 8");
  EXPECT_EQ(names.name(5), "A");
  EXPECT_EQ(names.find(6), nullptr);
  EXPECT_EQ(names.find(7), nullptr);
  EXPECT_EQ(names.name(8), "C");
  ASSERT_EQ(names.defines().size(), 3u);
  EXPECT_EQ(names.defines()[1].name, "B");
  EXPECT_EQ(names.defines()[1].value, 5);
}

}  // namespace
}  // namespace tolvane
