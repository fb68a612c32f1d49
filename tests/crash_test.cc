// Real builds killed with SIGKILL at many moments: after every kill, the
// next run either builds or refuses with advice, and following that advice
// always leads back to exactly the previous files or the complete new ones.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_util/test_util.h"

namespace tolvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

const std::vector<std::string> kArgs = {"-tnew.h", "-hnames.h", "app.msg"};

struct Files {
  std::string msg, names;
};

// A source of `count` messages from identifier `first` on, each text
// `text_size` characters long with escapes along the way.
std::string make_source(const std::string& language, int first, int count, size_t text_size) {
  std::string body;
  for (int id = first; id < first + count; ++id) {
    std::string text = "t" + std::to_string(id) + "\\t\\x41";
    while (text.size() < text_size) text += " abcdefghij" + std::to_string(id % 97);
    body += "#message " + std::to_string(id) + " MSG_" + std::to_string(id) + " \"" + text + "\"\n";
  }
  return message_source(language, body);
}

Files read_files(const std::string& dir) {
  return {read_file(dir + "/app.msg"), read_file(dir + "/names.h")};
}

bool same_files(const Files& a, const Files& b) { return a.msg == b.msg && a.names == b.names; }

// The inputs of killed builds and the outcomes to compare with, made by
// running the tool itself.
struct Inputs {
  Files previous;      // before the build
  Files built;         // after one complete build
  std::string twice;   // the MSG file after a second complete build
  std::string source;  // new.h
};

// Three tables of `table_messages` texts of `text_size` characters, a
// previous names header, and a source in a known language of which half the
// identifiers are new to the names header.
Inputs make_inputs(int table_messages, size_t text_size, int new_messages) {
  Inputs in;
  TempDir dir;
  const char* const languages[] = {"EN", "FR", "DE"};
  for (int i = 0; i < 3; ++i) {
    write_file(dir / "t.h", make_source(languages[i], 0, table_messages, text_size));
    std::vector<std::string> args = {"-tt.h", "-hnames.h", "app.msg"};
    if (i == 0) args.insert(args.begin(), "-c");
    RunResult r = run_tolvane(args, dir.path());
    if (r.exit_code != 0) throw std::runtime_error("cannot make the inputs: " + r.out + r.err);
  }
  std::remove((dir / "t.h").c_str());
  in.previous = read_files(dir.path());
  in.source = make_source("EN", new_messages / 2, new_messages, 150);
  write_file(dir / "new.h", in.source);
  RunResult first = run_tolvane(kArgs, dir.path());
  in.built = read_files(dir.path());
  RunResult second = run_tolvane(kArgs, dir.path());
  in.twice = read_file(dir / "app.msg");
  if (first.exit_code != 0 || second.exit_code != 0 || in.built.names == in.previous.names ||
      read_file(dir / "names.h") != in.built.names) {
    throw std::runtime_error("the reference builds went wrong");
  }
  return in;
}

// Large enough for a build to take a while: about 15 MB of tables and a
// source of 20,000 messages.
const Inputs& large_inputs() {
  static const Inputs* inputs = new Inputs(make_inputs(2000, 2500, 20000));
  return *inputs;
}

const Inputs& small_inputs() {
  static const Inputs* inputs = new Inputs(make_inputs(20, 40, 60));
  return *inputs;
}

// A directory holding the previous files and the source, as before a run.
void prepare(const TempDir& dir, const Inputs& in) {
  for (const std::string& name : list_dir(dir.path())) std::remove((dir / name).c_str());
  write_file(dir / "app.msg", in.previous.msg);
  write_file(dir / "names.h", in.previous.names);
  write_file(dir / "new.h", in.source);
}

// Starts the build in `dir` with its output thrown away; `traced` makes the
// child stop for its tracer at exec.
pid_t start_build(const std::string& dir, bool traced = false) {
  const std::string binary = tolvane_binary();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (const std::string& arg : kArgs) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    if (chdir(dir.c_str()) != 0) _exit(127);
    if (traced) {
      // A leak checker stops the process's threads by tracing them, which a
      // process already traced cannot allow.
      const char* options = getenv("ASAN_OPTIONS");
      setenv("ASAN_OPTIONS",
             ((options && *options ? std::string(options) + ":" : "") + "detect_leaks=0").c_str(),
             1);
      if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
    }
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// How a started build ended: killed, or finished on its own first.
struct Ending {
  bool killed = false;
  int exit_code = -1;
};

Ending kill_and_reap(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  Ending ending;
  ending.killed = WIFSIGNALED(status);
  if (WIFEXITED(status)) ending.exit_code = WEXITSTATUS(status);
  return ending;
}

// Where a kill left the user, as the recovery found it.
enum class Outcome { kUntouched, kCompleted, kRestored, kRemoved };

// Follows what a user does after the kill: run again, do what a refusal
// says, run again, until the build goes through or the advice has brought
// back a state to stop at. Checks every step byte for byte.
Outcome recover(const TempDir& dir, const Inputs& in, Ending ending) {
  const std::string bak = dir / "app.BAK", names_bak = dir / "names.h.BAK";
  if (!ending.killed) {
    // The build finished before the signal came.
    EXPECT_EQ(ending.exit_code, 0);
    EXPECT_TRUE(same_files(read_files(dir.path()), in.built));
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"app.msg", "names.h", "new.h"}));
    return Outcome::kCompleted;
  }
  // Whatever backup is there holds exactly what it was taken from.
  if (file_exists(bak)) {
    EXPECT_TRUE(read_file(bak) == in.previous.msg) << "app.BAK";
  }
  if (file_exists(names_bak)) {
    EXPECT_TRUE(read_file(names_bak) == in.previous.names) << "names backup";
  }

  bool advised = false;
  for (int round = 0;; ++round) {
    const bool backups = file_exists(bak) || file_exists(names_bak);
    const Files now = read_files(dir.path());
    if (!backups) {
      // Without a backup the files in place are the whole truth: the
      // previous ones or the complete new ones, never a mixture.
      if (same_files(now, in.built)) {
        EXPECT_FALSE(file_exists(dir / "app.TMP"));
        if (advised) {
          EXPECT_EQ(list_dir(dir.path()),
                    (std::vector<std::string>{"app.msg", "names.h", "new.h"}));
          return Outcome::kRemoved;
        }
        // Killed after the commit: another run adds the table once more.
        RunResult again = run_tolvane(kArgs, dir.path());
        EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
        EXPECT_TRUE(read_file(dir / "app.msg") == in.twice);
        EXPECT_TRUE(read_file(dir / "names.h") == in.built.names);
        return Outcome::kCompleted;
      }
      EXPECT_TRUE(same_files(now, in.previous)) << "no backup left, yet not the previous files";
    }
    RunResult r = run_tolvane(kArgs, dir.path());
    EXPECT_EQ(r.signal, 0);
    if (r.exit_code == 0) {
      EXPECT_FALSE(backups) << "a run went ahead over a backup";
      EXPECT_TRUE(same_files(read_files(dir.path()), in.built)) << "the rebuilt files differ";
      EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"app.msg", "names.h", "new.h"}));
      return advised ? Outcome::kRestored : Outcome::kUntouched;
    }
    // A refusal: exit 1, changed nothing, and says what to do.
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    EXPECT_TRUE(backups) << "refused without a backup in the way: " << r.err;
    EXPECT_EQ(r.err.rfind("Cannot", 0), 0u) << r.err;
    EXPECT_TRUE(same_files(read_files(dir.path()), now)) << "a refusing run changed the files";
    // One command covers everything the kill left: it names only the run's
    // own files, and once it has run nothing of the run is left over.
    EXPECT_FALSE(advised) << "a second round of advice: " << r.err;
    const size_t with = r.err.find(" with: "), end = r.err.find(" and run again");
    if (with == std::string::npos || end == std::string::npos || end < with) {
      ADD_FAILURE() << "a refusal without advice to follow: " << r.err;
      return Outcome::kUntouched;
    }
    const std::string command = r.err.substr(with + 7, end - with - 7);
    static const std::regex kWord("'([^']+)'");
    for (std::sregex_iterator it(command.begin(), command.end(), kWord), last; it != last; ++it) {
      const std::string name = (*it)[1];
      EXPECT_TRUE(name == "app.BAK" || name == "names.h.BAK" || name == "app.RUN" ||
                  name == "names.h.RUN" || name == "app.TMP" || name == "names.h.TMP" ||
                  name == "app.msg" || name == "names.h")
          << r.err;
    }
    EXPECT_EQ(std::system(("cd '" + dir.path() + "' && " + command).c_str()), 0) << r.err;
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"app.msg", "names.h", "new.h"}))
        << "the advice left something behind: " << r.err;
    advised = true;
    if (round > 1 || ::testing::Test::HasFailure()) {
      ADD_FAILURE() << "no way back from what the kill left";
      return Outcome::kUntouched;
    }
  }
}

class CrashTest : public ::testing::Test {
 protected:
  void count(Outcome outcome) { ++outcomes_[outcome]; }
  std::string summary() {
    return "untouched " + std::to_string(outcomes_[Outcome::kUntouched]) + ", restored " +
           std::to_string(outcomes_[Outcome::kRestored]) + ", removed " +
           std::to_string(outcomes_[Outcome::kRemoved]) + ", completed " +
           std::to_string(outcomes_[Outcome::kCompleted]);
  }
  std::map<Outcome, int> outcomes_;
};

TEST_F(CrashTest, KilledAfterDelaysSpreadOverTheWholeRun) {
  const Inputs& in = large_inputs();
  TempDir dir;
  // How long a whole build takes here and now.
  prepare(dir, in);
  const auto start = Clock::now();
  ASSERT_EQ(run_tolvane(kArgs, dir.path()).exit_code, 0);
  const double run_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  constexpr int kKills = 30;
  for (int i = 0; i < kKills && !HasFailure(); ++i) {
    // From an immediate kill to past the run's usual end.
    const double delay = run_seconds * 1.5 * i / (kKills - 1);
    SCOPED_TRACE("kill after " + std::to_string(delay * 1000) + " ms");
    prepare(dir, in);
    pid_t pid = start_build(dir.path());
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    count(recover(dir, in, kill_and_reap(pid)));
  }
  RecordProperty("outcomes", summary());
  std::printf("outcomes: %s\n", summary().c_str());
}

// Kills as soon as the directory shows a given work file state.
TEST_F(CrashTest, KilledWhenWorkFilesAppearOrGo) {
  const Inputs& in = large_inputs();
  TempDir dir;
  struct Phase {
    const char* name;
    std::function<bool(bool tmp_seen)> reached;
  };
  const std::vector<Phase> phases = {
      {"app.TMP appears", [&](bool) { return file_exists(dir / "app.TMP"); }},
      {"names.h.TMP appears", [&](bool) { return file_exists(dir / "names.h.TMP"); }},
      {"app.BAK appears", [&](bool) { return file_exists(dir / "app.BAK"); }},
      {"names.h.BAK appears", [&](bool) { return file_exists(dir / "names.h.BAK"); }},
      {"app.TMP goes", [&](bool tmp_seen) { return tmp_seen && !file_exists(dir / "app.TMP"); }},
  };
  for (const Phase& phase : phases) {
    for (int attempt = 0; attempt < 2 && !HasFailure(); ++attempt) {
      SCOPED_TRACE(std::string("kill when ") + phase.name);
      prepare(dir, in);
      pid_t pid = start_build(dir.path());
      bool tmp_seen = false;
      const auto deadline = Clock::now() + std::chrono::seconds(20);
      while (Clock::now() < deadline) {
        tmp_seen = tmp_seen || file_exists(dir / "app.TMP");
        if (phase.reached(tmp_seen)) break;
        siginfo_t info{};
        if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0) {
          break;  // finished before the phase was seen
        }
      }
      count(recover(dir, in, kill_and_reap(pid)));
    }
  }
  std::printf("outcomes: %s\n", summary().c_str());
}

// The name of a system call that changes files, or nothing for the others
// (writes to the standard streams change no file).
const char* file_change(const __ptrace_syscall_info& info) {
  switch (info.entry.nr) {
    case SYS_openat:
      return (info.entry.args[2] & O_CREAT) != 0 ? "open to create" : nullptr;
    case SYS_write:
      return info.entry.args[0] > 2 ? "write" : nullptr;
    case SYS_pwrite64:
      return "pwrite";
    case SYS_fsync:
    case SYS_fdatasync:
      return "fsync";
    case SYS_linkat:
      return "link";
    case SYS_renameat:
    case SYS_renameat2:
      return "rename";
    case SYS_unlinkat:
      return "unlink";
#ifdef SYS_link
    case SYS_link:
      return "link";
    case SYS_rename:
      return "rename";
    case SYS_unlink:
      return "unlink";
#endif
  }
  return nullptr;
}

// Runs a traced build and kills it as it enters its `target`-th
// file-changing system call, or right after the last one when `target` is
// past them; -1 lets it finish. Fills `changes` with the calls seen.
std::optional<Ending> run_traced(const std::string& dir, int target,
                                 std::vector<std::string>* changes) {
  pid_t pid = start_build(dir, true);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFSTOPPED(status)) return std::nullopt;  // no tracing here
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int signal_to_pass = 0;
  for (;;) {
    ptrace(PTRACE_SYSCALL, pid, nullptr, signal_to_pass);
    signal_to_pass = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      Ending ending;
      ending.killed = WIFSIGNALED(status);
      if (WIFEXITED(status)) ending.exit_code = WEXITSTATUS(status);
      return ending;
    }
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      signal_to_pass = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
      continue;
    }
    __ptrace_syscall_info info;
    if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0 ||
        info.op != PTRACE_SYSCALL_INFO_ENTRY) {
      continue;
    }
    // Any call after the last change stands for "after the last change".
    if (target >= 0 && static_cast<size_t>(target) == changes->size()) return kill_and_reap(pid);
    if (const char* change = file_change(info)) changes->push_back(change);
  }
}

// Kills as the build enters each change it makes to the file system (every
// step of the commit, a sample of its bulk writes) and once after the last:
// every state a kill can leave is reached exactly, not by luck of timing.
TEST_F(CrashTest, KilledBeforeEveryChangeTheBuildMakes) {
  TempDir dir;
  const Inputs& in = small_inputs();
  prepare(dir, in);
  std::vector<std::string> changes;
  std::optional<Ending> untraced = run_traced(dir.path(), -1, &changes);
  if (!untraced) GTEST_SKIP() << "processes cannot be traced here";
  ASSERT_EQ(untraced->exit_code, 0);
  ASSERT_TRUE(same_files(read_files(dir.path()), in.built));

  std::vector<int> targets, writes;
  for (size_t i = 0; i < changes.size(); ++i) {
    (changes[i] == "pwrite" || changes[i] == "write" ? writes : targets)
        .push_back(static_cast<int>(i));
  }
  ASSERT_GE(writes.size(), 4u);
  // The first write, one in the middle and the last ones (the index and
  // record patched in, the names header).
  for (size_t k :
       {size_t{0}, writes.size() / 2, writes.size() - 3, writes.size() - 2, writes.size() - 1}) {
    targets.push_back(writes[k]);
  }
  targets.push_back(static_cast<int>(changes.size()));
  std::sort(targets.begin(), targets.end());
  for (int target : targets) {
    if (HasFailure()) break;
    const size_t at = static_cast<size_t>(target);
    SCOPED_TRACE("kill before file change " + std::to_string(target) + " of " +
                 std::to_string(changes.size()) + ": " +
                 (at < changes.size() ? changes[at] : "(none left)"));
    prepare(dir, in);
    std::vector<std::string> seen;
    std::optional<Ending> ending = run_traced(dir.path(), target, &seen);
    ASSERT_TRUE(ending);
    EXPECT_TRUE(ending->killed);
    count(recover(dir, in, *ending));
  }
  std::printf("%zu file changes, %zu kills, outcomes: %s\n", changes.size(), targets.size(),
              summary().c_str());
  // Every kind of state a kill can leave was reached.
  EXPECT_GT(outcomes_[Outcome::kUntouched], 0);
  EXPECT_GT(outcomes_[Outcome::kRestored], 0);
  EXPECT_GT(outcomes_[Outcome::kRemoved], 0);
  EXPECT_GT(outcomes_[Outcome::kCompleted], 0);
}

}  // namespace
}  // namespace tolvane::testing
