#include "dump/lint.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/failure.h"
#include "dump/command.h"
#include "dump/dump_test_util.h"
#include "source/text_encoder.h"
#include "test_util/catalogue_bytes.h"

namespace tolvane::dump {
namespace {

using testing::put32;

using Args = std::vector<std::string>;

Args Arguments(const std::string& text, bool unicode = false) {
  return printf_arguments(text_units(text, unicode));
}

TEST(PrintfArguments, WhatEachArgumentTakes) {
  EXPECT_EQ(Arguments("%d files in %s, 100%%"), (Args{"%d", "%s"}));
  // Flags, width and precision do not matter; the length modifier does.
  EXPECT_EQ(Arguments("%-08.3i %#x %5.1e %.3G"), (Args{"%d", "%u", "%f", "%f"}));
  EXPECT_EQ(Arguments("%ld %lld %hhu %zu %Lf %lc %ls %p %hhn"),
            (Args{"%ld", "%lld", "%hhu", "%zu", "%Lf", "%lc", "%ls", "%p", "%hhn"}));
  // A * width or precision takes an int of its own.
  EXPECT_EQ(Arguments("%*d %.*s"), (Args{"*", "%d", "*", "%s"}));
  // With positions, what each position takes; gaps, conflicts, unknowns.
  EXPECT_EQ(Arguments("%2$s %1$d"), (Args{"%d", "%s"}));
  EXPECT_EQ(Arguments("%1$*2$d"), (Args{"%d", "*"}));
  EXPECT_EQ(Arguments("%3$s"), (Args{"?", "?", "%s"}));
  EXPECT_EQ(Arguments("%1$s %1$d"), (Args{"conflict"}));
  EXPECT_EQ(Arguments("%y %"), (Args{"%?", "%?"}));
  // UNICODE texts are 16-bit units, high byte first: "%d" and an ideograph.
  EXPECT_EQ(Arguments(std::string("\x00%\x00\x64\x65\xE5", 6), true), (Args{"%d"}));
  // Read low byte first these units would spell "%d"; high byte first they
  // are U+2500 and U+6400.
  EXPECT_EQ(Arguments(std::string("%\x00\x64\x00", 4), true), Args{});
}

// Catalogues built in memory, table by table as a build adds them.
class LintTest : public ::testing::Test {
 protected:
  using Texts = std::vector<std::pair<int32_t, std::string>>;
  // Adds a table of `texts` (identifier and text, spelt as in a source).
  void Build(const std::string& language, const Texts& texts, uint16_t coding = kByteCoding,
             uint32_t type_key = make_type_key(1, 2)) {
    tolvane::testing::TestTable table{language, {}, coding, "F", type_key};
    for (const auto& [id, text] : texts) {
      std::string encoded;
      encode_text(text, coding, &encoded);
      encoded.resize(encoded.size() - terminator_size(coding));
      table.texts.emplace_back(id, encoded);
    }
    bytes_ = tolvane::testing::add_table(bytes_, table);
  }
  DumpResult run(Args args) {
    args.push_back("app.msg");
    return run_dump(parse_dump_options(args), bytes_, names_);
  }

  std::string bytes_;
  std::string names_;
};

TEST_F(LintTest, ReportsEveryKindSortedByTableThenIdentifier) {
  Build("EN", {{1, "%d files in %s"}, {2, "Bye"}, {3, "%2$s %1$d"}});
  // FR: a format that differs, a duplicate, an extra, one missing.
  Build("FR", {{1, "%s fichiers dans %d"}, {2, "Au revoir"}, {2, "Salut"}, {4, "nouveau"}});
  // JA (UNICODE): the same conversions as the reference, in reverse order.
  Build("JA",
        {{3, "\\x00\\x25\\x00\\x31\\x00\\x24\\x00\\x64\\x00\\x25\\x00\\x32\\x00\\x24\\x00\\x73"},
         {1, "\\x00\\x25\\x00\\x6C\\x00\\x64\\x00\\x25\\x00\\x73"},
         {2, "\\x00\\x41"}},
        kUnicodeCoding);
  // DE has another type_key: never compared with the others.
  Build("DE", {{7, "%p"}}, kByteCoding, make_type_key(1, 3));
  // The names header the runs would have left: an old name, then theirs.
  names_ =
      "#define OLD 9\n#define SAVED 1\n#define BYE 2\n#define NAME 3\n#define NEW 4\n"
      "#define OTHER 7\n";

  DumpResult result = run({"--lint", "--names", "names.h"});
  EXPECT_TRUE(result.damaged);
  EXPECT_EQ(result.out,
            "FR:1  message 1 SAVED: format: its text's printf conversions take (%s, %d) where the "
            "reference EN:1 takes (%d, %s)\n"
            "FR:1  message 2 BYE: duplicate: it occurs 2 times in this table; a lookup finds only "
            "one of them\n"
            "FR:1  message 3 NAME: missing: the reference EN:1 has it, this table does not\n"
            "FR:1  message 4 NEW: extra: the reference EN:1 does not have it\n"
            "JA:1  message 1 SAVED: format: its text's printf conversions take (%ld, %s) where the "
            "reference EN:1 takes (%d, %s)\n"
            "-  message 9 OLD: unused: the names header defines OLD as 9, which no table holds\n"
            "6 findings\n");

  // Without the names header every identifier is unnamed (reported once).
  names_ = "#define SAVED 1\n";
  result = run({"--lint", "--json", "--names", "names.h"});
  const std::string& json = result.out;
  EXPECT_NE(json.find("{\"kind\": \"format\", \"table\": \"FR:1\", \"id\": 1, \"name\": \"SAVED\", "
                      "\"detail\": \"its text's printf conversions take (%s, %d) where"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"kind\": \"unnamed\", \"table\": \"EN:1\", \"id\": 2, \"detail\": "),
            std::string::npos);
  EXPECT_EQ(json.find("\"kind\": \"unnamed\", \"table\": \"FR:1\", \"id\": 2"), std::string::npos);
  EXPECT_NE(json.find("\"kind\": \"unnamed\", \"table\": \"FR:1\", \"id\": 4"), std::string::npos);
  EXPECT_NE(
      json.find("\"tables\": [\n    {\"table\": \"EN:1\", \"type_key\": 65538, \"reference\": "
                "\"EN:1\", \"messages\": 3, \"missing\": 0, \"extra\": 0, "
                "\"coverage_percent\": 100.0},\n"
                "    {\"table\": \"FR:1\", \"type_key\": 65538, \"reference\": \"EN:1\", "
                "\"messages\": 4, \"missing\": 1, \"extra\": 1, \"coverage_percent\": 66.7},\n"
                "    {\"table\": \"JA:1\", \"type_key\": 65538, \"reference\": \"EN:1\", "
                "\"messages\": 3, \"missing\": 0, \"extra\": 0, \"coverage_percent\": 100.0},\n"
                "    {\"table\": \"DE:1\", \"type_key\": 65539, \"reference\": \"DE:1\", "
                "\"messages\": 1, \"missing\": 0, \"extra\": 0, \"coverage_percent\": 100.0}"),
      std::string::npos)
      << json;
}

TEST_F(LintTest, ReferenceLanguageAndGroupsWithoutIt) {
  Build("EN", {{1, "a"}, {2, "b"}});
  Build("FR", {{1, "a"}});
  Build("EN", {{5, "e"}}, kByteCoding, make_type_key(2, 2));
  // The default reference is each group's first added table; FR:1 lacks 2.
  DumpResult result = run({"--stats"});
  EXPECT_FALSE(result.damaged);
  EXPECT_EQ(result.out,
            "table  type_key    reference  messages  missing  extra  coverage\n"
            "EN:1   0x00010002  EN:1              2        0      0    100.0%\n"
            "EN:2   0x00020002  EN:2              1        0      0    100.0%\n"
            "FR:1   0x00010002  EN:1              1        1      0     50.0%\n");
  // --reference FR (compared on two characters): the second group has no FR
  // table and is reported once, then skipped.
  result = run({"--lint", "--reference", "FRENCH"});
  EXPECT_EQ(result.out,
            "EN:1  message 2: extra: the reference FR:1 does not have it\n"
            "EN:2: reference: the tables of type_key 0x00020002 (EN:2) have no table of language "
            "\"FRENCH\": they are not compared\n"
            "2 findings\n");
  result = run({"--stats", "--json", "--reference", "FR"});
  EXPECT_NE(result.out.find("{\"table\": \"EN:2\", \"type_key\": 131074, \"reference\": null, "
                            "\"messages\": 1, \"missing\": null, \"extra\": null, "
                            "\"coverage_percent\": null}"),
            std::string::npos)
      << result.out;
}

TEST_F(LintTest, ShadowedTablesAndTextsInTheWrongCoding) {
  // A byte text in UTF-8 (an 8-bit font shows two characters for each); one
  // in Latin-1, which is not UTF-8.
  Build("EN", {{1, "Caf\\303\\251 \\342\\202\\254"}, {2, "Caf\\351"}});
  // UNICODE: an odd text (not the last: the last could be read with a fill
  // byte), a lone high surrogate, a lone low one, and a well-formed pair.
  Build("JA",
        {{3, "\\x00\\x41\\x42"},
         {4, "\\xD8\\x3D\\x00\\x41"},
         {5, "\\x00\\x41\\xDE\\x00"},
         {6, "\\xD8\\x3D\\xDE\\x00"}},
        kUnicodeCoding);
  // A second EN table of the same type_key: lookups find EN:1.
  Build("EN", {{1, "again"}, {2, "b"}});
  DumpResult result = run({"--lint", "--reference", "EN"});
  EXPECT_TRUE(result.damaged);
  EXPECT_EQ(result.out,
            "EN:1  message 1: encoding: its byte text is well-formed UTF-8 with 2 multi-byte "
            "characters (the first U+00E9, \\303\\251): an 8-bit font shows each as two to four "
            "wrong characters\n"
            "EN:2: shadowed: a lookup of language \"EN\" with type_key 0x00010002 finds EN:1 first "
            "and never reaches this table\n"
            "JA:1  message 1: missing: the reference EN:1 has it, this table does not\n"
            "JA:1  message 2: missing: the reference EN:1 has it, this table does not\n"
            "JA:1  message 3: extra: the reference EN:1 does not have it\n"
            "JA:1  message 3: encoding: its UNICODE text has an odd number of bytes (3): readers "
            "take 16-bit units and read past its terminator\n"
            "JA:1  message 4: extra: the reference EN:1 does not have it\n"
            "JA:1  message 4: encoding: its UNICODE text has an unpaired surrogate 0xD83D at unit "
            "0: it stands for no character\n"
            "JA:1  message 5: extra: the reference EN:1 does not have it\n"
            "JA:1  message 5: encoding: its UNICODE text has an unpaired surrogate 0xDE00 at unit "
            "1: it stands for no character\n"
            "JA:1  message 6: extra: the reference EN:1 does not have it\n"
            "11 findings\n");
  result = run({"--lint", "--json"});
  EXPECT_NE(result.out.find("{\"kind\": \"shadowed\", \"table\": \"EN:2\", \"id\": null, "
                            "\"detail\": \"a lookup of language"),
            std::string::npos)
      << result.out;
}

// Conversions are compared without keeping them: texts larger than the
// pieces the texts are read in, one with many conversions, one whose only
// conversion lies past the first piece, are read again for the detail.
TEST_F(LintTest, LargeTextsWithManyConversions) {
  std::string many;
  for (int i = 0; i < 3000; ++i) many += "%s ";
  many += std::string(140000, 'x');
  const std::string late = std::string(140000, 'y');
  Build("EN", {{2, late + "%c"}, {1, many + "%d"}, {3, many}});
  Build("FR", {{2, late + "%p"}, {1, many + "%u"}, {3, many}});
  const std::string out = run({"--lint"}).out;
  EXPECT_EQ(out.rfind("FR:1  message 1: format: its text's printf conversions take (%s, ", 0), 0u)
      << out.substr(0, 200);
  EXPECT_NE(out.find("%s, %u) where the reference EN:1 takes (%s, "), std::string::npos);
  EXPECT_NE(out.find("%s, %d)\nFR:1  message 2: format: its text's printf conversions take (%p) "
                     "where the reference EN:1 takes (%c)\n2 findings\n"),
            std::string::npos);
}

TEST_F(LintTest, CleanAndDamagedCatalogues) {
  Build("EN", {{1, "%d"}});
  Build("FR", {{1, "%i"}});
  DumpResult result = run({"--lint"});
  EXPECT_FALSE(result.damaged);
  EXPECT_EQ(result.out, "No findings.\n");
  EXPECT_EQ(run({"--lint", "--json"}).out,
            "{\n  \"findings\": [],\n  \"tables\": [\n"
            "    {\"table\": \"EN:1\", \"type_key\": 65538, \"reference\": \"EN:1\", \"messages\": "
            "1, \"missing\": 0, \"extra\": 0, \"coverage_percent\": 100.0},\n"
            "    {\"table\": \"FR:1\", \"type_key\": 65538, \"reference\": \"EN:1\", \"messages\": "
            "1, \"missing\": 0, \"extra\": 0, \"coverage_percent\": 100.0}\n  ]\n}\n");

  // A damaged file is refused with the check's count; no MSG file at all with
  // the check's message.
  std::string damaged = bytes_;
  put32(&damaged, 98 + 40 + 2, 0);  // no longer a table record ending where it should
  put32(&damaged, 142 + 2, 4000);   // EN:1's text offset
  for (const char* mode : {"--lint", "--stats"}) {
    try {
      run_dump(parse_dump_options({mode, "x.msg"}), damaged, "");
      ADD_FAILURE() << mode << " accepted a damaged file";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message().rfind("the file has ", 0), 0u) << failure.message();
      EXPECT_NE(failure.message().find("; --check lists them"), std::string::npos);
    }
    EXPECT_THROW(run_dump(parse_dump_options({mode, "x.msg"}), "not a catalogue", ""), Failure);
  }
}

}  // namespace
}  // namespace tolvane::dump
