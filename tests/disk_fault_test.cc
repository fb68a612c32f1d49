// Builds that meet real file-system faults: a file-size limit at every
// stage of the output, a full device, unreadable inputs, unwritable and
// missing directories, a names header on another file system. A failing
// build says so and leaves the previous files exactly as they were.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "test_util/test_util.h"

namespace tolvane::testing {
namespace {

constexpr uid_t kNobody = 65534;

struct Files {
  std::string msg, names;
  bool operator==(const Files&) const = default;
};

std::string texts(const std::string& language, int first, int count, size_t size) {
  std::string body;
  for (int id = first; id < first + count; ++id) {
    std::string text = "m" + std::to_string(id) + "\\n";
    while (text.size() < size) text += " lorem ipsum " + std::to_string(id * 7 % 1000);
    body +=
        "#message " + std::to_string(id) + " NAME_" + std::to_string(id) + " \"" + text + "\"\n";
  }
  return message_source(language, body);
}

// A previous catalogue of two tables (about 1.5 MB), its names header, and
// a source for a new language (about 1.5 MB of texts, half of the names
// new), so that the build writes in several pieces.
struct Inputs {
  Files previous, built;
  std::string source;
};

const Inputs& get_inputs() {
  static const Inputs* inputs = [] {
    auto* in = new Inputs;
    TempDir dir;
    write_file(dir / "t.h", texts("EN", 0, 2500, 300));
    RunResult en = run_tolvane({"-c", "-tt.h", "-hnames.h", "app.msg"}, dir.path());
    write_file(dir / "t.h", texts("FR", 0, 2500, 300));
    RunResult fr = run_tolvane({"-tt.h", "-hnames.h", "app.msg"}, dir.path());
    in->previous = {read_file(dir / "app.msg"), read_file(dir / "names.h")};
    in->source = texts("DE", 1250, 5000, 300);
    write_file(dir / "new.h", in->source);
    RunResult de = run_tolvane({"-tnew.h", "-hnames.h", "app.msg"}, dir.path());
    in->built = {read_file(dir / "app.msg"), read_file(dir / "names.h")};
    if (en.exit_code != 0 || fr.exit_code != 0 || de.exit_code != 0 ||
        in->built.msg.size() < 3000000) {
      throw std::runtime_error("the reference builds went wrong");
    }
    return in;
  }();
  return *inputs;
}

// Writes the previous files and the source: `msg_dir` and `names_path` are
// relative to `dir`.
void prepare(const std::string& dir, const std::string& msg_dir = ".",
             const std::string& names_path = "names.h") {
  const Inputs& in = get_inputs();
  write_file(dir + "/" + msg_dir + "/app.msg", in.previous.msg);
  write_file(dir + "/" + names_path, in.previous.names);
  write_file(dir + "/new.h", in.source);
}

// No temporary file or backup left in any of `dirs`.
void expect_no_work_files(const std::vector<std::string>& dirs) {
  for (const std::string& dir : dirs) {
    for (const std::string& name : list_dir(dir)) {
      EXPECT_EQ(name.find(".TMP"), std::string::npos) << dir << "/" << name;
      EXPECT_EQ(name.find(".BAK"), std::string::npos) << dir << "/" << name;
    }
  }
}

// A failed build: its message, exit code 1, the previous files unchanged,
// and no work file left in `dirs`.
void expect_failed_unchanged(const RunResult& r, const std::string& message, const Files& now,
                             const std::vector<std::string>& dirs) {
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind(message, 0), 0u) << "stderr: " << r.err << "stdout: " << r.out;
  EXPECT_EQ(r.out.find(".. end"), std::string::npos);
  EXPECT_TRUE(now == get_inputs().previous) << "the previous files changed";
  expect_no_work_files(dirs);
}

void expect_built(const RunResult& r, const Files& now, const std::vector<std::string>& dirs) {
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_TRUE(now.msg == get_inputs().built.msg) << "the MSG file is not the complete new one";
  EXPECT_TRUE(now.names == get_inputs().built.names) << "the names header is not the new one";
  expect_no_work_files(dirs);
}

Files read_files(const std::string& msg, const std::string& names) {
  return {read_file(msg), read_file(names)};
}

const std::vector<std::string> kArgs = {"-tnew.h", "-hnames.h", "app.msg"};

TEST(FileSizeLimit, EveryWriteOfTheBuildFailsCleanly) {
  const Inputs& in = get_inputs();
  const uint64_t msg_size = in.built.msg.size(), names_size = in.built.names.size();
  // Limits spread over the whole new MSG file, and the edges of what the
  // build writes: header area, old blocks, texts, the names header.
  std::vector<uint64_t> limits = {0, 1, 37, 38, 200};
  for (uint64_t edge : {names_size, uint64_t{in.previous.msg.size()}, msg_size}) {
    limits.push_back(edge - 1);
    limits.push_back(edge - 2);
  }
  for (int i = 1; i < 40; ++i) limits.push_back(msg_size * i / 40);
  TempDir dir;
  for (uint64_t limit : limits) {
    SCOPED_TRACE("file size limit " + std::to_string(limit) + " of " + std::to_string(msg_size));
    prepare(dir.path());
    RunResult r = run_tolvane(kArgs, dir.path(), [limit] {
      struct rlimit rl = {limit, limit};
      setrlimit(RLIMIT_FSIZE, &rl);
    });
    // A build needs room for the whole of both new files.
    expect_failed_unchanged(r, "Cannot write ", read_files(dir / "app.msg", dir / "names.h"),
                            {dir.path()});
    EXPECT_NE(r.err.find(": File too large\n"), std::string::npos) << r.err;
    if (HasFailure()) break;
  }
  // At exactly the size of the new file, the build goes through.
  prepare(dir.path());
  RunResult r = run_tolvane(kArgs, dir.path(), [msg_size] {
    struct rlimit rl = {msg_size, msg_size};
    setrlimit(RLIMIT_FSIZE, &rl);
  });
  expect_built(r, read_files(dir / "app.msg", dir / "names.h"), {dir.path()});
}

// A tmpfs of its own, for a device that fills up; unmounted at the end.
class SmallDevice {
 public:
  explicit SmallDevice(const std::string& path, const std::string& size) : path_(path) {
    mkdir(path.c_str(), 0755);
    mounted_ =
        mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, ("size=" + size).c_str()) == 0;
  }
  ~SmallDevice() {
    if (!mounted_) return;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ec)) {
      std::filesystem::remove_all(entry.path(), ec);
    }
    umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  uint64_t free_bytes() const {
    struct statvfs st;
    statvfs(path_.c_str(), &st);
    return uint64_t{st.f_bavail} * st.f_frsize;
  }

 private:
  std::string path_;
  bool mounted_ = false;
};

TEST(FullDevice, EachAmountOfRoomLeftFailsCleanlyOrBuildsCompletely) {
  const Inputs& in = get_inputs();
  TempDir dir;
  SmallDevice device(dir / "dev", "16m");
  if (!device.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  const std::string d = dir / "dev";
  // What a build needs: both new files side by side with the previous ones.
  const uint64_t needed = in.built.msg.size() + in.built.names.size();
  int failed = 0, built = 0;
  for (int step = 0; step <= 24; ++step) {
    const uint64_t room = needed * step / 20;
    SCOPED_TRACE("room left " + std::to_string(room) + " of " + std::to_string(needed));
    std::remove((d + "/filler").c_str());
    prepare(d);
    const uint64_t free_now = device.free_bytes();
    ASSERT_GT(free_now, room);
    write_file(d + "/filler", std::string(free_now - room, 'f'));
    RunResult r = run_tolvane(kArgs, d);
    const Files now = read_files(d + "/app.msg", d + "/names.h");
    if (r.exit_code == 0) {
      expect_built(r, now, {d});
      ++built;
    } else {
      expect_failed_unchanged(r, "Cannot write ", now, {d});
      EXPECT_NE(r.err.find(": No space left on device\n"), std::string::npos) << r.err;
      ++failed;
    }
    if (HasFailure()) break;
  }
  // The range ran from no room at all to enough.
  EXPECT_GE(failed, 15);
  EXPECT_GE(built, 3);
}

// Runs `args` in `cwd` as an unprivileged user when the test runs as root,
// so that permissions apply; `tree` is handed over to that user first. Exit
// code 125 tells that the user could not be changed.
RunResult run_unprivileged(const std::vector<std::string>& args, const std::string& cwd,
                           const std::string& tree) {
  if (geteuid() != 0) return run_tolvane(args, cwd);
  std::error_code ec;
  chown(tree.c_str(), kNobody, kNobody);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tree, ec)) {
    lchown(entry.path().c_str(), kNobody, kNobody);
  }
  return run_tolvane(args, cwd, [] {
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      _exit(125);
    }
  });
}

// A directory an unprivileged user can reach.
class OpenTempDir : public TempDir {
 public:
  OpenTempDir() { chmod(path().c_str(), 0755); }
};

TEST(Permissions, UnreadableInputsAreRefusedWithNothingChanged) {
  struct Case {
    const char* unreadable;
    const char* message;
    bool on_stderr;
  };
  for (const Case& c :
       {Case{"new.h", "Error : new.h does not exist or cannot be opened", false},
        Case{"names.h", "Cannot read names.h", true},
        Case{"app.msg", "Error : APP.MSG doesn't exist or cannot be opened", false}}) {
    SCOPED_TRACE(c.unreadable);
    OpenTempDir dir;
    prepare(dir.path());
    chmod((dir / c.unreadable).c_str(), 0);
    RunResult r = run_unprivileged(kArgs, dir.path(), dir.path());
    if (r.exit_code == 125) GTEST_SKIP() << "cannot change to an unprivileged user";
    chmod((dir / c.unreadable).c_str(), 0644);
    EXPECT_EQ(r.exit_code, 1);
    if (c.on_stderr) {
      EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    } else {
      EXPECT_NE(r.out.find("\n" + std::string(c.message)), std::string::npos) << r.out;
    }
    EXPECT_TRUE(read_files(dir / "app.msg", dir / "names.h") == get_inputs().previous);
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"app.msg", "names.h", "new.h"}));
  }
}

TEST(Permissions, UnwritableDirectoriesFailCleanly) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* msg_dir;     // where the MSG file is, from the working directory
    const char* names_path;  // the names header, from the working directory
    const char* read_only;   // the directory made unwritable
    const char* message;
  };
  const std::vector<Case> cases = {
      {"MSG file's directory", kArgs, ".", "names.h", ".", "Cannot create APP.TMP"},
      {"names header's directory",
       {"-tnew.h", "-hro/names.h", "app.msg"},
       ".",
       "ro/names.h",
       "ro",
       "Cannot create ro/names.h"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenTempDir dir;
    mkdir((dir / "ro").c_str(), 0755);
    mkdir((dir / "sub").c_str(), 0755);
    prepare(dir.path(), c.msg_dir, c.names_path);
    chmod((dir / c.read_only).c_str(), 0555);
    RunResult r = run_unprivileged(c.args, dir.path(), dir.path());
    if (r.exit_code == 125) GTEST_SKIP() << "cannot change to an unprivileged user";
    chmod((dir / c.read_only).c_str(), 0755);
    const std::string msg = dir.path() + "/" + c.msg_dir + "/app.msg";
    expect_failed_unchanged(r, c.message, read_files(msg, dir / c.names_path),
                            {dir.path(), dir / "ro", dir / "sub"});
  }
}

TEST(MissingDirectory, InTheNamesHeaderPathFailsCleanly) {
  TempDir dir;
  prepare(dir.path());
  RunResult r = run_tolvane({"-tnew.h", "-hmissing/names.h", "app.msg"}, dir.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "Cannot create missing/names.h\nmissing/names.h.TMP: there is no directory missing\n");
  EXPECT_TRUE(read_file(dir / "app.msg") == get_inputs().previous.msg);
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"app.msg", "names.h", "new.h"}));
}

// A directory on another file system than the TempDir's: /dev/shm when it
// is one, else a tmpfs mounted for the test.
class SecondFileSystem {
 public:
  explicit SecondFileSystem(const TempDir& near) {
    struct stat here, there;
    std::string pattern = "/dev/shm/tolvane-test-XXXXXX";
    if (stat(near.path().c_str(), &here) == 0 && stat("/dev/shm", &there) == 0 &&
        here.st_dev != there.st_dev && mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
      return;
    }
    device_ = std::make_unique<SmallDevice>(near / "other", "64m");
    if (device_->mounted()) path_ = near / "other";
  }
  ~SecondFileSystem() {
    if (!device_ && !path_.empty()) std::filesystem::remove_all(path_);
  }
  const std::string& path() const { return path_; }  // empty when there is none

 private:
  std::string path_;
  std::unique_ptr<SmallDevice> device_;
};

TEST(OtherFileSystem, NamesHeaderThereIsBackedUpByCopyAndBuilt) {
  for (bool previous_names : {true, false}) {
    SCOPED_TRACE(previous_names ? "with a previous names header" : "without one");
    TempDir dir;
    SecondFileSystem other(dir);
    if (other.path().empty()) GTEST_SKIP() << "no second file system here";
    const std::string names = other.path() + "/names.h";
    prepare(dir.path());
    std::remove((dir / "names.h").c_str());
    if (previous_names) write_file(names, get_inputs().previous.names);
    RunResult r = run_tolvane({"-tnew.h", "-h" + names, "app.msg"}, dir.path());
    if (previous_names) {
      expect_built(r, read_files(dir / "app.msg", names), {dir.path(), other.path()});
    } else {
      // Without a previous names header only the new identifiers' lines.
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_TRUE(read_file(dir / "app.msg") == get_inputs().built.msg);
      std::string lines;
      for (int id = 1250; id < 6250; ++id) {
        lines += "#define NAME_" + std::to_string(id) + " " + std::to_string(id) + "\n";
      }
      EXPECT_TRUE(read_file(names) == lines);
    }
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"app.msg", "new.h"}));
    EXPECT_EQ(list_dir(other.path()), (std::vector<std::string>{"names.h"}));
  }
}

// Every backup is kept beside the file it is taken from, so a working
// directory the user cannot write does not matter, on one file system or two.
TEST(Permissions, ReadOnlyWorkingDirectoryBuilds) {
  for (bool names_elsewhere : {false, true}) {
    SCOPED_TRACE(names_elsewhere ? "names header on another file system" : "one file system");
    OpenTempDir dir;
    SecondFileSystem other(dir);
    if (names_elsewhere && other.path().empty()) continue;
    mkdir((dir / "sub").c_str(), 0755);
    const std::string names = names_elsewhere ? other.path() + "/names.h" : dir / "sub/names.h";
    prepare(dir.path(), "sub", "sub/names.h");
    if (names_elsewhere) {
      chmod(other.path().c_str(), 0755);
      write_file(names, get_inputs().previous.names);
      std::remove((dir / "sub/names.h").c_str());
      chown(other.path().c_str(), kNobody, kNobody);
      chown(names.c_str(), kNobody, kNobody);
    }
    chmod(dir.path().c_str(), 0555);
    RunResult r =
        run_unprivileged({"-tnew.h", "-h" + names, "sub/app.msg"}, dir.path(), dir / "sub");
    if (r.exit_code == 125) GTEST_SKIP() << "cannot change to an unprivileged user";
    chmod(dir.path().c_str(), 0755);
    expect_built(r, read_files(dir / "sub/app.msg", names),
                 {dir.path(), dir / "sub", other.path()});
  }
}

}  // namespace
}  // namespace tolvane::testing
