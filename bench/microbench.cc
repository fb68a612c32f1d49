// The two places where a straightforward build is quadratic, timed against
// the code the build uses:
//  - the index sort: an insertion sort that finds each entry's place by a scan
//    from the front and shifts the entries behind it, against
//    MessageIndex::sorted();
//  - the names merge: a rescan of the whole previous names header for every
//    #message line, against NamesHeader's set of defined identifiers.
// Both sides produce the same result; each benchmark checks that once before
// timing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "msgfile/records.h"
#include "msgfile/table_block.h"
#include "names/define_line.h"
#include "names/names_header.h"
#include "platform/fake_file_system.h"
#include "platform/file_io.h"

namespace tolvane {
namespace {

uint32_t next_random(uint64_t* state) {
  *state = *state * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<uint32_t>(*state >> 33);
}

// `count` distinct identifiers starting at `first`, shuffled.
std::vector<uint32_t> shuffled_ids(uint32_t count, uint32_t first) {
  std::vector<uint32_t> ids(count);
  for (uint32_t i = 0; i < count; ++i) ids[i] = first + i;
  uint64_t state = count;
  for (uint32_t i = count; i > 1; --i) std::swap(ids[i - 1], ids[next_random(&state) % i]);
  return ids;
}

struct SourceEntry {
  uint16_t id;
  uint32_t offset;  // from the start of the texts
};

// Entries in source order, texts of 60 bytes.
std::vector<SourceEntry> source_entries(uint32_t count) {
  std::vector<SourceEntry> entries;
  uint32_t offset = 0;
  for (uint32_t id : shuffled_ids(count, 0)) {
    entries.push_back({static_cast<uint16_t>(id), offset});
    offset += 60;
  }
  return entries;
}

// A plain insertion sort: offsets made relative to each entry's end in source
// order, then every entry moved in front of its equals, the entries it passes
// shifted one place back (their offsets shrinking by one entry).
std::vector<IndexEntry> insertion_sorted(const std::vector<SourceEntry>& source) {
  const uint32_t count = static_cast<uint32_t>(source.size());
  std::vector<IndexEntry> entries(count);
  for (uint32_t i = 0; i < count; ++i) {
    entries[i].message_id = source[i].id;
    entries[i].text_offset = source[i].offset + kIndexEntrySize * count - kIndexEntrySize * (i + 1);
  }
  for (uint32_t i = 1; i < count; ++i) {
    IndexEntry moving = entries[i];
    uint32_t p = 0;
    while (entries[p].message_id < moving.message_id) ++p;
    for (uint32_t j = i; j > p; --j) {
      entries[j] = entries[j - 1];
      entries[j].text_offset -= kIndexEntrySize;
    }
    moving.text_offset += kIndexEntrySize * (i - p);
    entries[p] = moving;
  }
  return entries;
}

MessageIndex message_index(const std::vector<SourceEntry>& source) {
  MessageIndex index;
  for (size_t i = 0; i < source.size(); ++i) index.add(source[i].id, 60);
  return index;
}

bool same(const std::vector<IndexEntry>& a, const std::vector<IndexEntry>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].message_id != b[i].message_id || a[i].text_offset != b[i].text_offset) return false;
  }
  return true;
}

void check_sorts_agree(uint32_t count) {
  auto source = source_entries(count);
  if (!same(insertion_sorted(source), message_index(source).sorted())) {
    std::cerr << "the two sorts disagree at " << count << " entries\n";
    std::abort();
  }
}

void BM_IndexSortInsertion(benchmark::State& state) {
  const uint32_t count = static_cast<uint32_t>(state.range(0));
  check_sorts_agree(count);
  auto source = source_entries(count);
  for (auto _ : state) benchmark::DoNotOptimize(insertion_sorted(source));
}

void BM_IndexSortCurrent(benchmark::State& state) {
  const uint32_t count = static_cast<uint32_t>(state.range(0));
  check_sorts_agree(count);
  MessageIndex index = message_index(source_entries(count));
  for (auto _ : state) benchmark::DoNotOptimize(index.sorted());
}

// A previous names header defining 0 .. count - 1 and the #message lines of a
// source whose identifiers are half of them new.
struct NamesInput {
  FakeFileSystem fs;
  std::vector<std::pair<int32_t, std::string>> messages;
};

void make_names_input(uint32_t count, NamesInput* input) {
  std::string header;
  for (uint32_t id = 0; id < count; ++id) {
    header += "#define MSG_" + std::to_string(id) + " " + std::to_string(id) + "\n";
  }
  input->fs.set_file("previous.h", header);
  for (uint32_t id : shuffled_ids(count, count / 2)) {
    input->messages.push_back(
        {static_cast<int32_t>(id),
         "#message " + std::to_string(id) + " MSG_" + std::to_string(id) + " \"text\""});
  }
}

std::string merge_current(NamesInput& input) {
  auto previous = input.fs.open("previous.h", OpenMode::kRead);
  auto out = input.fs.open("names.h", OpenMode::kCreate);
  FileWriter writer(out.get(), 0);
  NamesHeader names(&writer);
  LineReader reader(previous.get(), false);
  names.copy_previous_header(reader);
  for (const auto& [id, line] : input.messages) names.on_message_name(id, line);
  writer.flush();
  std::string result;
  input.fs.get_file("names.h", &result);
  return result;
}

// For every #message line, the whole previous header is read again from its
// start until a line defines the identifier.
std::string merge_rescanning(NamesInput& input) {
  auto previous = input.fs.open("previous.h", OpenMode::kRead);
  auto out = input.fs.open("names.h", OpenMode::kCreate);
  FileWriter writer(out.get(), 0);
  std::string line;
  bool newline = false;
  {
    LineReader reader(previous.get(), false);
    while (reader.read_line(&line, &newline)) {
      writer.buffer()->append(line);
      if (newline) writer.buffer()->push_back('\n');
      writer.maybe_flush();
    }
  }
  for (const auto& [id, message_line] : input.messages) {
    LineReader reader(previous.get(), false);
    bool defined = false;
    while (!defined && reader.read_line(&line)) {
      auto value = parse_define(line);
      defined = value && *value == id;
    }
    if (!defined) {
      append_define(writer.buffer(), message_name(message_line), id);
      writer.maybe_flush();
    }
  }
  writer.flush();
  std::string result;
  input.fs.get_file("names.h", &result);
  return result;
}

void BM_NamesMergeRescan(benchmark::State& state) {
  NamesInput input;
  make_names_input(static_cast<uint32_t>(state.range(0)), &input);
  if (merge_rescanning(input) != merge_current(input)) {
    std::cerr << "the two merges disagree\n";
    std::abort();
  }
  for (auto _ : state) benchmark::DoNotOptimize(merge_rescanning(input));
}

void BM_NamesMergeCurrent(benchmark::State& state) {
  NamesInput input;
  make_names_input(static_cast<uint32_t>(state.range(0)), &input);
  for (auto _ : state) benchmark::DoNotOptimize(merge_current(input));
}

BENCHMARK(BM_IndexSortInsertion)->Arg(1000)->Arg(8000)->Arg(32767)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexSortCurrent)->Arg(1000)->Arg(8000)->Arg(32767)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NamesMergeRescan)->Arg(1000)->Arg(8000)->Arg(32767)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NamesMergeCurrent)->Arg(1000)->Arg(8000)->Arg(32767)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tolvane

BENCHMARK_MAIN();
