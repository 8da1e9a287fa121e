// Code page 1251 as the system defines it, UTF-8, and the names that cross the system boundary.
//
// The byte table is asked of iconv's CP1251 once, one byte at a time, so that the layer follows
// the system's own idea of the code page; the reverse direction searches that table. Names inside
// the program are cp1251 with '\' between folders; the system sees UTF-8 with '/'.
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <mutex>
#include "platform/posix/PosixInternal.h"

namespace {

char16_t cp1251Table[256];
std::once_flag cp1251Once;

void BuildCp1251Table() {
  iconv_t cd = iconv_open("UTF-16LE", "CP1251");
  for (int b = 0; b < 256; ++b) {
    cp1251Table[b] = 0;
    if (cd == reinterpret_cast<iconv_t>(-1)) continue;
    char in[1] = {static_cast<char>(b)};
    unsigned char out[8];
    char* inPtr = in;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t inLeft = 1, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && sizeof out - outLeft == 2)
      cp1251Table[b] = static_cast<char16_t>(out[0] | (out[1] << 8));
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
}

}  // namespace

const char16_t* Cp1251ToUnicodeTable() {
  std::call_once(cp1251Once, BuildCp1251Table);
  return cp1251Table;
}

int UnicodeToCp1251(uint32_t codePoint) {
  if (codePoint == 0) return 0;
  const char16_t* table = Cp1251ToUnicodeTable();
  if (codePoint < 0x80 && table[codePoint] == codePoint) return static_cast<int>(codePoint);
  for (int b = 0x80; b < 256; ++b)
    if (table[b] == codePoint) return b;
  return -1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

uint32_t DecodeUtf8(const char* text, size_t n, size_t& i) {
  const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
  uint8_t lead = s[i];
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int extra;
  uint32_t cp, minimum;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    ++i;
    return 0xFFFFFFFFu;
  }
  if (i + extra >= n) {
    ++i;
    return 0xFFFFFFFFu;
  }
  for (int k = 1; k <= extra; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) {
      ++i;
      return 0xFFFFFFFFu;
    }
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFFFFFFu;
  }
  i += extra + 1;
  return cp;
}

bool NarrowNameToSystem(const char* name, std::string& out) {
  out.clear();
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const char16_t* table = Cp1251ToUnicodeTable();
  for (const uint8_t* p = reinterpret_cast<const uint8_t*>(name); *p; ++p) {
    uint8_t b = *p;
    if (b == '\\') {
      out.push_back('/');
    } else if (b == '?' || b == '*' || table[b] == 0) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    } else {
      AppendUtf8(out, table[b]);
    }
  }
  return true;
}

bool WideNameToSystem(const WCHAR* name, std::string& out) {
  out.clear();
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const size_t n = std::char_traits<WCHAR>::length(name);
  for (size_t i = 0; i < n;) {
    const uint32_t cp = DecodeUtf16(name, n, i);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      // A byte of a name that was not UTF-8 (or a lone unit): no system name spells it.
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return false;
    }
    if (cp == '\\') {
      out.push_back('/');
    } else if (cp == '?' || cp == '*') {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    } else {
      AppendUtf8(out, cp);
    }
  }
  return true;
}

std::string SystemNameToNarrow(const char* name) {
  std::string out;
  size_t n = std::strlen(name);
  for (size_t i = 0; i < n;) {
    uint32_t cp = DecodeUtf8(name, n, i);
    if (cp == '/') {
      out.push_back('\\');
      continue;
    }
    int b = (cp == 0xFFFFFFFFu || cp == '\\') ? -1 : UnicodeToCp1251(cp);
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return out;
}

uint32_t DecodeUtf16(const WCHAR* text, size_t n, size_t& i) {
  const uint32_t c = text[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < n && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
    return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
  return c;
}

std::basic_string<WCHAR> Utf8ToWide(const char* text, size_t n) {
  std::basic_string<WCHAR> out;
  for (size_t i = 0; i < n;) {
    const size_t at = i;
    const uint32_t cp = DecodeUtf8(text, n, i);
    if (cp == 0xFFFFFFFFu) {
      for (size_t k = at; k < i; ++k) out.push_back(WCHAR(0xDC00 + static_cast<unsigned char>(text[k])));
    } else if (cp >= 0x10000) {
      out.push_back(WCHAR(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(WCHAR(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(WCHAR(cp));
    }
  }
  return out;
}

std::basic_string<WCHAR> SystemNameToWide(const char* name) {
  // '/' separates folders; a '\\' in a system name is a character no program name can hold, so it
  // stands as the lone unit of its byte, like the bytes of a name that is not UTF-8.
  std::basic_string<WCHAR> out = Utf8ToWide(name, std::strlen(name));
  for (WCHAR& c : out) {
    if (c == '/') c = '\\';
    else if (c == '\\') c = WCHAR(0xDC00 + '\\');
  }
  return out;
}
