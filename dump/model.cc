#include "dump/model.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "msgfile/catalogue_layout.h"
#include "msgfile/coding.h"
#include "msgfile/escape.h"
#include "msgfile/memory_file.h"
#include "platform/file_io.h"
#include "platform/io_failure.h"

namespace tolvane::dump {
namespace {

// True when [begin, end) holds only 0x00 bytes, all inside the file.
bool zeros(BlockReader& reader, uint64_t begin, uint64_t end) {
  bool all = true;
  uint64_t seen = 0;
  reader.read(begin, end, ReadBuffer::Fill::kWindow, [&](std::string_view bytes) {
    seen += bytes.size();
    for (char c : bytes) all = all && c == '\0';
  });
  return all && seen == end - begin;
}

// The first terminator at or after `from` that ends before `limit`: one 0x00
// for byte texts, two in a row for UNICODE texts (whose code units may hold
// 0x00 bytes of their own, so only a pair can end them). Returns `limit`, or
// where the file ends when that is sooner, with *found false when there is
// none. Reads in growing pieces: most texts end soon, and a large block is
// not read a window at a time for each of them.
uint64_t find_terminator(BlockReader& reader, uint64_t from, uint64_t limit, bool unicode,
                         bool* found) {
  *found = false;
  bool zero_before = false;  // the byte before `at` is a 0x00 at or after `from`
  uint64_t step = 256;
  for (uint64_t at = from; at < limit;) {
    const std::string_view bytes =
        reader.piece(at, std::min(limit, at + step), ReadBuffer::Fill::kAsked);
    if (bytes.empty()) return at;
    step = std::min<uint64_t>(step * 4, reader.window());
    if (unicode && zero_before && bytes[0] == '\0') {
      *found = true;
      return at - 1;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
      const void* hit = std::memchr(bytes.data() + i, 0, bytes.size() - i);
      if (hit == nullptr) break;
      i = static_cast<size_t>(static_cast<const char*>(hit) - bytes.data());
      if (!unicode || (i + 1 < bytes.size() && bytes[i + 1] == '\0')) {
        *found = true;
        return at + i;
      }
    }
    zero_before = bytes.back() == '\0';
    at += bytes.size();
  }
  return limit;
}

std::string id_text(const MessageView& m) { return "message " + std::to_string(m.id); }

// Why the texts of `messages` cannot be the texts of a source in the order
// they lie, or empty; `order` receives the messages in that order.
std::string source_order(const TableLayout& table, const std::vector<MessageView>& messages,
                         std::vector<size_t>* order) {
  for (const MessageView& m : messages) {
    if (!m.in_block) return "the text of " + id_text(m) + " lies outside its block";
  }
  // Texts in the order they were written: the source order.
  order->resize(messages.size());
  std::iota(order->begin(), order->end(), 0);
  std::stable_sort(order->begin(), order->end(),
                   [&](size_t a, size_t b) { return messages[a].position < messages[b].position; });
  for (size_t k = 1; k < order->size(); ++k) {
    const MessageView& a = messages[(*order)[k - 1]];
    const MessageView& b = messages[(*order)[k]];
    if (a.position == b.position) {
      return id_text(a) + " and " + id_text(b) + " share the text at byte " +
             std::to_string(a.position);
    }
  }
  if (messages[order->front()].position != table.index_end) {
    return "its texts do not begin right after the index";
  }
  return "";
}

// Why the texts, in `order`, do not fill the block back to back each ending
// in its terminator, or empty; `texts_end` receives where the last one ends
// (a fill byte may follow).
std::string texts_back_to_back(const TableLayout& table, const std::vector<MessageView>& messages,
                               const std::vector<size_t>& order, BlockReader& reader,
                               uint64_t* texts_end) {
  // A build pads a block to an even length; a fill byte can only be
  // reproduced when the block's length is even.
  if ((table.block_end - table.block_begin) % 2 != 0) return "its block has an odd length";
  const uint64_t term = terminator_size(table.record.coding);
  auto ends_text = [&](uint64_t begin, uint64_t end) {
    return end >= begin + term && zeros(reader, end - term, end);
  };
  for (size_t k = 0; k + 1 < order.size(); ++k) {
    const MessageView& m = messages[order[k]];
    if (!ends_text(m.position, messages[order[k + 1]].position)) {
      return "the text of " + id_text(m) + " at byte " + std::to_string(m.position) +
             " does not end in its terminator where the next text begins";
    }
  }
  // The last text ends at the block's end, or one byte before it when that
  // byte is the fill of a block whose texts have an odd length.
  const MessageView& last = messages[order.back()];
  const uint64_t end = table.block_end;
  const bool no_fill = ends_text(last.position, end);
  const bool fill = zeros(reader, end - 1, end) && ends_text(last.position, end - 1);
  if (!no_fill && !fill) {
    return "the last text, of " + id_text(last) + " at byte " + std::to_string(last.position) +
           ", does not end in its terminator";
  }
  *texts_end = fill ? end - 1 : end;
  if (fill && no_fill && table.unicode()) {
    // Either reading rebuilds the block; UNICODE texts are spelled in code
    // units of two bytes, so prefer the one that gives an even length.
    if ((end - term - last.position) % 2 == 0) *texts_end = end;
  }
  return "";
}

// Why the index is not the one a build gives of the texts, or empty: a
// build's has ascending identifiers, equal identifiers in the reverse of
// their source order.
std::string index_as_built(const std::vector<MessageView>& messages) {
  for (size_t i = 1; i < messages.size(); ++i) {
    const MessageView& a = messages[i - 1];
    const MessageView& b = messages[i];
    if (a.id > b.id) return "its index is not in ascending order";
    if (a.id == b.id && a.position < b.position) {
      return "its entries for identifier " + std::to_string(a.id) +
             " are not in the order a build gives them";
    }
  }
  return "";
}

// Decides whether the texts of a table lie back to back so that a source can
// rebuild its block exactly, and if so gives each message its whole text.
void find_exact_layout(const OpenCatalogue& catalogue, const TableLayout& table,
                       BlockReader& reader, uint64_t entries_read, TableContent* content) {
  std::vector<MessageView>& messages = content->messages;
  auto fail = [&](std::string reason) {
    content->exact = false;
    content->inexact_reason = std::move(reason);
  };
  const uint64_t count = table.record.message_count;
  if (entries_read < count) return fail("its index runs past the end of the file");
  if (table.block_end > catalogue.file_size) return fail("its block runs past the end of the file");
  if (table.index_end > table.block_end) return fail("its index runs into the next block");
  if (count == 0) {
    content->exact = true;
    content->texts_end = table.index_end;
    return;
  }
  std::vector<size_t> order;
  uint64_t texts_end = 0;
  std::string reason = source_order(table, messages, &order);
  if (reason.empty()) reason = texts_back_to_back(table, messages, order, reader, &texts_end);
  if (reason.empty()) reason = index_as_built(messages);
  if (!reason.empty()) return fail(std::move(reason));
  content->exact = true;
  content->texts_end = texts_end;
  const uint64_t term = terminator_size(table.record.coding);
  for (size_t k = 0; k < order.size(); ++k) {
    MessageView& m = messages[order[k]];
    m.text_end = (k + 1 < order.size() ? messages[order[k + 1]].position : texts_end) - term;
    m.terminated = true;
  }
}

// Why a file of `size` bytes whose header reads `header` is no MSG file at
// all, or empty.
std::string not_msg_file(uint64_t size, const MsgFileHeader& header) {
  if (size == 0) return "the file is empty";
  if (size < kHeaderSize) {
    return "the file is cut short: " + std::to_string(size) + " bytes, but the header " +
           "alone takes " + std::to_string(kHeaderSize);
  }
  if (header.file_id != kFileId) {
    return "not an MSG file: its FILE ID is " + hex_number(header.file_id, 4) + ", not " +
           hex_number(kFileId, 4);
  }
  return "";
}

}  // namespace

std::string not_msg_file_reason(std::string_view bytes) {
  ByteReader in(bytes);
  MsgFileHeader header;
  read_header(in, &header);
  return not_msg_file(bytes.size(), header);
}

OpenCatalogue inspect_catalogue(std::shared_ptr<File> file, BlockWindows windows) {
  OpenCatalogue view;
  static_cast<Catalogue&>(view) = read_layout(*file);
  std::string reason = not_msg_file(view.file_size, view.header);
  if (!reason.empty()) throw input_failure(reason);
  view.file = std::move(file);
  view.windows = windows;
  return view;
}

OpenCatalogue inspect_catalogue(std::string_view bytes, BlockWindows windows) {
  return inspect_catalogue(std::make_shared<MemoryFile>(bytes), windows);
}

TableContent read_table(const OpenCatalogue& catalogue, const TableLayout& table) {
  TableContent content;
  const uint64_t size = catalogue.file_size;
  const uint64_t begin = table.block_begin;
  const uint64_t in_file = begin >= size ? 0 : (size - begin) / kIndexEntrySize;
  const uint64_t count = std::min<uint64_t>(table.record.message_count, in_file);
  const uint64_t limit = std::min(table.block_end, size);
  // The index may run past its block into the next one; read it whole (a
  // count is 16 bits, so it is small).
  std::string index(static_cast<size_t>(count * kIndexEntrySize), '\0');
  index.resize(catalogue.file->read_at(begin, index.data(), index.size()));
  const uint64_t entries = index.size() / kIndexEntrySize;
  content.messages.reserve(entries);
  ByteReader in(index);
  for (uint64_t i = 0; i < entries; ++i) {
    MessageView m;
    m.entry_offset = begin + in.position();
    IndexEntry entry;
    read_index_entry(in, &entry);
    m.id = entry.message_id;
    m.text_offset = entry.text_offset;
    // Offsets are 32-bit values measured from the end of the entry, and wrap
    // like them.
    m.position = static_cast<uint32_t>(begin + in.position() + entry.text_offset);
    m.in_block = m.position >= table.index_end && m.position < limit;
    m.text_end = m.position;
    content.messages.push_back(m);
  }
  BlockReader reader(catalogue, table.index_end, limit);
  find_exact_layout(catalogue, table, reader, entries, &content);
  if (content.exact) return content;
  for (MessageView& m : content.messages) {
    if (m.in_block) {
      m.text_end = find_terminator(reader, m.position, limit, table.unicode(), &m.terminated);
    }
  }
  return content;
}

namespace {

bool small_block(const BlockWindows& windows, uint64_t begin, uint64_t limit) {
  return begin < limit && limit - begin <= windows.whole_block;
}

}  // namespace

BlockReader::BlockReader(const OpenCatalogue& catalogue, uint64_t begin, uint64_t end)
    : BlockReader(*catalogue.file, begin, std::min(end, catalogue.file_size),
                  small_block(catalogue.windows, begin, std::min(end, catalogue.file_size)),
                  catalogue.windows.large_block_window) {}

// A small block's window is the block itself, read at once whatever the first
// view asks for.
BlockReader::BlockReader(File& file, uint64_t begin, uint64_t limit, bool small, size_t window)
    : ReadBuffer(file, limit, small ? static_cast<size_t>(limit - begin) : window) {
  if (small) view(begin, 1);
}

std::string read_text(const OpenCatalogue& catalogue, const TableLayout& table,
                      const MessageView& m) {
  std::string text;
  if (!m.in_block) return text;
  BlockReader reader(catalogue, m.position, std::min(table.block_end, m.text_end));
  reader.read(m.position, m.text_end, ReadBuffer::Fill::kWindow,
              [&](std::string_view bytes) { text += bytes; });
  return text;
}

namespace {

// A directory, FIFO or device is refused before it is opened: reading a FIFO
// would wait for a writer for ever.
void refuse_special_file(FileSystem& fs, const std::string& path) {
  const FileKind kind = fs.kind(path);
  if (kind == FileKind::kDirectory || kind == FileKind::kFifo || kind == FileKind::kDevice ||
      kind == FileKind::kSocket) {
    throw input_failure(path + " is " + file_kind_name(kind));
  }
  // A regular file; or nothing, or what the system would not say (no
  // permission, a name too long): opening it says why not.
}

}  // namespace

std::shared_ptr<File> open_file(FileSystem& fs, const std::string& path) {
  refuse_special_file(fs, path);
  try {
    return fs.open(path, OpenMode::kRead);
  } catch (const IoError& error) {
    throw io_failure("cannot read " + path, error);
  }
}

std::string load_file(FileSystem& fs, const std::string& path) {
  refuse_special_file(fs, path);
  try {
    auto file = fs.open(path, OpenMode::kRead);
    std::string bytes = read_all(*file);
    file->close();
    return bytes;
  } catch (const IoError& error) {
    throw io_failure("cannot read " + path, error);
  }
}

}  // namespace tolvane::dump
