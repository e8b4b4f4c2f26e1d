#include "engine/ZipCntn.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "engine/DateTime.h"
#include "engine/Errors.h"

namespace quelt {

namespace {

// Entries live in vectors that grow geometrically; the capacity only keeps the count an int.
constexpr int kMaxCapacity = INT32_MAX - 16;

[[noreturn]] void indexError(long long value) {
  throw EListError("List index out of bounds (" + std::to_string(value) + ")");
}

uint8_t fold(char c) {
  auto b = uint8_t(c);
  return b >= 'a' && b <= 'z' ? uint8_t(b - 32) : b;
}

TDateTime entryDate(const TZipHeaderInfo& e) {
  return DosDateTimeOr(e.LastModFileDateTime, TDateTime{});
}

// Whether equal keys end up in reverse insertion order (the new one placed before).
bool tiesReversed(TZipSortMode mode) {
  switch (mode) {
    case ByDate:
    case ByCompressedSize:
    case ByUnCompressedSize:
      return false;
    default:
      return true;
  }
}

}  // namespace

int CompareText(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = fold(a[i]), y = fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

int EntryRate(const TZipHeaderInfo& e) {
  if (e.UncompressedSize < 1) return 0;
  double r = std::nearbyint(double(e.CompressedSize) * 100.0 / double(e.UncompressedSize));
  return r > 100 ? 100 : int(r);
}

int CompareEntries(TZipSortMode mode, const TZipHeaderInfo& existing, const TZipHeaderInfo& added,
                   bool exactNames) {
  switch (mode) {
    case ByName:
      if (exactNames) return existing.NameKey().compare(added.NameKey());
      return CompareText(existing.FullName(), added.FullName());
    case ByFileName:
      return CompareText(existing.Filename(), added.Filename());
    case ByDirectoryName:
      return CompareText(existing.Directory(), added.Directory());
    case ByDate:
      return entryDate(added) > entryDate(existing) ? 1 : -1;
    case ByCompressedSize:
      return added.CompressedSize > existing.CompressedSize ? 1 : -1;
    case ByUnCompressedSize:
      return added.UncompressedSize > existing.UncompressedSize ? 1 : -1;
    case ByRate:
      return EntryRate(added) - EntryRate(existing);
    case ByNone:
    default:
      if (existing.DiskNumberStart != added.DiskNumberStart)
        return existing.DiskNumberStart < added.DiskNumberStart ? -1 : 1;
      // Offsets are unsigned: archives past 2 GiB must still sort by position.
      if (existing.RelativeOffset == added.RelativeOffset) return 0;
      return existing.RelativeOffset < added.RelativeOffset ? -1 : 1;
  }
}

TSortedZip::TSortedZip(bool owning, TDuplicates duplicates, TZipSortMode mode, bool exactNames)
    : owning_(owning), duplicates_(duplicates), mode_(mode), exactNames_(exactNames) {}

TZipHeaderInfo* TSortedZip::Items(int index) const {
  if (index < 0 || index >= Count()) indexError(index);
  return items_[size_t(index)];
}

bool TSortedZip::Find(const TZipHeaderInfo& key, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = CompareEntries(mode_, *items_[size_t(mid)], key, exactNames_);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

void TSortedZip::grow() {
  int delta = capacity_ <= 4 ? 4 : capacity_ <= 8 ? 8 : 16;
  if (capacity_ + delta >= kMaxCapacity) indexError(capacity_ + delta);
  // The capacity only enforces the list's limit; the vector grows geometrically.
  capacity_ += delta;
}

int TSortedZip::insertAt(TZipHeaderInfo* item, bool& kept) {
  int index;
  kept = false;
  // Lists mostly grow at their end (a catalogue read in physical order, an archive being
  // written): one comparison places such an entry without a search.
  if (!items_.empty() && CompareEntries(mode_, *items_.back(), *item, exactNames_) < 0) {
    if (Count() == capacity_) grow();
    items_.push_back(item);
    kept = true;
    return Count() - 1;
  }
  if (Find(*item, index)) {
    if (duplicates_ == dupIgnore) return index;
    if (duplicates_ == dupError) throw EListError("Duplicate Object index");
  }
  if (Count() == capacity_) grow();
  items_.insert(items_.begin() + index, item);
  kept = true;
  return index;
}

int TSortedZip::Add(std::unique_ptr<TZipHeaderInfo>&& item) {
  bool kept;
  // Once placed, the entry must be owned without fail: make room first.
  if (owning_ && owned_.size() == owned_.capacity()) owned_.reserve(2 * owned_.size() + 16);
  int index = insertAt(item.get(), kept);
  if (kept) {
    if (owning_)
      owned_.push_back(std::move(item));
    else
      item.release();  // a view was handed an entry someone else owns
  } else {
    item.reset();  // a duplicate dropped
  }
  return index;
}

int TSortedZip::Add(TZipHeaderInfo* item) {
  bool kept;
  return insertAt(item, kept);
}

int TSortedZip::IndexOf(const TZipHeaderInfo* item) const {
  int index;
  return Find(*item, index) ? index : -1;
}

void TSortedZip::Delete(int index) {
  TZipHeaderInfo* item = Items(index);
  items_.erase(items_.begin() + index);
  if (owning_) {
    auto it = std::find_if(owned_.begin(), owned_.end(),
                           [item](const auto& p) { return p.get() == item; });
    if (it != owned_.end()) owned_.erase(it);
  }
}

void TSortedZip::AssignFrom(const TSortedZip& source) {
  Clear();
  std::vector<TZipHeaderInfo*> order(source.items_);
  // A stable sort gives what one-by-one binary insertion gives: equal keys keep their
  // arrival order, or its reverse where the new entry is placed before its equals.
  if (tiesReversed(mode_)) std::reverse(order.begin(), order.end());
  const TZipSortMode mode = mode_;
  const bool exact = exactNames_;
  std::stable_sort(order.begin(), order.end(), [mode, exact](TZipHeaderInfo* a, TZipHeaderInfo* b) {
    // b before a exactly when placing b after a already in the list puts it in front.
    return CompareEntries(mode, *b, *a, exact) > 0;
  });
  while (capacity_ < int(order.size())) grow();
  items_ = std::move(order);
}

std::vector<std::unique_ptr<TZipHeaderInfo>> TSortedZip::TakeAll() {
  auto out = Lend();
  items_.clear();
  capacity_ = 0;
  return out;
}

std::vector<std::unique_ptr<TZipHeaderInfo>> TSortedZip::Lend() {
  std::vector<std::unique_ptr<TZipHeaderInfo>> out;
  out.reserve(items_.size());
  // Mostly the entries arrived in list order, and no look-up is needed.
  if (owned_.size() == items_.size() &&
      std::equal(items_.begin(), items_.end(), owned_.begin(),
                 [](TZipHeaderInfo* item, const auto& owned) { return item == owned.get(); })) {
    out = std::move(owned_);
    owned_.clear();
    return out;
  }
  // One pass over the owned entries, not a search per item: catalogues may be large.
  std::unordered_map<TZipHeaderInfo*, size_t> where;
  where.reserve(owned_.size());
  for (size_t i = 0; i < owned_.size(); ++i) where.emplace(owned_[i].get(), i);
  for (TZipHeaderInfo* item : items_) {
    auto it = where.find(item);
    out.push_back(it != where.end() ? std::move(owned_[it->second]) : nullptr);
  }
  owned_.clear();
  return out;
}

void TSortedZip::TakeBack(std::vector<std::unique_ptr<TZipHeaderInfo>> entries) {
  owned_.reserve(owned_.size() + entries.size());
  for (auto& entry : entries)
    if (entry) owned_.push_back(std::move(entry));
}

void TSortedZip::Clear() {
  items_.clear();
  owned_.clear();
  capacity_ = 0;
}

}  // namespace quelt
