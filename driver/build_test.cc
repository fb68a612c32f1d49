// Every file operation of a build made to fail, once and from then on: the
// result must always be the complete new files, the previous files untouched,
// or (when the fault also stops the undo) backups that the next run points to
// and that get the user back to one of those two states.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "driver/run.h"
#include "platform/fake_file_system.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using testing::message_source;
using testing::RecordingConsole;
using Files = std::map<std::string, std::string>;

constexpr char kMsg[] = "data/App.msg";
constexpr char kTmp[] = "data/App.TMP";
constexpr char kBak[] = "data/App.BAK";
constexpr char kNames[] = "inc/Names.h";
constexpr char kNamesBak[] = "inc/Names.h.BAK";
constexpr char kRun[] = "data/App.RUN";
constexpr char kNamesRun[] = "inc/Names.h.RUN";

Files snapshot(const FakeFileSystem& fs) {
  Files files;
  for (const std::string& name : fs.list_files()) fs.get_file(name, &files[name]);
  return files;
}

std::string describe(const Files& files) {
  std::string text;
  for (const auto& [name, content] : files) {
    text += "  " + name + " (" + std::to_string(content.size()) + " bytes)\n";
  }
  return text;
}

std::optional<std::string> get(const Files& files, const std::string& name) {
  auto it = files.find(name);
  if (it == files.end()) return std::nullopt;
  return it->second;
}

bool is_backup(const std::string& name) { return name == kBak || name == kNamesBak; }

std::string english_source() {
  return message_source("EN",
                        "#message 1 MSG_HELLO \"Hello\"\n"
                        "#message 2 MSG_BYE \"Good\\tbye\\x21\"\n"
                        "#message 30 MSG_NO_TEXT\n"
                        "#message 7 MSG_SEVEN \"seven \\\"7\\\"\"\n",
                        "ISO8859", "LATIN.FON", "0x10", "0x2");
}

std::string french_source() {
  return message_source("FR",
                        "#message 1 MSG_HELLO \"Bonjour\"\n"
                        "#message 8 MSG_EIGHT \"huit\"\n"
                        "#message 2 MSG_BYE \"Au revoir\"\n",
                        "ISO8859", "LATIN.FON", "0x10", "0x2");
}

std::string english_unicode_source() {
  return message_source("EN",
                        "#message 9 MSG_NINE \"\\x00\\x41\\x00\\x42\"\n"
                        "#message 1 MSG_HELLO \"0x000x48\"\n",
                        "UNICODE", "WIDE.FON", "0x10", "0x3");
}

// The MSG file and names header of a first English run.
const Files& english_run() {
  static const Files files = [] {
    FakeFileSystem fs;
    fs.set_file("src/EN.h", english_source());
    RecordingConsole console;
    int code = run_tolvane({"-c", "-tsrc/EN.h", "-hinc/Names.h", kMsg}, fs, console);
    if (code != 0) throw std::runtime_error("the first English run failed: " + console.out);
    Files result;
    fs.get_file(kMsg, &result[kMsg]);
    fs.get_file(kNames, &result[kNames]);
    return result;
  }();
  return files;
}

struct Scenario {
  std::string name;
  std::vector<std::string> args;
  Files initial;
  bool links_fail = false;
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

std::vector<Scenario> scenarios() {
  const Files& english = english_run();
  std::vector<Scenario> base = {
      {"CreateNoFile",
       {"-c", "-tsrc/EN.h", "-hinc/Names.h", kMsg},
       {{"src/EN.h", english_source()}}},
      {"CreateOverExistingFile",
       {"-c", "-tsrc/FR.h", "-hinc/Names.h", kMsg},
       {{"src/FR.h", french_source()}, {kMsg, english.at(kMsg)}, {kNames, english.at(kNames)}}},
      {"NewLanguage",
       {"-tsrc/FR.h", "-hinc/Names.h", kMsg},
       {{"src/FR.h", french_source()}, {kMsg, english.at(kMsg)}, {kNames, english.at(kNames)}}},
      {"ExistingLanguage",
       {"-tsrc/ENU.h", "-hinc/Names.h", kMsg},
       {{"src/ENU.h", english_unicode_source()},
        {kMsg, english.at(kMsg)},
        {kNames, english.at(kNames)}}},
      // Several sources in one run, one of them in place of the English table.
      {"ListReplacing",
       {"-r", "-lsrc/all.lst", "-hinc/Names.h", kMsg},
       {{"src/all.lst", "FR.h\nENU.h\nEN.h\n"},
        {"src/EN.h", english_source()},
        {"src/FR.h", french_source()},
        {"src/ENU.h", english_unicode_source()},
        {kMsg, english.at(kMsg)},
        {kNames, english.at(kNames)}}},
  };
  std::vector<Scenario> all;
  for (Scenario scenario : base) {
    all.push_back(scenario);
    // Backups are then copies, with their own work file.
    scenario.name += "WithoutLinks";
    scenario.links_fail = true;
    all.push_back(scenario);
  }
  return all;
}

// One run on `fs` with a fault armed, and what it printed.
struct RunOutput {
  int code = -1;
  RecordingConsole console;
};

RunOutput run_scenario(const Scenario& scenario, FakeFileSystem& fs) {
  RunOutput output;
  output.code = run_tolvane(scenario.args, fs, output.console);
  return output;
}

void load(FakeFileSystem& fs, const Scenario& scenario, const Files& files) {
  for (const auto& [name, content] : files) fs.set_file(name, content);
  fs.set_links_fail(scenario.links_fail);
}

// Carries out the "mv 'a' 'b'" and "rm 'a'" commands of `advice` in their
// order, as the user would; with `first_only`, only the first. Returns how
// many there were.
int follow_advice(FakeFileSystem& fs, const std::string& advice, bool first_only) {
  static const std::regex command("(mv|rm) '([^']*)'(?: '([^']*)')?");
  // A refusal's advice is its one line, commands joined by &&.
  const std::string text = first_only ? advice.substr(0, advice.find('\n')) : advice;
  int done = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), command), end; it != end; ++it) {
    if ((*it)[1] == "mv") {
      fs.rename((*it)[2], (*it)[3]);
    } else {
      fs.remove((*it)[2]);
      if ((*it)[3].matched) fs.remove((*it)[3]);
    }
    ++done;
  }
  return done;
}

class BuildFaultTest : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    FakeFileSystem fs;
    load(fs, GetParam(), GetParam().initial);
    RunOutput clean = run_scenario(GetParam(), fs);
    ASSERT_EQ(clean.code, 0) << clean.console.out << clean.console.err;
    clean_ = snapshot(fs);
    clean_operations_ = fs.operations();
    ASSERT_TRUE(clean_.count(kMsg) && clean_.count(kNames));
  }

  // Checks one faulty run; returns how it ended, for the coverage checks.
  enum class Ending { kNew, kPrevious, kLeftBehind };
  Ending check_outcome(FakeFileSystem& fs, const RunOutput& run, long fail_at, bool persistent) {
    const Scenario& scenario = GetParam();
    const Files after = snapshot(fs);
    const std::string& out = run.console.out;
    const std::string& err = run.console.err;
    SCOPED_TRACE("fault at operation " + std::to_string(fail_at) +
                 (persistent ? " and after" : " once") + "\nstdout:\n" + out + "stderr:\n" + err +
                 "files:\n" + describe(after));
    if (run.code == 0) {
      EXPECT_EQ(after, clean_) << "exit code 0 without the complete new files";
      EXPECT_NE(out.find(".. end"), std::string::npos);
      return Ending::kNew;
    }
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(out.find("Error") != std::string::npos || err.find("Cannot") != std::string::npos)
        << "a failed run must say why";
    EXPECT_EQ(out.find(".. end"), std::string::npos);
    if (after == scenario.initial) return Ending::kPrevious;

    // Not back to the previous state: every file left over must be named in
    // the output, and every backup must hold what its original held.
    for (const auto& [name, content] : after) {
      if (scenario.initial.count(name) || name == kMsg || name == kNames) continue;
      EXPECT_NE(err.find(name), std::string::npos) << name << " is left without a word";
    }
    if (auto bak = get(after, kBak)) {
      EXPECT_EQ(bak, get(scenario.initial, kMsg));
    }
    if (auto bak = get(after, kNamesBak)) {
      EXPECT_EQ(bak, get(scenario.initial, kNames));
    }
    if (!persistent) {
      // A single fault can only keep the run from removing its last backup
      // or a mark, once the other backup is gone and the run cannot be
      // undone any more.
      Files without_backups = after;
      for (const char* name : {kBak, kNamesBak, kRun, kNamesRun}) without_backups.erase(name);
      EXPECT_EQ(without_backups, clean_) << "a single fault left more than a backup behind";
      EXPECT_NE(err.find("are complete; remove '"), std::string::npos);
    }
    check_recovery(fs, run);
    return Ending::kLeftBehind;
  }

  // From a state the undo could not finish, two ways back. The next runs
  // refuse while a backup is there and their advice leads to the previous or
  // the new files (work files the failed run named may stay); the commands of
  // the failed run's own note lead there exactly. From the previous files a
  // run then gives exactly the clean run's result.
  void check_recovery(FakeFileSystem& fs, const RunOutput& failed) {
    const Scenario& scenario = GetParam();
    const std::string& told = failed.console.err;
    fs.fail_at(0, false);
    {
      FakeFileSystem copy;
      load(copy, scenario, snapshot(fs));
      if (follow_advice(copy, told, false) > 0) {
        const Files state = snapshot(copy);
        EXPECT_TRUE(state == scenario.initial || state == clean_)
            << "the note's commands lead to neither the previous nor the new files:\n"
            << describe(state);
      }
    }
    for (int step = 0; step < 4; ++step) {
      const Files before = snapshot(fs);
      if (!before.count(kBak) && !before.count(kNamesBak)) break;
      RunOutput next = run_scenario(scenario, fs);
      SCOPED_TRACE("next run, stderr:\n" + next.console.err);
      EXPECT_EQ(next.code, 1);
      EXPECT_NE(next.console.err.find("is left by an interrupted run"), std::string::npos);
      EXPECT_EQ(snapshot(fs), before) << "a refused run changed files";
      ++refusals_;
      if (follow_advice(fs, next.console.err, true) == 0) {
        ADD_FAILURE() << "the refusal gives no advice";
        return;
      }
    }
    Files state = snapshot(fs);
    for (auto it = state.begin(); it != state.end();) {
      const bool named = told.find(it->first) != std::string::npos;
      it = !scenario.initial.count(it->first) && named && !is_backup(it->first) ? state.erase(it)
                                                                                : std::next(it);
    }
    SCOPED_TRACE("after the advice:\n" + describe(state));
    const bool previous = state == scenario.initial;
    ASSERT_TRUE(previous || state == clean_) << "neither the previous nor the new files";
    if (previous) {
      RunOutput again = run_scenario(scenario, fs);
      EXPECT_EQ(again.code, 0) << again.console.out << again.console.err;
      EXPECT_EQ(snapshot(fs), clean_) << "the run after recovery differs from a clean run";
    }
  }

  // Runs the scenario with operation N failing for N = 1, 2, ... until a run
  // meets no fault; returns how many runs ended each way.
  std::map<Ending, int> fail_every_operation(bool persistent) {
    std::map<Ending, int> endings;
    for (long n = 1;; ++n) {
      // A run that keeps finding operations to fail would never stop.
      if (n > 4 * clean_operations_ + 20) {
        ADD_FAILURE() << "runs still meet faults at operation " << n;
        break;
      }
      FakeFileSystem fs;
      load(fs, GetParam(), GetParam().initial);
      fs.fail_at(n, persistent);
      RunOutput run = run_scenario(GetParam(), fs);
      if (!fs.injected()) {
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(snapshot(fs), clean_);
        EXPECT_GT(n, clean_operations_);
        break;
      }
      ++endings[check_outcome(fs, run, n, persistent)];
      if (::testing::Test::HasFailure()) break;  // the first failing fault tells enough
    }
    return endings;
  }

  Files clean_;
  long clean_operations_ = 0;
  int refusals_ = 0;  // next runs that refused because of a backup left
};

TEST_P(BuildFaultTest, SingleFaultGivesNewOrPreviousFiles) {
  std::map<Ending, int> endings = fail_every_operation(false);
  EXPECT_GT(endings[Ending::kPrevious], 10) << "faults should mostly end in an undo";
}

TEST_P(BuildFaultTest, LastingFaultLeavesNothingLost) {
  std::map<Ending, int> endings = fail_every_operation(true);
  // A lasting fault keeps the undo from removing the work files once they
  // exist, so only the earliest faults end with everything as before.
  EXPECT_GT(endings[Ending::kPrevious], 2);
  EXPECT_GT(endings[Ending::kLeftBehind], 0);
  // Where there are previous files, faults that last into the undo of a
  // commit leave backups behind: the way back through the next run's refusal
  // must have been walked, not only the clean undo.
  if (GetParam().initial.count(kMsg)) {
    EXPECT_GT(refusals_, 0);
  }
}

// An undo that stopped half-way can leave <base>.TMP as a second name of the
// MSG file. The next run must not truncate it in place: that would empty the
// MSG file it is about to read.
TEST(BuildWorkFiles, LeftoverWorkFileNamesOfTheFilesInPlaceAreNotTruncated) {
  const Files& english = english_run();
  FakeFileSystem expected_fs;
  expected_fs.set_file("src/FR.h", french_source());
  expected_fs.set_file(kMsg, english.at(kMsg));
  expected_fs.set_file(kNames, english.at(kNames));
  RecordingConsole console;
  const std::vector<std::string> args = {"-tsrc/FR.h", "-hinc/Names.h", kMsg};
  ASSERT_EQ(run_tolvane(args, expected_fs, console), 0) << console.out << console.err;

  FakeFileSystem fs;
  fs.set_file("src/FR.h", french_source());
  fs.set_file(kMsg, english.at(kMsg));
  fs.set_file(kNames, english.at(kNames));
  fs.link(kMsg, kTmp);
  fs.link(kNames, "inc/Names.h.TMP");
  RecordingConsole second;
  EXPECT_EQ(run_tolvane(args, fs, second), 0) << second.out << second.err;
  EXPECT_EQ(snapshot(fs), snapshot(expected_fs));
}

INSTANTIATE_TEST_SUITE_P(Runs, BuildFaultTest, ::testing::ValuesIn(scenarios()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tolvane
