#include "dump/lint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "dump/encoding.h"
#include "msgfile/escape.h"
#include "msgfile/printf_format.h"

namespace tolvane::dump {
namespace {

class Arguments {
 public:
  // Gives the argument at `where` (or the next one in sequence) to `taker`.
  void take(std::optional<uint32_t> where, const std::string& taker) {
    const uint32_t pos = where ? *where : next_++;
    if (pos > 4096) return;  // no program passes that many
    if (slots_.size() < pos) slots_.resize(pos, "?");
    std::string& slot = slots_[pos - 1];
    if (slot == "?") {
      slot = taker;
    } else if (slot != taker) {
      slot = "conflict";
    }
  }
  std::vector<std::string> done() { return std::move(slots_); }

 private:
  uint32_t next_ = 1;
  std::vector<std::string> slots_;
};

// The class of argument a conversion character reads.
const char* conversion_class(char c) {
  switch (c) {
    case 'd':
    case 'i':
      return "d";
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      return "u";
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return "f";
    case 'c':
      return "c";
    case 's':
      return "s";
    case 'p':
      return "p";
    case 'n':
      return "n";
    default:
      return "?";  // not one printf knows
  }
}

std::string ascii(const std::vector<uint16_t>& units, size_t begin, size_t end) {
  std::string out;
  for (size_t i = begin; i < end; ++i) out.push_back(static_cast<char>(units[i]));
  return out;
}

std::string arguments_text(const std::vector<std::string>& args) {
  std::string out = "(";
  for (size_t i = 0; i < args.size(); ++i) out += (i ? ", " : "") + args[i];
  return out + ")";
}

// What the printf conversions of a text take, kept as a fingerprint of the
// list rather than the list: a table's texts may hold millions of
// conversions, and until a finding is written only whether two lists differ
// matters. A finding reads both texts again for its detail, so a fingerprint
// can at worst hide a difference (one chance in 2^64), never invent one.
struct Conversions {
  uint64_t fingerprint;  // 0: the text takes nothing
  uint32_t at;           // where the text is; text offsets are 32-bit values
  uint32_t size;         // up to where the next text is
};

uint64_t fingerprint(const std::vector<std::string>& args) {
  if (args.empty()) return 0;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  auto mix = [&](unsigned char c) { hash = (hash ^ c) * 1099511628211ull; };
  for (const std::string& arg : args) {
    for (char c : arg) mix(static_cast<unsigned char>(c));
    mix(0);
  }
  return hash == 0 ? 1 : hash;
}

// The identifiers of one table, each once, in ascending order, with how often
// it occurs and what the printf conversions of its first text take, and the
// texts whose bytes do not fit the table's coding.
// Most texts take no argument, so the conversions are kept apart from the
// identifiers: a small entry per identifier keeps a large table's walk cheap.
struct TableData {
  struct Id {
    uint16_t id;
    uint16_t occurrences;  // no more than a table's count of messages
    uint32_t args;         // index into `args`; 0 is the text that takes nothing
  };
  struct Encoding {
    uint16_t id;
    EncodingIssue issue;
  };
  std::vector<Id> ids;
  std::vector<Conversions> args;
  std::vector<Encoding> encodings;  // by identifier
};

// The units of a text as printf reads it: up to its first 0x00 byte, or in a
// UNICODE table its first 0x0000 unit.
std::vector<uint16_t> printf_units(std::string_view text, bool unicode) {
  std::vector<uint16_t> units = text_units(text, unicode);
  units.erase(std::find(units.begin(), units.end(), 0), units.end());
  return units;
}

// What the conversions of a text take, read again from the file.
std::vector<std::string> arguments_of(const OpenCatalogue& catalogue, const TableLayout& table,
                                      const Conversions& text) {
  if (text.fingerprint == 0) return {};
  std::string bytes(text.size, '\0');
  bytes.resize(catalogue.file->read_at(text.at, bytes.data(), bytes.size()));
  return printf_arguments(printf_units(bytes, table.unicode()));
}

// Where a conversion or a byte above 0x7F is in `bytes`, from `from`, or
// bytes.size(). Most byte texts hold neither: they are passed over in runs
// that the compiler turns into vector instructions.
size_t next_of_interest(std::string_view bytes, size_t from) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  constexpr size_t kRun = 512;
  size_t i = from;
  for (; i + kRun <= bytes.size(); i += kRun) {
    unsigned char all = 0, percent = 0;  // all bytes or'ed: the high bit tells
    for (size_t j = 0; j < kRun; ++j) {
      all |= p[i + j];
      percent |= p[i + j] == '%';
    }
    if ((all & 0x80) != 0 || percent != 0) break;
  }
  for (; i < bytes.size(); ++i) {
    if (p[i] >= 0x80 || p[i] == '%') return i;
  }
  return bytes.size();
}

// Reads one table of a catalogue that passed the check (so its index is
// sorted and inside its block, and every text ends inside it). Only the index
// is needed for identifiers; for conversions and codings the texts are read
// once, in place order and in large pieces. A byte text is parsed only when
// it holds a '%' or a byte above 0x7F; every UNICODE text is looked at.
// The scratch room is kept from one table to the next: fresh memory for
// every table would cost more than reading it.
struct Scratch {
  std::string index;
  std::string piece;
  std::string text;  // a text larger than a piece
  struct Text {
    uint32_t at;
    uint32_t id;  // index into TableData::ids
    bool first;   // the first entry of its identifier in the index
  };
  std::vector<Text> texts;
};

// Where each text begins, and whose it is, sorted by place.
void find_texts(const TableLayout& table, size_t count, Scratch* scratch) {
  using Text = Scratch::Text;
  std::vector<Text>& texts = scratch->texts;
  texts.clear();
  texts.reserve(count);
  uint32_t ids = 0;
  for (size_t i = 0; i < count; ++i) {
    const IndexEntry entry = decode_index_entry(scratch->index.data() + i * kIndexEntrySize);
    const uint32_t at =
        static_cast<uint32_t>(table.block_begin + (i + 1) * kIndexEntrySize + entry.text_offset);
    const bool later =
        i > 0 && decode_index_entry(scratch->index.data() + (i - 1) * kIndexEntrySize).message_id ==
                     entry.message_id;
    if (i > 0 && !later) ++ids;
    texts.push_back({at, ids, !later});
  }
  auto by_place = [](const Text& a, const Text& b) { return a.at < b.at; };
  if (!std::is_sorted(texts.begin(), texts.end(), by_place)) {
    std::stable_sort(texts.begin(), texts.end(), by_place);
  }
}

// Looks at the text that entries [k, g] of scratch->texts share, stored in
// `span` (up to the next text).
void look_at_text(const TableLayout& table, const Scratch& scratch, size_t k, size_t g,
                  std::string_view span, TableData* data) {
  const bool unicode = table.unicode();
  bool wanted = false;
  for (size_t e = k; e <= g; ++e) wanted = wanted || scratch.texts[e].first;
  if (wanted) {
    const uint64_t print = fingerprint(printf_arguments(printf_units(span, unicode)));
    if (print != 0) {
      for (size_t e = k; e <= g; ++e) {
        if (scratch.texts[e].first)
          data->ids[scratch.texts[e].id].args = static_cast<uint32_t>(data->args.size());
      }
      data->args.push_back({print, scratch.texts[k].at, static_cast<uint32_t>(span.size())});
    }
  }
  const bool last = g + 1 == scratch.texts.size();
  const std::optional<EncodingIssue> issue =
      unicode ? check_unicode_text(span, last) : check_byte_text(span);
  if (issue) {
    for (size_t e = k; e <= g; ++e) {
      data->encodings.push_back({data->ids[scratch.texts[e].id].id, *issue});
    }
  }
}

// Reads the texts of a table with `count` index entries (in scratch->index)
// for their conversions and codings.
void read_texts(const OpenCatalogue& catalogue, const TableLayout& table, size_t count,
                Scratch* scratch, TableData* out) {
  TableData& data = *out;
  File& file = *catalogue.file;
  using Text = Scratch::Text;
  const std::vector<Text>& texts = scratch->texts;
  const bool unicode = table.unicode();
  bool texts_found = false;
  // The texts go by in pieces small enough to stay in the processor's
  // cache; a text is looked at where it lies when the piece holds all of
  // it, and read on its own otherwise. In a byte table only texts with a
  // byte of interest are; which text holds it is worked out only once a
  // table has one: many tables have none, and then the walk over the index
  // is all the per-message work there is.
  constexpr size_t kPiece = 128 * 1024;
  std::string& buffer = scratch->piece;
  buffer.resize(kPiece);
  const uint64_t end = table.block_end;
  size_t k = 0;
  for (uint64_t piece = table.index_end; piece < end;) {
    const size_t got = file.read_at(piece, buffer.data(),
                                    static_cast<size_t>(std::min<uint64_t>(kPiece, end - piece)));
    if (got == 0) break;
    const std::string_view bytes(buffer.data(), got);
    const uint64_t piece_end = piece + got;
    uint64_t resume = piece_end;
    for (size_t hit = 0; hit < got; ++hit) {
      if (!unicode) hit = next_of_interest(bytes, hit);
      if (hit == got) break;
      if (!texts_found) {
        find_texts(table, count, scratch);
        texts_found = true;
      }
      const uint64_t where = piece + hit;
      while (k + 1 < texts.size() && texts[k + 1].at <= where) ++k;
      if (texts[k].at > where) {  // before the first text
        if (texts[k].at >= piece_end) break;
        hit = static_cast<size_t>(texts[k].at - piece) - 1;
        continue;
      }
      size_t first = k;  // entries that share the text
      while (first > 0 && texts[first - 1].at == texts[k].at) --first;
      const uint64_t at = texts[k].at;
      const uint64_t next = k + 1 < texts.size() ? texts[k + 1].at : end;
      std::string_view span;
      if (at >= piece && next <= piece_end) {
        span = bytes.substr(static_cast<size_t>(at - piece), static_cast<size_t>(next - at));
      } else {
        scratch->text.resize(static_cast<size_t>(next - at));
        scratch->text.resize(file.read_at(at, scratch->text.data(), scratch->text.size()));
        span = scratch->text;
      }
      look_at_text(table, *scratch, first, k, span, &data);
      if (next >= piece_end) {
        resume = next;  // past the text, which may run on beyond this piece
        break;
      }
      hit = static_cast<size_t>(next - piece) - 1;
    }
    piece = std::max(piece_end, resume);
  }
  auto by_id = [](const TableData::Encoding& a, const TableData::Encoding& b) {
    return a.id < b.id;
  };
  std::stable_sort(data.encodings.begin(), data.encodings.end(), by_id);
}

void analyse(const OpenCatalogue& catalogue, const TableLayout& table, bool with_texts,
             Scratch* scratch, TableData* out) {
  TableData& data = *out;
  data.ids.clear();
  data.args.assign(1, {0, 0, 0});
  data.encodings.clear();
  File& file = *catalogue.file;
  std::string& index = scratch->index;
  const uint64_t begin = table.block_begin;
  index.resize(static_cast<size_t>(table.index_end - begin));
  index.resize(file.read_at(begin, index.data(), index.size()));
  const size_t count = std::min<size_t>(table.record.message_count, index.size() / kIndexEntrySize);
  data.ids.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint16_t id = decode_index_entry(index.data() + i * kIndexEntrySize).message_id;
    if (!data.ids.empty() && data.ids.back().id == id) {
      ++data.ids.back().occurrences;
    } else {
      data.ids.push_back({id, 1, 0});
    }
  }
  if (with_texts && count > 0) read_texts(catalogue, table, count, scratch, &data);
  // Files that pass the check have sorted indexes; keep the walk below sound
  // whatever happens.
  auto by_id = [](const TableData::Id& a, const TableData::Id& b) { return a.id < b.id; };
  if (!std::is_sorted(data.ids.begin(), data.ids.end(), by_id)) {
    std::sort(data.ids.begin(), data.ids.end(), by_id);
  }
}

struct Finding {
  std::string kind;
  std::optional<size_t> table;  // index into catalogue.tables
  std::optional<uint16_t> id;
  std::string detail;
};

struct Stats {
  size_t table;
  std::optional<size_t> reference;
  uint64_t messages = 0, missing = 0, extra = 0, reference_ids = 0;
};

std::string coverage(const Stats& s) {
  const uint64_t present = s.reference_ids - s.missing;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f",
                s.reference_ids == 0 ? 100.0 : 100.0 * present / s.reference_ids);
  return buffer;
}

// The statistics as the "tables" field that ends the JSON document.
void stats_json(const OpenCatalogue& c, const std::vector<Stats>& stats, Output& out) {
  auto name = [&](size_t t) { return c.table_name(c.tables[t]); };
  out << "  \"tables\": [";
  for (size_t i = 0; i < stats.size(); ++i) {
    const Stats& s = stats[i];
    const TableLayout& table = c.tables[s.table];
    out << (i == 0 ? "\n" : ",\n");
    out << "    {\"table\": " + json_string(name(s.table)) +
               ", \"type_key\": " + std::to_string(table.record.type_key) +
               ", \"reference\": " + (s.reference ? json_string(name(*s.reference)) : "null") +
               ", \"messages\": " + std::to_string(s.messages);
    if (s.reference) {
      out << ", \"missing\": " + std::to_string(s.missing) +
                 ", \"extra\": " + std::to_string(s.extra) +
                 ", \"coverage_percent\": " + coverage(s) + "}";
    } else {
      out << ", \"missing\": null, \"extra\": null, \"coverage_percent\": null}";
    }
  }
  out << (stats.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

// The statistics as a table for people: names to the left, numbers to the
// right.
void stats_table(const OpenCatalogue& c, const std::vector<Stats>& stats, Output& out) {
  auto name = [&](size_t t) { return c.table_name(c.tables[t]); };
  std::vector<std::vector<std::string>> rows = {
      {"table", "type_key", "reference", "messages", "missing", "extra", "coverage"}};
  for (const Stats& s : stats) {
    const bool has = s.reference.has_value();
    rows.push_back({name(s.table), hex_number(c.tables[s.table].record.type_key, 8),
                    has ? name(*s.reference) : "-", std::to_string(s.messages),
                    has ? std::to_string(s.missing) : "-", has ? std::to_string(s.extra) : "-",
                    has ? coverage(s) + "%" : "-"});
  }
  std::vector<size_t> width(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t k = 0; k < row.size(); ++k) width[k] = std::max(width[k], row[k].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t k = 0; k < row.size(); ++k) {
      // Text columns to the left, numbers to the right.
      const std::string pad(width[k] - row[k].size(), ' ');
      if (k > 0) line += "  ";
      line += k < 3 ? row[k] : pad;
      line += k < 3 ? pad : row[k];
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line + "\n";
  }
}

class Linter {
 public:
  Linter(const OpenCatalogue& catalogue, const LintOptions& options, Output& out)
      : c_(catalogue), options_(options), out_(out), used_(65536, false), named_(65536, false) {}

  size_t run() {
    make_groups();
    if (options_.json) out_ << (options_.stats_only ? "{\n" : "{\n  \"findings\": [");
    for (size_t t = 0; t < c_.tables.size(); ++t) lint_table(t);
    if (options_.names != nullptr) unused();
    for (const Finding& f : trailing_) emit(f);
    finish();
    return findings_;
  }

 private:
  struct Group {
    uint32_t type_key = 0;
    std::vector<size_t> added;  // tables in the order they were added
    std::optional<size_t> reference;
    std::string reference_language;
    std::unique_ptr<TableData> reference_data;
    size_t unlinted = 0;  // tables not linted yet: the reference is kept until none is left
    bool reported = false;
  };

  std::string language_of(size_t t) const {
    return get_chars(c_.languages[c_.tables[t].language].entry.language, kLanguageWidth);
  }

  bool same_language(size_t t, const std::string& language) const {
    char key[kLanguageWidth];
    set_chars(key, kLanguageWidth, language);
    return std::strncmp(c_.languages[c_.tables[t].language].entry.language, key, kLanguageWidth) ==
           0;
  }

  void make_groups() {
    // Blocks lie in the order the tables were added; an empty table's block
    // begins where the next table's does, and it was added before it.
    std::vector<size_t> added(c_.tables.size());
    for (size_t t = 0; t < added.size(); ++t) added[t] = t;
    std::stable_sort(added.begin(), added.end(), [&](size_t a, size_t b) {
      const TableLayout& x = c_.tables[a];
      const TableLayout& y = c_.tables[b];
      if (x.block_begin != y.block_begin) return x.block_begin < y.block_begin;
      return (x.record.message_count > 0) < (y.record.message_count > 0);
    });
    group_of_.resize(c_.tables.size());
    // A lookup takes the first table, in file order, of the language and
    // type_key it asks for.
    shadowed_by_.resize(c_.tables.size());
    std::map<std::pair<std::string, uint32_t>, size_t> first;
    for (size_t t = 0; t < c_.tables.size(); ++t) {
      auto [it, inserted] =
          first.emplace(std::pair(language_of(t), c_.tables[t].record.type_key), t);
      if (!inserted) shadowed_by_[t] = it->second;
    }
    std::map<uint32_t, size_t> by_key;
    for (size_t t : added) {
      const uint32_t key = c_.tables[t].record.type_key;
      auto [it, inserted] = by_key.emplace(key, groups_.size());
      if (inserted) {
        groups_.emplace_back();
        groups_.back().type_key = key;
      }
      groups_[it->second].added.push_back(t);
      ++groups_[it->second].unlinted;
      group_of_[t] = it->second;
    }
    for (Group& group : groups_) {
      group.reference_language =
          options_.reference.empty() ? language_of(group.added.front()) : options_.reference;
      for (size_t t : group.added) {
        if (same_language(t, group.reference_language)) {
          group.reference = t;
          break;
        }
      }
    }
  }

  std::string name(size_t t) const { return c_.table_name(c_.tables[t]); }

  void lint_table(size_t t) {
    Group& group = groups_[group_of_[t]];
    Stats stats;
    stats.table = t;
    stats.reference = group.reference;
    stats.messages = c_.tables[t].record.message_count;
    // Findings go out as they are found, in identifier order: the walk below
    // meets them in that order, so none is held.
    if (!group.reference && !group.reported) report_no_reference(&group);
    if (shadowed_by_[t]) {
      emit({"shadowed", t, std::nullopt,
            "a lookup of language \"" + c_escape(language_of(t)) + "\" with type_key " +
                hex_number(c_.tables[t].record.type_key, 8) + " finds " + name(*shadowed_by_[t]) +
                " first and never reaches this table"});
    }
    const TableData* reference = reference_data(&group);
    if (reference != nullptr) stats.reference_ids = reference->ids.size();
    const bool is_reference = reference != nullptr && *group.reference == t;
    if (!is_reference) analyse(c_, c_.tables[t], !options_.stats_only, &scratch_, &own_);
    walk_ids(t, is_reference ? *reference : own_, is_reference ? nullptr : reference, &stats);
    stats_.push_back(stats);
    if (--group.unlinted == 0) group.reference_data.reset();
  }

  // A group without a table of its reference language is said once.
  void report_no_reference(Group* group) {
    group->reported = true;
    std::string members;
    for (size_t m : group->added) {
      if (!members.empty()) members += ", ";
      members += name(m);
    }
    emit({"reference", group->added.front(), std::nullopt,
          "the tables of type_key " + hex_number(group->type_key, 8) + " (" + members +
              ") have no table of language \"" + c_escape(group->reference_language) +
              "\": they are not compared"});
  }

  // The group's reference table, read once for the whole group and kept until
  // its last table is done (every other table is read into the same reused
  // room); null when the group has none.
  const TableData* reference_data(Group* group) {
    if (!group->reference) return nullptr;
    if (!group->reference_data) {
      group->reference_data = std::make_unique<TableData>();
      analyse(c_, c_.tables[*group->reference], !options_.stats_only, &scratch_,
              group->reference_data.get());
    }
    return group->reference_data.get();
  }

  // One walk over the identifiers of table `t` and, when it is compared with
  // one, of its `reference`, both in ascending order. What the walk reads on
  // every identifier is kept in locals: a large catalogue has a great many
  // of them.
  void walk_ids(size_t t, const TableData& own, const TableData* reference, Stats* stats) {
    const bool with_texts = !options_.stats_only;
    const NameTable* const names = options_.names;
    const std::string ref_name = reference != nullptr ? name(*groups_[group_of_[t]].reference) : "";
    size_t r = 0;
    size_t e = 0;  // the next of own.encodings
    const std::vector<TableData::Id> none;
    const std::vector<TableData::Id>& theirs = reference != nullptr ? reference->ids : none;
    for (const TableData::Id& id : own.ids) {
      for (; r < theirs.size() && theirs[r].id < id.id; ++r)
        missing(t, theirs[r].id, ref_name, stats);
      if (id.occurrences > 1) {
        emit({"duplicate", t, id.id,
              "it occurs " + std::to_string(id.occurrences) +
                  " times in this table; a lookup finds only one of them"});
      }
      if (reference != nullptr) {
        if (r < theirs.size() && theirs[r].id == id.id) {
          // Most texts take nothing: then there is nothing to compare.
          const Conversions& mine = own.args[id.args];
          const Conversions& ref = reference->args[theirs[r].args];
          if (with_texts && mine.fingerprint != ref.fingerprint) format(t, id.id, mine, ref);
          ++r;
        } else {
          ++stats->extra;
          emit({"extra", t, id.id, "the reference " + ref_name + " does not have it"});
        }
      }
      for (; e < own.encodings.size() && own.encodings[e].id <= id.id; ++e) {
        emit({"encoding", t, own.encodings[e].id, encoding_detail(own.encodings[e].issue)});
      }
      if (names != nullptr) {
        used_[id.id] = true;  // only unused names need it
        if (names->find(id.id) == nullptr && !named_[id.id]) {
          named_[id.id] = true;  // reported once, with the first table that holds it
          emit({"unnamed", t, id.id, "the names header does not define it"});
        }
      }
    }
    for (; r < theirs.size(); ++r) missing(t, theirs[r].id, ref_name, stats);
  }

  void missing(size_t t, uint16_t id, const std::string& ref_name, Stats* stats) {
    ++stats->missing;
    emit({"missing", t, id, "the reference " + ref_name + " has it, this table does not"});
  }

  // Two texts whose conversions' fingerprints differ: read both again to say how.
  void format(size_t t, uint16_t id, const Conversions& mine, const Conversions& ref) {
    const size_t r = *groups_[group_of_[t]].reference;
    const std::vector<std::string> own_args = arguments_of(c_, c_.tables[t], mine);
    const std::vector<std::string> ref_args = arguments_of(c_, c_.tables[r], ref);
    if (own_args == ref_args) return;
    emit({"format", t, id,
          "its text's printf conversions take " + arguments_text(own_args) +
              " where the reference " + name(r) + " takes " + arguments_text(ref_args)});
  }

  void unused() {
    std::vector<bool> reported(65536, false);
    for (const NameTable::Define& define : options_.names->defines()) {
      const uint16_t id = static_cast<uint16_t>(define.value & 0xFFFF);
      if (used_[id] || reported[id]) continue;
      reported[id] = true;
      trailing_.push_back({"unused", std::nullopt, id,
                           "the names header defines " + define.name + " as " +
                               std::to_string(define.value) + ", which no table holds"});
    }
    std::stable_sort(trailing_.begin(), trailing_.end(),
                     [](const Finding& a, const Finding& b) { return *a.id < *b.id; });
  }

  void emit(const Finding& f) {
    if (options_.stats_only) return;
    const std::string* known =
        f.id && options_.names != nullptr ? options_.names->find(*f.id) : nullptr;
    if (options_.json) {
      out_ << (findings_ == 0 ? "\n" : ",\n");
      out_ << "    {\"kind\": " + json_string(f.kind) +
                  ", \"table\": " + (f.table ? json_string(name(*f.table)) : "null") +
                  ", \"id\": " + (f.id ? std::to_string(*f.id) : "null");
      if (known != nullptr) out_ << ", \"name\": " + json_string(*known);
      out_ << ", \"detail\": " + json_string(f.detail) + "}";
    } else {
      std::string line = f.table ? name(*f.table) : "-";
      if (f.id) line += "  message " + std::to_string(*f.id);
      if (known != nullptr) line += " " + *known;
      out_ << line + ": " + f.kind + ": " + f.detail + "\n";
    }
    ++findings_;
  }

  void finish() {
    if (options_.json) {
      if (!options_.stats_only) out_ << (findings_ == 0 ? "],\n" : "\n  ],\n");
      stats_json(c_, stats_, out_);
    } else if (!options_.stats_only) {
      out_ << (findings_ == 0
                   ? std::string("No findings.\n")
                   : std::to_string(findings_) + (findings_ == 1 ? " finding\n" : " findings\n"));
    } else {
      stats_table(c_, stats_, out_);
    }
  }

  const OpenCatalogue& c_;
  const LintOptions& options_;
  Output& out_;
  std::vector<Group> groups_;
  std::vector<size_t> group_of_;
  std::vector<std::optional<size_t>> shadowed_by_;  // the table a lookup finds instead
  std::vector<bool> used_;                          // identifiers some table holds
  std::vector<bool> named_;                         // unnamed identifiers already reported
  std::vector<Finding> trailing_;
  std::vector<Stats> stats_;
  size_t findings_ = 0;
  Scratch scratch_;  // one block at a time
  TableData own_;    // the table being linted
};

}  // namespace

std::vector<uint16_t> text_units(std::string_view text, bool unicode) {
  std::vector<uint16_t> units;
  if (!unicode) {
    for (char c : text) units.push_back(static_cast<unsigned char>(c));
    return units;
  }
  for (size_t i = 0; i < text.size(); i += 2) {
    const uint16_t high = static_cast<unsigned char>(text[i]);
    const uint16_t low = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    units.push_back(static_cast<uint16_t>(high << 8 | low));
  }
  return units;
}

std::vector<std::string> printf_arguments(const std::vector<uint16_t>& u) {
  Arguments args;
  for (size_t i = 0; i < u.size(); ++i) {
    if (u[i] != '%') continue;
    const PrintfConversion c = read_printf_conversion(u, i);
    i = c.end - 1;
    if (c.kind == PrintfConversion::Kind::kPercent) continue;
    // A width or precision of "*" takes an int of its own, before the value.
    if (c.width.from_argument) args.take(c.width.position, "*");
    if (c.precision.from_argument) args.take(c.precision.position, "*");
    args.take(c.position,
              c.kind == PrintfConversion::Kind::kKnown
                  ? "%" + ascii(u, c.length_begin, c.length_end) + conversion_class(c.conversion)
                  : "%?");
  }
  return args.done();
}

size_t lint_catalogue(const OpenCatalogue& catalogue, const LintOptions& options, Output& out) {
  return Linter(catalogue, options, out).run();
}

}  // namespace tolvane::dump
