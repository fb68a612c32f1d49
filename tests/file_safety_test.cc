// A run that fails must leave the user's files exactly as they were: the
// real executable, real directories, real permission and file-size failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "test_util/msg_fields.h"
#include "test_util/test_util.h"
#include "tolvane_version.h"
#include "transaction/work_files.h"

namespace tolvane::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using namespace fields;

const std::string kBanner = std::string("Tolvane v") + kVersion + "\n";
const char kPause[] = "press key..";

RunResult tool(const std::vector<std::string>& args, const std::string& cwd,
               const std::function<void()>& in_child = {}) {
  // A pause that waited for a key would hang the suite.
  const std::function<void()> limit = time_limit(120);
  return run_tolvane(args, cwd, [&] {
    if (limit) limit();
    if (in_child) in_child();
  });
}

std::string progress(const std::string& source, const std::string& shown) {
  return std::string(kBanner) + "  read " + source + "\n  build " + shown + "\n";
}

// Every file under `dir` with its content; directories appear as "<dir>".
using Snapshot = std::map<std::string, std::string>;
Snapshot take(const std::string& dir) {
  Snapshot files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    std::string name = entry.path().lexically_relative(dir).string();
    files[name] = entry.is_directory() ? "<dir>" : read_file(entry.path().string());
  }
  return files;
}

// What differs between two snapshots, one line per file, short enough to
// read when files are large; empty when nothing does.
std::string differences(const Snapshot& before, const Snapshot& after) {
  std::string report;
  for (const auto& [name, content] : before) {
    auto it = after.find(name);
    if (it == after.end()) {
      report += "missing " + name + "\n";
    } else if (it->second != content) {
      size_t at =
          std::mismatch(content.begin(), content.end(), it->second.begin(), it->second.end())
              .first -
          content.begin();
      report += "changed " + name + " (" + std::to_string(content.size()) + " -> " +
                std::to_string(it->second.size()) + " bytes, first difference at " +
                std::to_string(at) + ")\n";
    }
  }
  for (const auto& [name, content] : after) {
    if (!before.count(name)) {
      report += "added " + name + " (" + std::to_string(content.size()) + " bytes)\n";
    }
  }
  return report;
}

// `count` messages with texts, identifiers descending so that the index
// must be sorted.
std::string many_messages(int count, int text_size = 8) {
  std::string body;
  for (int i = count; i >= 1; --i) {
    std::string text = "t" + std::to_string(i);
    text.resize(std::max<size_t>(text.size(), text_size), '.');
    body += "#message " + std::to_string(i) + " M" + std::to_string(i) + " \"" + text + "\"\n";
  }
  return body;
}

// The text that the entry for `id` in the index of `count` entries starting
// at `block` points at.
std::string text_of(const std::string& file, uint32_t block, uint32_t count, uint32_t id) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entry = block + 6 * i;
    if (read_u16(file, entry) == id) {
      size_t text = entry + 6 + read_u32(file, entry + 2);
      return file.substr(text, file.find('\0', text) - text);
    }
  }
  return "<missing>";
}

class FileSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(dir / "en.h",
               message_source("EN", "#message 2 HELLO \"Hello\"\n#message 1 BYE \"Bye\"\n"));
    write_file(dir / "fr.h", message_source("FR",
                                            "#message 1 BYE \"Au revoir\"\n"
                                            "#message 3 MERCI \"Merci\"\n"));
  }

  // `err`: the source's warnings, which change nothing in the files.
  void succeed(const std::vector<std::string>& args, const std::string& source,
               const std::string& shown, const std::string& err = "") {
    SCOPED_TRACE(::testing::PrintToString(args));
    RunResult result = tool(args, dir.path());
    // Adding a language's table again warns, last, and is otherwise silent.
    const std::string warning = source + ": warning: the new table ";
    const size_t at = result.err.find(warning);
    if (at != std::string::npos && (at == 0 || result.err[at - 1] == '\n')) {
      result.err.erase(at, result.err.find('\n', at) + 1 - at);
    }
    ASSERT_EQ(result.err, err);
    ASSERT_EQ(result.out, progress(source, shown) + ".. end\n");
    ASSERT_EQ(result.exit_code, 0);
  }

  // app.msg with an EN and an FR table, names.h with their names, and no
  // other file added.
  void make_existing() {
    std::vector<std::string> expected = list_dir(dir.path());
    expected.push_back("app.msg");
    expected.push_back("names.h");
    std::sort(expected.begin(), expected.end());
    ASSERT_NO_FATAL_FAILURE(succeed({"-c", "-ten.h", "-hnames.h", "app.msg"}, "en.h", "APP.MSG"));
    ASSERT_NO_FATAL_FAILURE(succeed({"-tfr.h", "-hnames.h", "app.msg"}, "fr.h", "APP.MSG"));
    ASSERT_EQ(list_dir(dir.path()), expected);
  }

  Snapshot take() { return tolvane::testing::take(dir.path()); }

  TempDir dir;
};

// --- Leftovers of an interrupted run --------------------------------------

TEST_F(FileSafety, StaleBackupsStopTheRunBeforeAnythingIsTouched) {
  ASSERT_NO_FATAL_FAILURE(make_existing());
  struct Case {
    std::string what;
    std::map<std::string, std::string> leftovers;
    std::vector<std::string> remove;
    std::vector<std::string> args;
    std::string in_the_way;
  };
  const std::vector<Case> cases = {
      {"MSG backup beside the MSG file",
       {{"app.BAK", "old"}, {"app.RUN", run_mark_text("app.BAK")}},
       {},
       {"-ten.h", "-hnames.h", "app.msg"},
       "app.BAK"},
      // The MSG file itself is gone: the backup holds the only copy, and the
      // advice is not "use the -c option to create it".
      {"MSG backup with the MSG file missing",
       {{"app.BAK", "old"}, {"app.RUN", run_mark_text("app.BAK")}, {"app.TMP", "half"}},
       {"app.msg"},
       {"-ten.h", "-hnames.h", "app.msg"},
       "app.BAK"},
      {"MSG backup with -c",
       {{"app.BAK", "old"}, {"app.RUN", run_mark_text("app.BAK")}},
       {},
       {"-c", "-ten.h", "-hnames.h", "app.msg"},
       "app.BAK"},
      {"names backup",
       {{"names.h.BAK", "#define OLD 9\n"}, {"names.h.RUN", run_mark_text("names.h.BAK")}},
       {},
       {"-ten.h", "-hnames.h", "app.msg"},
       "names.h.BAK"},
      {"names backup with the names header missing",
       {{"names.h.BAK", "#define OLD 9\n"},
        {"names.h.RUN", run_mark_text("names.h.BAK")},
        {"app.TMP", ""}},
       {"names.h"},
       {"-ten.h", "-hnames.h", "app.msg"},
       "names.h.BAK"},
      {"names backup, MSG file empty",
       {{"names.h.BAK", "#define OLD 9\n"},
        {"names.h.RUN", run_mark_text("names.h.BAK")},
        {"app.msg", ""}},
       {},
       {"-ten.h", "-hnames.h", "app.msg"},
       "names.h.BAK"},
  };
  const Snapshot clean = take();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& [name, content] : c.leftovers) write_file(dir / name, content);
    for (const std::string& name : c.remove) ASSERT_EQ(unlink((dir / name).c_str()), 0);
    const Snapshot before = take();
    RunResult result = tool(c.args, dir.path());
    EXPECT_EQ(result.out, std::string(kBanner) + kPause);
    EXPECT_THAT(result.err, StartsWith("Cannot"));
    EXPECT_THAT(result.err, HasSubstr(c.in_the_way));
    EXPECT_THAT(result.err, ::testing::AnyOf(HasSubstr("restore"), HasSubstr("remove")));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(differences(before, take()), "");
    // Back to the clean state for the next case.
    for (const auto& [name, content] : before) {
      if (!clean.count(name)) unlink((dir / name).c_str());
    }
    for (const auto& [name, content] : clean) write_file(dir / name, content);
    ASSERT_EQ(differences(clean, take()), "");
  }
}

// --- Failures in the message source ---------------------------------------

TEST_F(FileSafety, SourceErrorsLeaveEverythingAsItWas) {
  ASSERT_NO_FATAL_FAILURE(make_existing());
  write_file(dir / "nolang.h", "// #LANG EN\n#message 9 NINE \"nine\"\n");
  write_file(dir / "hex.h",
             message_source("DE", "#message 9 NINE \"ok\"\n#message 10 TEN \"a\\xg1\"\n"));
  write_file(dir / "id.h", message_source("DE", "#message 9 NINE \"ok\"\n#message x TEN \"a\"\n"));
  const Snapshot before = take();
  struct Case {
    std::vector<std::string> args;
    std::string source;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"-tnolang.h", "-hnames.h", "app.msg"},
       "nolang.h",
       "  Error in nolang.h:specify the name of the language to create:\n    ex :// #LANGUAGE "
       "EN\n"},
      {{"-c", "-tnolang.h", "-hnames.h", "app.msg"},
       "nolang.h",
       "  Error in nolang.h:specify the name of the language to create:\n    ex :// #LANGUAGE "
       "EN\n"},
      {{"-thex.h", "-hnames.h", "app.msg"},
       "hex.h",
       "Error : \\xg: hex constants must have at least one hex digit\n"},
      {{"-c", "-thex.h", "-hnames.h", "app.msg"},
       "hex.h",
       "Error : \\xg: hex constants must have at least one hex digit\n"},
      {{"-tid.h", "-hnames.h", "app.msg"}, "id.h", "  Error in id.h: 1 error\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    RunResult result = tool(c.args, dir.path());
    EXPECT_THAT(result.out, StartsWith(progress(c.source, "APP.MSG") + c.message));
    EXPECT_EQ(result.err, c.source == "id.h" ? "id.h:7:10: error: the identifier of this "
                                               "#message line cannot be read\n"
                                             : "");
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(differences(before, take()), "");
  }
}

// --- Write failures -------------------------------------------------------

// Not on Windows: file-size limits (setrlimit) are POSIX only.
#ifndef _WIN32

// A file-size limit in the child makes the write that crosses it fail.
std::function<void()> file_size_limit(rlim_t bytes) {
  return [bytes] {
    struct rlimit limit = {bytes, bytes};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  };
}

TEST_F(FileSafety, WriteFailuresAreReportedAndUndone) {
  // A previous table big enough that a limit can fall inside the old blocks,
  // and a previous names header larger than any MSG file of this test.
  write_file(dir / "en.h", message_source("EN", many_messages(100, 40)));
  std::string names_only;
  for (int i = 1000; i < 3000; ++i) {
    names_only += "#message " + std::to_string(i) + " A_RATHER_LONG_SYMBOLIC_NAME_" +
                  std::to_string(i) + "\n";
  }
  write_file(dir / "names_only.h", message_source("XX", names_only));
  write_file(dir / "big.h", message_source("DE", many_messages(400, 100)));
  write_file(dir / "fr_new.h",
             message_source("FR", "#message 5000 A_NAME_THAT_IS_NEW_TO_THE_HEADER \"x\"\n"));
  write_file(dir / "fr.h", message_source("FR", "#message 1 M1 \"Un\"\n#message 3 M3 \"Trois\"\n"));
  ASSERT_NO_FATAL_FAILURE(make_existing());
  ASSERT_NO_FATAL_FAILURE(
      succeed({"-tnames_only.h", "-hnames.h", "app.msg"}, "names_only.h", "APP.MSG"));
  const uint64_t msg_size = read_file(dir / "app.msg").size();
  const uint64_t names_size = read_file(dir / "names.h").size();
  ASSERT_GT(msg_size, 4000u);
  ASSERT_GT(names_size, 60000u);
  const Snapshot before = take();

  struct Case {
    std::string what;
    std::string source;
    std::string names;
    rlim_t limit;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"limit below the size of the old file", "fr.h", "names.h", 1000,
       "Cannot write APP.TMP\napp.TMP: "},
      {"limit inside the header area", "fr.h", "names.h", 100, "Cannot write APP.TMP\napp.TMP: "},
      {"limit inside the new texts", "big.h", "new_names.h", msg_size + 20000,
       "Cannot write APP.TMP\napp.TMP: "},
      // The MSG file fits; the copy of the previous names header does not.
      {"limit inside the names header", "fr.h", "names.h", names_size / 2,
       "Cannot write names.h.TMP\nnames.h.TMP: "},
      {"limit inside the last line of the names header", "fr_new.h", "names.h", names_size + 10,
       "Cannot write names.h.TMP\nnames.h.TMP: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult result =
        tool({"-t" + c.source, "-h" + c.names, "app.msg"}, dir.path(), file_size_limit(c.limit));
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.out, progress(c.source, "APP.MSG") + kPause);
    // The work file being written, then that file on disk and why.
    EXPECT_EQ(result.err, c.message + "File too large\n");
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(differences(before, take()), "");
  }

  // -c fails the same way and keeps the old file.
  RunResult result =
      tool({"-c", "-tbig.h", "-hnames.h", "app.msg"}, dir.path(), file_size_limit(20000));
  EXPECT_EQ(result.out, progress("big.h", "APP.MSG") + kPause);
  EXPECT_THAT(result.err, StartsWith("Cannot"));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(differences(before, take()), "");

  // With room enough the same run succeeds.
  ASSERT_NO_FATAL_FAILURE(succeed({"-tbig.h", "-hnames.h", "app.msg"}, "big.h", "APP.MSG"));
}

#endif  // !_WIN32

// --- Permissions ----------------------------------------------------------

// Not on Windows: permission bits and user ids are POSIX only.
#ifndef _WIN32

// How a child gets real permission failures: as root, permission checks are
// bypassed, so the child gives up root for nobody before the tool starts.
// Empty when no way exists.
std::optional<std::function<void()>> unprivileged() {
  if (geteuid() != 0) return std::function<void()>{};
  auto drop = [] {
    const uid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
        setresuid(nobody, nobody, nobody) != 0) {
      _exit(126);
    }
  };
  pid_t pid = fork();
  if (pid == 0) {
    drop();
    _exit(0);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  return std::function<void()>(drop);
}

TEST_F(FileSafety, ReadOnlyDirectories) {
  auto as_user = unprivileged();
  if (!as_user) GTEST_SKIP() << "cannot run the tool without root's permission bypass";
  ASSERT_NO_FATAL_FAILURE(make_existing());
  ASSERT_EQ(mkdir((dir / "ro").c_str(), 0755), 0);
  write_file(dir / "ro/names.h", "#define FROM_BEFORE 40\n");

  // Nothing can be created beside the MSG file.
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  ASSERT_EQ(chmod((dir / "ro").c_str(), 0555), 0);
  Snapshot before = take();
  RunResult result = tool({"-tfr.h", "-hnames.h", "app.msg"}, dir.path(), *as_user);
  EXPECT_EQ(result.out, progress("fr.h", "APP.MSG") + kPause);
  EXPECT_EQ(result.err, "Cannot create APP.TMP\napp.TMP: Permission denied\n");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(differences(before, take()), "");

  result = tool({"-c", "-tfr.h", "-hnames.h", "new.msg"}, dir.path(), *as_user);
  EXPECT_EQ(result.out, progress("fr.h", "NEW.MSG") + kPause);
  EXPECT_EQ(result.err, "Cannot create NEW.MSG\nnew.TMP: Permission denied\n");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(differences(before, take()), "");

  // The MSG side can be written, the names header's directory cannot: the
  // temporary MSG file already written is removed again.
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  before = take();
  result = tool({"-tfr.h", "-hro/names.h", "app.msg"}, dir.path(), *as_user);
  EXPECT_EQ(result.out, progress("fr.h", "APP.MSG") + kPause);
  EXPECT_EQ(result.err, "Cannot create ro/names.h\nro/names.h.TMP: Permission denied\n");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(differences(before, take()), "");

  // Everything can be written except the current directory: the backups go
  // beside the files they keep, so the run builds.
  ASSERT_EQ(mkdir((dir / "w").c_str(), 0777), 0);
  ASSERT_EQ(chmod((dir / "w").c_str(), 0777), 0);
  write_file(dir / "w/app.msg", read_file(dir / "app.msg"));
  write_file(dir / "w/names.h", read_file(dir / "names.h"));
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  result = tool({"-tfr.h", "-hw/names.h", "w/app.msg"}, dir.path(), *as_user);
  EXPECT_EQ(result.out, progress("fr.h", "W/APP.MSG") + ".. end\n");
  EXPECT_EQ(result.err,
            "fr.h: warning: the new table FR:2 has the language and type of FR:1, and a lookup of "
            "the first matching table never reaches it; -r replaces FR:1 instead\n");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_THAT(list_dir(dir / "w"), ElementsAre("app.msg", "names.h"));

  // Both writable: the same run as the same user succeeds and merges.
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  ASSERT_EQ(chmod((dir / "ro").c_str(), 0777), 0);
  result = tool({"-tfr.h", "-hro/names.h", "app.msg"}, dir.path(), *as_user);
  EXPECT_EQ(result.out, progress("fr.h", "APP.MSG") + ".. end\n");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(read_file(dir / "ro/names.h"),
            "#define FROM_BEFORE 40\n#define BYE 1\n#define MERCI 3\n");
  EXPECT_THAT(list_dir(dir / "ro"), ElementsAre("names.h"));
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("app.msg", "en.h", "fr.h", "names.h", "ro", "w"));
}

// An MSG file the user may not read is reported with the system's reason:
// the advice to use -c, which would throw away every other language, is
// only for a file that does not exist.
TEST_F(FileSafety, AnUnreadableMsgFileIsNotAdvisedAway) {
  ASSERT_NO_FATAL_FAILURE(make_existing());
  const Snapshot before = take();
  auto as_user = unprivileged();
  if (!as_user) GTEST_SKIP() << "cannot run the tool without root's permission bypass";
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  ASSERT_EQ(chmod((dir / "app.msg").c_str(), 0), 0);
  RunResult result = tool({"-tfr.h", "-hnames.h", "app.msg"}, dir.path(), *as_user);
  EXPECT_EQ(result.out, std::string(kBanner) +
                            "Error : APP.MSG doesn't exist or cannot be opened:\n"
                            "app.msg: Permission denied\n" +
                            kPause);
  EXPECT_EQ(result.exit_code, 1);
  ASSERT_EQ(chmod((dir / "app.msg").c_str(), 0644), 0);
  EXPECT_EQ(differences(before, take()), "");
}

#endif  // !_WIN32

// --- Table and file limits ------------------------------------------------

TEST_F(FileSafety, MoreThanTenThousandMessages) {
  ASSERT_NO_FATAL_FAILURE(make_existing());
  write_file(dir / "many.h", message_source("DE", many_messages(10001)));
  ASSERT_NO_FATAL_FAILURE(succeed(
      {"-tmany.h", "-hnames.h", "app.msg"}, "many.h", "APP.MSG",
      "many.h:10004:12: warning: names.h already names 3 \"MERCI\", so \"M3\" is not defined\n"
      "many.h:10005:12: warning: names.h already names 2 \"HELLO\", so \"M2\" is not defined\n"
      "many.h:10006:12: warning: names.h already names 1 \"BYE\", so \"M1\" is not defined\n"));
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("app.msg", "en.h", "fr.h", "many.h", "names.h"));
  const std::string file = read_file(dir / "app.msg");
  ASSERT_EQ(read_u16(file, 36), 3u);
  // The third language's record is the last of three.
  const uint32_t record = 38 + 3 * 8 + 2 * 44;
  EXPECT_EQ(file.substr(38 + 16, 2), "DE");
  EXPECT_EQ(read_u32(file, 38 + 16 + 4), record);
  ASSERT_EQ(read_u16(file, record + 38), 10001u);
  const uint32_t block = read_u32(file, record + 40);
  EXPECT_EQ(read_u16(file, block), 1u);
  EXPECT_EQ(read_u16(file, block + 6 * 10000), 10001u);
  EXPECT_EQ(text_of(file, block, 10001, 1), "t1......");
  EXPECT_EQ(text_of(file, block, 10001, 5000), "t5000...");
  EXPECT_EQ(text_of(file, block, 10001, 10001), "t10001..");
  EXPECT_EQ(file.size() % 2, 0u);
  // Texts of 9 bytes each, after the index, end the file.
  EXPECT_EQ(file.size(), block + 10001u * 6 + 10001u * 9 + 1);

  // The largest table the format allows, in a new file.
  write_file(dir / "max.h", message_source("EN", many_messages(32767, 1)));
  ASSERT_NO_FATAL_FAILURE(
      succeed({"-c", "-tmax.h", "-hmax_names.h", "max.msg"}, "max.h", "MAX.MSG"));
  const std::string max = read_file(dir / "max.msg");
  ASSERT_EQ(read_u16(max, 46 + 38), 32767u);
  EXPECT_EQ(text_of(max, 90, 32767, 32767), "t32767");
  EXPECT_EQ(text_of(max, 90, 32767, 20000), "t20000");
  EXPECT_EQ(read_u16(max, 90 + 6 * 32766), 32767u);
}

TEST_F(FileSafety, TooManyMessagesLanguagesOrTablesAreRefused) {
  ASSERT_NO_FATAL_FAILURE(make_existing());
  write_file(dir / "over.h", message_source("DE", many_messages(32768, 1)));
  Snapshot before = take();
  for (bool create : {false, true}) {
    SCOPED_TRACE(create ? "with -c" : "without -c");
    std::vector<std::string> args = {"-tover.h", "-hnames.h", "app.msg"};
    if (create) args.insert(args.begin(), "-c");
    RunResult result = tool(args, dir.path());
    EXPECT_THAT(result.out, StartsWith(progress("over.h", "APP.MSG") + "Error :"));
    EXPECT_THAT(result.out, HasSubstr("32767"));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(differences(before, take()), "");
  }

  // A file with the most languages the format allows (all distinct, all
  // without tables) cannot take another one.
  std::string languages = U16(0x4D53) + U16(0x0101) + chars("FULL.MSG", 32) + U16(32767);
  for (int i = 0; i < 32767; ++i) {
    languages += std::string{static_cast<char>(0x80 | (i & 0x7F)), static_cast<char>(i >> 7)};
    languages += U16(0) + U32(38 + 8 * 32767);
  }
  write_file(dir / "full.msg", languages);
  write_file(dir / "new_language.h", message_source("zz", "#message 1 A \"a\"\n"));
  // A language with the most tables the format allows, all empty.
  const uint32_t area = 38 + 8 + 44 * 32767;
  std::string tables =
      U16(0x4D53) + U16(0x0101) + chars("TABLES.MSG", 32) + U16(1) + "EN" + U16(32767) + U32(46);
  for (int i = 0; i < 32767; ++i) tables += U32(1) + chars("F", 32) + U16(1) + U16(0) + U32(area);
  write_file(dir / "tables.msg", tables);
  before = take();
  RunResult result = tool({"-tnew_language.h", "-hnames.h", "full.msg"}, dir.path());
  EXPECT_THAT(result.out,
              StartsWith(progress("new_language.h", "FULL.MSG") + "Error : FULL.MSG :"));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(differences(before, take()), "");
  result = tool({"-ten.h", "-hnames.h", "tables.msg"}, dir.path());
  EXPECT_THAT(result.out, StartsWith(progress("en.h", "TABLES.MSG") + "Error : TABLES.MSG :"));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(differences(before, take()), "");

  // One table fewer in that language still fits.
  tables.replace(38 + 2, 2, U16(32766));
  tables.resize(38 + 8 + 44 * 32766);
  const uint32_t smaller_area = 38 + 8 + 44 * 32766;
  for (int i = 0; i < 32766; ++i) tables.replace(46 + 44 * i + 40, 4, U32(smaller_area));
  write_file(dir / "tables.msg", tables);
  ASSERT_NO_FATAL_FAILURE(succeed({"-ten.h", "-hnames.h", "tables.msg"}, "en.h", "TABLES.MSG"));
  EXPECT_EQ(read_u16(read_file(dir / "tables.msg"), 38 + 2), 32767u);
}

// --- Damaged MSG files ----------------------------------------------------

TEST_F(FileSafety, DamagedMsgFilesAreRefusedBeforeAnythingMoves) {
  ASSERT_NO_FATAL_FAILURE(make_existing());
  const std::string good = read_file(dir / "app.msg");
  // The layout of the EN/FR file: entries at 38 and 46, records at 54 and 98.
  ASSERT_EQ(read_u16(good, 36), 2u);
  ASSERT_EQ(read_u32(good, 46 + 4), 98u);
  auto patched = [&good](size_t at, const std::string& bytes) {
    std::string file = good;
    file.replace(at, bytes.size(), bytes);
    return file;
  };
  struct Case {
    std::string what;
    std::string content;
  };
  const std::vector<Case> cases = {
      {"header cut short", good.substr(0, 20)},
      {"directory past the end", good.substr(0, 38) + "EN"},
      {"records past the end", good.substr(0, 100)},
      {"language count larger than the directory", patched(36, U16(500))},
      {"language count over 32767", patched(36, U16(40000))},
      {"table count over 32767", patched(38 + 2, U16(40000))},
      {"table offset not where the records are", patched(46 + 4, U32(100))},
      {"first language pointing at the second one's records", patched(38 + 4, U32(98))},
      {"block past the end of the file", patched(54 + 40, U32(good.size() + 2))},
      {"block inside the header area", patched(98 + 40, U32(60))},
      {"index longer than the file", patched(98 + 38, U16(1000))},
      {"message count over 32767", patched(54 + 38, U16(33000))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(dir / "app.msg", c.content);
    const Snapshot before = take();
    RunResult result = tool({"-ten.h", "-hnames.h", "app.msg"}, dir.path());
    EXPECT_THAT(result.out, StartsWith(std::string(kBanner) + "Error : APP.MSG : "));
    EXPECT_THAT(result.out, Not(HasSubstr("  build")));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(differences(before, take()), "");
  }

  // -c does not read the old file, so it replaces a damaged one.
  ASSERT_NO_FATAL_FAILURE(succeed({"-c", "-ten.h", "-hnames.h", "app.msg"}, "en.h", "APP.MSG"));
  EXPECT_EQ(read_u16(read_file(dir / "app.msg"), 36), 1u);
}

TEST_F(FileSafety, FileWithNoLanguagesIsAccepted) {
  const std::string empty = U16(0x4D53) + U16(0x0102) + chars("EMPTY", 32) + U16(0);
  write_file(dir / "app.msg", empty);
  ASSERT_NO_FATAL_FAILURE(succeed({"-ten.h", "-hnames.h", "app.msg"}, "en.h", "APP.MSG"));
  // The existing header is kept (version and name), the entry points right
  // after the new directory.
  const std::string expected = U16(0x4D53) + U16(0x0102) + chars("EMPTY", 32) + U16(1) + "EN" +
                               U16(1) + U32(46) + U32(0x00010002) + chars("F", 32) + U16(1) +
                               U16(2) + U32(90) + U16(1) + U32(6 + 6) + U16(2) + U32(0) +
                               std::string("Hello\0Bye\0", 10);
  EXPECT_EQ(read_file(dir / "app.msg"), expected);
}

// --- -c over an existing file ---------------------------------------------

TEST_F(FileSafety, CreateReplacesTheOldFileOnlyWhenTheNewOneIsComplete) {
  ASSERT_NO_FATAL_FAILURE(make_existing());
  write_file(dir / "bad.h", message_source("DE", "#message 1 A \"\\xz\"\n"));
  const Snapshot before = take();
  RunResult result = tool({"-c", "-tbad.h", "-hnames.h", "app.msg"}, dir.path());
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(differences(before, take()), "");

  const std::string old_names = read_file(dir / "names.h");
  ASSERT_NO_FATAL_FAILURE(succeed({"-c", "-tfr.h", "-hnames.h", "app.msg"}, "fr.h", "APP.MSG"));
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("app.msg", "bad.h", "en.h", "fr.h", "names.h"));
  const std::string file = read_file(dir / "app.msg");
  // A new file with the French table only.
  EXPECT_EQ(file.substr(0, 4 + 32 + 2 + 8),
            U16(0x4D53) + U16(0x0101) + chars("APP.MSG", 32) + U16(1) + "FR" + U16(1) + U32(46));
  EXPECT_EQ(file.size(), 90u + 12 + 16);
  // The names header is still merged, not recreated.
  EXPECT_EQ(read_file(dir / "names.h"), old_names);

  // A file that is not an MSG file at all is replaced too.
  write_file(dir / "app.msg", "not a catalogue");
  ASSERT_NO_FATAL_FAILURE(succeed({"-c", "-tfr.h", "-hnames.h", "app.msg"}, "fr.h", "APP.MSG"));
  EXPECT_EQ(read_file(dir / "app.msg"), file);
}

// --- Where the work files go ----------------------------------------------

TEST_F(FileSafety, DottedPathsBuildTheFileThatWasChecked) {
  ASSERT_TRUE(make_dir(dir / "v1.2"));
  ASSERT_NO_FATAL_FAILURE(
      succeed({"-c", "-ten.h", "-hnames.h", "v1.2/app.msg"}, "en.h", "V1.2/APP.MSG"));
  ASSERT_NO_FATAL_FAILURE(succeed({"-tfr.h", "-hnames.h", "v1.2/app.msg"}, "fr.h", "V1.2/APP.MSG"));
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("en.h", "fr.h", "names.h", "v1.2"));
  EXPECT_THAT(list_dir(dir / "v1.2"), ElementsAre("app.msg"));
  EXPECT_EQ(read_u16(read_file(dir / "v1.2/app.msg"), 36), 2u);

  ASSERT_NO_FATAL_FAILURE(
      succeed({"-c", "-ten.h", "-hnames.h", "my.app.msg"}, "en.h", "MY.APP.MSG"));
  ASSERT_NO_FATAL_FAILURE(succeed({"-tfr.h", "-hnames.h", "my.app.msg"}, "fr.h", "MY.APP.MSG"));
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("en.h", "fr.h", "my.app.msg", "names.h", "v1.2"));
  EXPECT_EQ(read_file(dir / "my.app.msg").substr(4, 32), chars("MY.APP.MSG", 32));
  EXPECT_EQ(read_u16(read_file(dir / "my.app.msg"), 36), 2u);

  // The work files sit beside the MSG file with its final extension
  // replaced: a file cut at the first dot is not one of them, a backup with
  // the final extension replaced is.
  write_file(dir / "my.BAK", "someone else's");
  write_file(dir / "V1.BAK", "someone else's");
  write_file(dir / "v1.BAK", "someone else's");
  ASSERT_NO_FATAL_FAILURE(succeed({"-ten.h", "-hnames.h", "my.app.msg"}, "en.h", "MY.APP.MSG"));
  ASSERT_NO_FATAL_FAILURE(succeed({"-ten.h", "-hnames.h", "v1.2/app.msg"}, "en.h", "V1.2/APP.MSG"));
  EXPECT_EQ(read_file(dir / "my.BAK"), "someone else's");
  EXPECT_EQ(read_file(dir / "V1.BAK"), "someone else's");
  EXPECT_EQ(read_file(dir / "v1.BAK"), "someone else's");
  for (const std::string& msg : {std::string("my.app.msg"), std::string("v1.2/app.msg")}) {
    SCOPED_TRACE(msg);
    const std::string backup = msg.substr(0, msg.size() - 4) + ".BAK";
    write_file(dir / backup, "left over");
    const Snapshot before = take();
    RunResult result = tool({"-ten.h", "-hnames.h", msg}, dir.path());
    EXPECT_THAT(result.err, StartsWith("Cannot"));
    EXPECT_THAT(result.err, HasSubstr(backup));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(differences(before, take()), "");
    ASSERT_EQ(unlink((dir / backup).c_str()), 0);
  }
}

// --- A names header on another file system ---------------------------------

// Not on Windows: a second file system at /dev/shm, and POSIX permission bits.
#ifndef _WIN32

TEST_F(FileSafety, NamesHeaderOnAnotherFileSystem) {
  std::string other = "/dev/shm/tolvane-test-XXXXXX";
  struct stat here, there;
  if (stat("/dev/shm", &there) != 0 || stat(dir.path().c_str(), &here) != 0 ||
      here.st_dev == there.st_dev || mkdtemp(other.data()) == nullptr) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  struct RemoveOnExit {
    std::string path;
    ~RemoveOnExit() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } remove_other{other};
  const std::string names = other + "/names.h";
  write_file(names, "#define FROM_BEFORE 2\n");

  ASSERT_NO_FATAL_FAILURE(succeed({"-c", "-ten.h", "-h" + names, "app.msg"}, "en.h", "APP.MSG",
                                  "en.h:6:12: warning: " + names +
                                      " already names 2 \"FROM_BEFORE\", so \"HELLO\" is not "
                                      "defined\n"));
  ASSERT_NO_FATAL_FAILURE(succeed({"-tfr.h", "-h" + names, "app.msg"}, "fr.h", "APP.MSG"));
  EXPECT_EQ(read_file(names), "#define FROM_BEFORE 2\n#define BYE 1\n#define MERCI 3\n");
  EXPECT_THAT(list_dir(other), ElementsAre("names.h"));
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("app.msg", "en.h", "fr.h"));

  // A failed run there puts the previous names header back too.
  write_file(dir / "bad.h", message_source("DE", "#message 7 NEW \"\\xq\"\n"));
  const Snapshot before = take();
  const std::string names_before = read_file(names);
  RunResult result = tool({"-tbad.h", "-h" + names, "app.msg"}, dir.path());
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(differences(before, take()), "");
  EXPECT_EQ(read_file(names), names_before);
  EXPECT_THAT(list_dir(other), ElementsAre("names.h"));
}

// --- The replaced files keep their permissions -----------------------------

TEST_F(FileSafety, RebuiltFilesKeepTheirPermissions) {
  ASSERT_NO_FATAL_FAILURE(make_existing());
  ASSERT_EQ(chmod((dir / "app.msg").c_str(), 0600), 0);
  ASSERT_EQ(chmod((dir / "names.h").c_str(), 0640), 0);
  ASSERT_NO_FATAL_FAILURE(succeed({"-ten.h", "-hnames.h", "app.msg"}, "en.h", "APP.MSG"));
  struct stat st;
  ASSERT_EQ(stat((dir / "app.msg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(stat((dir / "names.h").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

#endif  // !_WIN32

// --- Advice that never removes the only copy ---------------------------------

TEST_F(FileSafety, BackupOfAMissingOrEmptyFileIsToBeRestoredNotRemoved) {
  write_file(dir / "app.BAK", "the only copy");
  write_file(dir / "app.RUN", run_mark_text("app.BAK"));
  // No app.TMP, as after a run that completed; but app.msg is gone.
  RunResult missing = tool({"-ten.h", "-hnames.h", "app.msg"}, dir.path());
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_THAT(missing.err, HasSubstr("restore it with: mv 'app.BAK' 'app.msg'"));
  write_file(dir / "app.msg", "");
  RunResult empty = tool({"-ten.h", "-hnames.h", "app.msg"}, dir.path());
  EXPECT_EQ(empty.exit_code, 1);
  EXPECT_THAT(empty.err, HasSubstr("restore it with: mv 'app.BAK' 'app.msg'"));
  EXPECT_EQ(read_file(dir / "app.BAK"), "the only copy");
}

TEST_F(FileSafety, AdviceQuotesPathsForTheShell) {
  ASSERT_TRUE(make_dir(dir / "it's"));
  write_file(dir / "it's/app.msg", "x");
  write_file(dir / "it's/app.BAK", "the only copy");
  write_file(dir / "it's/app.RUN", run_mark_text("app.BAK"));
  write_file(dir / "it's/app.TMP", "");
  RunResult result = tool({"-ten.h", "-hnames.h", "it's/app.msg"}, dir.path());
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_THAT(result.err, HasSubstr("mv 'it'\\''s/app.BAK' 'it'\\''s/app.msg'"));
}

}  // namespace
}  // namespace tolvane::testing
