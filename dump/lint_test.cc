#include "dump/lint.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/failure.h"
#include "driver/run.h"
#include "dump/command.h"
#include "dump/dump_test_util.h"
#include "platform/fake_file_system.h"
#include "test_util/test_util.h"

namespace tolvane::dump {
namespace {

using testing::put32;
using tolvane::testing::message_source;

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

// Catalogues built in memory by the tool itself.
class LintTest : public ::testing::Test {
 protected:
  void Build(const std::string& source, const std::string& names = "") {
    fs_.set_file("src.h", source);
    if (!names.empty()) fs_.set_file("names.h", names);
    tolvane::testing::RecordingConsole console;
    Args args = {"-tsrc.h", "-hnames.h", "app.msg"};
    if (first_) args.insert(args.begin(), "-c");
    first_ = false;
    ASSERT_EQ(run_tolvane(args, fs_, console), 0) << console.out << console.err;
  }
  std::string catalogue_bytes() {
    std::string bytes;
    EXPECT_TRUE(fs_.get_file("app.msg", &bytes));
    return bytes;
  }
  DumpResult run(Args args) {
    args.push_back("app.msg");
    bytes_ = catalogue_bytes();
    std::string names;
    fs_.get_file("names.h", &names);
    return run_dump(parse_dump_options(args), bytes_, names);
  }

  FakeFileSystem fs_;
  bool first_ = true;
  std::string bytes_;
};

TEST_F(LintTest, ReportsEveryKindSortedByTableThenIdentifier) {
  Build(message_source("EN",
                       "#message 1 SAVED \"%d files in %s\"\n#message 2 BYE \"Bye\"\n"
                       "#message 3 NAME \"%2$s %1$d\"\n"),
        "#define OLD 9\n");
  // FR: a format that differs, a duplicate, an extra, one missing.
  Build(message_source("FR",
                       "#message 1 SAVED \"%s fichiers dans %d\"\n#message 2 BYE \"Au revoir\"\n"
                       "#message 2 BYE \"Salut\"\n#message 4 NEW \"nouveau\"\n"));
  // JA (UNICODE): the same conversions as the reference, in reverse order.
  Build(message_source("JA",
                       "#message 3 NAME \"\\x00\\x25\\x00\\x31\\x00\\x24\\x00\\x64"
                       "\\x00\\x25\\x00\\x32\\x00\\x24\\x00\\x73\"\n"
                       "#message 1 SAVED \"\\x00\\x25\\x00\\x6C\\x00\\x64\\x00\\x25\\x00\\x73\"\n"
                       "#message 2 BYE \"\\x00\\x41\"\n",
                       "UNICODE"));
  // DE has another type_key: never compared with the others.
  Build(message_source("DE", "#message 7 OTHER \"%p\"\n", "ISO8859", "F", "1", "3"));

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
  fs_.set_file("names.h", "#define SAVED 1\n");
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
  Build(message_source("EN", "#message 1 A \"a\"\n#message 2 B \"b\"\n"));
  Build(message_source("FR", "#message 1 A \"a\"\n"));
  Build(message_source("EN", "#message 5 E \"e\"\n", "ISO8859", "F", "2", "2"));
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
  Build(message_source("EN",
                       "#message 1 A \"Caf\\303\\251 \\342\\202\\254\"\n"
                       "#message 2 B \"Caf\\351\"\n"));
  // UNICODE: an odd text (not the last: the last could be read with a fill
  // byte), a lone high surrogate, a lone low one, and a well-formed pair.
  Build(message_source(
      "JA",
      "#message 3 C \"\\x00\\x41\\x42\"\n#message 4 D \"\\xD8\\x3D\\x00\\x41\"\n"
      "#message 5 E \"\\x00\\x41\\xDE\\x00\"\n#message 6 F \"\\xD8\\x3D\\xDE\\x00\"\n",
      "UNICODE"));
  // A second EN table of the same type_key: lookups find EN:1.
  Build(message_source("EN", "#message 1 A \"again\"\n#message 2 B \"b\"\n"));
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
  Build(message_source("EN", "#message 2 B \"" + late + "%c\"\n#message 1 A \"" + many +
                                 "%d\"\n#message 3 C \"" + many + "\"\n"));
  Build(message_source("FR", "#message 2 B \"" + late + "%p\"\n#message 1 A \"" + many +
                                 "%u\"\n#message 3 C \"" + many + "\"\n"));
  const std::string out = run({"--lint"}).out;
  EXPECT_EQ(out.rfind("FR:1  message 1: format: its text's printf conversions take (%s, ", 0), 0u)
      << out.substr(0, 200);
  EXPECT_NE(out.find("%s, %u) where the reference EN:1 takes (%s, "), std::string::npos);
  EXPECT_NE(out.find("%s, %d)\nFR:1  message 2: format: its text's printf conversions take (%p) "
                     "where the reference EN:1 takes (%c)\n2 findings\n"),
            std::string::npos);
}

TEST_F(LintTest, CleanAndDamagedCatalogues) {
  Build(message_source("EN", "#message 1 A \"%d\"\n"));
  Build(message_source("FR", "#message 1 A \"%i\"\n"));
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
  std::string damaged = catalogue_bytes();
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
