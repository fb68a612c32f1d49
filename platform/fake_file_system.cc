#include "platform/fake_file_system.h"

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/interrupt.h"

namespace tolvane {
namespace {

class FakeFile : public File {
 public:
  FakeFile(FakeFileSystem* fs, std::string path, std::shared_ptr<std::string> data, bool writable)
      : fs_(fs), path_(std::move(path)), data_(std::move(data)), writable_(writable) {}

  size_t read_at(uint64_t offset, void* buf, size_t n) override {
    fs_->step("read", path_);
    if (offset >= data_->size()) return 0;
    size_t len = std::min<uint64_t>(n, data_->size() - offset);
    std::memcpy(buf, data_->data() + offset, len);
    return len;
  }

  void write_at(uint64_t offset, const void* buf, size_t n) override {
    fs_->step("write", path_);
    if (!writable_) throw IoError("write", path_, EBADF);
    if (data_->size() < offset + n) data_->resize(offset + n, '\0');
    std::memcpy(data_->data() + offset, buf, n);
  }

  uint64_t size() override { return data_->size(); }
  void sync() override { fs_->step("sync", path_); }
  void close() override { fs_->step("close", path_); }

 private:
  FakeFileSystem* fs_;
  std::string path_;
  std::shared_ptr<std::string> data_;
  bool writable_;
};

}  // namespace

class FakeLock : public FileLock {
 public:
  FakeLock(FakeFileSystem* fs) : fs_(fs) {}
  ~FakeLock() override {
    for (const std::string& dir : dirs) fs_->locked_dirs_.erase(dir);
  }
  std::vector<std::string> dirs;

 private:
  FakeFileSystem* fs_;
};

std::unique_ptr<FileLock> FakeFileSystem::lock_files(const std::vector<std::string>& paths,
                                                     const LockWaitNotice& waiting) {
  auto lock = std::make_unique<FakeLock>(this);
  std::vector<std::pair<std::string, const std::string*>> dirs;
  for (const std::string& path : paths) {
    std::string dir = dir_name(path);
    if (std::none_of(dirs.begin(), dirs.end(), [&](const auto& d) { return d.first == dir; })) {
      dirs.emplace_back(dir, &path);
    }
  }
  std::sort(dirs.begin(), dirs.end());
  bool told = false;
  for (const auto& [dir, path] : dirs) {
    if (locked_dirs_.count(dir)) {
      if (!told) waiting(*path);
      told = true;
      if (lock_waiter_) lock_waiter_();
      if (locked_dirs_.count(dir)) throw std::logic_error("lock on " + dir + " never released");
    }
    locked_dirs_[dir] = 1;
    lock->dirs.push_back(dir);
  }
  return lock;
}

void FakeFileSystem::step(const char* op, const std::string& path) {
  ++operations_;
  if (operations_ == interrupt_at_) set_interrupt_signal(interrupt_signal_);
  if (fail_at_ > 0 && (operations_ == fail_at_ || (persistent_ && operations_ > fail_at_))) {
    if (!injected_) injected_at_ = std::string(op) + " " + path;
    injected_ = true;
    throw IoError(op, path, EIO);
  }
}

std::string FakeFileSystem::normalized(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == ".." && !parts.empty() && parts.back() != "..") {
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string normal = path.starts_with("/") ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) normal += (i ? "/" : "") + parts[i];
  return normal.empty() ? "." : normal;
}

std::string FakeFileSystem::follow(const std::string& path) const {
  std::string current = normalized(path);
  for (int hops = 0; hops < 40; ++hops) {
    auto link = symlinks_.find(current);
    if (link == symlinks_.end()) break;
    const std::string& target = link->second;
    const std::string dir = dir_name(current);
    current = normalized(target.starts_with("/") || dir == "." ? target : dir + "/" + target);
  }
  return current;
}

bool FakeFileSystem::directory_exists(const std::string& dir) const {
  // Every directory is there unless a test says it or one above is missing.
  for (std::string d = dir; d != "." && d != "/"; d = dir_name(d)) {
    auto kind = kinds_.find(d);
    if (kind != kinds_.end() && kind->second != FileKind::kDirectory) return false;
  }
  return true;
}

FileKind FakeFileSystem::kind(const std::string& path) {
  const std::string target = follow(path);
  if (files_.count(target)) return FileKind::kRegular;
  auto kind = kinds_.find(target);
  if (kind != kinds_.end() && kind->second != FileKind::kMissing) return kind->second;
  return directory_exists(dir_name(target)) ? FileKind::kMissing : FileKind::kNoDirectory;
}

FileIdentity FakeFileSystem::identity(const std::string& path) {
  const std::string target = follow(path);
  FileIdentity id;
  auto file = files_.find(target);
  if (file != files_.end()) {
    id.inode = reinterpret_cast<uintptr_t>(file->second.get());
  } else {
    id.name = target;
  }
  return id;
}

std::string FakeFileSystem::follow_links(const std::string& path) {
  return symlinks_.count(normalized(path)) ? follow(path) : path;
}

std::string FakeFileSystem::symlink(const std::string& path) const {
  auto link = symlinks_.find(normalized(path));
  return link == symlinks_.end() ? "" : link->second;
}

std::unique_ptr<File> FakeFileSystem::open(const std::string& path_as_given, OpenMode mode) {
  step("open", path_as_given);
  const std::string path = follow(path_as_given);
  if (kinds_.count(path) && kinds_.at(path) != FileKind::kMissing) {
    throw IoError("open", path_as_given, EISDIR);
  }
  if (!directory_exists(dir_name(path))) throw IoError("open", path_as_given, ENOENT);
  auto it = files_.find(path);
  if (mode == OpenMode::kCreate) {
    if (it == files_.end()) {
      it = files_.emplace(path, std::make_shared<std::string>()).first;
    } else {
      it->second->clear();
    }
  } else if (it == files_.end()) {
    throw IoError("open", path, ENOENT);
  }
  return std::make_unique<FakeFile>(this, path, it->second, mode != OpenMode::kRead);
}

bool FakeFileSystem::exists(const std::string& path) {
  const std::string normal = normalized(path);
  return files_.count(normal) != 0 || symlinks_.count(normal) != 0 || kinds_.count(normal) != 0;
}

void FakeFileSystem::rename(const std::string& from, const std::string& to) {
  step("rename", from);
  auto it = files_.find(normalized(from));
  if (it == files_.end()) throw IoError("rename", from, ENOENT);
  // Two names of one file: the system leaves both in place.
  auto target = files_.find(normalized(to));
  if (target != files_.end() && target->second == it->second) return;
  auto node = it->second;
  files_.erase(it);
  // A symlink in the way is replaced, not followed.
  symlinks_.erase(normalized(to));
  files_[normalized(to)] = node;
}

void FakeFileSystem::rename_no_replace(const std::string& from, const std::string& to) {
  step("rename", from);
  if (exists(to)) throw IoError("rename", from, EEXIST);
  auto it = files_.find(normalized(from));
  if (it == files_.end()) throw IoError("rename", from, ENOENT);
  auto node = it->second;
  files_.erase(it);
  files_[normalized(to)] = node;
}

void FakeFileSystem::link(const std::string& from, const std::string& to) {
  step("link", from);
  if (links_fail_) throw IoError("link", from, EXDEV);
  auto it = files_.find(follow(from));
  if (it == files_.end()) throw IoError("link", from, ENOENT);
  if (exists(to)) throw IoError("link", from, EEXIST);
  files_[normalized(to)] = it->second;
}

void FakeFileSystem::remove(const std::string& path) {
  step("remove", path);
  if (symlinks_.erase(normalized(path)) == 0 && files_.erase(normalized(path)) == 0) {
    throw IoError("remove", path, ENOENT);
  }
}

bool FakeFileSystem::same_file(const std::string& a, const std::string& b) {
  auto first = files_.find(follow(a));
  auto second = files_.find(follow(b));
  return first != files_.end() && second != files_.end() && first->second == second->second;
}

void FakeFileSystem::sync_dir(const std::string& dir) { step("syncdir", dir); }

void FakeFileSystem::set_file(const std::string& path, std::string content) {
  files_[normalized(path)] = std::make_shared<std::string>(std::move(content));
}

bool FakeFileSystem::get_file(const std::string& path, std::string* content) const {
  auto it = files_.find(follow(path));
  if (it == files_.end()) return false;
  *content = *it->second;
  return true;
}

std::vector<std::string> FakeFileSystem::list_files() const {
  std::vector<std::string> names;
  for (const auto& [name, node] : files_) names.push_back(name);
  return names;
}

}  // namespace tolvane
