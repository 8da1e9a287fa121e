// Code-page conversion and the user's locale.
//
// Code page 1251 is the system's (iconv's CP1251, Names.cpp); CP_ACP is taken as 1251, the
// program's narrow code page. The user's locale is the one the environment sets for numbers
// (LC_ALL, then LC_NUMERIC, then LANG); its LCID is Windows' identifier for that language and
// territory where the table below knows it, LOCALE_CUSTOM_DEFAULT otherwise. GetLocaleInfoA takes
// its answers from that environment locale for the user's, the system's and the custom default
// LCIDs, and from the locale a known LCID names otherwise.
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <string>
#include "platform/posix/PosixInternal.h"

namespace {

bool IsCp1251(UINT codePage) { return codePage == 1251 || codePage == CP_ACP; }

struct TLocaleName {
  const char* name;  // language_TERRITORY, or the language alone for its main territory
  LCID lcid;
};

const TLocaleName knownLocales[] = {
    {"ru_RU", 0x0419}, {"ru", 0x0419}, {"uk_UA", 0x0422}, {"uk", 0x0422}, {"be_BY", 0x0423},
    {"be", 0x0423},    {"bg_BG", 0x0402}, {"bg", 0x0402}, {"sr_RS", 0x281A}, {"kk_KZ", 0x043F},
    {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en", 0x0409},
    {"de_DE", 0x0407}, {"de_AT", 0x0C07}, {"de_CH", 0x0807}, {"de", 0x0407}, {"fr_FR", 0x040C},
    {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"fr", 0x040C}, {"it_IT", 0x0410}, {"it", 0x0410},
    {"es_ES", 0x0C0A}, {"es_MX", 0x080A}, {"es", 0x0C0A}, {"pt_BR", 0x0416}, {"pt_PT", 0x0816},
    {"pt", 0x0816},    {"pl_PL", 0x0415}, {"pl", 0x0415}, {"cs_CZ", 0x0405}, {"cs", 0x0405},
    {"nl_NL", 0x0413}, {"nl", 0x0413}, {"sv_SE", 0x041D}, {"sv", 0x041D}, {"fi_FI", 0x040B},
    {"fi", 0x040B},    {"ja_JP", 0x0411}, {"ja", 0x0411}, {"zh_CN", 0x0804}, {"zh_TW", 0x0404},
    {"ko_KR", 0x0412}, {"ko", 0x0412}, {"tr_TR", 0x041F}, {"tr", 0x041F},
};

// The environment's locale name for numbers, as setlocale would choose it.
std::string NumericLocaleName() {
  const char* names[] = {"LC_ALL", "LC_NUMERIC", "LANG"};
  for (const char* variable : names) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != 0) return value;
  }
  return "C";
}

LCID LcidOfName(const std::string& full) {
  std::string name = full.substr(0, full.find_first_of(".@"));
  if (name == "C" || name == "POSIX") return 0x0409;
  for (const TLocaleName& known : knownLocales)
    if (name == known.name) return known.lcid;
  std::string language = name.substr(0, name.find('_'));
  for (const TLocaleName& known : knownLocales)
    if (language == known.name) return known.lcid;
  return LOCALE_CUSTOM_DEFAULT;
}

// Writes a cp1251 answer with its terminator the way GetLocaleInfoA does.
int GiveLocaleText(const std::string& text, LPSTR out, int capacity) {
  int needed = static_cast<int>(text.size()) + 1;
  if (capacity == 0) return needed;
  if (out == nullptr || capacity < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return needed;
}

std::string LocaleItem(locale_t locale, nl_item item) {
  const char* value = nl_langinfo_l(item, locale);
  const char* codeset = nl_langinfo_l(CODESET, locale);
  std::string raw = value != nullptr ? value : "";
  if (codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0) return SystemNameToNarrow(raw.c_str());
  return raw;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0 || (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  std::u16string out;
  if (IsCp1251(CodePage)) {
    const char16_t* table = Cp1251ToUnicodeTable();
    for (size_t i = 0; i < length; ++i) {
      uint8_t b = static_cast<uint8_t>(lpMultiByteStr[i]);
      // A byte the system's code page leaves undefined has no UTF-16 unit: the call fails
      // rather than invent one.
      if (b != 0 && table[b] == 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      out.push_back(table[b]);
    }
  } else if (CodePage == CP_UTF8) {
    for (size_t i = 0; i < length;) {
      uint32_t cp = DecodeUtf8(lpMultiByteStr, length, i);
      if (cp == 0xFFFFFFFFu) {
        if (dwFlags & MB_ERR_INVALID_CHARS) {
          SetLastError(ERROR_NO_UNICODE_TRANSLATION);
          return 0;
        }
        cp = 0xFFFD;
      }
      if (cp >= 0x10000) {
        out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(cp));
      }
    }
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cchWideChar == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cchWideChar)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpWideCharStr, out.data(), out.size() * sizeof(WCHAR));
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cbMultiByte < 0 || (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = 0;
  if (cchWideChar < 0) {
    while (lpWideCharStr[length] != 0) ++length;
    ++length;
  } else {
    length = static_cast<size_t>(cchWideChar);
  }
  std::string out;
  bool usedDefault = false;
  for (size_t i = 0; i < length; ++i) {
    uint32_t cp = lpWideCharStr[i];
    bool lone = false;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && lpWideCharStr[i + 1] >= 0xDC00 && lpWideCharStr[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (lpWideCharStr[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      lone = true;
    }
    if (CodePage == CP_UTF8) {
      AppendUtf8(out, lone ? 0xFFFD : cp);
    } else if (IsCp1251(CodePage)) {
      int b = lone ? -1 : UnicodeToCp1251(cp);
      if (b < 0) {
        usedDefault = true;
        out.push_back(lpDefaultChar != nullptr ? *lpDefaultChar : '?');
      } else {
        out.push_back(static_cast<char>(b));
      }
    } else {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  if (lpUsedDefaultChar != nullptr && CodePage != CP_UTF8) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  if (cbMultiByte == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cbMultiByte)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpMultiByteStr, out.data(), out.size());
  return static_cast<int>(out.size());
}

LCID GetUserDefaultLCID() { return LcidOfName(NumericLocaleName()); }

int GetLocaleInfoA(LCID Locale, LCTYPE LCType, LPSTR lpLCData, int cchData) {
  if (cchData < 0 || (LCType != LOCALE_SDECIMAL && LCType != LOCALE_STHOUSAND)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string name;
  if (Locale == LOCALE_USER_DEFAULT || Locale == LOCALE_SYSTEM_DEFAULT || Locale == LOCALE_CUSTOM_DEFAULT ||
      Locale == GetUserDefaultLCID()) {
    name = "";  // the environment's own choice
  } else if (Locale == LOCALE_INVARIANT) {
    name = "C";
  } else {
    for (const TLocaleName& known : knownLocales)
      if (known.lcid == Locale && std::strchr(known.name, '_') != nullptr) {
        name = std::string(known.name) + ".UTF-8";
        break;
      }
    if (name.empty()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  locale_t locale = newlocale(LC_NUMERIC_MASK | LC_CTYPE_MASK, name.c_str(), static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) {
    if (!name.empty()) {  // a locale the system does not have installed
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    locale = newlocale(LC_NUMERIC_MASK | LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
      SetLastErrorFromErrno(errno);
      return 0;
    }
  }
  std::string text = LocaleItem(locale, LCType == LOCALE_SDECIMAL ? RADIXCHAR : THOUSEP);
  freelocale(locale);
  return GiveLocaleText(text, lpLCData, cchData);
}
