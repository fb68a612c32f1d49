// The real executable as a user runs it: exact output streams and exit codes,
// and the bytes of the files it leaves behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/options.h"
#include "test_util/msg_fields.h"
#include "test_util/test_util.h"
#include "tolvane_version.h"

namespace tolvane::testing {
namespace {

using ::testing::ElementsAre;
using namespace fields;

const std::string kBanner = std::string("Tolvane v") + kVersion + "\n";
const char kPause[] = "press key..";
const std::string& kUsage = usage_text();

// Runs the tool; a pause that waited for a key would end in SIGALRM instead
// of hanging the suite.
RunResult tool(const std::vector<std::string>& args, const std::string& cwd) {
  return run_tolvane(args, cwd, time_limit(60));
}

void expect_run(const RunResult& result, const std::string& out, const std::string& err, int code) {
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.exit_code, code);
}

std::string success(const std::string& source, const std::string& msg_shown) {
  return std::string(kBanner) + "  read " + source + "\n  build " + msg_shown + "\n.. end\n";
}

// The file layout, little-endian, spelled out independently of the product.
std::string bytes_of(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}
std::string zeros(size_t n) { return std::string(n, '\0'); }

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override { write_file(dir / "A.h", message_source("EN", "#message 1 A \"a\"\n")); }
  TempDir dir;
};

TEST_F(CommandLine, SuccessfulRunPrintsExactlyFourLines) {
  expect_run(tool({"-c", "-tA.h", "-hB.h", "x.msg"}, dir.path()), success("A.h", "X.MSG"), "", 0);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("A.h", "B.h", "x.msg"));
}

TEST_F(CommandLine, AcceptedVariantsOfTheOptions) {
  // -c takes no value but ignores one; ".h" anywhere in the -t value passes;
  // a later -t or -h replaces an earlier one.
  write_file(dir / "foo.hpp", message_source("FR", "#message 2 B \"b\"\n"));
  expect_run(tool({"-cxyz", "-tA.h", "-hfirst.h", "-tfoo.hpp", "-hB.h", "x.msg"}, dir.path()),
             success("foo.hpp", "X.MSG"), "", 0);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("A.h", "B.h", "foo.hpp", "x.msg"));
  EXPECT_EQ(read_file(dir / "B.h"), "#define B 2\n");
  EXPECT_EQ(read_file(dir / "x.msg").substr(38, 2), "FR");
}

// Each failure the command line can give, exactly as the user sees it:
// message on standard output, usage on standard error, then the pause; no
// file is created or changed.
TEST_F(CommandLine, FailuresShowTheMessageUsageAndPause) {
  write_file(dir / "MESSAGES.H", message_source("EN", ""));
  write_file(dir / "bad.msg", "XX");
  write_file(dir / "empty.msg", "");
  write_file(dir / "one.msg", "S");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, ""},
      {{"x.msg"},
       "Use the -t option below to specify the file that contains messages definitions\n"},
      {{"-tA.h", "-hB.h", "x.msg"},
       "Error : X.MSG doesn't exist or cannot be opened:\nuse the -c option to create it\n"},
      {{"-c", "-tMESSAGES.H", "-hB.h", "x.msg"}, "Error : MESSAGES.H is not a h file:\n"},
      {{"-c", "-tnone.h", "-hB.h", "x.msg"}, "Error : none.h does not exist or cannot be opened\n"},
      {{"-c", "-x", "-tA.h", "-hB.h", "x.msg"}, "Error : bad argument : -x\n"},
      {{"-c", "A.h", "x.msg"}, "Error : bad argument : A.h\n"},
      {{"-", "x.msg"}, "Error : bad argument : -\n"},
      {{"-c", "-tA.h", "-hB.h", "x.txt"}, "The last option must be a .MSG file\n"},
      {{"-c", "-tA.h", "x.msg"},
       "Use the -h option below to specify the name of the h file that will be generated\n"},
      // The first failure found is the only one reported, in argument order.
      {{"-hB.h", "-x", "x.msg"}, "Error : bad argument : -x\n"},
      {{"-tMESSAGES.H", "-x", "x.msg"}, "Error : MESSAGES.H is not a h file:\n"},
      {{"-c", "-tA.h", "-tnone.h", "-hB.h", "x.msg"},
       "Error : none.h does not exist or cannot be opened\n"},
      {{"-tnone.h", "x.txt"}, "The last option must be a .MSG file\n"},
      {{"-tA.h", "-hB.h", "bad.msg"},
       "Error : BAD.MSG : FILE ID is not valid:\nFILE ID must be 4d53\n"},
      {{"-tA.h", "-hB.h", "empty.msg"},
       "Error : EMPTY.MSG : FILE ID is not valid:\nFILE ID must be 4d53\n"},
      {{"-tA.h", "-hB.h", "one.msg"},
       "Error : ONE.MSG : FILE ID is not valid:\nFILE ID must be 4d53\n"},
  };
  const std::vector<std::string> files = list_dir(dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    expect_run(tool(c.args, dir.path()), kBanner + c.message + kPause, kUsage, 1);
    EXPECT_EQ(list_dir(dir.path()), files);
  }
  EXPECT_EQ(read_file(dir / "bad.msg"), "XX");
}

TEST_F(CommandLine, MsgPathIsOpenedAsTypedAndShownUpperCased) {
  ASSERT_TRUE(std::filesystem::create_directory(dir / "out"));
  expect_run(tool({"-c", "-tA.h", "-hnames.h", "out/app.msg"}, dir.path()),
             success("A.h", "OUT/APP.MSG"), "", 0);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("A.h", "names.h", "out"));
  EXPECT_THAT(list_dir(dir / "out"), ElementsAre("app.msg"));
  // The header's name holds the upper-cased text.
  EXPECT_EQ(read_file(dir / "out/app.msg").substr(4, 32), chars("OUT/APP.MSG", 32));

  // The FILE ID check reads the file as typed too: an upper-case name that
  // does not exist on a case-sensitive file system is missing, here down
  // to its directory (which -c could not create either). Where names ignore
  // case (Windows), it is the same file.
  // Adding A.h again adds a second table of its language and type, and the
  // run says so.
  auto second = [](int rank) {
    return "A.h: warning: the new table EN:" + std::to_string(rank) +
           " has the language and type of EN:1, and a lookup of the first matching table never "
           "reaches it; -r replaces EN:1 instead\n";
  };
  int rank = 2;
  if (file_exists(dir / "OUT/APP.MSG")) {
    expect_run(tool({"-tA.h", "-hnames.h", "OUT/APP.MSG"}, dir.path()),
               success("A.h", "OUT/APP.MSG"), second(rank++), 0);
    EXPECT_EQ(list_dir(dir / "out").size(), 1u);
  } else {
    expect_run(tool({"-tA.h", "-hnames.h", "OUT/APP.MSG"}, dir.path()),
               kBanner + std::string("Error : OUT/APP.MSG : there is no directory OUT\n") + kPause,
               kUsage, 1);
  }
  expect_run(tool({"-tA.h", "-hnames.h", "out/app.msg"}, dir.path()), success("A.h", "OUT/APP.MSG"),
             second(rank), 0);
}

// Names beyond ASCII reach the files whole (on Windows the command line is
// wide text, converted to UTF-8); only ASCII letters are upper-cased.
TEST_F(CommandLine, NonAsciiFileNames) {
  const std::string source =
      "fran\xC3\xA7"
      "ais.h";
  const std::string names = "noms_\xE2\x82\xAC.h";
  const std::string msg = "caf\xC3\xA9_\xF0\x9F\x98\x80.msg";
  const std::string shown = "CAF\xC3\xA9_\xF0\x9F\x98\x80.MSG";
  write_file(dir / source, message_source("FR", "#message 2 B \"b\"\n"));
  expect_run(tool({"-c", "-tA.h", "-h" + names, msg}, dir.path()), success("A.h", shown), "", 0);
  expect_run(tool({"-t" + source, "-h" + names, msg}, dir.path()), success(source, shown), "", 0);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("A.h", msg, source, names));
  EXPECT_EQ(read_file(dir / names), "#define A 1\n#define B 2\n");
  const std::string file = read_file(dir / msg);
  ASSERT_GE(file.size(), 48u);
  EXPECT_EQ(file.substr(4, 32), chars(shown, 32));
  EXPECT_EQ(file.substr(38, 2) + file.substr(46, 2), "ENFR");
}

TEST_F(CommandLine, LongPathsAreHeldWholeAndTheNameFieldTakes32Characters) {
  const std::string name = std::string(70, 'm') + ".msg";
  const std::string source = std::string(66, 's') + ".h";
  const std::string names = std::string(66, 'n') + ".h";
  write_file(dir / source, read_file(dir / "A.h"));
  std::string shown = std::string(70, 'M') + ".MSG";
  expect_run(tool({"-c", "-t" + source, "-h" + names, name}, dir.path()), success(source, shown),
             "", 0);
  const std::string file = read_file(dir / name);
  ASSERT_GE(file.size(), 38u);
  EXPECT_EQ(file.substr(4, 32), std::string(32, 'M'));  // no terminator
  EXPECT_EQ(file.substr(36, 2), U16(1));
  EXPECT_EQ(read_file(dir / names), "#define A 1\n");
}

class Products : public ::testing::Test {
 protected:
  // Runs with success expected, the warnings `err` (the files are what they
  // would be without them) and no work file left behind.
  void Build(const std::vector<std::string>& args, const std::string& source,
             const std::string& shown, const std::vector<std::string>& listing,
             const std::string& err = "") {
    SCOPED_TRACE(::testing::PrintToString(args));
    expect_run(tool(args, dir.path()), success(source, shown), err, 0);
    EXPECT_EQ(list_dir(dir.path()), listing);
  }
  TempDir dir;
};

TEST_F(Products, WorkedExampleIsByteExact) {
  write_file(dir / "A.h", message_source("EN", "#message 2 B \"b\"\n#message 1 A \"a\"\n"));
  Build({"-c", "-tA.h", "-hB.h", "x.msg"}, "A.h", "X.MSG", {"A.h", "B.h", "x.msg"});
  const std::string expected =
      // header: FILE ID, version, name, one language
      bytes_of({0x53, 0x4D, 0x01, 0x01, 'X', '.', 'M', 'S', 'G'}) + zeros(27) +
      bytes_of({0x01, 0x00}) +
      // EN, one table, its record at 46
      bytes_of({'E', 'N', 0x01, 0x00, 46, 0x00, 0x00, 0x00}) +
      // record: type key 0x00010002, font F, coding 1, two messages, block at 90
      bytes_of({0x02, 0x00, 0x01, 0x00, 'F'}) + zeros(31) +
      bytes_of({0x01, 0x00, 0x02, 0x00, 90, 0x00, 0x00, 0x00}) +
      // index: (1, 8) then (2, 0); texts in source order
      bytes_of({0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}) +
      bytes_of({'b', 0x00, 'a', 0x00});
  ASSERT_EQ(expected.size(), 106u);
  EXPECT_EQ(read_file(dir / "x.msg"), expected);
  EXPECT_EQ(read_file(dir / "B.h"), "#define B 2\n#define A 1\n");
}

// English, then French, then English again: a new language and a new table of
// a known language, with every offset moved as the insertions require, the
// old blocks carried over unchanged, and the names header merged.
TEST_F(Products, EnglishFrenchEnglishSequence) {
  write_file(dir / "en.h",
             message_source("EN", "#message 2 B \"b\"\n#message 1 A \"a\"\n", "ISO8859", "FEN"));
  // Identifier 1 is known already: its new name Z must not appear.
  write_file(dir / "fr.h", message_source("FR", "#message 1 Z \"un\"\n#message 3 C \"trois\"\n",
                                          "ISO8859", "FFR"));
  write_file(dir / "en2.h", message_source("EN",
                                           "#message 5 E \"\\x00\\x41 0x00 0x42\"\n"
                                           "#message 6 F none\n"
                                           "#message 4 D \"\\x00\\x43\"\n",
                                           "UNICODE", "FEN2", "1", "3"));
  const std::vector<std::string> listing = {"app.msg", "en.h", "en2.h", "fr.h", "names.h"};

  Build({"-c", "-ten.h", "-hnames.h", "app.msg"}, "en.h", "APP.MSG", listing);
  const std::string en_block = index(1, 8) + index(2, 0) + bytes_of({'b', 0, 'a', 0});
  const std::string en_record = record(0x00010002, "FEN", 1, 2, 90);
  const std::string run1 = header("APP.MSG", 1) + entry("EN", 1, 46) + en_record + en_block;
  ASSERT_EQ(run1.size(), 106u);
  EXPECT_EQ(read_file(dir / "app.msg"), run1);
  EXPECT_EQ(read_file(dir / "names.h"), "#define B 2\n#define A 1\n");

  Build({"-tfr.h", "-hnames.h", "app.msg"}, "fr.h", "APP.MSG", listing,
        "fr.h:6:12: warning: names.h already names 1 \"A\", so \"Z\" is not defined\n");
  // Texts "un\0trois\0" (9 bytes) and a fill byte; index (1, 6), (3, 3).
  const std::string fr_block = index(1, 6) + index(3, 3) + std::string("un\0trois\0\0", 10);
  const std::string run2 = header("APP.MSG", 2) + entry("EN", 1, 54) + entry("FR", 1, 98) +
                           record(0x00010002, "FEN", 1, 2, 142) +
                           record(0x00010002, "FFR", 1, 2, 106 + 52) + en_block + fr_block;
  ASSERT_EQ(run2.size(), 180u);
  EXPECT_EQ(read_file(dir / "app.msg"), run2);
  EXPECT_EQ(read_file(dir / "names.h"), "#define B 2\n#define A 1\n#define C 3\n");

  Build({"-ten2.h", "-hnames.h", "app.msg"}, "en2.h", "APP.MSG", listing);
  // UNICODE texts 00 41 00 42 00 00 and 00 43 00 00; index (4, 12), (5, 0).
  const std::string en2_block =
      index(4, 12) + index(5, 0) + bytes_of({0, 0x41, 0, 0x42, 0, 0, 0, 0x43, 0, 0});
  const std::string run3 =
      header("APP.MSG", 2) + entry("EN", 2, 54) + entry("FR", 1, 142) +
      record(0x00010002, "FEN", 1, 2, 142 + 44) + record(0x00010003, "FEN2", 0, 2, 180 + 44) +
      record(0x00010002, "FFR", 1, 2, 158 + 44) + en_block + fr_block + en2_block;
  ASSERT_EQ(run3.size(), 246u);
  EXPECT_EQ(read_file(dir / "app.msg"), run3);
  // A line without text still gets its name.
  EXPECT_EQ(read_file(dir / "names.h"),
            "#define B 2\n#define A 1\n#define C 3\n#define E 5\n#define F 6\n#define D 4\n");
}

TEST_F(Products, UnicodeTable) {
  write_file(dir / "u.h", message_source("JA",
                                         "#message 3 W \"Hello\"\n"
                                         "#message 1 H \"\\x00\\x48, 0x00 0x69\"\n"
                                         "#message 2 E \"\"\n"
                                         "#message 2 E2 \"0xfF\\x0a\"\n",
                                         "UNICODE", "FONT_JA", "0x10", "1f"));
  Build({"-c", "-tu.h", "-hu_names.h", "u.msg"}, "u.h", "U.MSG", {"u.h", "u.msg", "u_names.h"},
        "u.h:6:15: warning: a UNICODE text is written in byte notations only: from \"Hello\" on, "
        "characters other than \\xHH or 0xHH, blanks and commas are ignored; write each UTF-16 "
        "unit as two notations, high byte first (U+0048 is \\x00\\x48)\n"
        "u.h:9:10: warning: the identifier 2 is given twice in this source (first at line 8): a "
        "lookup finds only one of its texts\n");
  // Texts in source order: 00 00 | 00 48 00 69 00 00 | 00 00 | FF 0A 00 00,
  // 14 bytes after an index of 4 entries (24 bytes). Identifier 2 appears
  // twice: the later text comes first in the index.
  const std::string texts = bytes_of({0, 0, 0, 0x48, 0, 0x69, 0, 0, 0, 0, 0xFF, 0x0A, 0, 0});
  const std::string expected = header("U.MSG", 1) + entry("JA", 1, 46) +
                               record(0x0010001F, "FONT_JA", 0, 4, 90) + index(1, 24 - 6 + 2) +
                               index(2, 24 - 12 + 10) + index(2, 24 - 18 + 8) +
                               index(3, 24 - 24 + 0) + texts;
  EXPECT_EQ(read_file(dir / "u.msg"), expected);
  EXPECT_EQ(read_file(dir / "u_names.h"), "#define W 3\n#define H 1\n#define E 2\n#define E2 2\n");
}

TEST_F(Products, NamesHeaderMergesWhatThePreviousOneDefines) {
  // A previous header written by hand: every line is kept as it is, and an
  // identifier counts as defined whatever blanks separate the parts.
  const std::string previous =
      "/* generated */\r\n#define  OLD_SEVEN\t7\n#ifndef X\n#define KEEP 1   \n#endif\n";
  write_file(dir / "names.h", previous);
  write_file(dir / "en.h", message_source("EN",
                                          "#message 1 NEW_ONE \"a\"\n"
                                          "#message  7 SEVEN \"b\"\n"
                                          "#message 007 SEVEN_AGAIN \"c\"\n"
                                          "#message 100000 BIG \"x\"\n"
                                          "#message 12 TWELVE\n"
                                          "#message 12 TWELVE_TWICE \"d\"\n"
                                          "#define 13 NOT_A_MESSAGE\n"));
  Build({"-c", "-ten.h", "-hnames.h", "app.msg"}, "en.h", "APP.MSG", {"app.msg", "en.h", "names.h"},
        "en.h:6:12: warning: names.h already names 1 \"KEEP\", so \"NEW_ONE\" is not defined\n"
        "en.h:7:13: warning: names.h already names 7 \"OLD_SEVEN\", so \"SEVEN\" is not defined\n"
        "en.h:8:10: warning: the identifier 7 is given twice in this source (first at line 7): a "
        "lookup finds only one of its texts\n"
        "en.h:8:14: warning: names.h already names 7 \"OLD_SEVEN\", so \"SEVEN_AGAIN\" is not "
        "defined\n"
        "en.h:9:10: warning: the identifier 100000 is outside 0-65535: the table stores 34464, "
        "while the names header says 100000\n"
        "en.h:11:10: warning: the identifier 12 is given twice in this source (first at line "
        "10): a lookup finds only one of its texts\n");
  // Only the previous header is searched, so 12 is written twice.
  EXPECT_EQ(read_file(dir / "names.h"),
            previous + "#define BIG 100000\n#define TWELVE 12\n#define TWELVE_TWICE 12\n");

  // A run that brings nothing new leaves the header as it was.
  const std::string merged = read_file(dir / "names.h");
  write_file(dir / "fr.h", message_source("FR", "#message 12 DOUZE \"d\"\n#message 1 UN \"a\"\n"));
  Build({"-tfr.h", "-hnames.h", "app.msg"}, "fr.h", "APP.MSG",
        {"app.msg", "en.h", "fr.h", "names.h"},
        "fr.h:6:13: warning: names.h already names 12 \"TWELVE\", so \"DOUZE\" is not defined\n"
        "fr.h:7:12: warning: names.h already names 1 \"KEEP\", so \"UN\" is not defined\n");
  EXPECT_EQ(read_file(dir / "names.h"), merged);
}

// A read-only MSG file or names header (permissions, or the read-only
// attribute on Windows) is refused before anything is touched, naming it:
// a run would replace it behind the user's back, and root could.
TEST_F(CommandLine, ReadOnlyFilesAreRefusedBeforeAnythingIsTouched) {
  ASSERT_EQ(tool({"-c", "-tA.h", "-hnames.h", "app.msg"}, dir.path()).exit_code, 0);
  const std::string msg = read_file(dir / "app.msg"), names = read_file(dir / "names.h");
  namespace fs = std::filesystem;
  const fs::perms read_only =
      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  for (const char* name : {"app.msg", "names.h"}) {
    SCOPED_TRACE(name);
    fs::permissions(dir / name, read_only);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-tA.h", "-hnames.h", "app.msg"},
          {"-c", "-tA.h", "-hnames.h", "app.msg"}}) {
      expect_run(tool(args, dir.path()), kBanner + std::string(kPause),
                 "Cannot build APP.MSG: " +
                     std::string(name == std::string("app.msg") ? "APP.MSG" : name) +
                     " is read-only; make it writable and run again\n",
                 1);
    }
    fs::permissions(dir / name, read_only | fs::perms::owner_write);
  }
  EXPECT_EQ(read_file(dir / "app.msg"), msg);
  EXPECT_EQ(read_file(dir / "names.h"), names);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("A.h", "app.msg", "names.h"));
}

// A missing directory is explained in the same words on every system.
TEST_F(CommandLine, AMissingDirectoryIsNamed) {
  RunResult r = tool({"-c", "-tA.h", "-hnames.h", "nodir/app.msg"}, dir.path());
  expect_run(r, kBanner + std::string("  read A.h\n  build NODIR/APP.MSG\n") + kPause,
             "Cannot create NODIR/APP.MSG\nnodir/app.TMP: there is no directory nodir\n", 1);
  r = tool({"-tA.h", "-hnodir/sub/names.h", "-c", "app.msg"}, dir.path());
  expect_run(r, kBanner + std::string("  read A.h\n  build APP.MSG\n") + kPause,
             "Cannot create nodir/sub/names.h\nnodir/sub/names.h.TMP: there is no directory "
             "nodir\n",
             1);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("A.h"));
}

#ifndef _WIN32  // Windows has no FIFOs in its file system.
// A FIFO given for any of the files is refused at once: opened, it would
// wait for a writer that never comes.
TEST_F(CommandLine, FifosAreRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo((dir / "f.msg").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((dir / "f.h").c_str(), 0644), 0);
  ASSERT_EQ(run_tolvane({"-c", "-tA.h", "-hnames.h", "app.msg"}, dir.path()).exit_code, 0);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  for (const Case& c :
       {Case{{"-tA.h", "-hnames.h", "f.msg"}, "Error : F.MSG is a FIFO\n"},
        Case{{"-c", "-tA.h", "-hnames.h", "f.msg"}, "Error : F.MSG is a FIFO\n"},
        Case{{"-tA.h", "-hf.h", "app.msg"}, "Error : f.h is a FIFO\n"},
        Case{{"-tf.h", "-hnames.h", "app.msg"}, "Error : f.h is no regular file\n"}}) {
    SCOPED_TRACE(c.message);
    // A hang would end in SIGALRM.
    RunResult r = run_tolvane(c.args, dir.path(), [] { alarm(10); });
    expect_run(r, kBanner + c.message + kPause, kUsage, 1);
  }
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("A.h", "app.msg", "f.h", "f.msg", "names.h"));
}

// The console is for people: a reader that goes away (`| head -n 1`, under
// pipefail) changes neither what a run does nor its exit code.
TEST_F(CommandLine, AReaderThatGoesAwayChangesNothing) {
  auto closed_output = [] {
    alarm(60);
    // As a shell starts a pipeline: SIGPIPE as the system has it.
    signal(SIGPIPE, SIG_DFL);
    int ends[2];
    if (pipe(ends) != 0) _exit(125);
    close(ends[0]);
    dup2(ends[1], 1);
    dup2(ends[1], 2);
  };
  write_file(dir / "de.h", message_source("DE", "#message 2 B \"b\"\n"));
  RunResult created =
      run_tolvane({"-c", "-tA.h", "-hnames.h", "app.msg"}, dir.path(), closed_output);
  EXPECT_EQ(created.signal, 0);
  EXPECT_EQ(created.exit_code, 0);
  RunResult added = run_tolvane({"-tde.h", "-hnames.h", "app.msg"}, dir.path(), closed_output);
  EXPECT_EQ(added.signal, 0);
  EXPECT_EQ(added.exit_code, 0);
  // Exactly the two tables, and the names of both.
  EXPECT_EQ(read_file(dir / "app.msg").substr(36, 2), U16(2));
  EXPECT_EQ(read_file(dir / "names.h"), "#define A 1\n#define B 2\n");
  RunResult refused =
      run_tolvane({"-x", "-tA.h", "-hnames.h", "app.msg"}, dir.path(), closed_output);
  EXPECT_EQ(refused.signal, 0);
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("A.h", "app.msg", "de.h", "names.h"));
}

// A build started from a terminal has the terminal as standard input, and a
// pause there would wait for ever: -b never waits, while a person at the
// terminal still gets the pause.
TEST_F(CommandLine, BatchRunsNeverWaitAtATerminal) {
  auto at_terminal = [](unsigned seconds) {
    return [seconds] {
      alarm(seconds);
      const int master = posix_openpt(O_RDWR | O_NOCTTY);
      if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) _exit(125);
      const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
      if (terminal < 0) _exit(125);
      dup2(terminal, 0);
    };
  };
  const std::vector<std::string> refused = {"-tA.h", "-h", "app.msg"};
  RunResult person = run_tolvane(refused, dir.path(), at_terminal(2));
  if (person.exit_code == 125) GTEST_SKIP() << "no terminal can be opened here";
  EXPECT_EQ(person.signal, SIGALRM) << "the pause did not wait: " << person.out;
  EXPECT_THAT(person.out, ::testing::EndsWith(kPause));

  std::vector<std::string> batch = refused;
  batch.insert(batch.begin(), "-b");
  RunResult r = run_tolvane(batch, dir.path(), at_terminal(30));
  expect_run(r,
             kBanner + std::string("Error : -h needs a file name:\nthe file name must follow -h "
                                   "with no blank, as in -hMyMessagesNames.h\n"),
             kUsage, 1);
  r = run_tolvane({"-b", "-c", "-tA.h", "-hnames.h", "app.msg"}, dir.path(), at_terminal(30));
  expect_run(r, success("A.h", "APP.MSG"), "", 0);
}

// A name the system cannot take is refused before anything is touched, in
// the system's words, for whichever file of the run it is.
TEST_F(CommandLine, NamesTooLongForTheSystem) {
  ASSERT_EQ(run_tolvane({"-c", "-tA.h", "-hnames.h", "app.msg"}, dir.path()).exit_code, 0);
  const std::string names = std::string(250, 'z') + ".h";  // its .TMP is past 255
  RunResult r = tool({"-tA.h", "-h" + names, "app.msg"}, dir.path());
  expect_run(r, kBanner + std::string(kPause),
             "Cannot build APP.MSG\n" + names + ".TMP: File name too long\n", 1);
  const std::string msg = std::string(252, 'y') + ".msg";
  r = tool({"-c", "-tA.h", "-hnames.h", msg}, dir.path());
  expect_run(r, kBanner + std::string(kPause),
             "Cannot build " + std::string(252, 'Y') + ".MSG\n" + msg + ": File name too long\n",
             1);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("A.h", "app.msg", "names.h"));
}
#endif  // !_WIN32

}  // namespace
}  // namespace tolvane::testing
