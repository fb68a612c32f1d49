#include "translate/po_file.h"

#include <gettext-po.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

#include "base/failure.h"
#include "platform/charset.h"
#include "platform/io_failure.h"

namespace tolvane::translate {
namespace {

// The library reports problems through a handler that must not return on a
// fatal one; it is C, so the way out is longjmp back to the call, with no
// C++ object left alive in between. Only one call runs at a time.
struct Problems {
  std::string first;  // "FILE:LINE: what", the first error
  int errors = 0;
};
Problems* g_problems = nullptr;
std::jmp_buf g_fatal;

void note_problem(int severity, const char* filename, size_t line, const char* text) {
  if (severity == PO_SEVERITY_WARNING || g_problems == nullptr) return;
  if (g_problems->errors++ == 0) {
    std::string where;
    if (filename != nullptr) {
      where = std::string(filename) + ":";
      if (line != static_cast<size_t>(-1)) where += std::to_string(line) + ":";
      where += " ";
    }
    std::string what = text != nullptr ? text : "error";
    while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
    g_problems->first = where + what;
  }
}

void on_error(int severity, po_message_t, const char* filename, size_t line, size_t, int,
              const char* text) {
  note_problem(severity, filename, line, text);
  if (severity == PO_SEVERITY_FATAL_ERROR) std::longjmp(g_fatal, 1);
}

void on_error2(int severity, po_message_t, const char* filename1, size_t line1, size_t, int,
               const char* text1, po_message_t, const char*, size_t, size_t, int, const char*) {
  note_problem(severity, filename1, line1, text1);
  if (severity == PO_SEVERITY_FATAL_ERROR) std::longjmp(g_fatal, 1);
}

const po_xerror_handler kHandler = {on_error, on_error2};

// Freeing a file leaves its messages' contexts behind; setting a context to
// none frees it, so they go first.
struct FileFree {
  void operator()(po_file* file) const {
    po_message_iterator_t iterator = po_message_iterator(file, nullptr);
    while (po_message_t message = po_next_message(iterator)) {
      po_message_set_msgctxt(message, nullptr);
    }
    po_message_iterator_free(iterator);
    po_file_free(file);
  }
};
using PoFile = std::unique_ptr<po_file, FileFree>;
struct IteratorFree {
  void operator()(struct po_message_iterator* iterator) const {
    po_message_iterator_free(iterator);
  }
};
using PoIterator = std::unique_ptr<struct po_message_iterator, IteratorFree>;

std::string join_lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

std::string header_text(const TranslationFile& file) {
  std::string header = "Project-Id-Version: " + file.project + "\n";
  if (!file.creation_date.empty()) header += "POT-Creation-Date: " + file.creation_date + "\n";
  header += "Language: " + file.target_language +
            "\n"
            "MIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=UTF-8\n"
            "Content-Transfer-Encoding: 8bit\n";
  return header;
}

// A file of our own for the library to write to, removed when done.
class TemporaryFile {
 public:
  TemporaryFile() {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/tolvane-po-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd < 0) throw file_failure("cannot create a temporary file in " + path_);
    ::close(fd);
  }
  ~TemporaryFile() { ::unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string charset_of(const char* header) {
  if (header == nullptr) return "";
  std::unique_ptr<char, decltype(&std::free)> type(po_header_field(header, "Content-Type"),
                                                   &std::free);
  if (!type) return "";
  std::string value = type.get();
  const size_t at = value.find("charset=");
  if (at == std::string::npos) return "";
  value = value.substr(at + 8);
  value = value.substr(0, value.find_first_of(" ;\n"));
  return value;
}

// The line of each `msgctxt "NAME"` in the file: the library keeps where an
// entry is to itself, and errors found after reading must still say where.
std::map<std::string, long> context_lines(const std::string& path) {
  std::map<std::string, long> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    if (line.compare(0, 9, "msgctxt \"") != 0) continue;
    const size_t end = line.find('"', 9);
    if (end != std::string::npos) lines.emplace(line.substr(9, end - 9), number);
  }
  return lines;
}

}  // namespace

std::string write_po(const TranslationFile& file) {
  PoFile po(po_file_create());
  {
    PoIterator iterator(po_message_iterator(po.get(), nullptr));
    po_message_t header = po_message_create();
    po_message_set_msgid(header, "");
    const std::string header_value = header_text(file);
    po_message_set_msgstr(header, header_value.c_str());
    po_message_insert(iterator.get(), header);
    for (const TranslationEntry& entry : file.entries) {
      po_message_t message = po_message_create();
      po_message_set_msgctxt(message, entry.name.c_str());
      po_message_set_msgid(message, entry.source.c_str());
      po_message_set_msgstr(message, entry.target.c_str());
      if (!entry.notes.empty()) {
        po_message_set_extracted_comments(message, join_lines(entry.notes).c_str());
      }
      if (!entry.location.empty()) {
        po_message_add_filepos(message, entry.location.c_str(), entry.location_line);
      }
      if (entry.c_format) po_message_set_format(message, "c-format", 1);
      if (entry.fuzzy) po_message_set_fuzzy(message, 1);
      po_message_insert(iterator.get(), message);
    }
  }
  TemporaryFile temporary;
  Problems problems;
  g_problems = &problems;
  if (setjmp(g_fatal) == 0) po_file_write(po.get(), temporary.path().c_str(), &kHandler);
  g_problems = nullptr;
  if (problems.errors > 0) throw file_failure("cannot write the PO file: " + problems.first);
  std::ifstream in(temporary.path(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TranslationFile read_po(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0) {
    throw io_failure("cannot read " + path, IoError("open", path, errno));
  }
  Problems problems;
  g_problems = &problems;
  po_file* volatile raw = nullptr;
  if (setjmp(g_fatal) == 0) raw = po_file_read(path.c_str(), &kHandler);
  g_problems = nullptr;
  PoFile po(raw);
  if (problems.errors > 0) throw input_failure(problems.first);
  if (!po) throw input_failure("cannot read " + path);

  TranslationFile file;
  // A copy of the header text, the caller's to free.
  std::unique_ptr<char, decltype(&std::free)> header_copy(
      const_cast<char*>(po_file_domain_header(po.get(), nullptr)), &std::free);
  const char* header = header_copy.get();
  if (header != nullptr) {
    std::unique_ptr<char, decltype(&std::free)> language(po_header_field(header, "Language"),
                                                         &std::free);
    if (language) file.target_language = language.get();
  }
  // Texts in another character set than UTF-8 are converted on reading.
  std::string charset = charset_of(header);
  for (char& c : charset) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::unique_ptr<Charset> converter;
  if (!charset.empty() && charset != "UTF-8" && charset != "UTF8" && charset != "CHARSET" &&
      charset != "ASCII") {
    converter = std::make_unique<Charset>(charset);
  }
  const std::map<std::string, long> lines = context_lines(path);
  auto text = [&](const char* value, long line) {
    std::string out = value != nullptr ? value : "";
    if (converter) {
      std::string utf8;
      size_t bad = 0;
      if (!converter->decode(out, &utf8, &bad)) {
        throw input_failure(path + ":" + std::to_string(line) + ": the text is no " + charset +
                            " text, as the header says");
      }
      out = std::move(utf8);
    }
    return out;
  };

  PoIterator iterator(po_message_iterator(po.get(), nullptr));
  while (po_message_t message = po_next_message(iterator.get())) {
    if (po_message_is_obsolete(message)) continue;
    const char* context = po_message_msgctxt(message);
    if (context == nullptr && *po_message_msgid(message) == '\0') continue;  // the header
    TranslationEntry entry;
    entry.name = context != nullptr ? context : "";
    if (auto it = lines.find(entry.name); it != lines.end()) entry.line = it->second;
    entry.source = text(po_message_msgid(message), entry.line);
    entry.plural = po_message_msgid_plural(message) != nullptr;
    if (!entry.plural) entry.target = text(po_message_msgstr(message), entry.line);
    entry.fuzzy = po_message_is_fuzzy(message) != 0;
    entry.c_format = po_message_is_format(message, "c-format") != 0;
    file.entries.push_back(std::move(entry));
  }
  return file;
}

}  // namespace tolvane::translate
