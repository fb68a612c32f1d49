#include "test_util/test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#endif

#include "driver/run.h"

namespace tolvane::testing {

namespace {

// What `op` throws as an E, or `none` (failing the test) when it throws none.
template <typename E>
E caught(const std::function<void()>& op, E none) {
  try {
    op();
  } catch (const E& e) {
    return e;
  }
  ADD_FAILURE() << "nothing thrown";
  return none;
}

}  // namespace

IoError io_error_of(const std::function<void()>& op) { return caught(op, IoError("none", "", 0)); }

Failure catch_failure(const std::function<void()>& op) {
  return caught(op, Failure(FailureKind::kFile, ""));
}

// Temporary directories, directory listings and child processes are the
// system's own; the Windows versions are in test_util_windows.cc.
#ifndef _WIN32

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tolvane-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only directories behind; open them up first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec)) chmod(it->path().c_str(), 0755);
  }
  chmod(path_.c_str(), 0755);
  std::filesystem::remove_all(path_, ec);
}

#endif  // !_WIN32

namespace {

// `path` is UTF-8 on every system (the narrow names of Windows are not).
std::filesystem::path utf8_path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace

std::string read_file(const std::string& path) {
  std::ifstream in(utf8_path(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(utf8_path(path), std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool make_dir(const std::string& path) {
  std::error_code ec;
  return std::filesystem::create_directory(utf8_path(path), ec);
}

#ifndef _WIN32

bool file_exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

std::string drain_fd(int fd) {
  std::string data;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(n));
  return data;
}

}  // namespace

RunResult run_binary(const std::string& binary, const std::vector<std::string>& args,
                     const std::string& cwd, const std::function<void()>& in_child) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    if (in_child) in_child();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  RunResult result;
  std::thread err_reader([&] { result.err = drain_fd(err_pipe[0]); });
  result.out = drain_fd(out_pipe[0]);
  err_reader.join();
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::function<void()> time_limit(unsigned seconds) {
  return [seconds] { alarm(seconds); };
}

#endif  // !_WIN32

std::string tolvane_binary() {
  const char* from_env = getenv("TOLVANE_BINARY");
  return from_env && *from_env ? from_env : TOLVANE_BINARY;
}

RunResult run_tolvane(const std::vector<std::string>& args, const std::string& cwd,
                      const std::function<void()>& in_child) {
  return run_binary(tolvane_binary(), args, cwd, in_child);
}

MemoryRun run_in(FileSystem& fs, const std::vector<std::string>& args) {
  RecordingConsole console;
  MemoryRun result;
  result.code = tolvane::run_tolvane(args, fs, console);
  result.out = console.out;
  result.err = console.err;
  result.pauses = console.pauses;
  return result;
}

std::string message_source(const std::string& language, const std::string& body,
                           const std::string& coding, const std::string& font,
                           const std::string& file_type, const std::string& appli_type) {
  return "// #LANGUAGE " + language + "\n// #FONFILE " + font + "\n// #MSGCODING " + coding +
         "\n// #FILETYPE " + file_type + "\n// #APPLITYPE " + appli_type + "\n" + body;
}

}  // namespace tolvane::testing
