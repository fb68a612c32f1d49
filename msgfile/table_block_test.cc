#include "msgfile/table_block.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tolvane {
namespace {

struct Message {
  int32_t id;
  std::string text;  // terminator included
};

// The index as the format's reference procedure builds it: offsets from the
// start of the texts in source order, made relative to each entry's end, then
// a plain insertion sort that keeps each offset relative to where its entry
// moves.
std::vector<IndexEntry> reference_index(const std::vector<Message>& messages) {
  std::vector<IndexEntry> index;
  uint32_t previous_offset = 0, previous_length = 0;
  for (const Message& m : messages) {
    uint32_t offset = previous_offset + previous_length;
    index.push_back({static_cast<uint16_t>(m.id), offset});
    previous_offset = offset;
    previous_length = static_cast<uint32_t>(m.text.size());
  }
  const uint32_t count = static_cast<uint32_t>(index.size());
  for (uint32_t i = 0; i < count; ++i) index[i].text_offset += 6 * count - 6 * (i + 1);
  for (uint32_t i = 1; i < count; ++i) {
    IndexEntry moving = index[i];
    uint32_t p = 0;
    while (index[p].message_id < moving.message_id) ++p;
    for (uint32_t j = i; j > p; --j) {
      index[j] = index[j - 1];
      index[j].text_offset -= 6;
    }
    moving.text_offset += 6 * (i - p);
    index[p] = moving;
  }
  return index;
}

std::vector<IndexEntry> sorted_entries(const std::vector<Message>& messages) {
  MessageIndex index;
  for (const Message& m : messages) index.add(m.id, static_cast<uint32_t>(m.text.size()));
  EXPECT_EQ(index.count(), messages.size());
  return index.sorted();
}

// The text each entry leads to once the index sits right in front of the
// texts, as a reader of the file finds it.
std::vector<std::string> resolve(const std::vector<IndexEntry>& index,
                                 const std::vector<Message>& messages) {
  std::string block(6 * index.size(), '\0');
  for (const Message& m : messages) block += m.text;
  std::vector<std::string> texts;
  for (size_t rank = 0; rank < index.size(); ++rank) {
    size_t at = 6 * (rank + 1) + index[rank].text_offset;
    EXPECT_LT(at, block.size()) << "entry " << rank;
    if (at >= block.size()) return texts;
    texts.push_back(block.c_str() + at);  // up to the terminator
  }
  return texts;
}

void expect_same_index(const std::vector<IndexEntry>& actual,
                       const std::vector<IndexEntry>& expected, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (size_t i = 0; i < actual.size(); ++i) {
    ASSERT_EQ(actual[i].message_id, expected[i].message_id) << what << ", rank " << i;
    ASSERT_EQ(actual[i].text_offset, expected[i].text_offset) << what << ", rank " << i;
  }
}

TEST(MessageIndex, SortsAsTheInsertionSortDoesOnRandomInput) {
  std::mt19937 random(20240611);
  // Few distinct identifiers, so that most have duplicates; some alias each
  // other in 16 bits (70000 and 4464, -1 and 65535).
  const int32_t pool[] = {0, 1, 2, 5, 7, 100, 4464, 70000, 65535, -1, 32767, 32768, -65536};
  for (int round = 0; round < 300; ++round) {
    size_t count = round < 20 ? round : random() % 400;
    std::vector<Message> messages;
    for (size_t i = 0; i < count; ++i) {
      int32_t id = random() % 4 == 0 ? static_cast<int32_t>(random()) : pool[random() % 13];
      std::string text(1 + random() % 9, static_cast<char>('a' + i % 26));
      text += '\0';
      if (random() % 5 == 0) text += '\0';  // UNICODE texts end with two
      messages.push_back({id, text});
    }
    std::string what = "round " + std::to_string(round);
    std::vector<IndexEntry> sorted = sorted_entries(messages);
    expect_same_index(sorted, reference_index(messages), what);
    for (size_t i = 1; i < sorted.size(); ++i) {
      ASSERT_LE(sorted[i - 1].message_id, sorted[i].message_id) << what;
    }
  }
}

TEST(MessageIndex, EqualIdentifiersComeInReverseSourceOrder) {
  std::vector<Message> messages = {{5, std::string("x\0", 2)}, {5, std::string("y\0", 2)}};
  std::vector<IndexEntry> sorted = sorted_entries(messages);
  ASSERT_EQ(sorted.size(), 2u);
  EXPECT_EQ(resolve(sorted, messages), (std::vector<std::string>{"y", "x"}));
  EXPECT_EQ(sorted[0].text_offset, 8u);
  EXPECT_EQ(sorted[1].text_offset, 0u);

  messages = {{3, std::string("a\0", 2)}, {1, std::string("b\0", 2)},  {3, std::string("c\0", 2)},
              {2, std::string("d\0", 2)}, {3, std::string("ee\0", 3)}, {1, std::string("f\0", 2)}};
  sorted = sorted_entries(messages);
  EXPECT_EQ(resolve(sorted, messages), (std::vector<std::string>{"f", "b", "d", "ee", "c", "a"}));
}

TEST(MessageIndex, SmallCases) {
  // 2 "b" then 1 "a": (1, 8) and (2, 0).
  std::vector<Message> messages = {{2, std::string("b\0", 2)}, {1, std::string("a\0", 2)}};
  std::vector<IndexEntry> sorted = sorted_entries(messages);
  ASSERT_EQ(sorted.size(), 2u);
  EXPECT_EQ(sorted[0].message_id, 1);
  EXPECT_EQ(sorted[0].text_offset, 8u);
  EXPECT_EQ(sorted[1].message_id, 2);
  EXPECT_EQ(sorted[1].text_offset, 0u);

  // Identifiers keep their low 16 bits and sort as unsigned values.
  messages = {{-1, std::string("last\0", 5)},
              {70000, std::string("mid\0", 4)},
              {5000, std::string("high\0", 5)},
              {4000, std::string("low\0", 4)}};
  sorted = sorted_entries(messages);
  ASSERT_EQ(sorted.size(), 4u);
  EXPECT_EQ(sorted[0].message_id, 4000);
  EXPECT_EQ(sorted[1].message_id, 4464);
  EXPECT_EQ(sorted[2].message_id, 5000);
  EXPECT_EQ(sorted[3].message_id, 65535);
  EXPECT_EQ(resolve(sorted, messages), (std::vector<std::string>{"low", "mid", "high", "last"}));

  MessageIndex empty;
  EXPECT_EQ(empty.count(), 0u);
  EXPECT_EQ(empty.texts_size(), 0u);
  EXPECT_TRUE(empty.sorted().empty());

  MessageIndex one;
  one.add(9, 3);
  one.add(8, 5);
  EXPECT_EQ(one.texts_size(), 8u);
}

TEST(MessageIndex, ThousandsOfMessagesInReverseOrder) {
  // The insertion sort's worst case, large enough that a quadratic slip in
  // the offsets would show at the far ends.
  std::vector<Message> messages;
  for (int i = 3000; i > 0; --i) messages.push_back({i % 1500, "t" + std::to_string(i) + '\0'});
  std::vector<IndexEntry> sorted = sorted_entries(messages);
  expect_same_index(sorted, reference_index(messages), "reverse order");
  std::vector<std::string> texts = resolve(sorted, messages);
  ASSERT_EQ(texts.size(), 3000u);
  EXPECT_EQ(texts[0], "t1500");  // id 0: 1500 after 3000 in source order
  EXPECT_EQ(texts[1], "t3000");
  EXPECT_EQ(texts[2998], "t1499");  // id 1499: 1499 came after 2999
  EXPECT_EQ(texts[2999], "t2999");
}

}  // namespace
}  // namespace tolvane
