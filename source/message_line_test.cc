#include "source/message_line.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane {
namespace {

bool identifier_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A name is looked at sixteen bytes at a time where the line is long
// enough: names of every length, with a character that is none of an
// identifier's at every place, and each kind of end, read as the token
// and a look at each of its characters do.
TEST(MessageLine, NamesOfEveryShapeReadAsTheirToken) {
  for (size_t length = 0; length <= 20; ++length) {
    for (size_t odd_at = 0; odd_at <= length; ++odd_at) {
      // Those next to each range of identifier characters, and others.
      for (char odd : {'/', ':', '@', '[', '`', '{', '"', '\x80'}) {
        for (const char* after : {" \"a text long enough\"", "\t\"x\"", "\"x\"", ""}) {
          std::string name;
          for (size_t k = 0; k < length; ++k) name += "aZ_9y"[k % 5];
          if (odd_at < length) name[odd_at] = odd;
          const std::string line = "#message 12  " + name + after;
          const std::string_view token = name_after_identifier(line, 11);
          bool identifier_chars = true;
          for (char c : token) identifier_chars = identifier_chars && identifier_char(c);
          const MessageName found = message_name_of(line, 11);
          EXPECT_EQ(found.name.data(), token.data()) << line;
          EXPECT_EQ(found.name, token) << line;
          EXPECT_EQ(found.identifier_chars, identifier_chars) << line;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tolvane
