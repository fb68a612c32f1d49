#include "source/name_index.h"

#include <algorithm>
#include <cstring>

namespace tolvane {

namespace {

// A hash of a name eight bytes at a time: the names are short, and a
// general-purpose string hash costs more than the rest of a lookup. Both
// halves are well mixed: the low one picks the slot, the high one is kept.
uint64_t hash_of(std::string_view name) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
  uint64_t hash = name.size() * kMultiplier;
  size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, name.data() + i, 8);
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 32;
  }
  if (i < name.size()) {
    uint64_t word = 0;
    for (size_t k = i; k < name.size(); ++k) word = word << 8 | static_cast<unsigned char>(name[k]);
    hash = (hash ^ word) * kMultiplier;
  }
  hash ^= hash >> 29;
  hash *= 0xBF58476D1CE4E5B9u;
  return hash ^ (hash >> 32);
}

}  // namespace

uint32_t NameIndex::tag(uint64_t hash) const { return static_cast<uint32_t>(hash >> 32) & ~mask_; }

size_t NameIndex::slot(std::string_view wanted, uint64_t hash) const {
  const uint32_t tag = this->tag(hash);
  for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
    const uint32_t at = slots_[i];
    if (at == 0) return i;
    if ((at & ~mask_) == tag && name(entries_[(at & mask_) - 1]) == wanted) return i;
  }
}

void NameIndex::rehash(size_t slots) {
  slots_.assign(slots, 0);
  mask_ = static_cast<uint32_t>(slots - 1);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const uint64_t hash = entries_[i].hash;
    slots_[slot(this->name(entries_[i]), hash)] = tag(hash) | static_cast<uint32_t>(i + 1);
  }
}

void NameIndex::reserve(size_t count) {
  entries_.reserve(count);
  size_t slots = slots_.empty() ? 1024 : slots_.size();
  while (4 * count > 3 * slots) slots *= 2;
  if (slots != slots_.size()) rehash(slots);
}

const NameIndex::Entry& NameIndex::add(std::string_view name, int64_t id, long line) {
  // At most three quarters full: probes stay short, and mostly within the
  // cache line they start in.
  if (4 * (entries_.size() + 1) > 3 * slots_.size()) {
    rehash(slots_.empty() ? 1024 : 2 * slots_.size());
  }
  const uint64_t hash = hash_of(name);
  // Most names are new and find the first slot they look at empty.
  size_t i = hash & mask_;
  if (slots_[i] != 0) i = slot(name, hash);
  if (slots_[i] != 0) return entries_[(slots_[i] & mask_) - 1];
  // Grown four times over when full: room not yet written costs no memory,
  // while every doubling would copy the entries into memory the system has
  // to hand over afresh, which costs more than writing them.
  if (entries_.size() == entries_.capacity()) entries_.reserve(4 * entries_.size());
  if (names_.size() + name.size() > names_.capacity()) {
    names_.reserve(4 * (names_.size() + name.size()));
  }
  entries_.push_back(
      {hash, static_cast<uint32_t>(names_.size()), static_cast<uint32_t>(name.size()), id, line});
  names_.append(name);
  slots_[i] = tag(hash) | static_cast<uint32_t>(entries_.size());
  return entries_.back();
}

void NameIndex::clear() {
  if (entries_.empty()) return;
  names_.clear();
  entries_.clear();
  std::fill(slots_.begin(), slots_.end(), 0);
}

const NameIndex::Entry* NameIndex::find(std::string_view name) const {
  if (slots_.empty()) return nullptr;
  const uint32_t at = slots_[slot(name, hash_of(name))];
  return at == 0 ? nullptr : &entries_[(at & mask_) - 1];
}

}  // namespace tolvane
