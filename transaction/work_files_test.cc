#include "transaction/work_files.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/failure.h"
#include "platform/fake_file_system.h"

namespace tolvane {
namespace {

// What a run shows when a backup is in the way, or nothing.
std::optional<std::string> stale_backup(FileSystem& fs, const WorkFilePaths& paths) {
  std::optional<Failure> failure = find_stale_backup(fs, paths);
  if (!failure) return std::nullopt;
  EXPECT_EQ(failure->kind(), FailureKind::kFile);
  return failure->message() + "\n";
}

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

TEST(WorkFilePaths, ReplaceTheFinalExtensionInTheSameDirectory) {
  WorkFilePaths p = work_file_paths("app.msg", "APP.MSG", "Names.h");
  EXPECT_EQ(p.msg.path, "app.msg");
  EXPECT_EQ(p.msg.shown, "APP.MSG");
  EXPECT_EQ(p.msg.tmp, "app.TMP");
  EXPECT_EQ(p.msg.bak, "app.BAK");
  EXPECT_EQ(p.msg.tmp_shown, "APP.TMP");
  EXPECT_EQ(p.msg.bak_shown, "APP.BAK");
  EXPECT_EQ(p.names.path, "Names.h");
  EXPECT_EQ(p.names.tmp, "Names.h.TMP");
  EXPECT_EQ(p.names.bak, "Names.h.BAK");

  p = work_file_paths("out/app.msg", "OUT/APP.MSG", "inc/Names.h");
  EXPECT_EQ(p.msg.tmp, "out/app.TMP");
  EXPECT_EQ(p.msg.bak, "out/app.BAK");
  EXPECT_EQ(p.msg.shown, "OUT/APP.MSG");
  EXPECT_EQ(p.msg.tmp_shown, "OUT/APP.TMP");
  EXPECT_EQ(p.msg.bak_shown, "OUT/APP.BAK");
  EXPECT_EQ(p.names.tmp, "inc/Names.h.TMP");

  p = work_file_paths("v1.2/app.msg", "V1.2/APP.MSG", "Names.h");
  EXPECT_EQ(p.msg.path, "v1.2/app.msg");
  EXPECT_EQ(p.msg.tmp, "v1.2/app.TMP");
  EXPECT_EQ(p.msg.bak, "v1.2/app.BAK");
  EXPECT_EQ(p.msg.bak_shown, "V1.2/APP.BAK");

  p = work_file_paths("my.app.msg", "MY.APP.MSG", "Names.h");
  EXPECT_EQ(p.msg.tmp, "my.app.TMP");
  EXPECT_EQ(p.msg.bak, "my.app.BAK");
  EXPECT_EQ(p.msg.tmp_shown, "MY.APP.TMP");

  // Without an extension the name is kept whole, even below a dotted directory.
  p = work_file_paths("v1.2/app", "V1.2/APP", "Names.h");
  EXPECT_EQ(p.msg.tmp, "v1.2/app.TMP");
  EXPECT_EQ(p.msg.shown, "V1.2/APP");
#ifdef _WIN32
  // Windows paths may use backslashes.
  p = work_file_paths("v1.2\\app", "V1.2\\APP", "Names.h");
  EXPECT_EQ(p.msg.tmp, "v1.2\\app.TMP");
  p = work_file_paths("out\\app.msg", "OUT\\APP.MSG", "Names.h");
  EXPECT_EQ(p.msg.bak, "out\\app.BAK");
#endif
  // The file built is the path as typed, whatever its case.
  p = work_file_paths("App.Msg", "APP.MSG", "Names.h");
  EXPECT_EQ(p.msg.path, "App.Msg");
  EXPECT_EQ(p.msg.bak, "App.BAK");
  EXPECT_EQ(p.msg.bak_shown, "APP.BAK");
}

TEST(StaleBackupMessage, SaysWhichBackupAndWhatToDo) {
  WorkFilePaths paths = work_file_paths("out/app.msg", "OUT/APP.MSG", "Names.h");
  EXPECT_EQ(paths.msg.run, "out/app.RUN");
  EXPECT_EQ(paths.msg.run_shown, "OUT/APP.RUN");
  EXPECT_EQ(paths.names.run, "Names.h.RUN");
  // The mark says what it is and names its backup, not the path typed.
  EXPECT_EQ(run_mark_text("out/app.BAK"),
            "Tolvane run mark: the backup named below was made by a run\napp.BAK\n");
  FakeFileSystem fs;
  fs.set_file("out/app.msg", "msg");
  fs.set_file("Names.h", "names");
  EXPECT_EQ(stale_backup(fs, paths), std::nullopt);
  // A temporary file alone is no danger: it holds nothing of the user's;
  // nor is a mark whose backup is gone.
  fs.set_file("out/app.TMP", "partial");
  fs.set_file("out/app.RUN", run_mark_text(paths.msg.bak));
  EXPECT_EQ(stale_backup(fs, paths), std::nullopt);

  // Interrupted before the MSG file was replaced: the backup is what to keep.
  fs.set_file("out/app.BAK", "previous");
  std::optional<std::string> message = stale_backup(fs, paths);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(*message,
            "Cannot build OUT/APP.MSG: out/app.BAK is left by an interrupted run and holds the "
            "only copy of the previous out/app.msg; restore it with: mv 'out/app.BAK' "
            "'out/app.msg' && rm 'out/app.RUN' 'out/app.TMP' and run again\n");

  // Interrupted after: the new files are complete, the backup can go.
  std::string kept;
  ASSERT_TRUE(fs.get_file("out/app.BAK", &kept));
  ASSERT_EQ(kept, "previous");
  fs.remove("out/app.TMP");
  message = stale_backup(fs, paths);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(*message,
            "Cannot build OUT/APP.MSG: out/app.BAK is left by an interrupted run that had already "
            "written the new out/app.msg and Names.h; remove it with: rm 'out/app.BAK' "
            "'out/app.RUN' and run again\n");

  // The names backup alone, in both states.
  fs.remove("out/app.BAK");
  fs.remove("out/app.RUN");
  fs.set_file("Names.h.BAK", "previous names");
  fs.set_file("Names.h.RUN", run_mark_text(paths.names.bak));
  message = stale_backup(fs, paths);
  ASSERT_TRUE(message.has_value());
  EXPECT_THAT(*message, StartsWith("Cannot build OUT/APP.MSG: Names.h.BAK "));
  EXPECT_THAT(*message, HasSubstr("rm 'Names.h.BAK' 'Names.h.RUN'"));
  fs.set_file("out/app.TMP", "partial");
  message = stale_backup(fs, paths);
  ASSERT_TRUE(message.has_value());
  EXPECT_THAT(*message, HasSubstr("previous Names.h; restore it with: mv 'Names.h.BAK' "
                                  "'Names.h' && rm 'Names.h.RUN' 'out/app.TMP' and run again\n"));
  // Checking touches nothing.
  EXPECT_EQ(fs.list_files().size(), 5u);

  // Cut between replacing the names header and the MSG file: one command
  // deals with both backups, their marks and the work file at once.
  fs.link("out/app.msg", "out/app.BAK");
  fs.set_file("out/app.RUN", run_mark_text(paths.msg.bak));
  message = stale_backup(fs, paths);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(*message,
            "Cannot build OUT/APP.MSG: out/app.BAK is left by an interrupted run and is a second "
            "name of the previous out/app.msg, which is still in place, and Names.h.BAK holds the "
            "only copy of the previous Names.h; restore them with: "
            "mv 'Names.h.BAK' 'Names.h' && rm 'out/app.BAK' 'out/app.RUN' 'Names.h.RUN' "
            "'out/app.TMP' and run again\n");
}

// A backup is a run's only when its mark says so: a user's own copy under
// the backup's name, or a file under the mark's, is only ever asked to move,
// whatever state the other work files are in.
TEST(StaleBackupMessage, NeverAdvisesRemovingAUsersFile) {
  const WorkFilePaths paths = work_file_paths("app.msg", "APP.MSG", "names.h");
  struct Case {
    const char* file;
    const char* content;
    const char* message;
  };
  const Case cases[] = {
      {"app.BAK", "msg",
       "Cannot build APP.MSG: app.BAK was not made by a run and is in the way of the run's "
       "backup of app.msg; move or rename it and run again\n"},
      {"names.h.BAK", "names",
       "Cannot build APP.MSG: names.h.BAK was not made by a run and is in the way of the run's "
       "backup of names.h; move or rename it and run again\n"},
      {"app.RUN", "my notes\n",
       "Cannot build APP.MSG: app.RUN was not made by a run and is in the way of the run's "
       "mark of the same name; move or rename it and run again\n"},
  };
  for (const Case& c : cases) {
    for (int state = 0; state < 4; ++state) {
      SCOPED_TRACE(std::string(c.file) + " in state " + std::to_string(state));
      FakeFileSystem fs;
      fs.set_file("app.msg", "msg");
      fs.set_file("names.h", "names");
      fs.set_file(c.file, c.content);
      if (state & 1) fs.set_file("app.TMP", "partial");
      // A mark for the other backup vouches for nothing here.
      if (state & 2) {
        const bool names = std::string(c.file) == "names.h.BAK";
        fs.set_file(names ? "app.RUN" : "names.h.RUN",
                    run_mark_text(names ? "app.BAK" : "names.h.BAK"));
      }
      if (std::string(c.file) == "app.RUN") fs.set_file("app.BAK", "msg");
      std::optional<std::string> message = stale_backup(fs, paths);
      ASSERT_TRUE(message.has_value());
      EXPECT_EQ(*message, c.message);
      EXPECT_THAT(*message, Not(HasSubstr("rm ")));
    }
  }
}

TEST(MakeBackup, LinksOrCopiesCompletely) {
  FakeFileSystem fs;
  std::string big(3 * 1024 * 1024 + 5, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 7);
  fs.set_file("a.msg", big);

  make_backup(fs, "a.msg", "a.BAK");
  std::string copy;
  ASSERT_TRUE(fs.get_file("a.BAK", &copy));
  EXPECT_EQ(copy, big);
  // An existing backup is never overwritten.
  try {
    make_backup(fs, "a.msg", "a.BAK");
    ADD_FAILURE() << "no error";
  } catch (const IoError& e) {
    EXPECT_EQ(e.error(), EEXIST);
  }

  fs.set_links_fail(true);
  make_backup(fs, "a.msg", "b.BAK");
  ASSERT_TRUE(fs.get_file("b.BAK", &copy));
  EXPECT_EQ(copy, big);
  // A copy, not a second name: the original can change without it.
  fs.open("a.msg", OpenMode::kCreate);
  ASSERT_TRUE(fs.get_file("b.BAK", &copy));
  EXPECT_EQ(copy, big);

  fs.set_file("c.BAK", "keep");
  fs.set_file("a.msg", "new");
  EXPECT_THROW(make_backup(fs, "a.msg", "c.BAK"), IoError);
  ASSERT_TRUE(fs.get_file("c.BAK", &copy));
  EXPECT_EQ(copy, "keep");
  EXPECT_THAT(fs.list_files(), ElementsAre("a.BAK", "a.msg", "b.BAK", "c.BAK"));
}

TEST(MakeBackup, ACopyThatFailsLeavesNoPartialBackup) {
  const std::string content(5000, 'm');
  auto prepare = [&](FakeFileSystem& fs) {
    fs.set_file("a.msg", content);
    fs.set_links_fail(true);
  };
  FakeFileSystem clean;
  prepare(clean);
  make_backup(clean, "a.msg", "a.BAK");
  const long steps = clean.operations();
  for (long n = 1; n <= steps; ++n) {
    FakeFileSystem fs;
    prepare(fs);
    fs.fail_at(n, false);
    bool thrown = false;
    try {
      make_backup(fs, "a.msg", "a.BAK");
    } catch (const IoError&) {
      thrown = true;
    }
    std::string copy;
    if (thrown) {
      EXPECT_FALSE(fs.get_file("a.BAK", &copy)) << "failure at operation " << n;
      EXPECT_THAT(fs.list_files(), ElementsAre("a.msg")) << "failure at operation " << n;
    } else {
      // Only the link may fail without consequence: a copy takes over.
      EXPECT_EQ(n, 1);
      ASSERT_TRUE(fs.get_file("a.BAK", &copy));
      EXPECT_EQ(copy, content);
      EXPECT_THAT(fs.list_files(), ElementsAre("a.BAK", "a.msg"));
    }
  }
}

const char kOldMsg[] = "previous MSG";
const char kOldNames[] = "#define OLD 1\n";
const char kNewMsg[] = "new MSG content";
const char kNewNames[] = "#define OLD 1\n#define NEW 2\n";

struct Scenario {
  bool msg_exists;
  bool names_exists;
  bool links_fail;
};

std::string describe(const Scenario& s) {
  return std::string(s.msg_exists ? "MSG file" : "no MSG file") +
         (s.names_exists ? ", names header" : ", no names header") +
         (s.links_fail ? ", no links" : "");
}

const Scenario kScenarios[] = {
    {true, true, false},   {true, false, false}, {false, true, false},
    {false, false, false}, {true, true, true},   {false, false, true},
};

using FileMap = std::map<std::string, std::string>;

FileMap files_of(const FakeFileSystem& fs) {
  FileMap files;
  for (const std::string& name : fs.list_files()) fs.get_file(name, &files[name]);
  return files;
}

FileMap files_before(const Scenario& s) {
  FileMap files;
  if (s.msg_exists) files["app.msg"] = kOldMsg;
  if (s.names_exists) files["Names.h"] = kOldNames;
  return files;
}

FileMap committed_files() { return {{"app.msg", kNewMsg}, {"Names.h", kNewNames}}; }

// The files without the marks a commit could not remove once their backups
// were gone, each checked to hold just the mark.
FileMap without_marks(FileMap files) {
  for (const char* bak : {"app.BAK", "Names.h.BAK"}) {
    const std::string run = std::string(bak, std::strlen(bak) - 4) + ".RUN";
    if (!files.count(run)) continue;
    EXPECT_FALSE(files.count(bak)) << run;
    EXPECT_EQ(files[run], run_mark_text(bak));
    files.erase(run);
  }
  return files;
}

// A finished build about to be committed: both new files complete, the
// previous ones as the scenario has them.
template <typename FakeFs>
struct BuildOn {
  explicit BuildOn(const Scenario& s) : work(fs, work_file_paths("app.msg", "APP.MSG", "Names.h")) {
    if (s.msg_exists) fs.set_file("app.msg", kOldMsg);
    if (s.names_exists) fs.set_file("Names.h", kOldNames);
    fs.set_file("app.TMP", kNewMsg);
    fs.set_file("Names.h.TMP", kNewNames);
    fs.set_links_fail(s.links_fail);
    work.created_tmp();
    work.created_names_tmp();
  }
  FakeFs fs;
  WorkFiles work;
};
using Build = BuildOn<FakeFileSystem>;

long clean_commit_operations(const Scenario& s) {
  Build build(s);
  build.work.commit();
  return build.fs.operations();
}

// One failed commit and its undo.
struct Outcome {
  std::string what;
  bool committed = false;
  std::string failure;  // the commit's message
  std::string note;     // what undo() returned
  long undo_steps = 0;
  FileMap files;
  std::unique_ptr<Build> build;
};

// Makes commit fail at operation `n` (once, or from then on), then, when
// `undo_failure` is given, undo at its operation `undo_failure`.
Outcome fail(const Scenario& s, long n, bool persistent, long undo_failure = 0,
             bool undo_persistent = false) {
  Outcome o;
  o.what = describe(s) + ", failure at operation " + std::to_string(n) +
           (persistent ? " and after" : " once");
  if (undo_failure > 0) {
    o.what += ", then at undo step " + std::to_string(undo_failure) +
              (undo_persistent ? " and after" : " once");
  }
  o.build = std::make_unique<Build>(s);
  FakeFileSystem& fs = o.build->fs;
  fs.fail_at(n, persistent);
  try {
    o.build->work.commit();
    o.committed = true;
  } catch (const Failure& failure) {
    EXPECT_NE(failure.kind(), FailureKind::kUsage) << o.what;
    EXPECT_NE(failure.kind(), FailureKind::kInput) << o.what;
    EXPECT_THAT(failure.message(), StartsWith("Cannot ")) << o.what;
    o.failure = failure.message();
    const long before_undo = fs.operations();
    if (undo_failure > 0) fs.fail_at(before_undo + undo_failure, undo_persistent);
    o.note = o.build->work.undo();
    o.undo_steps = fs.operations() - before_undo;
  }
  fs.fail_at(0, false);
  o.files = files_of(fs);
  return o;
}

// Every way to fail: each operation of commit, once and from then on; and a
// single failure in commit followed by one at each step of the undo.
std::vector<Outcome> all_failures() {
  std::vector<Outcome> outcomes;
  for (const Scenario& s : kScenarios) {
    const long steps = clean_commit_operations(s);
    for (long n = 1; n <= steps; ++n) {
      for (bool persistent : {false, true}) outcomes.push_back(fail(s, n, persistent));
      for (bool persistent : {false, true}) {
        for (long m = 1; m < 50; ++m) {
          Outcome o = fail(s, n, false, m, persistent);
          const bool undo_reached_m = !o.committed && o.undo_steps >= m;
          outcomes.push_back(std::move(o));
          if (!undo_reached_m) break;
        }
      }
    }
  }
  return outcomes;
}

const Scenario& scenario_of(const Outcome& o) {
  for (const Scenario& s : kScenarios) {
    if (o.what.rfind(describe(s) + ", failure", 0) == 0) return s;
  }
  static const Scenario none{};
  ADD_FAILURE() << "unknown scenario " << o.what;
  return none;
}

TEST(WorkFiles, CommitReplacesBothFilesAndLeavesNoBackups) {
  for (const Scenario& s : kScenarios) {
    Build build(s);
    build.work.commit();
    EXPECT_EQ(files_of(build.fs), committed_files()) << describe(s);
    // Nothing to undo once committed.
    EXPECT_EQ(build.work.undo(), "") << describe(s);
    EXPECT_EQ(files_of(build.fs), committed_files()) << describe(s);
  }
}

// The directory changes a commit makes, and its syncs, in order.
class SyncLog : public FakeFileSystem {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    if (mode == OpenMode::kCreate && !exists(path)) log.push_back("create " + path);
    return FakeFileSystem::open(path, mode);
  }
  void rename(const std::string& from, const std::string& to) override {
    FakeFileSystem::rename(from, to);
    log.push_back("rename " + to);
  }
  void rename_no_replace(const std::string& from, const std::string& to) override {
    FakeFileSystem::rename_no_replace(from, to);
    log.push_back("rename " + to);
  }
  void link(const std::string& from, const std::string& to) override {
    FakeFileSystem::link(from, to);
    log.push_back("link " + to);
  }
  void remove(const std::string& path) override {
    FakeFileSystem::remove(path);
    log.push_back("remove " + path);
  }
  void sync_dir(const std::string& dir) override {
    FakeFileSystem::sync_dir(dir);
    log.push_back("sync");
  }
  std::vector<std::string> log;
};

// Whether every change in the first `end` entries of `log` is synced before
// entry `end`.
bool synced_before(const std::vector<std::string>& log, size_t end) {
  size_t last_change = end;
  for (size_t i = 0; i < end; ++i) {
    if (log[i] != "sync") last_change = i;
  }
  return last_change == end ||
         std::find(log.begin() + last_change, log.begin() + end, "sync") != log.begin() + end;
}

// What a power cut can undo is what was not synced: the backups and their
// marks are on disk before a previous file is replaced, the new files are
// in place on disk before a backup goes, and the commit leaves no change
// unsynced.
TEST(WorkFiles, CommitSyncsEachChangeBeforeTheNextDependsOnIt) {
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(describe(s));
    BuildOn<SyncLog> build(s);
    build.work.commit();
    ASSERT_EQ(files_of(build.fs), committed_files());
    const std::vector<std::string>& log = build.fs.log;
    EXPECT_TRUE(synced_before(log, log.size()));
    const auto first = [&](std::initializer_list<const char*> steps) {
      size_t at = log.size();
      for (const char* step : steps) {
        at = std::min<size_t>(at, std::find(log.begin(), log.end(), step) - log.begin());
      }
      return at;
    };
    const size_t first_replace = first({"rename app.msg", "rename Names.h"});
    ASSERT_LT(first_replace, log.size());
    EXPECT_TRUE(synced_before(log, first_replace));
    const size_t first_removal = first({"remove app.BAK", "remove Names.h.BAK"});
    EXPECT_EQ(first_removal == log.size(), !s.msg_exists && !s.names_exists);
    if (first_removal < log.size()) {
      EXPECT_TRUE(synced_before(log, first_removal));
    }
  }
}

TEST(WorkFiles, UndoBeforeCommitRemovesOnlyTheWorkFiles) {
  for (const Scenario& s : kScenarios) {
    Build build(s);
    EXPECT_EQ(build.work.undo(), "") << describe(s);
    EXPECT_EQ(files_of(build.fs), files_before(s)) << describe(s);
  }
}

// Whatever fails, no previous content is lost: the previous files are back
// in place, or each is in place or in its backup and a note says so.
TEST(WorkFiles, AFailedCommitLosesNothing) {
  const std::vector<Outcome> outcomes = all_failures();
  // The failures reach every outcome: commits that survive them, complete
  // undos, and undos that end with a note.
  int committed = 0, undone = 0, noted = 0;
  for (const Outcome& o : outcomes) {
    committed += o.committed;
    undone += !o.committed && o.note.empty();
    noted += !o.note.empty();
  }
  EXPECT_GT(committed, 0);
  EXPECT_GT(undone, 0);
  EXPECT_GT(noted, 0);
  for (const Outcome& o : outcomes) {
    const Scenario& s = scenario_of(o);
    SCOPED_TRACE(o.what + "; failure: " + o.failure + "note: " + o.note);
    if (o.committed) {
      // Only the final syncs may fail without failing the commit; the new
      // files are complete by then.
      EXPECT_EQ(o.files, committed_files());
      continue;
    }
    if (o.note.empty() && o.failure.find("are complete") != std::string::npos) {
      // Past the point of no return: the new files are in place; the MSG
      // backup or the marks the message names are left.
      FileMap files = o.files;
      if (o.failure.rfind("Cannot remove APP.BAK", 0) == 0) {
        EXPECT_EQ(files["app.BAK"], kOldMsg);
        EXPECT_THAT(o.failure, HasSubstr("remove 'app.BAK'"));
        files.erase("app.BAK");
      }
      for (const char* mark : {"app.RUN", "Names.h.RUN"}) {
        if (files.count(mark)) {
          EXPECT_THAT(o.failure, HasSubstr(std::string("'") + mark + "'"));
        }
      }
      EXPECT_EQ(without_marks(files), committed_files());
      continue;
    }
    if (o.note.empty()) {
      EXPECT_EQ(o.files, files_before(s));
      continue;
    }
    const std::pair<const char*, const char*> kept[] = {{"app.msg", "app.BAK"},
                                                        {"Names.h", "Names.h.BAK"}};
    const FileMap previous_files = files_before(s);
    for (const auto& [original, backup] : kept) {
      auto previous = previous_files.find(original);
      if (previous == previous_files.end()) continue;
      auto in_place = o.files.find(original);
      auto in_backup = o.files.find(backup);
      EXPECT_TRUE((in_place != o.files.end() && in_place->second == previous->second) ||
                  (in_backup != o.files.end() && in_backup->second == previous->second))
          << original << " lost";
    }
  }
}

// A single failure is always undone completely, with links or without.
TEST(WorkFiles, ASingleFailureIsUndoneCompletely) {
  for (const Scenario& s : kScenarios) {
    const long steps = clean_commit_operations(s);
    for (long n = 1; n <= steps; ++n) {
      Outcome o = fail(s, n, false);
      EXPECT_EQ(o.note, "") << o.what;
    }
  }
}

// Carries out the "mv 'from' 'to'" and "rm 'path'" commands a note gives.
void follow_note(FakeFileSystem& fs, const std::string& note) {
  // The quoted word that starts at or after `at`; moves `at` past it.
  auto quoted_word = [&](size_t* at) {
    size_t open = note.find('\'', *at);
    size_t close = note.find('\'', open + 1);
    if (open == std::string::npos || close == std::string::npos) {
      ADD_FAILURE() << "unquoted path in: " << note;
      *at = note.size();
      return std::string();
    }
    *at = close + 1;
    return note.substr(open + 1, close - open - 1);
  };
  for (size_t at = 0; at < note.size();) {
    size_t mv = note.find("mv '", at), rm = note.find("rm '", at);
    if (mv == std::string::npos && rm == std::string::npos) break;
    if (mv < rm) {
      at = mv;
      std::string from = quoted_word(&at);
      fs.rename(from, quoted_word(&at));
    } else {
      at = rm;
      fs.remove(quoted_word(&at));
    }
  }
}

// When the undo could not finish, its note tells the truth. Three kinds:
// the files are back but work files are left; nothing could be put back and
// the backups hold the previous files; or commands that put them back.
bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

TEST(WorkFiles, UndoNoteNamesEveryWorkFileLeft) {
  for (Outcome& o : all_failures()) {
    if (!contains(o.note, "previous files are in place")) continue;
    SCOPED_TRACE(o.what + "; failure: " + o.failure + "note: " + o.note);
    const FileMap previous = files_before(scenario_of(o));
    for (const auto& [name, content] : previous) {
      EXPECT_EQ(o.files[name], content) << name;
    }
    for (const auto& [name, content] : o.files) {
      if (!previous.count(name)) {
        EXPECT_THAT(o.note, HasSubstr(name));
      }
    }
  }
}

TEST(WorkFiles, UndoNoteNamesOnlyBackupsThatExist) {
  for (Outcome& o : all_failures()) {
    if (!contains(o.note, "are kept in")) continue;
    const Scenario& s = scenario_of(o);
    SCOPED_TRACE(o.what + "; failure: " + o.failure + "note: " + o.note);
    EXPECT_EQ(o.files["app.msg"], kNewMsg);
    EXPECT_EQ(o.files["Names.h"], kNewNames);
    EXPECT_EQ(s.msg_exists, contains(o.note, "app.BAK"));
    EXPECT_EQ(s.names_exists, contains(o.note, "Names.h.BAK"));
    if (s.msg_exists) {
      EXPECT_EQ(o.files["app.BAK"], kOldMsg);
    }
    if (s.names_exists) {
      EXPECT_EQ(o.files["Names.h.BAK"], kOldNames);
    }
  }
}

TEST(WorkFiles, UndoNoteCommandsRestoreThePreviousFiles) {
  for (Outcome& o : all_failures()) {
    if (o.note.empty() || contains(o.note, "previous files are in place") ||
        contains(o.note, "are kept in")) {
      continue;
    }
    SCOPED_TRACE(o.what + "; failure: " + o.failure + "note: " + o.note);
    const FileMap previous = files_before(scenario_of(o));
    FakeFileSystem& fs = o.build->fs;
    follow_note(fs, o.note);
    FileMap files = files_of(fs);
    for (const char* name : {"app.msg", "Names.h"}) {
      if (previous.count(name)) {
        EXPECT_EQ(files[name], previous.at(name)) << name;
      } else {
        EXPECT_FALSE(files.count(name)) << name << " did not exist before the run";
      }
    }
    EXPECT_FALSE(files.count("app.BAK"));
    EXPECT_FALSE(files.count("Names.h.BAK"));
    EXPECT_FALSE(files.count("app.RUN"));
    EXPECT_FALSE(files.count("Names.h.RUN"));
  }
}

}  // namespace
}  // namespace tolvane
