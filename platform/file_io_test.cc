#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "platform/fake_file_system.h"

namespace tolvane {
namespace {

using Lines = std::vector<std::pair<std::string, bool>>;  // line, ended by a line feed

Lines read_all(const std::string& content, bool text_mode, size_t chunk = 1 << 16) {
  FakeFileSystem fs;
  fs.set_file("f", content);
  auto file = fs.open("f", OpenMode::kRead);
  LineReader reader(file.get(), text_mode, chunk);
  Lines lines;
  std::string line;
  bool newline = false;
  while (reader.read_line(&line, &newline)) {
    lines.emplace_back(line, newline);
    EXPECT_EQ(reader.line_number(), static_cast<long>(lines.size()));
  }
  // The end stays the end.
  EXPECT_FALSE(reader.read_line(&line, &newline));
  EXPECT_EQ(reader.line_number(), static_cast<long>(lines.size()));
  return lines;
}

// What a reader must see: the content cut at each line feed; in text mode a
// carriage return right before a line feed goes with it.
Lines expected_files(const std::string& content, bool text_mode) {
  Lines lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      lines.emplace_back(content.substr(start), false);
      break;
    }
    std::string line = content.substr(start, end - start);
    if (text_mode && !line.empty() && line.back() == '\r') line.pop_back();
    lines.emplace_back(line, true);
    start = end + 1;
  }
  return lines;
}

TEST(LineReader, CarriageReturnsInTextAndBinaryMode) {
  const std::string content = "one\r\ntwo\nthree\r\r\nfour\rfive\n\r\n\r";
  EXPECT_EQ(read_all(content, true), (Lines{{"one", true},
                                            {"two", true},
                                            {"three\r", true},
                                            {"four\rfive", true},
                                            {"", true},
                                            {"\r", false}}));
  EXPECT_EQ(read_all(content, false), (Lines{{"one\r", true},
                                             {"two", true},
                                             {"three\r\r", true},
                                             {"four\rfive", true},
                                             {"\r", true},
                                             {"\r", false}}));
  // A CR LF split between two reads is still one line end.
  EXPECT_EQ(read_all("ab\r\ncd\r\n", true, 3), (Lines{{"ab", true}, {"cd", true}}));
  EXPECT_EQ(read_all("a\r\n", true, 2), (Lines{{"a", true}}));
}

TEST(LineReader, EmptyLinesAndTheLastLine) {
  EXPECT_EQ(read_all("", true), Lines{});
  EXPECT_EQ(read_all("\n", true), (Lines{{"", true}}));
  EXPECT_EQ(read_all("\n\n\n", true), (Lines{{"", true}, {"", true}, {"", true}}));
  EXPECT_EQ(read_all("last", true), (Lines{{"last", false}}));
  EXPECT_EQ(read_all("a\nlast", false, 1), (Lines{{"a", true}, {"last", false}}));
  // Bytes of any value, 0x00 included, are part of the line.
  EXPECT_EQ(read_all(std::string("a\0b\n\xff", 5), false),
            (Lines{{std::string("a\0b", 3), true}, {"\xff", false}}));
}

TEST(LineReader, LinesLongerThanTheChunk) {
  std::string longest(250000, 'x');
  for (size_t i = 0; i < longest.size(); i += 997) longest[i] = static_cast<char>('a' + i % 26);
  const std::string content = "short\n" + longest + "\r\n" + longest.substr(0, 100001) + "\nend";
  Lines expected = {
      {"short", true}, {longest, true}, {longest.substr(0, 100001), true}, {"end", false}};
  EXPECT_EQ(read_all(content, true), expected);
  EXPECT_EQ(read_all(content, true, 1000), expected);
  // A single line with no end at all.
  EXPECT_EQ(read_all(longest, true, 4096), (Lines{{longest, false}}));
}

TEST(LineReader, MatchesASimpleSplitForEveryChunkSize) {
  std::mt19937 random(99);
  const char alphabet[] = {'a', 'b', '\n', '\n', '\r', '\0'};
  for (int round = 0; round < 200; ++round) {
    std::string content(random() % 300, ' ');
    for (char& c : content) c = alphabet[random() % sizeof alphabet];
    for (size_t chunk : {1, 2, 3, 7, 64, 1 << 16}) {
      for (bool text_mode : {false, true}) {
        ASSERT_EQ(read_all(content, text_mode, chunk), expected_files(content, text_mode))
            << "round " << round << ", chunk " << chunk << ", text mode " << text_mode;
      }
    }
  }
}

TEST(LineReader, ReadErrorsReachTheCaller) {
  FakeFileSystem fs;
  fs.set_file("f", "one\ntwo\n");
  auto file = fs.open("f", OpenMode::kRead);
  LineReader reader(file.get(), true, 4);
  std::string line;
  ASSERT_TRUE(reader.read_line(&line));
  EXPECT_EQ(line, "one");
  fs.fail_at(fs.operations() + 1, false);
  EXPECT_THROW(reader.read_line(&line), IoError);
}

TEST(FileWriter, BuffersUntilTheChunkThenWritesAtItsPosition) {
  FakeFileSystem fs;
  fs.set_file("f", "0123456789");
  auto file = fs.open("f", OpenMode::kReadWrite);
  std::string content;
  FileWriter writer(file.get(), 4, 8);
  EXPECT_EQ(writer.position(), 4u);

  const long before = fs.operations();
  writer.append("abc");
  EXPECT_EQ(writer.position(), 7u);
  fs.get_file("f", &content);
  EXPECT_EQ(content, "0123456789");  // nothing written yet
  EXPECT_EQ(fs.operations(), before);

  writer.buffer()->append("defgh");  // straight into the buffer
  EXPECT_EQ(writer.position(), 12u);
  writer.maybe_flush();  // 8 bytes: one write
  EXPECT_EQ(fs.operations(), before + 1);
  fs.get_file("f", &content);
  EXPECT_EQ(content, "0123abcdefgh");
  EXPECT_EQ(writer.position(), 12u);

  writer.append("ij");
  writer.flush();
  writer.flush();  // nothing left: no write
  EXPECT_EQ(fs.operations(), before + 2);
  fs.get_file("f", &content);
  EXPECT_EQ(content, "0123abcdefghij");
  EXPECT_EQ(writer.position(), 14u);

  // A write error reaches the caller.
  writer.append(std::string(3, 'k'));
  fs.fail_at(fs.operations() + 1, false);
  EXPECT_THROW(writer.append(std::string(10, 'l')), IoError);
}

TEST(CopyRange, CopiesLargeRangesExactly) {
  FakeFileSystem fs;
  std::string source(5 * (1 << 20) + 3, '\0');
  std::mt19937 random(5);
  for (char& c : source) c = static_cast<char>(random());
  fs.set_file("src", source);
  fs.set_file("dst", "header");
  auto in = fs.open("src", OpenMode::kRead);
  auto out = fs.open("dst", OpenMode::kReadWrite);

  const uint64_t from = 1001, end = source.size() - 7;
  copy_range(*in, from, *out, 6, end);
  std::string copied;
  fs.get_file("dst", &copied);
  ASSERT_EQ(copied.size(), 6 + (end - from));
  EXPECT_EQ(copied.substr(0, 6), "header");
  EXPECT_TRUE(copied.substr(6) == source.substr(from, end - from));
}

TEST(CopyRange, StopsAtTheSourcesEndAndDoesNothingForAnEmptyRange) {
  FakeFileSystem fs;
  fs.set_file("src", "abcdef");
  fs.set_file("dst", "");
  auto in = fs.open("src", OpenMode::kRead);
  auto out = fs.open("dst", OpenMode::kReadWrite);
  std::string copied;

  copy_range(*in, 2, *out, 0, 1000);
  fs.get_file("dst", &copied);
  EXPECT_EQ(copied, "cdef");  // nothing invented past the end

  const long before = fs.operations();
  copy_range(*in, 4, *out, 0, 4);
  copy_range(*in, 5, *out, 0, 3);
  EXPECT_EQ(fs.operations(), before);
  copy_range(*in, 10, *out, 0, 20);  // wholly past the end
  fs.get_file("dst", &copied);
  EXPECT_EQ(copied, "cdef");
}

}  // namespace
}  // namespace tolvane
