// The checks and the comparison form of stored names.
#include "app/Names.h"

#include "platform/Upcase.h"

namespace {

bool IsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

bool IsForbidden(WCHAR c) {
  return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
}

// An unpaired surrogate at position i of the name.
bool IsLoneSurrogate(const WCHAR* name, size_t length, size_t i) {
  const WCHAR c = name[i];
  if (c >= 0xD800 && c <= 0xDBFF) return i + 1 >= length || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF;
  if (c >= 0xDC00 && c <= 0xDFFF) return i == 0 || name[i - 1] < 0xD800 || name[i - 1] > 0xDBFF;
  return false;
}

WCHAR FoldedUnit(WCHAR u) { return u == '/' ? WCHAR('\\') : UpcaseUnit(u); }

}  // namespace

bool IsDeviceOrTrimmedName(const WCHAR* component, size_t length) {
  if (length == 0) return false;
  if (component[length - 1] == '.' || component[length - 1] == ' ') return true;
  size_t base = 0;
  while (base < length && component[base] != '.') ++base;
  while (base > 0 && component[base - 1] == ' ') --base;
  if (base < 3 || base > 7) return false;
  // Windows reserves COM and LPT with the digits 1 to 9 and the superscripts 1 to 3.
  const WCHAR last = component[base - 1];
  const bool portDigit = (last >= '1' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
  std::string stem;
  for (size_t i = 0; i + (base == 4 && portDigit ? 1 : 0) < base; ++i) {
    const WCHAR c = FoldedUnit(component[i]);
    if (c > 0x7F) return false;
    stem.push_back(char(c));
  }
  if (base == 3) return stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL";
  if (base == 4) return portDigit && (stem == "COM" || stem == "LPT");
  return stem == "CONIN$" || stem == "CONOUT$";
}

const char* UnstorableReason(const WCHAR* component) {
  size_t length = 0;
  while (component[length] != 0) ++length;
  for (size_t i = 0; i < length; ++i) {
    if (IsLoneSurrogate(component, length, i))
      return "the name is not valid UTF-8 or holds a backslash (those bytes are shown as \\xNN)";
    if (IsForbidden(component[i]) || IsSeparator(component[i])) return "the name holds a character that Windows cannot hold";
  }
  if (IsDeviceOrTrimmedName(component, length)) return "Windows takes the name for a device, or drops its last dot or space";
  return nullptr;
}

bool IsRestorableName(const WCHAR* name, uint32_t units) {
  if (units == 0 || IsSeparator(name[0])) return false;  // empty, absolute, or a network path
  size_t componentStart = 0;
  for (size_t i = 0; i <= units; ++i) {
    // A drive prefix or a stream name; other characters the system cannot hold are refused by the
    // system when the entry is created, and the entry is skipped with its reason.
    if (i < units && (name[i] == ':' || IsLoneSurrogate(name, units, i))) return false;
    if (i == units || IsSeparator(name[i])) {
      const size_t length = i - componentStart;
      const WCHAR* component = name + componentStart;
      if (length == 0) return false;
      if (component[0] == '.' && (length == 1 || (length == 2 && component[1] == '.'))) return false;
      if (IsDeviceOrTrimmedName(component, length)) return false;
      componentStart = i + 1;
    }
  }
  return true;
}

TWideName FoldedName(const WCHAR* name, size_t length) {
  TWideName folded(name, length);
  for (WCHAR& u : folded) u = FoldedUnit(u);
  return folded;
}
