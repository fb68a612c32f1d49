// The tolvane-dump executable end to end: modes, output streams, exit codes.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "dump/command.h"
#include "dump/dump_test_util.h"
#include "platform/native_file_system.h"
#include "tolvane_version.h"

namespace tolvane::dump {
namespace {

using testing::build_catalogue;
using testing::put32;
using testing::run_dump;
using testing::table_block;
using tolvane::testing::message_source;
using tolvane::testing::RunResult;
using tolvane::testing::TempDir;
using tolvane::testing::write_file;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class DumpCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = build_catalogue(
        dir_, {message_source("EN", "#message 2 BYE \"Bye\"\n#message 1 HELLO \"Hello\\n\"\n"),
               message_source("JA", "#message 1 HELLO \"\\x30\\x53\"\n", "UNICODE", "FONT_JA")});
  }
  TempDir dir_;
  std::string bytes_;
};

TEST_F(DumpCliTest, ShowsTheCatalogue) {
  RunResult run = run_dump({"app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(contains(run.out, "Language JA: 1 table, entry at 46, records at 98\n")) << run.out;

  run = run_dump({"--messages", "--language", "EN", "--table=1", "app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out,
            "Table EN:1: 2 messages, coding byte\n"
            "      1  at 158  \"Hello\\n\"\n"
            "      2  at 154  \"Bye\"\n");

  run = run_dump({"--json", "--messages", "--language", "JA", "app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(contains(run.out, "\"text\": \"\\\\x30\\\\x53\", \"bytes\": \"3053\"")) << run.out;
  EXPECT_FALSE(contains(run.out, "\"EN\""));

  run = run_dump({"--check", "app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "No problems found.\n");

  // Findings make --lint exit 1; --stats only counts.
  run = run_dump({"--lint", "app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out,
            "JA:1  message 2: missing: the reference EN:1 has it, this table does not\n"
            "1 finding\n");
  run = run_dump({"--stats", "app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(
      contains(run.out, "JA:1   0x00010002  EN:1              1        1      0     50.0%\n"))
      << run.out;
}

TEST_F(DumpCliTest, SourceRebuildsTheTable) {
  for (const char* target : {"EN", "JA:1"}) {
    RunResult run = run_dump({"--source", target, "--names", "names.h", "app.msg"}, dir_.path());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "#message 1 HELLO \"")) << run.out;
    TempDir rebuilt;
    const std::string bytes = build_catalogue(rebuilt, {run.out});
    EXPECT_EQ(table_block(bytes, 0), table_block(bytes_, std::string(target) == "EN" ? 0 : 1));
  }
  RunResult run = run_dump({"--source", "EN:2", "app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "tolvane-dump: app.msg: the file has no table 2 in language \"EN\"\n");
}

TEST_F(DumpCliTest, DamagedFiles) {
  std::string bytes = bytes_;
  put32(&bytes, 144, 5000);  // EN:1's first text offset
  write_file(dir_ / "bad.msg", bytes);
  RunResult run = run_dump({"--check", "bad.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out,
            "byte 144: table EN:1: message 1: its text offset 5000 points to byte 5148, outside "
            "the block's texts at 154..166\n1 problem\n");
  run = run_dump({"--check", "--json", "bad.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(contains(run.out, "\"problems\": [\n    {\"offset\": 144, ")) << run.out;

  // Showing still works, with a warning.
  run = run_dump({"bad.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err,
            "tolvane-dump: bad.msg: the file has 1 structural problem; --check lists them\n");
  // --lint and --stats refuse it; with --json the failure is the document.
  run = run_dump({"--stats", "--json", "bad.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out,
            "{\"error\": \"bad.msg: the file has 1 structural problem; --check lists them\"}\n");
  run = run_dump({"--source", "EN", "bad.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "tolvane-dump: bad.msg: table EN:1 cannot be rebuilt from a message source: the text "
            "of message 1 lies outside its block\n");
}

// The system's own words for a missing file ("No such file or directory" on
// Linux, the system's message on Windows), as both programs show them.
std::string missing_file_reason(const std::string& path) {
  NativeFileSystem fs;
  try {
    fs.open(path, OpenMode::kRead);
  } catch (const IoError& error) {
    return error.reason();
  }
  ADD_FAILURE() << path << " could be opened";
  return "";
}

TEST_F(DumpCliTest, UnusableFiles) {
  const std::string no_file = missing_file_reason(dir_ / "missing.msg");
  write_file(dir_ / "empty.msg", "");
  write_file(dir_ / "short.msg", bytes_.substr(0, 20));
  write_file(dir_ / "text.msg", "#message 1 A \"not a catalogue at all\"\n");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"missing.msg", "tolvane-dump: cannot read missing.msg: " + no_file + "\n"},
      {".", "tolvane-dump: . is a directory\n"},
      {"empty.msg", "tolvane-dump: empty.msg: the file is empty\n"},
      {"short.msg",
       "tolvane-dump: short.msg: the file is cut short: 20 bytes, but the header alone takes "
       "38\n"},
      {"text.msg", "tolvane-dump: text.msg: not an MSG file: its FILE ID is 0x6D23, not 0x4D53\n"},
      // The system's reason as Tolvane gives it, in the same words on Windows.
      {"nodir/app.msg", "tolvane-dump: cannot read nodir/app.msg: there is no directory nodir\n"},
  };
  for (const auto& [file, message] : cases) {
    for (const char* mode : {"--check", "--messages"}) {
      RunResult run = run_dump({mode, file}, dir_.path());
      EXPECT_EQ(run.exit_code, 1) << file;
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, message);
    }
  }
  RunResult run = run_dump({"--source", "EN", "--names", "none.h", "app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "tolvane-dump: cannot read none.h: " + no_file + "\n");
  // With --json standard output always holds a document: a failure's own.
  run = run_dump({"--stats", "--json", "short.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out,
            "{\"error\": \"short.msg: the file is cut short: 20 bytes, but the header alone "
            "takes 38\"}\n");
  EXPECT_EQ(run.err, cases[3].second);
  run = run_dump({"--json", "missing.msg"}, dir_.path());
  EXPECT_EQ(run.out, "{\"error\": \"cannot read missing.msg: " + no_file + "\"}\n");
}

#ifndef _WIN32  // Windows has no FIFOs in its file system.
// A FIFO is refused before it is opened: reading it would wait for a writer.
TEST_F(DumpCliTest, RefusesAFifo) {
  ASSERT_EQ(mkfifo((dir_ / "f.msg").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((dir_ / "f.h").c_str(), 0644), 0);
  RunResult run = run_dump({"f.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "tolvane-dump: f.msg is a FIFO\n");
  run = run_dump({"--lint", "--names", "f.h", "app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "tolvane-dump: f.h is a FIFO\n");
}
#endif

TEST_F(DumpCliTest, WrongCommandLines) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", "app.msg"},
      {"app.msg", "other.msg"},
      {"--check", "--messages", "app.msg"},
      {"--source", "EN", "--json", "app.msg"},
      {"--check", "--language", "EN", "app.msg"},
      {"--table", "0", "app.msg"},
      {"--table", "x", "app.msg"},
      {"--source", "EN:", "app.msg"},
      {"--names", "names.h", "app.msg"},
      {"app.msg", "--language"},
      {"--lint", "--table", "1", "app.msg"},
      {"--stats", "--names", "names.h", "app.msg"},
      {"--reference", "EN", "app.msg"},
      {"--lint", "--reference", "", "app.msg"},
  };
  for (const auto& args : cases) {
    RunResult run = run_dump(args, dir_.path());
    EXPECT_EQ(run.exit_code, 2) << ::testing::PrintToString(args);
    // With --json, the failure is the document on standard output.
    const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
    EXPECT_EQ(run.out.rfind("{\"error\": \"", 0) == 0, json) << run.out;
    // One line saying what is wrong, then the usage text.
    ASSERT_TRUE(run.err.ends_with(dump_usage())) << run.err;
    const std::string error = run.err.substr(0, run.err.size() - dump_usage().size());
    EXPECT_EQ(error.rfind("tolvane-dump: ", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
  }
  RunResult run = run_dump({"--json", "--bogus", "app.msg"}, dir_.path());
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.out, "{\"error\": \"unknown option --bogus\"}\n");
  run = run_dump({"--help"}, dir_.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, dump_usage());
  EXPECT_EQ(run.err, "");
  run = run_dump({"--version"}, dir_.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, std::string("tolvane-dump ") + kVersion + "\n");
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace tolvane::dump
