// Real processes at once and real signals: runs started together on one
// catalogue, or on several from one directory, all succeed with each table
// added once; a run interrupted at any moment leaves the previous files or
// the complete new ones, and nothing else.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "test_util/test_util.h"

namespace tolvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

// `count` messages from identifier `first` on, names of the language's own.
std::string Source(const std::string& language, int first, int count, size_t text_size = 40) {
  std::string body;
  for (int id = first; id < first + count; ++id) {
    std::string text = language + std::to_string(id);
    while (text.size() < text_size) text += " lorem ipsum";
    body += "#message " + std::to_string(id) + " MSG_" + std::to_string(id) + " \"" + text + "\"\n";
  }
  return message_source(language, body);
}

uint32_t U16At(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s.at(at)) | static_cast<uint8_t>(s.at(at + 1)) << 8;
}

// The languages of a catalogue's directory, in order.
std::vector<std::string> languages_in(const std::string& msg) {
  std::vector<std::string> languages;
  if (msg.size() < 38) return languages;
  for (uint32_t i = 0; i < U16At(msg, 36); ++i) languages.push_back(msg.substr(38 + 8 * i, 2));
  return languages;
}

// How often each #define line is in the names header.
std::map<std::string, int> define_counts(const std::string& names) {
  std::map<std::string, int> counts;
  size_t start = 0;
  while (start < names.size()) {
    size_t end = names.find('\n', start);
    if (end == std::string::npos) end = names.size();
    ++counts[names.substr(start, end - start)];
    start = end + 1;
  }
  return counts;
}

void expect_no_work_files(const std::string& dir) {
  for (const std::string& name : list_dir(dir)) {
    EXPECT_EQ(name.find(".TMP"), std::string::npos) << name;
    EXPECT_EQ(name.find(".BAK"), std::string::npos) << name;
  }
}

// Runs every command line at once in `dir`.
std::vector<RunResult> run_together(const std::vector<std::vector<std::string>>& runs,
                                    const std::string& dir) {
  std::vector<RunResult> results(runs.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < runs.size(); ++i) {
    threads.emplace_back([&, i] { results[i] = run_tolvane(runs[i], dir); });
  }
  for (std::thread& t : threads) t.join();
  return results;
}

TEST(ParallelRuns, OnOneCatalogueEachAddsItsTableOnce) {
  TempDir dir;
  const char* const languages[] = {"FR", "DE", "IT"};
  write_file(dir / "en.h", Source("EN", 0, 2000));
  for (int i = 0; i < 3; ++i) {
    write_file(dir / (std::string(languages[i]) + ".h"),
               Source(languages[i], 2000 * (i + 1), 2000));
  }
  ASSERT_EQ(run_tolvane({"-c", "-ten.h", "-hnames.h", "first.msg"}, dir.path()).exit_code, 0);
  const std::string first = read_file(dir / "first.msg"), names = read_file(dir / "names.h");
  for (int trial = 0; trial < 8 && !HasFailure(); ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    write_file(dir / "app.msg", first);
    write_file(dir / "names.h", names);
    std::vector<std::vector<std::string>> runs;
    for (const char* language : languages) {
      runs.push_back({"-t" + std::string(language) + ".h", "-hnames.h", "app.msg"});
    }
    int waits = 0;
    for (const RunResult& r : run_together(runs, dir.path())) {
      EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
      EXPECT_EQ(r.out.substr(r.out.size() - 7), ".. end\n");
      if (!r.err.empty()) {
        EXPECT_EQ(r.err, "Waiting for another run to finish with APP.MSG\n");
        ++waits;
      }
    }
    std::vector<std::string> added = languages_in(read_file(dir / "app.msg"));
    ASSERT_EQ(added.size(), 4u);
    EXPECT_EQ(added[0], "EN");
    std::sort(added.begin() + 1, added.end());
    EXPECT_EQ(added, (std::vector<std::string>{"EN", "DE", "FR", "IT"}));
    const auto counts = define_counts(read_file(dir / "names.h"));
    EXPECT_EQ(counts.size(), 8000u);
    for (const auto& [line, count] : counts) EXPECT_EQ(count, 1) << line;
    expect_no_work_files(dir.path());
  }
}

TEST(ParallelRuns, OnDifferentCataloguesFromOneDirectoryNeverInterfere) {
  TempDir dir;
  write_file(dir / "en.h", Source("EN", 0, 2000));
  write_file(dir / "fr.h", Source("FR", 0, 2000));
  for (const char* base : {"a", "b", "c"}) {
    const std::string b = base;
    ASSERT_EQ(
        run_tolvane({"-c", "-ten.h", "-h" + b + "_names.h", b + ".msg"}, dir.path()).exit_code, 0);
  }
  const std::string first = read_file(dir / "a.msg"), names = read_file(dir / "a_names.h");
  for (int trial = 0; trial < 8 && !HasFailure(); ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    std::vector<std::vector<std::string>> runs;
    for (const char* base : {"a", "b", "c"}) {
      const std::string b = base;
      write_file(dir / (b + ".msg"), first);
      write_file(dir / (b + "_names.h"), names);
      runs.push_back({"-tfr.h", "-h" + b + "_names.h", b + ".msg"});
    }
    for (const RunResult& r : run_together(runs, dir.path())) {
      EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    }
    for (const char* base : {"a", "b", "c"}) {
      const std::string b = base;
      EXPECT_EQ(languages_in(read_file(dir / (b + ".msg"))),
                (std::vector<std::string>{"EN", "FR"}));
      EXPECT_EQ(read_file(dir / (b + "_names.h")), names);
    }
    expect_no_work_files(dir.path());
  }
}

#ifndef _WIN32  // The interrupts below are sent with fork and kill.
// Starts a build in `dir`; its standard error goes to `err_path`.
pid_t start_build(const std::string& dir, const std::vector<std::string>& args,
                  const std::string& err_path) {
  const std::string binary = tolvane_binary();
  std::vector<char*> argv = {const_cast<char*>(binary.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(err_fd, 2);
    if (chdir(dir.c_str()) != 0) _exit(127);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

TEST(Interrupts, AtManyMomentsOfALargeBuildLeaveThePreviousOrTheNewFiles) {
  TempDir dir, logs;
  const std::vector<std::string> args = {"-tnew.h", "-hnames.h", "app.msg"};
  // About 12 MB of tables before the run, and a source of 20,000 messages.
  for (int i = 0; i < 3; ++i) {
    const char* language = i == 0 ? "EN" : i == 1 ? "FR" : "DE";
    write_file(dir / "t.h", Source(language, 0, 2000, 2000));
    std::vector<std::string> make = {"-tt.h", "-hnames.h", "app.msg"};
    if (i == 0) make.insert(make.begin(), "-c");
    ASSERT_EQ(run_tolvane(make, dir.path()).exit_code, 0);
  }
  std::remove((dir / "t.h").c_str());
  write_file(dir / "new.h", Source("IT", 1000, 20000, 150));
  const std::string previous_msg = read_file(dir / "app.msg");
  const std::string previous_names = read_file(dir / "names.h");
  const auto start = Clock::now();
  ASSERT_EQ(run_tolvane(args, dir.path()).exit_code, 0);
  const double run_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const std::string built_msg = read_file(dir / "app.msg");
  const std::string built_names = read_file(dir / "names.h");

  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  constexpr int kMoments = 24;
  int undone = 0, completed = 0;
  for (int i = 0; i < kMoments && !HasFailure(); ++i) {
    const int signal = signals[i % 3];
    // From an immediate signal to past the run's usual end.
    const double delay = run_seconds * 1.3 * i / (kMoments - 1);
    SCOPED_TRACE("signal " + std::to_string(signal) + " after " + std::to_string(delay * 1000) +
                 " ms");
    write_file(dir / "app.msg", previous_msg);
    write_file(dir / "names.h", previous_names);
    pid_t pid = start_build(dir.path(), args, logs / "err");
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string err = read_file(logs / "err");
    const std::string msg = read_file(dir / "app.msg"), names = read_file(dir / "names.h");
    if (WIFEXITED(status)) {
      // Finished before the signal came.
      EXPECT_EQ(WEXITSTATUS(status), 0) << err;
      EXPECT_TRUE(msg == built_msg && names == built_names);
      ++completed;
    } else {
      // Ended as the signal would end it, after undoing or completing.
      EXPECT_TRUE(WIFSIGNALED(status));
      EXPECT_EQ(WTERMSIG(status), signal);
      if (msg == previous_msg) {
        EXPECT_TRUE(names == previous_names);
        EXPECT_TRUE(err.empty() || err == "Interrupted: APP.MSG and names.h are as they were\n")
            << err;
        ++undone;
      } else {
        EXPECT_TRUE(msg == built_msg && names == built_names) << "neither previous nor new";
        EXPECT_EQ(err,
                  "Interrupted after the build had completed: the new APP.MSG and names.h "
                  "stand\n");
        ++completed;
      }
    }
    expect_no_work_files(dir.path());
    // The next run goes ahead without any advice; after a completed run it
    // adds a second IT table, and says so.
    const bool was_undone = msg == previous_msg;
    RunResult next = run_tolvane(args, dir.path());
    EXPECT_EQ(next.exit_code, 0) << next.err;
    EXPECT_EQ(next.err, was_undone ? ""
                                   : "new.h: warning: the new table IT:2 has the language and "
                                     "type of IT:1, and a lookup of the first matching table "
                                     "never reaches it; -r replaces IT:1 instead\n");
  }
  EXPECT_GT(undone, 0);
  std::printf("undone %d, completed %d of %d\n", undone, completed, kMoments);
}

#endif  // !_WIN32

}  // namespace
}  // namespace tolvane::testing
