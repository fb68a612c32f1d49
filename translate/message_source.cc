#include "translate/message_source.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "base/failure.h"
#include "names/define_line.h"
#include "platform/file_io.h"
#include "platform/io_failure.h"
#include "source/text_encoder.h"

namespace tolvane::translate {
namespace {

// The comment blocks that end right above a line, by that line's number.
std::map<long, std::vector<std::string>> comment_blocks(File* file, long first_line) {
  std::map<long, std::vector<std::string>> blocks;
  LineReader reader(file, true);
  std::string line;
  std::vector<std::string> block;
  while (reader.read_line(&line)) {
    if (reader.line_number() < first_line) continue;
    const size_t start = line.find_first_not_of(" \t");
    if (start != std::string::npos && line.compare(start, 2, "//") == 0) {
      std::string text = line.substr(start + 2);
      if (!text.empty() && text[0] == ' ') text.erase(0, 1);
      while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
      block.push_back(std::move(text));
      continue;
    }
    if (!block.empty() && line.compare(0, 8, "#message") == 0) {
      blocks[reader.line_number()] = std::move(block);
    }
    block.clear();  // a blank line, or anything else, ends the block
  }
  return blocks;
}

class Collector : public MessageHandler {
 public:
  Collector(MessageSource* source, LineReader* reader,
            std::map<long, std::vector<std::string>>* comments)
      : source_(source), reader_(reader), comments_(comments) {}

  void on_name(int32_t id, std::string_view, std::string_view name) override {
    SourceMessage message;
    message.id = id;
    message.name = std::string(name);
    message.line = reader_->line_number();
    if (auto it = comments_->find(message.line); it != comments_->end()) {
      message.comments = std::move(it->second);
    }
    source_->messages.push_back(std::move(message));
  }

  void on_text(int32_t, std::string_view text) override {
    SourceMessage& message = source_->messages.back();
    message.has_text = true;
    try {
      encode_text(text, source_->parameters.coding, &message.bytes);
    } catch (const Failure& failure) {
      throw input_failure(source_->path + ":" + std::to_string(message.line) + ": " +
                          failure.message());
    }
    // The terminator the encoder ends every text with is not the text's.
    for (int i = source_->unicode() ? 2 : 1; i > 0 && !message.bytes.empty(); --i) {
      message.bytes.pop_back();
    }
  }

 private:
  MessageSource* source_;
  LineReader* reader_;
  std::map<long, std::vector<std::string>>* comments_;
};

}  // namespace

MessageSource read_message_source(FileSystem& fs, const std::string& path) {
  MessageSource source;
  source.path = path;
  try {
    std::unique_ptr<File> file = fs.open(path, OpenMode::kRead);
    LineReader reader(file.get(), true);
    read_directives(reader, path, &source.parameters);
    const long directive_end = reader.line_number();
    {
      LineReader again(file.get(), true);
      std::string line;
      while (again.line_number() < directive_end && again.read_line(&line)) {
        if (line.compare(0, 4, "// #") == 0) source.directive_lines.push_back(line);
      }
    }
    std::map<long, std::vector<std::string>> comments =
        comment_blocks(file.get(), directive_end + 1);
    Collector collector(&source, &reader, &comments);
    message_pass(reader, path, collector);
    file->close();
  } catch (const IoError& error) {
    throw io_failure("cannot read " + path, error);
  } catch (const Failure& failure) {
    // The reader's own refusals name the file; they are shown without the
    // indent a build gives them.
    const std::string& message = failure.message();
    throw input_failure(message.substr(std::min(message.find_first_not_of(' '), message.size())));
  }
  return source;
}

}  // namespace tolvane::translate
