// Sorted lists of catalogue entries: the physical-order main list and the sorted views.
#pragma once

#include <memory>
#include <vector>

#include "engine/ZipObj.h"

namespace quelt {

enum TZipSortMode {
  ByName,
  ByFileName,
  ByDirectoryName,
  ByDate,
  ByCompressedSize,
  ByUnCompressedSize,
  ByRate,
  ByNone
};

enum TDuplicates { dupIgnore = 0, dupAccept = 1, dupError = 2 };

// Compares an entry already in a list with one being placed, by sort mode: negative places
// the new entry after, positive before, zero means equal keys. With `exactNames`, ByName
// compares the stored names' bytes: what tells two files apart on Linux.
int CompareEntries(TZipSortMode mode, const TZipHeaderInfo& existing, const TZipHeaderInfo& added,
                   bool exactNames = false);
// Case-insensitive for a to z only; other bytes by value; a prefix sorts first.
int CompareText(const std::string& a, const std::string& b);
// Packed size as a percentage of the size, rounded half to even, at most 100; 0 for empty.
int EntryRate(const TZipHeaderInfo& e);

class TSortedZip {
 public:
  // An owning list destroys its entries with itself; a view only points at them.
  TSortedZip(bool owning, TDuplicates duplicates, TZipSortMode mode = ByNone,
             bool exactNames = false);
  TSortedZip(const TSortedZip&) = delete;
  TSortedZip& operator=(const TSortedZip&) = delete;

  int Count() const { return int(items_.size()); }
  int Capacity() const { return capacity_; }
  // "List index out of bounds (%d)" outside 0..Count-1.
  TZipHeaderInfo* Items(int index) const;
  TZipHeaderInfo& operator[](int index) const { return *Items(index); }
  TZipSortMode SortMode() const { return mode_; }
  bool Owning() const { return owning_; }

  // Binary search for the sorted position of `key`; true when an equal key was met.
  bool Find(const TZipHeaderInfo& key, int& index) const;
  // Places the entry at its sorted position and returns it; a duplicate is dropped
  // (ignore) or refused with "Duplicate Object index" (error). An owning list takes the
  // entry only once it is placed: when Add throws, the caller still has it.
  int Add(std::unique_ptr<TZipHeaderInfo>&& item);  // owning lists
  int Add(TZipHeaderInfo* item);                  // views
  // Position found for the entry's key, or -1.
  int IndexOf(const TZipHeaderInfo* item) const;
  // Takes the entry out; an owning list destroys it.
  void Delete(int index);
  // Fills a view with every entry of `source`, in the order inserting them one by one in
  // source order would give.
  void AssignFrom(const TSortedZip& source);
  // Empties an owning list, handing its entries over in list order.
  std::vector<std::unique_ptr<TZipHeaderInfo>> TakeAll();
  // Hands an owning list's entries over in list order while they stay listed: the list
  // then only points at them, until TakeBack gives them back (entries it does not list
  // must not be given).
  std::vector<std::unique_ptr<TZipHeaderInfo>> Lend();
  void TakeBack(std::vector<std::unique_ptr<TZipHeaderInfo>> entries);
  // Removes every entry (destroying them when owning).
  void Clear();

 private:
  int insertAt(TZipHeaderInfo* item, bool& kept);
  void grow();

  bool owning_;
  TDuplicates duplicates_;
  TZipSortMode mode_;
  bool exactNames_;
  int capacity_ = 0;
  std::vector<TZipHeaderInfo*> items_;
  std::vector<std::unique_ptr<TZipHeaderInfo>> owned_;
};

}  // namespace quelt
