// The Windows side of the test helpers: temporary directories, listings and
// child processes through the Win32 API.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "platform/utf16.h"
#include "test_util/test_util.h"

namespace tolvane::testing {
namespace {

std::wstring wide(const std::string& text) {
  std::u16string wide;
  if (!utf8_to_utf16(text, &wide)) throw std::runtime_error("not UTF-8: " + text);
  return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
}

std::string narrow(const std::wstring& text) {
  return utf16_to_utf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

// One argument as CommandLineToArgvW (and the C runtime) will split it back:
// quoted, with backslashes doubled only where they precede a quote.
std::wstring quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::string drain_pipe(HANDLE pipe) {
  std::string data;
  char buf[65536];
  DWORD n = 0;
  while (::ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) data.append(buf, n);
  return data;
}

// The console streams are text mode on Windows; the tests compare LF text.
std::string without_carriage_returns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  wchar_t base[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
  std::string prefix = narrow(std::wstring(base, length));
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = prefix + "tolvane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(counter++) + "-" +
                            std::to_string(GetTickCount64() % 100000);
    if (CreateDirectoryW(wide(candidate).c_str(), nullptr)) {
      // Forward slashes, as the tests join names with "/"; Windows takes both.
      std::replace(candidate.begin(), candidate.end(), '\\', '/');
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  const std::filesystem::path root(wide(path_));
  // Read-only files cannot be removed until the attribute is cleared.
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(root, ec);
}

bool file_exists(const std::string& path) {
  return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(wide(dir), ec);
       it != std::filesystem::directory_iterator(); it.increment(ec)) {
    names.push_back(narrow(it->path().filename().wstring()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

RunResult run_binary(const std::string& binary, const std::vector<std::string>& args,
                     const std::string& cwd, const std::function<void()>&) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0) ||
      !CreatePipe(&err_read, &err_write, &inherit, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
  // Only the child's ends are inherited.
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);

  std::wstring command = quoted(wide(binary));
  for (const std::string& arg : args) command += L" " + quoted(wide(arg));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process = {};
  const std::wstring wide_binary = wide(binary);
  const std::wstring wide_cwd = wide(cwd);
  // Wine now and then fails to start a process that started a moment
  // before: a few more tries, a little apart, before the run counts as not
  // started.
  BOOL started = FALSE;
  DWORD start_error = 0;
  for (int attempt = 0; attempt < 4 && !started; ++attempt) {
    if (attempt > 0) Sleep(200 * attempt);
    started = CreateProcessW(wide_binary.c_str(), command.data(), nullptr, nullptr, TRUE,
                             DETACHED_PROCESS, nullptr, wide_cwd.c_str(), &startup, &process);
    if (!started) start_error = GetLastError();
  }
  CloseHandle(out_write);
  CloseHandle(err_write);
  CloseHandle(null_in);
  RunResult result;
  if (!started) {
    CloseHandle(out_read);
    CloseHandle(err_read);
    result.exit_code = 127;
    result.err = "CreateProcess failed: error " + std::to_string(start_error);
    return result;
  }
  CloseHandle(process.hThread);
  std::thread out_reader([&] { result.out = drain_pipe(out_read); });
  std::thread err_reader([&] { result.err = drain_pipe(err_read); });
  if (WaitForSingleObject(process.hProcess, 300 * 1000) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 9);
    WaitForSingleObject(process.hProcess, INFINITE);
    result.signal = 9;
  }
  out_reader.join();
  err_reader.join();
  CloseHandle(out_read);
  CloseHandle(err_read);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  result.exit_code = result.signal ? -1 : static_cast<int>(code);
  result.out = without_carriage_returns(result.out);
  result.err = without_carriage_returns(result.err);
  return result;
}

// The limit every run has on Windows stands in for it.
std::function<void()> time_limit(unsigned) { return {}; }

}  // namespace tolvane::testing
