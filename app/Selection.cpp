// Matching the words after an archive's name against stored names.
#include "app/Selection.h"

#include <cstring>

#include "app/Reports.h"

namespace {

// Code page 1251's lower-case letters and their capitals: ASCII, the Cyrillic block from 0xE0,
// and the letters of the other Cyrillic alphabets spread over 0x80 to 0xBF. A separator is '\'.
unsigned char Folded(unsigned char c) {
  static const unsigned char kPairs[][2] = {{0x90, 0x80}, {0x83, 0x81}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D},
                                            {0x9E, 0x8E}, {0x9F, 0x8F}, {0xA2, 0xA1}, {0xBC, 0xA3}, {0xB4, 0xA5},
                                            {0xB8, 0xA8}, {0xBA, 0xAA}, {0xBF, 0xAF}, {0xB3, 0xB2}, {0xBE, 0xBD}};
  if (c == '/') return '\\';
  if ((c >= 'a' && c <= 'z') || c >= 0xE0) return static_cast<unsigned char>(c - 0x20);
  for (const auto& pair : kPairs)
    if (c == pair[0]) return pair[1];
  return c;
}

std::string FoldedText(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) out.push_back(char(Folded(*p)));
  return out;
}

// Glob match of the whole name; '*' backtracks to the last star only, which is enough for a
// pattern without character classes.
bool Glob(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
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

}  // namespace

bool WordSelects(const char* word, const char* name) {
  std::string w = FoldedText(word);
  const std::string n = FoldedText(name);
  if (w.find_first_of("*?") != std::string::npos) return Glob(w.c_str(), n.c_str());
  while (!w.empty() && w.back() == '\\') w.pop_back();
  if (w.empty()) return false;
  return n == w || (n.size() > w.size() && n.compare(0, w.size(), w) == 0 && n[w.size()] == '\\');
}

void TSelection::Add(const TAnsiString& word) {
  words_.emplace_back(TextOf(word));
  used_.push_back(false);
}

bool TSelection::Selects(const char* name) {
  bool selected = words_.empty();
  for (size_t i = 0; i < words_.size(); ++i)
    if (WordSelects(words_[i].c_str(), name)) used_[i] = selected = true;
  return selected;
}

bool TSelection::ReportUnused() const {
  for (size_t i = 0; i < words_.size(); ++i)
    if (!used_[i]) ReportFailure(words_[i].c_str(), "matches no entry of the archive");
  for (bool used : used_)
    if (!used) return false;
  return true;
}
