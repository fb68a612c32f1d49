// The whole tool run in memory: exact console output, exit code and the files
// left behind.
#include "driver/run.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/options.h"
#include "platform/fake_file_system.h"
#include "platform/interrupt.h"
#include "test_util/msg_fields.h"
#include "test_util/test_util.h"
#include "tolvane_version.h"
#include "transaction/work_files.h"

namespace tolvane {
namespace {

using testing::message_source;
using testing::RecordingConsole;

const std::string kBanner = std::string("Tolvane v") + kVersion + "\n";
const std::string kPause = "press key..<pause>";
const std::string& kUsage = usage_text();

using Result = testing::MemoryRun;
using testing::run_in;
using namespace testing::fields;

// What a complete build prints.
std::string progress(const std::string& source, const std::string& msg) {
  return kBanner + "  read " + source + "\n  build " + msg + "\n";
}
std::string success(const std::string& source, const std::string& msg) {
  return progress(source, msg) + ".. end\n";
}

// Every file of the fake file system with its content.
std::map<std::string, std::string> snapshot(const FakeFileSystem& fs) {
  std::map<std::string, std::string> files;
  for (const std::string& name : fs.list_files()) fs.get_file(name, &files[name]);
  return files;
}

// Whether the files are as they were; names only the differences, since
// some of the contents are large.
::testing::AssertionResult same_files(const std::map<std::string, std::string>& before,
                                      const FakeFileSystem& fs) {
  const auto after = snapshot(fs);
  if (after == before) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  for (const auto& [name, content] : before) {
    auto it = after.find(name);
    if (it == after.end()) {
      failure << name << " was removed; ";
    } else if (it->second != content) {
      failure << name << " changed from " << content.size() << " to " << it->second.size()
              << " bytes; ";
    }
  }
  for (const auto& [name, content] : after) {
    if (!before.count(name)) failure << name << " was left (" << content.size() << " bytes); ";
  }
  return failure;
}

std::string content(const FakeFileSystem& fs, const std::string& path) {
  std::string content;
  EXPECT_TRUE(fs.get_file(path, &content)) << path << " is missing";
  return content;
}

// Bytes from a literal that may hold 0x00.
std::string Bytes(const char* data, size_t n) { return std::string(data, n); }

// The source and MSG file of the worked example: two messages, identifiers
// 2 then 1, in a new file.
const std::string kWorkedSource = message_source("EN", "#message 2 B \"b\"\n#message 1 A \"a\"\n");
std::string worked_example_file(const std::string& name) {
  return header(name, 1) + entry("EN", 1, 46) + record(0x00010002, "F", 1, 2, 90) + index(1, 8) +
         index(2, 0) + Bytes("b\0a\0", 4);
}

// ---------------------------------------------------------------------------
// Command-line checks: message on standard output, usage on standard error,
// the pause, code 1, and no file touched.

TEST(RunCommandLine, NoArgumentShowsBannerUsageAndPause) {
  FakeFileSystem fs;
  Result r = run_in(fs, {});
  EXPECT_EQ(r.out, kBanner + kPause);
  EXPECT_EQ(r.err, kUsage);
  EXPECT_EQ(r.pauses, 1);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(fs.list_files().empty());
}

TEST(RunCommandLine, EachProblemIsReportedAloneWithUsageAndPause) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"x.msg"},
       "Use the -t option below to specify the file that contains messages definitions\n"},
      {{"-tA.h", "-hB.h", "x.txt"}, "The last option must be a .MSG file\n"},
      {{"-c", "-tA.h", "-hB.h", "A.h"}, "The last option must be a .MSG file\n"},
      {{"-x", "-tA.h", "-hB.h", "x.msg"}, "Error : bad argument : -x\n"},
      {{"-tA.h", "foo", "-hB.h", "x.msg"}, "Error : bad argument : foo\n"},
      {{"-tA.h", "-hB.h", "-", "x.msg"}, "Error : bad argument : -\n"},
      {{"-tMESSAGES.H", "-hB.h", "x.msg"}, "Error : MESSAGES.H is not a h file:\n"},
      {{"-tmissing.h", "-hB.h", "x.msg"}, "Error : missing.h does not exist or cannot be opened\n"},
      {{"-hB.h", "x.msg"},
       "Use the -t option below to specify the file that contains messages definitions\n"},
      {{"-tA.h", "x.msg"},
       "Use the -h option below to specify the name of the h file that will be generated\n"},
      // A blank after -t or -h leaves the option empty: said so before
      // anything is touched, not once the build is done.
      {{"-t", "A.h", "-hB.h", "x.msg"},
       "Error :  is not a h file:\nthe file name must follow -t with no blank, as in "
       "-tMyEnglishMessages.h\n"},
      {{"-tA.h", "-h", "B.h", "x.msg"},
       "Error : -h needs a file name:\nthe file name must follow -h with no blank, as in "
       "-hMyMessagesNames.h\n"},
      {{"-c", "-tA.h", "-h", "x.msg"},
       "Error : -h needs a file name:\nthe file name must follow -h with no blank, as in "
       "-hMyMessagesNames.h\n"},
      {{"-bx", "-tA.h", "-hB.h", "x.msg"}, "Error : bad argument : -bx\n"},
      // The options are checked before the MSG file is looked at.
      {{"-tA.h", "bad.msg"},
       "Use the -h option below to specify the name of the h file that will be generated\n"},
      {{"-tA.h", "-hB.h", "missing.msg"},
       "Error : MISSING.MSG doesn't exist or cannot be opened:\nuse the -c option to create it\n"},
      {{"-tA.h", "-hB.h", "bad.msg"},
       "Error : BAD.MSG : FILE ID is not valid:\nFILE ID must be 4d53\n"},
      {{"-tA.h", "-hB.h", "empty.msg"},
       "Error : EMPTY.MSG : FILE ID is not valid:\nFILE ID must be 4d53\n"},
      // One byte reads as the low half of the FILE ID.
      {{"-tA.h", "-hB.h", "one.msg"},
       "Error : ONE.MSG : FILE ID is not valid:\nFILE ID must be 4d53\n"},
      // The FILE ID is 0x4D53 stored low byte first; "MS" has it backwards.
      {{"-tA.h", "-hB.h", "swapped.msg"},
       "Error : SWAPPED.MSG : FILE ID is not valid:\nFILE ID must be 4d53\n"},
      // The MSG file is opened as typed; an upper-case namesake does not count.
      {{"-tA.h", "-hB.h", "upper.msg"},
       "Error : UPPER.MSG doesn't exist or cannot be opened:\nuse the -c option to create it\n"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) joined += " " + arg;
    SCOPED_TRACE("Tolvane" + joined);
    FakeFileSystem fs;
    fs.set_file("A.h", kWorkedSource);
    fs.set_file("MESSAGES.H", kWorkedSource);
    fs.set_file("B.h", "#define OLD 1\n");
    fs.set_file("bad.msg", std::string("\x53\x4E", 2) + std::string(40, '\0'));
    fs.set_file("empty.msg", "");
    fs.set_file("one.msg", "\x53");
    fs.set_file("swapped.msg", "MS" + std::string(36, '\0'));
    fs.set_file("UPPER.MSG", worked_example_file("UPPER.MSG"));
    const auto before = snapshot(fs);
    Result r = run_in(fs, c.args);
    EXPECT_EQ(r.out, kBanner + c.message + kPause);
    EXPECT_EQ(r.err, kUsage);
    EXPECT_EQ(r.pauses, 1);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(same_files(before, fs));
  }
}

// Asked for, the usage and the version are answers: standard output, exit 0,
// no pause. -b (a run started by a build) never pauses, whatever fails.
TEST(RunCommandLine, HelpVersionAndBatchRunsNeverPause) {
  FakeFileSystem fs;
  fs.set_file("A.h", kWorkedSource);
  Result help = run_in(fs, {"--help"});
  EXPECT_EQ(help.out, kBanner + kUsage);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.code, 0);
  Result version = run_in(fs, {"--version"});
  EXPECT_EQ(version.out, kBanner);
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(help.pauses + version.pauses, 0);
  EXPECT_EQ(fs.list_files(), std::vector<std::string>{"A.h"});

  for (const std::vector<std::string>& args : {std::vector<std::string>{"-b"},
                                               {"-b", "-tA.h", "-hB.h", "missing.msg"},
                                               {"-tA.h", "-b", "-hB.h", "missing.msg"},
                                               {"-lnone.txt", "-hB.h", "x.msg"},
                                               {"-lnone.txt", "-tA.h", "-hB.h", "x.msg"}}) {
    Result r = run_in(fs, args);
    EXPECT_EQ(r.pauses, 0);
    EXPECT_EQ(r.out.find("press key.."), std::string::npos) << r.out;
    EXPECT_EQ(r.code, 1);
  }
  Result built = run_in(fs, {"-c", "-b", "-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(built.out, success("A.h", "X.MSG"));
  EXPECT_EQ(content(fs, "x.msg"), worked_example_file("X.MSG"));
}

// A previous names header gets #define lines appended: one that is no names
// header (another catalogue, binary data, C code) is refused before anything
// is touched; comments, blank lines, #define lines and a guard around them
// pass.
TEST(RunRefusal, APreviousNamesHeaderThatIsNoNamesHeader) {
  struct Case {
    std::string content, problem;
  };
  const std::vector<Case> cases = {
      {worked_example_file("OTHER.MSG"), "it is an MSG file"},
      {std::string("#define A 1\n\0\x01\x02", 15), "it is not text"},
      {"#define A 1\nint x;\n",
       "line 2 is neither a preprocessor line (#define ...), a comment "
       "nor blank"},
      {"/* a\n#define B 2 */ int x;\n",
       "line 2 is neither a preprocessor line (#define ...), a "
       "comment nor blank"},
      {"define A 1\n", "line 1 is neither a preprocessor line (#define ...), a comment nor blank"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    FakeFileSystem fs;
    fs.set_file("A.h", kWorkedSource);
    fs.set_file("x.msg", worked_example_file("X.MSG"));
    fs.set_file("other.h", c.content);
    const auto before = snapshot(fs);
    Result r = run_in(fs, {"-tA.h", "-hother.h", "x.msg"});
    EXPECT_EQ(r.out, kBanner + "Error : other.h is not a names header: " + c.problem + "\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(same_files(before, fs));
  }
  FakeFileSystem fs;
  fs.set_file("A.h", kWorkedSource);
  const std::string kept =
      "// generated\r\n#ifndef NAMES_H\n\n  /* several\n     lines */\n#define OLD 7 /* kept */\n"
      "\t#define X 8\n#endif\n";
  fs.set_file("B.h", kept);
  Result r = run_in(fs, {"-c", "-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(r.out, success("A.h", "X.MSG"));
  EXPECT_EQ(content(fs, "B.h"), kept + "#define B 2\n#define A 1\n");
}

// ---------------------------------------------------------------------------
// Complete builds: exact output and the bytes of both files.

TEST(RunBuild, WorkedExampleGivesTheExpectedFileAndOutput) {
  FakeFileSystem fs;
  fs.set_file("A.h", kWorkedSource);
  Result r = run_in(fs, {"-c", "-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(r.out, success("A.h", "X.MSG"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.pauses, 0);
  EXPECT_EQ(r.code, 0);
  const std::string msg = content(fs, "x.msg");
  EXPECT_EQ(msg.size(), 106u);
  EXPECT_EQ(msg, worked_example_file("X.MSG"));
  EXPECT_EQ(content(fs, "B.h"), "#define B 2\n#define A 1\n");
  // Built as typed, and nothing else is left behind.
  EXPECT_EQ(fs.list_files(), (std::vector<std::string>{"A.h", "B.h", "x.msg"}));
}

TEST(RunBuild, OptionFormsThatAreAccepted) {
  // -c takes no value; -t needs ".h" anywhere; the last -t and -h win.
  FakeFileSystem fs;
  fs.set_file("foo.hpp", kWorkedSource);
  fs.set_file("first.h", "// not a message source\n");
  Result r = run_in(fs, {"-tfirst.h", "-hfirst_names.h", "-cxyz", "-tfoo.hpp", "-hB.h", "X.Msg"});
  EXPECT_EQ(r.out, success("foo.hpp", "X.MSG"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(content(fs, "X.Msg"), worked_example_file("X.MSG"));
  EXPECT_EQ(content(fs, "B.h"), "#define B 2\n#define A 1\n");
  EXPECT_EQ(fs.list_files(), (std::vector<std::string>{"B.h", "X.Msg", "first.h", "foo.hpp"}));
}

TEST(RunBuild, LongPathsWorkAndTheHeaderNameTakesTheirFirst32Characters) {
  const std::string dir(70, 'd');
  for (const std::string& msg_path : {std::string(27, 'a') + ".msg", std::string(28, 'b') + ".msg",
                                      dir + "/" + std::string(80, 'm') + ".msg"}) {
    SCOPED_TRACE(msg_path);
    std::string upper = msg_path;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string source = dir + "/" + std::string(90, 's') + ".h";
    const std::string names = dir + "/" + std::string(100, 'n') + ".h";
    FakeFileSystem fs;
    fs.set_file(source, kWorkedSource);
    Result r = run_in(fs, {"-c", "-t" + source, "-h" + names, msg_path});
    EXPECT_EQ(r.out, success(source, upper));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    const std::string msg = content(fs, msg_path);
    // 31 characters leave one 0x00; 32 or more fill the field unterminated.
    EXPECT_EQ(msg.substr(4, 32), chars(upper, 32));
    EXPECT_EQ(msg, worked_example_file(upper));
    EXPECT_EQ(content(fs, names), "#define B 2\n#define A 1\n");
    EXPECT_EQ(fs.list_files().size(), 3u);
  }
}

TEST(RunBuild, ExistingFileIsOpenedAsTypedAndShownUpperCased) {
  FakeFileSystem fs;
  fs.set_file("A.h", kWorkedSource);
  fs.set_file("app.msg", worked_example_file("APP.MSG"));
  Result r = run_in(fs, {"-tA.h", "-hB.h", "app.msg"});
  EXPECT_EQ(r.out, success("A.h", "APP.MSG"));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(fs.list_files(), (std::vector<std::string>{"A.h", "B.h", "app.msg"}));
  // A second EN table: the existing header (name included) is kept.
  const std::string msg = content(fs, "app.msg");
  EXPECT_EQ(msg.substr(0, 38), header("APP.MSG", 1));
  EXPECT_EQ(msg.substr(38, 8), entry("EN", 2, 46));
}

TEST(RunBuild, EnglishFrenchEnglishSequenceCarriesOldTablesOver) {
  FakeFileSystem fs;
  fs.set_file("en.h", message_source("EN", "#message 1 HELLO \"Hi\"\n"));
  fs.set_file("fr.h", message_source("FR",
                                     "#message 2 BYE \"Au revoir\"\n"
                                     "#message 1 HELLO \"Salut\"\n",
                                     "ISO8859", "FONT_FR", "3", "1f"));
  fs.set_file("en2.h", message_source("EN",
                                      "#message 3 THREE \"ab\"\n"
                                      "#message 1 HELLO_AGAIN \"z\"\n"
                                      "#message 4 NOTEXT none\n",
                                      "ISO8859", "F2", "1", "5"));

  Result r = run_in(fs, {"-c", "-ten.h", "-hnames.h", "x.msg"});
  EXPECT_EQ(r.out, success("en.h", "X.MSG"));
  ASSERT_EQ(r.code, 0);
  // One text of 3 bytes: the block gets a fill byte to end at 100.
  const std::string first = content(fs, "x.msg");
  EXPECT_EQ(first, header("X.MSG", 1) + entry("EN", 1, 46) + record(0x00010002, "F", 1, 1, 90) +
                       index(1, 0) + Bytes("Hi\0\0", 4));
  EXPECT_EQ(content(fs, "names.h"), "#define HELLO 1\n");

  // A new language: its entry and record come last; everything moves by 8
  // (directory) or 52 (entry and record).
  r = run_in(fs, {"-tfr.h", "-hnames.h", "x.msg"});
  EXPECT_EQ(r.out, success("fr.h", "X.MSG"));
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.code, 0);
  const std::string second = content(fs, "x.msg");
  EXPECT_EQ(second, header("X.MSG", 2) + entry("EN", 1, 54) + entry("FR", 1, 98) +
                        record(0x00010002, "F", 1, 1, 142) +
                        record(0x0003001F, "FONT_FR", 1, 2, 152) + first.substr(90) + index(1, 16) +
                        index(2, 0) + Bytes("Au revoir\0Salut\0", 16));
  EXPECT_EQ(second.size(), 180u);
  EXPECT_EQ(content(fs, "names.h"), "#define HELLO 1\n#define BYE 2\n");

  // An existing language: its new record follows its old one, the later
  // language's offsets move by 44, the old blocks follow in their old order.
  r = run_in(fs, {"-ten2.h", "-hnames.h", "x.msg"});
  EXPECT_EQ(r.out, success("en2.h", "X.MSG"));
  ASSERT_EQ(r.code, 0);
  const std::string third = content(fs, "x.msg");
  EXPECT_EQ(third, header("X.MSG", 2) + entry("EN", 2, 54) + entry("FR", 1, 142) +
                       record(0x00010002, "F", 1, 1, 186) + record(0x00010005, "F2", 1, 2, 224) +
                       record(0x0003001F, "FONT_FR", 1, 2, 196) + first.substr(90) +
                       second.substr(152) + index(1, 9) + index(3, 0) + Bytes("ab\0z\0\0", 6));
  EXPECT_EQ(third.size(), 242u);
  // Identifier 1 is known already, whatever its new name; a line without a
  // text still gets its #define.
  EXPECT_EQ(content(fs, "names.h"),
            "#define HELLO 1\n#define BYE 2\n#define THREE 3\n#define NOTEXT 4\n");
  EXPECT_EQ(fs.list_files(),
            (std::vector<std::string>{"en.h", "en2.h", "fr.h", "names.h", "x.msg"}));
}

TEST(RunBuild, UnicodeTableHoldsTheSpelledOutBytes) {
  FakeFileSystem fs;
  fs.set_file("A.h", message_source("JA",
                                    "#message 1 U \"\\x00\\x41 0x00 0x42\"\n"
                                    "#message 0 E \"Hello\"\n",
                                    "UNICODE"));
  Result r = run_in(fs, {"-c", "-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(r.out, success("A.h", "X.MSG"));
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(content(fs, "x.msg"), header("X.MSG", 1) + entry("JA", 1, 46) +
                                      record(0x00010002, "F", 0, 2, 90) + index(0, 12) +
                                      index(1, 0) + Bytes("\0\x41\0\x42\0\0\0\0", 8));
  EXPECT_EQ(content(fs, "B.h"), "#define U 1\n#define E 0\n");
}

TEST(RunBuild, NamesHeaderKeepsThePreviousOneAndAddsOnlyNewIdentifiers) {
  FakeFileSystem fs;
  const std::string previous = "// names\r\n#define  OLD\t7\n#define MSG_A 1\n";
  fs.set_file("names.h", previous);
  fs.set_file("A.h", message_source("EN",
                                    "#message 1 MSG_Z \"a\"\n"
                                    "#message 7 SEVEN \"b\"\n"
                                    "#message 13 MSG_C \"c\"\n"
                                    "#message 70000 X \"t\"\n"
                                    "#message  8 TWO_BLANKS \"x\"\n"
                                    "#message 012 TWELVE \"y\"\n"
                                    "#message 13 MSG_C_AGAIN\n"));
  // -c starts a new MSG file but still merges the names header.
  Result r = run_in(fs, {"-c", "-tA.h", "-hnames.h", "x.msg"});
  EXPECT_EQ(r.out, success("A.h", "X.MSG"));
  ASSERT_EQ(r.code, 0);
  // Only the previous header is searched: MSG_C is new twice.
  EXPECT_EQ(content(fs, "names.h"), previous +
                                        "#define MSG_C 13\n#define X 70000\n"
                                        "#define TWO_BLANKS 8\n#define TWELVE 12\n"
                                        "#define MSG_C_AGAIN 13\n");
  // The index holds the low 16 bits of each identifier, in ascending order.
  const std::string msg = content(fs, "x.msg");
  ASSERT_EQ(read_u16(msg, 46 + 38), 6u);
  std::vector<uint32_t> ids;
  for (size_t i = 0; i < 6; ++i) ids.push_back(read_u16(msg, 90 + 6 * i));
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 7, 8, 12, 13, 4464}));
  EXPECT_EQ(fs.list_files(), (std::vector<std::string>{"A.h", "names.h", "x.msg"}));
}

TEST(RunBuild, PreviousNamesHeaderWithoutFinalLineFeedIsSearchedAndKeptApart) {
  FakeFileSystem fs;
  fs.set_file("names.h", "#define LAST 9");
  fs.set_file("A.h", message_source("EN", "#message 9 NINE \"a\"\n#message 2 NEW \"b\"\n"));
  Result r = run_in(fs, {"-c", "-tA.h", "-hnames.h", "x.msg"});
  EXPECT_EQ(r.out, success("A.h", "X.MSG"));
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(content(fs, "names.h"), "#define LAST 9\n#define NEW 2\n");
}

// A source with `count` texts whose identifiers run downwards, so that every
// entry has to be moved by the sort.
std::string many_messages(int count) {
  std::string body;
  for (int id = count - 1; id >= 0; --id) {
    body += "#message " + std::to_string(id) + " M" + std::to_string(id) + " \"t" +
            std::to_string(id) + "\"\n";
  }
  return message_source("EN", body);
}

TEST(RunBuild, MoreThanTenThousandMessagesUpToTheFormatsLimit) {
  constexpr uint32_t kCount = 32767;  // counts are signed 16-bit values
  FakeFileSystem fs;
  fs.set_file("A.h", many_messages(kCount));
  Result r = run_in(fs, {"-c", "-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(r.out, success("A.h", "X.MSG"));
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.code, 0);
  const std::string msg = content(fs, "x.msg");
  ASSERT_EQ(read_u16(msg, 46 + 38), kCount);
  EXPECT_EQ(msg.size() % 2, 0u);
  // Every entry, in ascending order, leads to its own text.
  for (uint32_t i = 0; i < kCount; ++i) {
    const size_t entry_end = 90 + 6 * (i + 1);
    ASSERT_EQ(read_u16(msg, entry_end - 6), i);
    const size_t text_at = entry_end + read_u32(msg, entry_end - 4);
    ASSERT_LT(text_at, msg.size());
    ASSERT_EQ(std::string(msg.c_str() + text_at), "t" + std::to_string(i)) << "entry " << i;
  }
  const std::string names = content(fs, "B.h");
  EXPECT_EQ(names.substr(0, 22), "#define M32766 32766\n#");
  EXPECT_EQ(names.substr(names.size() - 13), "#define M0 0\n");
}

// ---------------------------------------------------------------------------
// Refusals that leave every file exactly as it was.

TEST(RunRefusal, TooManyTextsForOneTable) {
  FakeFileSystem fs;
  fs.set_file("A.h", many_messages(32768));
  fs.set_file("x.msg", worked_example_file("X.MSG"));
  fs.set_file("B.h", "#define B 2\n#define A 1\n");
  const auto before = snapshot(fs);
  Result r = run_in(fs, {"-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(r.out, progress("A.h", "X.MSG") +
                       "Error : A.h : 32768 messages have a text; a table holds at most 32767\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(same_files(before, fs));
}

TEST(RunRefusal, TooManyLanguagesOrTablesOfOneLanguage) {
  // 32,767 distinct languages without tables: one more would not fit. (The
  // same code twice is damage a build refuses.)
  std::string languages = header("X.MSG", 32767);
  for (uint32_t i = 0; i < 32767; ++i) {
    const std::string code = {static_cast<char>(0x80 | (i & 0x7F)), static_cast<char>(i >> 7)};
    languages += entry(code, 0, 38 + 8 * 32767);
  }
  // One language with 32,767 empty tables: another would not fit.
  const uint32_t area_end = 46 + 44 * 32767;
  std::string tables = header("X.MSG", 1) + entry("EN", 32767, 46);
  for (uint32_t i = 0; i < 32767; ++i) tables += record(0x00010002, "F", 1, 0, area_end);

  for (const auto& [content, problem] : std::vector<std::pair<std::string, std::string>>{
           {languages, "a file holds at most 32767 languages"},
           {tables, "a language holds at most 32767 tables"}}) {
    SCOPED_TRACE(problem);
    FakeFileSystem fs;
    fs.set_file("A.h", kWorkedSource);
    fs.set_file("x.msg", content);
    const auto before = snapshot(fs);
    Result r = run_in(fs, {"-tA.h", "-hB.h", "x.msg"});
    EXPECT_EQ(r.out, progress("A.h", "X.MSG") + "Error : X.MSG : " + problem + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(same_files(before, fs));
  }
}

TEST(RunRefusal, DamagedExistingFileIsRefusedBeforeAnythingIsPrintedOrMoved) {
  const std::string good = worked_example_file("X.MSG");
  auto patched = [&](size_t at, const std::string& bytes) {
    std::string file = good;
    file.replace(at, bytes.size(), bytes);
    return file;
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {good.substr(0, 5), "the header is cut short (5 bytes)"},
      {header("X.MSG", 1), "the language directory does not fit in the file"},
      {patched(36, U16(40000)), "the language count 40000 is over 32767 at byte 36"},
      {good.substr(0, 60), "the table records do not fit in the file"},
      {patched(40, U16(40000)), "the table count 40000 is over 32767 at byte 40"},
      {patched(42, U32(50)), "the table offset 50 disagrees with the records' place 46 at byte 42"},
      {patched(84, U16(40000)), "the message count 40000 is over 32767 at byte 84"},
      {patched(86, U32(200)), "the table block at 200 lies outside the file's blocks at byte 86"},
      {patched(86, U32(40)), "the table block at 40 lies outside the file's blocks at byte 86"},
      {patched(84, U16(3)), "the table block at 90 lies outside the file's blocks at byte 86"},
  };
  for (const auto& [content, problem] : cases) {
    SCOPED_TRACE(problem);
    FakeFileSystem fs;
    fs.set_file("A.h", kWorkedSource);
    fs.set_file("x.msg", content);
    fs.set_file("B.h", "#define B 2\n");
    const auto before = snapshot(fs);
    Result r = run_in(fs, {"-tA.h", "-hB.h", "x.msg"});
    EXPECT_EQ(r.out, kBanner + "Error : X.MSG : " + problem + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.pauses, 0);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(same_files(before, fs));
  }
}

TEST(RunRefusal, FileWithoutLanguagesIsAccepted) {
  FakeFileSystem fs;
  fs.set_file("A.h", kWorkedSource);
  fs.set_file("x.msg", header("OLD NAME", 0));
  Result r = run_in(fs, {"-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(r.out, success("A.h", "X.MSG"));
  ASSERT_EQ(r.code, 0);
  // The new entry's records follow the directory; the old name is kept.
  EXPECT_EQ(content(fs, "x.msg"), worked_example_file("OLD NAME"));
}

// ---------------------------------------------------------------------------
// Leftovers of an interrupted run stop the next one before any file is
// examined or touched.

TEST(RunStaleBackup, StopsBeforeTheFileIdCheckAndTouchesNothing) {
  struct Case {
    std::string what;
    std::map<std::string, std::string> files;
    std::vector<std::string> args;
    std::string in_the_way;
  };
  const std::string msg = worked_example_file("X.MSG");
  // Each backup with the mark a run leaves beside it.
  const std::string mark = run_mark_text("x.BAK"), names_mark = run_mark_text("B.h.BAK");
  const std::vector<Case> cases = {
      {"MSG backup",
       {{"x.msg", msg}, {"x.BAK", msg}, {"x.RUN", mark}},
       {"-tA.h", "-hB.h", "x.msg"},
       "x.BAK"},
      {"MSG backup, with -c",
       {{"x.msg", msg}, {"x.BAK", msg}, {"x.RUN", mark}},
       {"-c", "-tA.h", "-hB.h", "x.msg"},
       "x.BAK"},
      // Without the backups' check these would be FILE ID failures that
      // advise -c, which would throw the backup's content away.
      {"MSG backup, MSG file missing",
       {{"x.BAK", msg}, {"x.RUN", mark}},
       {"-tA.h", "-hB.h", "x.msg"},
       "x.BAK"},
      {"MSG backup, MSG file empty, temporary file left",
       {{"x.msg", ""}, {"x.BAK", msg}, {"x.RUN", mark}, {"x.TMP", "partial"}},
       {"-tA.h", "-hB.h", "x.msg"},
       "x.BAK"},
      {"names backup",
       {{"x.msg", msg}, {"B.h.BAK", "#define B 2\n"}, {"B.h.RUN", names_mark}},
       {"-tA.h", "-hB.h", "x.msg"},
       "B.h.BAK"},
      {"names backup, damaged MSG file",
       {{"x.msg", msg.substr(0, 50)}, {"B.h.BAK", "#define B 2\n"}, {"B.h.RUN", names_mark}},
       {"-tA.h", "-hB.h", "x.msg"},
       "B.h.BAK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fs;
    fs.set_file("A.h", kWorkedSource);
    fs.set_file("B.h", "");
    for (const auto& [name, content] : c.files) fs.set_file(name, content);
    const auto before = snapshot(fs);
    Result r = run_in(fs, c.args);
    EXPECT_EQ(r.out, kBanner + kPause);
    EXPECT_EQ(r.err.rfind("Cannot build X.MSG: " + c.in_the_way + " ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_EQ(r.pauses, 1);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(same_files(before, fs));
  }
}

TEST(RunStaleBackup, SaysHowToRestoreWhileTheTemporaryFileShowsTheRunWasCut) {
  FakeFileSystem fs;
  fs.set_file("A.h", kWorkedSource);
  fs.set_file("x.msg", "");
  fs.set_file("x.BAK", worked_example_file("X.MSG"));
  fs.set_file("x.RUN", run_mark_text("x.BAK"));
  fs.set_file("x.TMP", "");
  Result r = run_in(fs, {"-tA.h", "-hB.h", "x.msg"});
  EXPECT_NE(r.err.find("restore it with: mv 'x.BAK' 'x.msg' && rm 'x.RUN'"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.code, 1);
}

// A user's own copies under the backups' names (cp x.msg x.BAK) are byte for
// byte what a run's backups would be, yet no run takes them for leftovers:
// it asks to move them, never to remove them, and touches nothing.
TEST(RunStaleBackup, AUsersOwnBackupIsLeftAlone) {
  FakeFileSystem fs;
  fs.set_file("A.h", message_source("FR", "#message 3 C \"c\"\n"));
  ASSERT_EQ(run_in(fs, {"-c", "-tA.h", "-hB.h", "x.msg"}).code, 0);
  for (const char* backup : {"x.BAK", "B.h.BAK"}) {
    SCOPED_TRACE(backup);
    const std::string original = std::string(backup) == "x.BAK" ? "x.msg" : "B.h";
    fs.set_file(backup, content(fs, original));
    for (bool tmp : {false, true}) {
      if (tmp) fs.set_file("x.TMP", "");
      const auto before = snapshot(fs);
      Result r = run_in(fs, {"-tA.h", "-hB.h", "x.msg"});
      EXPECT_EQ(r.err, "Cannot build X.MSG: " + std::string(backup) +
                           " was not made by a run and is in the way of the run's backup of " +
                           original + "; move or rename it and run again\n");
      EXPECT_EQ(r.code, 1);
      EXPECT_TRUE(same_files(before, fs));
      if (tmp) fs.remove("x.TMP");
    }
    // Moved away as asked, it stays the user's.
    const std::string copy = content(fs, backup);
    fs.rename(backup, "mine");
    ASSERT_EQ(run_in(fs, {"-tA.h", "-hB.h", "x.msg"}).code, 0);
    EXPECT_EQ(content(fs, "mine"), copy);
    EXPECT_EQ(fs.list_files(), (std::vector<std::string>{"A.h", "B.h", "mine", "x.msg"}));
    fs.remove("mine");
  }
}

// ---------------------------------------------------------------------------
// A build that fails leaves the MSG file and the names header byte-identical
// and no work file behind.

TEST(RunFailedBuild, PutsEveryFileBack) {
  struct Case {
    std::string what;
    std::string source;
    std::string message;
    std::string err = "";
  };
  const std::vector<Case> cases = {
      {"missing LANGUAGE line", "// LANGUAGE EN\n#message 1 A \"a\"\n",
       "  Error in A.h:specify the name of the language to create:\n    ex :// #LANGUAGE EN\n"},
      {"hexadecimal escape without a digit",
       message_source("EN", "#message 1 A \"a\"\n#message 2 B \"\\xg1\"\n"),
       "Error : \\xg: hex constants must have at least one hex digit\n"},
      {"identifier that cannot be read",
       message_source("EN", "#message 1 A \"a\"\n#message abc X \"t\"\n"),
       "  Error in A.h: 1 error\n",
       "A.h:7:10: error: the identifier of this #message line cannot be read\n"},
  };
  for (const Case& c : cases) {
    for (bool create : {false, true}) {
      SCOPED_TRACE(c.what + (create ? ", with -c" : ""));
      FakeFileSystem fs;
      fs.set_file("A.h", c.source);
      fs.set_file("x.msg", worked_example_file("X.MSG"));
      fs.set_file("B.h", "#define B 2\n#define A 1\n");
      const auto before = snapshot(fs);
      std::vector<std::string> args = {"-tA.h", "-hB.h", "x.msg"};
      if (create) args.insert(args.begin(), "-c");
      Result r = run_in(fs, args);
      EXPECT_EQ(r.out, progress("A.h", "X.MSG") + c.message);
      EXPECT_EQ(r.err, c.err);
      EXPECT_EQ(r.pauses, 0);
      EXPECT_EQ(r.code, 1);
      EXPECT_TRUE(same_files(before, fs));
    }
  }
}

// What the source holds that is wrong stops the build with the place on
// standard error; with -W, so does what is doubtful. Found on the first
// reading or on the second (names against the previous header), it leaves
// every file as it was.
TEST(RunSourceFindings, ErrorsAndWarningsUnderWStopWithEveryFileAsItWas) {
  struct Case {
    std::string what;
    std::vector<std::string> options;
    std::string body;
    std::string summary;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"an error",
       {},
       "#message 0x10 MSG_HEX \"y\"\n#message 1 A \"a\"b\"\n",
       "1 error",
       "A.h:6:10: error: the identifier \"0x10\" is not a decimal number: it would be read as "
       "0; identifiers are decimal, so write 16\n"
       "A.h:7:16: warning: a double quote inside the text is dropped: write \\\" for a double "
       "quote\n"},
      {"a name the names header gives another identifier",
       {},
       "#message 3 A \"a\"\n",
       "1 error",
       "A.h:6:12: error: the name \"A\" is #defined as 1 in B.h: one name cannot stand for "
       "identifier 3 as well\n"},
      {"a warning with -W",
       {"-W"},
       "#message 1 A \"x\"\n#message 1 A \"y\"\n",
       "1 warning, which -W makes errors",
       "A.h:7:10: warning: the identifier 1 is given twice in this source (first at line 6): a "
       "lookup finds only one of its texts\n"},
      {"a names header warning with -W",
       {"-W"},
       "#message 2 TWO \"x\"\n",
       "1 warning, which -W makes errors",
       "A.h:6:12: warning: B.h already names 2 \"B\", so \"TWO\" is not defined\n"},
  };
  for (const Case& c : cases) {
    for (bool create : {false, true}) {
      SCOPED_TRACE(c.what + (create ? ", with -c" : ""));
      FakeFileSystem fs;
      fs.set_file("A.h", message_source("EN", c.body));
      fs.set_file("x.msg", worked_example_file("X.MSG"));
      fs.set_file("B.h", "#define B 2\n#define A 1\n");
      const auto before = snapshot(fs);
      std::vector<std::string> args = c.options;
      if (create) args.push_back("-c");
      args.insert(args.end(), {"-tA.h", "-hB.h", "x.msg"});
      Result r = run_in(fs, args);
      EXPECT_EQ(r.out, progress("A.h", "X.MSG") + "  Error in A.h: " + c.summary + "\n");
      EXPECT_EQ(r.err, c.err);
      EXPECT_EQ(r.pauses, 0);
      EXPECT_EQ(r.code, 1);
      EXPECT_TRUE(same_files(before, fs));
    }
  }
}

// Warnings are told, and the files are those the build always wrote: the
// same as from the source that says plainly what the build makes of it.
TEST(RunSourceFindings, WarningsChangeNoByteOfTheFiles) {
  const std::string warned = message_source(
      "ENG", "#message 1 A \"a\"b\"\n#message 2 B \"c\\q\"\n  #message 3 C \"x\"\n", "unicode");
  const std::string plain =
      message_source("EN", "#message 1 A \"ab\"\n#message 2 B \"cq\"\n", "ISO8859");
  std::map<std::string, std::string> built[2];
  for (int i = 0; i < 2; ++i) {
    FakeFileSystem fs;
    fs.set_file("A.h", i == 0 ? warned : plain);
    fs.set_file("x.msg", worked_example_file("X.MSG"));
    fs.set_file("B.h", "#define B 2\n#define A 1\n");
    Result r = run_in(fs, {"-tA.h", "-hB.h", "x.msg"});
    EXPECT_EQ(r.out, success("A.h", "X.MSG"));
    EXPECT_EQ(r.code, 0);
    // The worked example holds an EN table of the same type already.
    const std::string second =
        "A.h: warning: the new table EN:2 has the language and type of EN:1, and a lookup of the "
        "first matching table never reaches it; -r replaces EN:1 instead\n";
    EXPECT_EQ(r.err, i == 1 ? second
                            : "A.h:1:14: warning: the language \"ENG\" is stored on two "
                              "characters, as \"EN\"\n"
                              "A.h:3:15: warning: the coding \"unicode\" is not UNICODE (upper "
                              "case): the table is a byte table; write UNICODE for a UNICODE "
                              "table\n"
                              "A.h:6:16: warning: a double quote inside the text is dropped: "
                              "write \\\" for a double quote\n"
                              "A.h:7:16: warning: unknown escape \"\\q\": the backslash is "
                              "dropped\n"
                              "A.h:8:1: warning: an indented #message line is ignored: #message "
                              "must begin the line\n" +
                                  second);
    built[i] = snapshot(fs);
    built[i].erase("A.h");
  }
  EXPECT_EQ(built[0].size(), 2u);
  EXPECT_TRUE(built[0] == built[1]);
}

TEST(RunFailedBuild, WithoutPreviousFilesNothingIsLeft) {
  FakeFileSystem fs;
  fs.set_file("A.h", message_source("EN", "#message 1 A \"\\x\"\n"));
  Result r = run_in(fs, {"-c", "-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(r.out, progress("A.h", "X.MSG") +
                       "Error : \\x: hex constants must have at least one hex digit\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(fs.list_files(), std::vector<std::string>{"A.h"});
}

// The build reads and writes several files at once; a read or write that
// fails names the file it failed on, in that file's role, and the reason
// line names it as it is on disk.
TEST(RunFailedBuild, AReadOrWriteThatFailsNamesItsFile) {
  const std::map<std::string, std::string> told = {
      {"read A.h", "Cannot read A.h\nA.h: "},
      {"read x.msg", "Cannot read X.MSG\nx.msg: "},
      {"read B.h", "Cannot read B.h\nB.h: "},
      // The reason line names the file on disk; a write names the work file
      // it was writing, since the names header itself is untouched.
      {"write x.TMP", "Cannot write X.TMP\nx.TMP: "},
      {"write B.h.TMP", "Cannot write B.h.TMP\nB.h.TMP: "},
  };
  std::set<std::string> seen;
  for (long n = 1;; ++n) {
    FakeFileSystem fs;
    fs.set_file("A.h", message_source("FR", "#message 1 A \"a\"\n"));
    fs.set_file("x.msg", worked_example_file("X.MSG"));
    fs.set_file("B.h", "#define A 1\n");
    fs.fail_at(n, false);
    Result r = run_in(fs, {"-tA.h", "-hB.h", "x.msg"});
    if (!fs.injected()) break;
    // Opening, and reading before the build or while replacing the files,
    // are told otherwise.
    const std::string& at = fs.injected_at();
    if (at.rfind("read ", 0) != 0 && at.rfind("write ", 0) != 0) continue;
    if (r.err.rfind("Cannot read ", 0) != 0 && r.err.rfind("Cannot write ", 0) != 0) continue;
    auto it = told.find(at);
    ASSERT_NE(it, told.end()) << at << ": " << r.err;
    EXPECT_EQ(r.err.substr(0, it->second.size()), it->second) << at;
    seen.insert(it->first);
  }
  EXPECT_EQ(seen.size(), told.size());
}

TEST(RunBuild, CreateReplacesAnExistingFileOnlyWhenTheNewOneIsComplete) {
  FakeFileSystem fs;
  fs.set_file("A.h", message_source("EN", "#message 1 A \"\\xz\"\n"));
  fs.set_file("x.msg", "not a catalogue at all");
  Result r = run_in(fs, {"-c", "-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(content(fs, "x.msg"), "not a catalogue at all");

  fs.set_file("A.h", kWorkedSource);
  r = run_in(fs, {"-c", "-tA.h", "-hB.h", "x.msg"});
  EXPECT_EQ(r.out, success("A.h", "X.MSG"));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(content(fs, "x.msg"), worked_example_file("X.MSG"));
  EXPECT_EQ(fs.list_files(), (std::vector<std::string>{"A.h", "B.h", "x.msg"}));
}

// ---------------------------------------------------------------------------
// Work files come from the MSG path as typed, with only its final extension
// replaced.

// Forwards to a fake file system and notes every path a change is made to.
class PathRecorder : public FileSystem {
 public:
  explicit PathRecorder(FakeFileSystem& fs) : fs_(fs) {}
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    if (mode == OpenMode::kCreate) changed.insert(path);
    return fs_.open(path, mode);
  }
  bool exists(const std::string& path) override { return fs_.exists(path); }
  void rename(const std::string& from, const std::string& to) override {
    changed.insert({from, to});
    fs_.rename(from, to);
  }
  void rename_no_replace(const std::string& from, const std::string& to) override {
    changed.insert({from, to});
    fs_.rename_no_replace(from, to);
  }
  void link(const std::string& from, const std::string& to) override {
    changed.insert(to);
    fs_.link(from, to);
  }
  void remove(const std::string& path) override {
    changed.insert(path);
    fs_.remove(path);
  }
  void sync_dir(const std::string& dir) override { fs_.sync_dir(dir); }
  std::unique_ptr<FileLock> lock_files(const std::vector<std::string>& paths,
                                       const LockWaitNotice& waiting) override {
    return fs_.lock_files(paths, waiting);
  }
  FileKind kind(const std::string& path) override { return fs_.kind(path); }
  FileIdentity identity(const std::string& path) override { return fs_.identity(path); }
  std::string follow_links(const std::string& path) override { return fs_.follow_links(path); }

  std::set<std::string> changed;

 private:
  FakeFileSystem& fs_;
};

TEST(RunWorkFiles, DotsBeforeTheExtensionStayInTheWorkFileNames) {
  FakeFileSystem fake;
  fake.set_file("en.h", message_source("EN", "#message 1 A \"a\"\n"));
  fake.set_file("fr.h", message_source("FR", "#message 1 A \"b\"\n"));
  fake.set_file("v1.2/app.msg", "to be replaced");
  PathRecorder fs(fake);
  Result r = run_in(fs, {"-c", "-ten.h", "-hv1.2/names.h", "v1.2/app.msg"});
  EXPECT_EQ(r.out, success("en.h", "V1.2/APP.MSG"));
  ASSERT_EQ(r.code, 0);
  r = run_in(fs, {"-tfr.h", "-hv1.2/names.h", "v1.2/app.msg"});
  EXPECT_EQ(r.out, success("fr.h", "V1.2/APP.MSG"));
  ASSERT_EQ(r.code, 0);

  EXPECT_TRUE(fs.changed.count("v1.2/app.TMP"));
  EXPECT_TRUE(fs.changed.count("v1.2/app.BAK"));
  for (const std::string& path : fs.changed) {
    EXPECT_EQ(path.rfind("v1.2/", 0), 0u) << path;
    EXPECT_EQ(path.find("V1"), std::string::npos) << path;
    EXPECT_NE(path, "v1.2/app.MSG");
  }
  EXPECT_EQ(fake.list_files(),
            (std::vector<std::string>{"en.h", "fr.h", "v1.2/app.msg", "v1.2/names.h"}));
  const std::string msg = content(fake, "v1.2/app.msg");
  EXPECT_EQ(msg.substr(0, 38), header("V1.2/APP.MSG", 2));

  // A backup beside the file in the way stops the run; one named after the
  // first dot does not concern it.
  fake.set_file("v1.BAK", "unrelated");
  r = run_in(fs, {"-tfr.h", "-hv1.2/names.h", "v1.2/app.msg"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(content(fake, "v1.BAK"), "unrelated");
  fake.set_file("v1.2/app.BAK", "stale");
  const auto before = snapshot(fake);
  r = run_in(fs, {"-tfr.h", "-hv1.2/names.h", "v1.2/app.msg"});
  EXPECT_EQ(r.err.rfind("Cannot build V1.2/APP.MSG: v1.2/app.BAK ", 0), 0u) << r.err;
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(same_files(before, fake));
}

// ---------------------------------------------------------------------------
// Other runs and interrupts: a run waits for one on the same files, and a
// request to stop leaves the previous files or, once committed, the new ones.

TEST(RunLock, WaitsForARunOnTheSameFilesSayingSoOnce) {
  struct Case {
    const char* what;
    std::vector<std::string> held;  // what the other run locked
    std::vector<std::string> args;
    std::string waiting;  // the line printed, or empty for no wait
  };
  const std::vector<Case> cases = {
      {"same catalogue",
       {"data/x.msg", "data/B.h"},
       {"-tA.h", "-hdata/B.h", "data/x.msg"},
       "Waiting for another run to finish with DATA/X.MSG\n"},
      {"another catalogue sharing the names header",
       {"other/y.msg", "inc/B.h"},
       {"-tA.h", "-hinc/B.h", "data/x.msg"},
       "Waiting for another run to finish with inc/B.h\n"},
      {"unrelated catalogue",
       {"other/y.msg", "other/B.h"},
       {"-tA.h", "-hdata/B.h", "data/x.msg"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fs;
    fs.set_file("A.h", message_source("FR", "#message 3 C \"c\"\n"));
    fs.set_file("data/x.msg", worked_example_file("X.MSG"));
    auto other = fs.lock_files(c.held, [](const std::string&) {});
    int waits = 0;
    fs.set_lock_waiter([&] {
      ++waits;
      other.reset();
    });
    Result r = run_in(fs, c.args);
    EXPECT_EQ(r.out, success("A.h", "DATA/X.MSG"));
    EXPECT_EQ(r.err, c.waiting);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(waits, c.waiting.empty() ? 0 : 1);
    EXPECT_EQ(read_u16(content(fs, "data/x.msg"), 36), 2u);
    EXPECT_FALSE(fs.locked("data") || fs.locked("inc"));
  }
}

// A failed run waiting for a key keeps nobody waiting.
TEST(RunLock, IsReleasedBeforeThePause) {
  struct LockCheckingConsole : RecordingConsole {
    explicit LockCheckingConsole(FakeFileSystem& fs) : fs(fs) {}
    void wait_key() override {
      RecordingConsole::wait_key();
      locked_at_pause = fs.locked(".");
    }
    FakeFileSystem& fs;
    bool locked_at_pause = true;
  };
  FakeFileSystem fs;
  fs.set_file("A.h", message_source("FR", "#message 3 C \"c\"\n"));
  fs.set_file("x.msg", worked_example_file("X.MSG"));
  fs.set_file("x.BAK", "left by a run");
  LockCheckingConsole console(fs);
  EXPECT_EQ(run_tolvane({"-tA.h", "-hB.h", "x.msg"}, fs, console), 1);
  EXPECT_EQ(console.pauses, 1);
  EXPECT_FALSE(console.locked_at_pause);
}

// An interrupt noted at every operation of a build: before the commit the
// run is undone and says so; from the commit on it completes and says that.
TEST(RunInterrupt, AtEveryOperationLeavesThePreviousOrTheNewFiles) {
  auto prepare = [](FakeFileSystem& fs) {
    fs.set_file("A.h", message_source("FR", "#message 3 C \"c\"\n#message 1 A \"a\"\n"));
    fs.set_file("x.msg", worked_example_file("X.MSG"));
    fs.set_file("B.h", "#define B 2\n");
  };
  FakeFileSystem clean;
  prepare(clean);
  const auto before = snapshot(clean);
  ASSERT_EQ(run_in(clean, {"-tA.h", "-hB.h", "x.msg"}).code, 0);
  const auto built = snapshot(clean);
  bool completed_seen = false, undone_seen = false;
  for (long n = 1; n <= clean.operations() + 1; ++n) {
    SCOPED_TRACE("interrupt at operation " + std::to_string(n));
    FakeFileSystem fs;
    prepare(fs);
    fs.interrupt_at(n, SIGTERM);
    Result r = run_in(fs, {"-tA.h", "-hB.h", "x.msg"});
    const int noted = interrupt_signal();
    set_interrupt_signal(0);
    if (n > clean.operations()) {
      EXPECT_EQ(noted, 0);
      EXPECT_EQ(r.code, 0);
      break;
    }
    EXPECT_EQ(noted, SIGTERM);
    EXPECT_EQ(r.pauses, 0);
    if (r.code == 1) {
      EXPECT_FALSE(completed_seen) << "undone after a run that completed earlier";
      undone_seen = true;
      EXPECT_EQ(r.err, "Interrupted: X.MSG and B.h are as they were\n");
      EXPECT_EQ(r.out, progress("A.h", "X.MSG"));
      EXPECT_TRUE(same_files(before, fs));
    } else {
      completed_seen = true;
      EXPECT_EQ(r.code, 0);
      EXPECT_EQ(r.err, "Interrupted after the build had completed: the new X.MSG and B.h stand\n");
      EXPECT_EQ(r.out, progress("A.h", "X.MSG"));
      EXPECT_EQ(snapshot(fs), built);
    }
    if (HasFailure()) break;
  }
  EXPECT_TRUE(undone_seen && completed_seen);
}

// ---------------------------------------------------------------------------
// The paths users give.

TEST(RunPaths, CollidingRolesAreRefusedWithNothingTouched) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"names header is the source",
       {"-tfr.h", "-hfr.h", "x.msg"},
       "Error : the message source fr.h and the names header fr.h are the same file\n"},
      {"another spelling of the source",
       {"-tfr.h", "-h./sub/../fr.h", "x.msg"},
       "Error : the message source fr.h and the names header ./sub/../fr.h are the same file\n"},
      {"a hard link of the source",
       {"-tfr.h", "-hlinked.h", "x.msg"},
       "Error : the message source fr.h and the names header linked.h are the same file\n"},
      {"a symlink to the source",
       {"-tfr.h", "-hsymlink.h", "x.msg"},
       "Error : the message source fr.h and the names header fr.h are the same file\n"},
      {"names header is the MSG file",
       {"-tfr.h", "-hx.msg", "x.msg"},
       "Error : the MSG file X.MSG and the names header x.msg are the same file\n"},
      {"names header is the MSG file's work file",
       {"-tfr.h", "-hx.TMP", "x.msg"},
       "Error : the names header x.TMP and the MSG file's work file X.TMP are the same file\n"},
      {"names header is the MSG file's backup",
       {"-tfr.h", "-hx.BAK", "x.msg"},
       "Error : the names header x.BAK and the MSG file's backup X.BAK are the same file\n"},
      {"names header's work file is the MSG file's",
       {"-tfr.h", "-hx", "x.msg"},
       "Error : the MSG file's work file X.TMP and the names header's work file x.TMP are the "
       "same file\n"},
      {"source is the MSG file's backup",
       {"-tx.h.BAK", "-hB.h", "x.h.msg"},
       "Error : the message source x.h.BAK and the MSG file's backup X.H.BAK are the same file\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fs;
    fs.set_file("fr.h", message_source("FR", "#message 3 C \"c\"\n"));
    fs.link("fr.h", "linked.h");
    fs.set_symlink("symlink.h", "fr.h");
    fs.set_file("x.h.BAK", message_source("FR", "#message 3 C \"c\"\n"));
    fs.set_file("x.h.msg", worked_example_file("X.H.MSG"));
    fs.set_file("x.msg", worked_example_file("X.MSG"));
    const auto before = snapshot(fs);
    Result r = run_in(fs, c.args);
    EXPECT_EQ(r.out, kBanner + c.message + kPause);
    EXPECT_EQ(r.err, kUsage);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(same_files(before, fs));
    EXPECT_EQ(fs.symlink("symlink.h"), "fr.h");
  }
}

TEST(RunPaths, SymlinksAreFollowedAndStayLinks) {
  FakeFileSystem fs;
  fs.set_file("fr.h", message_source("FR", "#message 3 C \"c\"\n"));
  fs.set_file("real/app.msg", worked_example_file("REAL/APP.MSG"));
  fs.set_file("real/names.h", "#define B 2\n");
  fs.set_symlink("link.msg", "real/app.msg");
  fs.set_symlink("link_names.h", "real/names.h");
  Result r = run_in(fs, {"-tfr.h", "-hlink_names.h", "link.msg"});
  EXPECT_EQ(r.out, success("fr.h", "LINK.MSG"));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(fs.symlink("link.msg"), "real/app.msg");
  EXPECT_EQ(fs.symlink("link_names.h"), "real/names.h");
  EXPECT_EQ(read_u16(content(fs, "real/app.msg"), 36), 2u);
  EXPECT_EQ(content(fs, "real/names.h"), "#define B 2\n#define C 3\n");
  EXPECT_EQ(fs.list_files(), (std::vector<std::string>{"fr.h", "real/app.msg", "real/names.h"}));
}

TEST(RunPaths, WhatIsNoRegularFileIsRefusedAtOnce) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"MSG path is a directory", {"-tfr.h", "-hB.h", "d.msg"}, "Error : D.MSG is a directory\n"},
      {"the same with -c", {"-c", "-tfr.h", "-hB.h", "d.msg"}, "Error : D.MSG is a directory\n"},
      {"MSG path is a FIFO", {"-tfr.h", "-hB.h", "f.msg"}, "Error : F.MSG is a FIFO\n"},
      {"names header is a device", {"-tfr.h", "-hdev.h", "x.msg"}, "Error : dev.h is a device\n"},
      {"source is a socket", {"-tsock.h", "-hB.h", "x.msg"}, "Error : sock.h is no regular file\n"},
      {"MSG file's directory is missing",
       {"-tfr.h", "-hB.h", "gone/sub/x.msg"},
       "Error : GONE/SUB/X.MSG : there is no directory gone\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fs;
    fs.set_file("fr.h", message_source("FR", "#message 3 C \"c\"\n"));
    fs.set_file("x.msg", worked_example_file("X.MSG"));
    fs.set_kind("d.msg", FileKind::kDirectory);
    fs.set_kind("f.msg", FileKind::kFifo);
    fs.set_kind("dev.h", FileKind::kDevice);
    fs.set_kind("sock.h", FileKind::kSocket);
    fs.set_kind("gone", FileKind::kMissing);
    const auto before = snapshot(fs);
    Result r = run_in(fs, c.args);
    EXPECT_EQ(r.out, kBanner + c.message + kPause);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(same_files(before, fs));
  }
}

}  // namespace
}  // namespace tolvane
