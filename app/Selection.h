// The entries a restore, test or listing touches: the words after the archive's name. A word
// names an entry ("docs\a.txt", with '\' or '/'), a folder and everything below it ("docs"), or
// is a pattern with '*' (any run of characters, separators too) and '?' (one character) that must
// match the whole stored name. Letters compare without regard to case, as the file systems the
// archives come from compare them. Without words every entry is selected.
#pragma once
#include <vector>

#include "app/Names.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"

// Whether one word (as typed on the command line) selects the stored name. An empty word selects
// nothing.
bool WordSelects(const TWideName& word, const WCHAR* name, uint32_t units);

class TSelection {
 public:
  void Add(const TWideName& word);
  bool Empty() const { return words_.empty(); }
  // Whether the stored name is selected; every word that selects it is marked as used.
  bool Selects(const WCHAR* name, uint32_t units);
  // The same, without counting the words as used.
  bool Matches(const WCHAR* name, uint32_t units) const;
  // One failure line for every word that selected nothing; true when there is none.
  bool ReportUnused() const;

 private:
  std::vector<TWideName> words_;     // as given, for the report
  std::vector<TWideName> folded_;    // as compared: UTF-16, folded, once per word
  std::vector<bool> used_;

  // Whether a word selects the name; every word that does is marked in `used`, when given.
  bool Match(const WCHAR* name, uint32_t units, std::vector<bool>* used) const;
};
