// Matching the words after an archive's name against stored names.
#include "app/Selection.h"

#include "app/Names.h"
#include "app/Reports.h"

namespace {

// Glob match of the whole name; '*' backtracks to the last star only, which is enough for a
// pattern without character classes.
bool Glob(const WCHAR* pattern, const WCHAR* name) {
  const WCHAR* star = nullptr;
  const WCHAR* resume = nullptr;
  while (*name != 0) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

// The word in its compared form: UTF-16, folded, a pattern's separators and a folder's trailing
// separators as the names have them.
TWideName FoldedWord(const TWideName& word) {
  TWideName folded = FoldedName(word.c_str(), word.size());
  if (folded.find_first_of(WIDE_TEXT("*?")) == TWideName::npos)
    while (!folded.empty() && folded.back() == '\\') folded.pop_back();
  return folded;
}

bool FoldedWordSelects(const TWideName& w, const WCHAR* name, uint32_t units) {
  if (w.empty()) return false;
  const TWideName n = FoldedName(name, units);
  if (w.find_first_of(WIDE_TEXT("*?")) != TWideName::npos) return Glob(w.c_str(), n.c_str());
  return n == w || (n.size() > w.size() && n.compare(0, w.size(), w) == 0 && n[w.size()] == '\\');
}

}  // namespace

bool WordSelects(const TWideName& word, const WCHAR* name, uint32_t units) {
  return FoldedWordSelects(FoldedWord(word), name, units);
}

void TSelection::Add(const TWideName& word) {
  words_.push_back(word);
  folded_.push_back(FoldedWord(word));
  used_.push_back(false);
}

bool TSelection::Match(const WCHAR* name, uint32_t units, std::vector<bool>* used) const {
  bool selected = words_.empty();
  for (size_t i = 0; i < folded_.size() && !(selected && used == nullptr); ++i)
    if (FoldedWordSelects(folded_[i], name, units)) {
      selected = true;
      if (used != nullptr) (*used)[i] = true;
    }
  return selected;
}

bool TSelection::Selects(const WCHAR* name, uint32_t units) { return Match(name, units, &used_); }

bool TSelection::Matches(const WCHAR* name, uint32_t units) const { return Match(name, units, nullptr); }

bool TSelection::ReportUnused() const {
  bool all = true;
  for (size_t i = 0; i < words_.size(); ++i) {
    if (used_[i]) continue;
    all = false;
    if (words_[i].empty())
      ReportName(WIDE_TEXT("\"\""), "an empty name matches no entry");
    else
      ReportName(words_[i].c_str(), "matches no entry of the archive");
  }
  return all;
}
