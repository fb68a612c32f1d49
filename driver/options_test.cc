#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/failure.h"
#include "driver/run.h"
#include "platform/fake_file_system.h"

namespace tolvane {
namespace {

// The failure parse_command_line throws for `args`; a test failure when it
// accepts them.
Failure failure_of(const std::vector<std::string>& args, FileSystem& fs) {
  try {
    parse_command_line(args, fs);
  } catch (const Failure& failure) {
    return failure;
  }
  ADD_FAILURE() << "the command line was accepted";
  return Failure(FailureKind::kFile, "");
}

TEST(ParseCommandLine, ReadsOptionsAndUpperCasesTheMsgPath) {
  FakeFileSystem fs;
  fs.set_file("A.h", "");
  BuildOptions options = parse_command_line({"-c", "-tA.h", "-hB.h", "x.msg"}, fs);
  EXPECT_TRUE(options.create);
  EXPECT_EQ(options.source_path, "A.h");
  EXPECT_EQ(options.names_path, "B.h");
  EXPECT_EQ(options.msg_path, "X.MSG");
  EXPECT_EQ(options.msg_typed, "x.msg");
  EXPECT_FALSE(options.warnings_are_errors);
  EXPECT_TRUE(parse_command_line({"-W", "-tA.h", "-hB.h", "x.msg"}, fs).warnings_are_errors);
}

TEST(ParseCommandLine, OnlyAsciiLettersAreUpperCased) {
  FakeFileSystem fs;
  fs.set_file("A.h", "");
  BuildOptions options =
      parse_command_line({"-tA.h", "-hB.h", "dir_1/d\xc3\xa9j\xc3\xa0-z{}.msg"}, fs);
  EXPECT_EQ(options.msg_path, "DIR_1/D\xc3\xa9J\xc3\xa0-Z{}.MSG");
  EXPECT_EQ(options.msg_typed, "dir_1/d\xc3\xa9j\xc3\xa0-z{}.msg");
  EXPECT_FALSE(options.create);
}

TEST(ParseCommandLine, ValuesAreTakenVerbatimAndLaterOnesReplaceEarlierOnes) {
  FakeFileSystem fs;
  fs.set_file("first.h", "");
  fs.set_file("My Messages.h", "");
  BuildOptions options = parse_command_line(
      {"-tfirst.h", "-hfirst names.h", "-cxyz", "-tMy Messages.h", "-hNames 2.H", "a.MSG"}, fs);
  EXPECT_TRUE(options.create);  // -c ignores what follows the letter
  EXPECT_EQ(options.source_path, "My Messages.h");
  EXPECT_EQ(options.names_path, "Names 2.H");
  EXPECT_EQ(options.msg_path, "A.MSG");
}

TEST(ParseCommandLine, HoldsValuesAndPathsOfAnyLength) {
  FakeFileSystem fs;
  const std::string source = std::string(150, 's') + ".h";
  const std::string names = std::string(200, 'n') + ".h";
  const std::string msg = std::string(120, 'm') + "/" + std::string(90, 'q') + ".msg";
  fs.set_file(source, "");
  BuildOptions options = parse_command_line({"-t" + source, "-h" + names, msg}, fs);
  EXPECT_EQ(options.source_path, source);
  EXPECT_EQ(options.names_path, names);
  EXPECT_EQ(options.msg_typed, msg);
  EXPECT_EQ(options.msg_path, std::string(120, 'M') + "/" + std::string(90, 'Q') + ".MSG");
}

TEST(ParseCommandLine, TheSourceNeedsLowerCaseDotHAnywhereInItsName) {
  FakeFileSystem fs;
  fs.set_file("foo.hpp", "");
  fs.set_file("my.header.txt", "");
  EXPECT_EQ(parse_command_line({"-tfoo.hpp", "-hB.h", "x.msg"}, fs).source_path, "foo.hpp");
  EXPECT_EQ(parse_command_line({"-tmy.header.txt", "-hB.h", "x.msg"}, fs).source_path,
            "my.header.txt");
}

// `-h names.h` leaves -h empty; refused at once, before the build that
// could not write a names header of no name.
TEST(ParseCommandLine, AnEmptyNamesHeaderValueIsRefused) {
  FakeFileSystem fs;
  fs.set_file("A.h", "");
  EXPECT_EQ(failure_of({"-tA.h", "-h", "x.msg"}, fs).message(),
            "-h needs a file name:\nthe file name must follow -h with no blank, as in "
            "-hMyMessagesNames.h");
}

TEST(ParseCommandLine, EveryProblemIsAUsageFailureOnStandardOutput) {
  FakeFileSystem fs;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"x.txt"}, {"-x", "x.msg"}, {"x.msg"}, {"-tA.h", "x.msg"}}) {
    Failure failure = failure_of(args, fs);
    EXPECT_EQ(failure.kind(), FailureKind::kUsage);
    EXPECT_EQ(failure.note(), "");
  }
  // With no argument the usage alone is shown.
  EXPECT_EQ(failure_text(failure_of({}, fs)), "");
}

// Arguments are examined in a fixed order and the first problem found is the
// only one reported.
TEST(ParseCommandLine, ReportsTheFirstProblemInTheOrderOfExamination) {
  FakeFileSystem fs;
  fs.set_file("A.h", "");
  fs.set_file("MESSAGES.H", "");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"x.msg"},
       "Use the -t option below to specify the file that contains messages definitions\n"},
      {{"-tA.h", "-hB.h", "x.txt"}, "The last option must be a .MSG file\n"},
      {{"-tA.h", "-hB.h", "x.ms"}, "The last option must be a .MSG file\n"},
      // The MSG path is checked before any option.
      {{"-x", "-tMESSAGES.H", "x"}, "The last option must be a .MSG file\n"},
      {{"-x", "-tA.h", "-hB.h", "x.msg"}, "Error : bad argument : -x\n"},
      {{"foo", "-tA.h", "-hB.h", "x.msg"}, "Error : bad argument : foo\n"},
      {{"-", "-tA.h", "-hB.h", "x.msg"}, "Error : bad argument : -\n"},
      {{"c", "x.msg"}, "Error : bad argument : c\n"},
      {{"-tA.h", "-hB.h", "--c", "x.msg"}, "Error : bad argument : --c\n"},
      {{"-C", "-tA.h", "-hB.h", "x.msg"}, "Error : bad argument : -C\n"},
      {{"-T", "x.msg"}, "Error : bad argument : -T\n"},
      // -W takes no value, and only the capital letter is it.
      {{"-Wall", "-tA.h", "-hB.h", "x.msg"}, "Error : bad argument : -Wall\n"},
      {{"-w", "-tA.h", "-hB.h", "x.msg"}, "Error : bad argument : -w\n"},
      // Options are examined from the first to the last.
      {{"-x", "-tMESSAGES.H", "x.msg"}, "Error : bad argument : -x\n"},
      {{"-tMESSAGES.H", "-x", "x.msg"}, "Error : MESSAGES.H is not a h file:\n"},
      {{"-t", "-hB.h", "x.msg"},
       "Error :  is not a h file:\nthe file name must follow -t with no blank, as in "
       "-tMyEnglishMessages.h\n"},
      {{"-tmissing.h", "-x", "x.msg"}, "Error : missing.h does not exist or cannot be opened\n"},
      // Every -t is checked, even one a later -t replaces.
      {{"-tmissing.h", "-tA.h", "-hB.h", "x.msg"},
       "Error : missing.h does not exist or cannot be opened\n"},
      // The source is opened as typed.
      {{"-ta.h", "-hB.h", "x.msg"}, "Error : a.h does not exist or cannot be opened\n"},
      {{"-hB.h", "x.msg"},
       "Use the -t option below to specify the file that contains messages definitions\n"},
      {{"-c", "-tA.h", "x.msg"},
       "Use the -h option below to specify the name of the h file that will be generated\n"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) joined += " " + arg;
    EXPECT_EQ(failure_text(failure_of(c.args, fs)), c.message) << "for" << joined;
  }
}

TEST(UsageText, IsTheEightLinesUsersKnowThenTheNewOptions) {
  EXPECT_EQ(usage_text(),
            "Tolvane : build a MSG file for Kestrin from .h file\n"
            "Tolvane.exe [options below] file.MSG\n"
            "-c\tCreate a new MSG file (erase if exists)\n"
            "-t\tSpecify the name of the h file that contains messages\n"
            "-h\tSpecify the name of h file that will be generated\n"
            "example: Tolvane -c -tMyEnglishMessages.h -hMyMessagesNames.h MyAppli.MSG\n"
            "         Tolvane -tMyFrenchMessages.h -hMyMessagesNames.h MyAppli.MSG\n"
            "generates MyAppli.MSG and MyMessagesNames.h files\n"
            "-l\tSpecify a file listing the h files, one a line, to build in one run\n"
            "-r\tReplace the table of the same language and type instead of adding one\n"
            "example: Tolvane -c -lAllLanguages.txt -hMyMessagesNames.h MyAppli.MSG\n"
            "         Tolvane -r -tMyFrenchMessages.h -hMyMessagesNames.h MyAppli.MSG\n");
}

}  // namespace
}  // namespace tolvane
