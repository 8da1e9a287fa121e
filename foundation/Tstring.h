// The dynamic array under the string records, and the shared narrow (code page 1251) and wide
// (UTF-16) strings: one-pointer handles to reference-counted records with copy-on-write.
// Positions count from 1; the null handle is the empty text.
#pragma once
#include <cstdint>
#include <string>

#include "platform/win32.h"

// A contiguous buffer of plain elements that grows and shrinks in steps of `granularity`
// elements. Buffers come from the memory manager and are zero-filled when new.
template <typename T>
class TOdnomernoeMnogestvoElementov {
 public:
  explicit TOdnomernoeMnogestvoElementov(uint32_t elementStep);
  ~TOdnomernoeMnogestvoElementov();
  TOdnomernoeMnogestvoElementov(const TOdnomernoeMnogestvoElementov&) = delete;
  TOdnomernoeMnogestvoElementov& operator=(const TOdnomernoeMnogestvoElementov&) = delete;

  void Clear();
  // Sets the length to newLength. A new buffer is taken when the needed capacity (newLength
  // rounded up to the step) exceeds the capacity, or, unless noShrink, when half the capacity
  // exceeds it. anchorAtEnd keeps the last elements instead of the first.
  bool Resize(uint32_t newLength, bool anchorAtEnd, bool noShrink);
  bool ForgetBorrowed();
  uint32_t MaxElements() const;
  bool AssignFrom(const TOdnomernoeMnogestvoElementov& other);
  T* Data() const { return data; }
  uint32_t Length() const { return length; }

  uint32_t capacity;
  bool borrowed;
  T* data;
  uint32_t length;
  uint32_t granularity;
};

bool CopyNarrowed(TOdnomernoeMnogestvoElementov<char>& narrow, const TOdnomernoeMnogestvoElementov<WCHAR>& wide);
bool CopyWidened(TOdnomernoeMnogestvoElementov<WCHAR>& wide, const TOdnomernoeMnogestvoElementov<char>& narrow);

// A string record: the characters with their terminator (length = text length + 1) and the
// number of handles sharing it.
template <typename Char>
struct SStringRecord : TOdnomernoeMnogestvoElementov<Char> {
  SStringRecord() : TOdnomernoeMnogestvoElementov<Char>(200), references(0) {}
  uint32_t references;
};
typedef SStringRecord<char> SAnsiString;
typedef SStringRecord<WCHAR> SWideString;

// What narrow and wide handles share.
template <typename Char>
class TStringHandle {
 public:
  typedef SStringRecord<Char> Record;

  TStringHandle() : record(nullptr) {}
  TStringHandle(const Char* text);
  explicit TStringHandle(Char character);
  TStringHandle(const TStringHandle& other);
  ~TStringHandle() { ReleaseRecord(); }
  TStringHandle& operator=(const TStringHandle& other) { return Assign(other); }
  TStringHandle& operator=(const Char* text) { return Assign(text); }

  void ReleaseRecord();
  bool EnsureRecord();
  TStringHandle& Assign(const Char* text);
  TStringHandle& Assign(const TStringHandle& other);
  bool MakeUnique();
  bool DropIfEmpty();
  const Char* Data() const { return record ? record->data : nullptr; }
  uint32_t Length() const { return record && record->length > 0 ? record->length - 1 : 0; }
  // n characters (terminator after them); a shared record is copied first.
  TStringHandle& SetLength(uint32_t n);
  // The record the handle points to (null for the empty text); for inspection only.
  const Record* SharedRecord() const { return record; }

 protected:
  Record* record;
};

class TWideString;

// A UTF-16 text held by value, for names and the texts made of them.
using TWideName = std::basic_string<WCHAR>;

class TAnsiString : public TStringHandle<char> {
 public:
  TAnsiString() {}
  TAnsiString(const char* text) : TStringHandle<char>(text) {}
  explicit TAnsiString(char character) : TStringHandle<char>(character) {}
  TAnsiString(const TAnsiString& other) : TStringHandle<char>(other) {}
  TAnsiString& operator=(const TAnsiString& other) {
    Assign(other);
    return *this;
  }
  TAnsiString& operator=(const char* text) {
    Assign(text);
    return *this;
  }

  // A private, writable, terminated buffer; null for the empty text.
  char* CStr();
  // Inserts source before position (1 to Length() + 1); other positions change nothing.
  TAnsiString& Insert(const TAnsiString& source, int32_t position);
  // Erases count characters from position when the run lies inside the text.
  TAnsiString& Erase(int32_t position, int32_t count);

  friend TAnsiString Substring(const TAnsiString& source, int32_t position, int32_t count);
  friend TAnsiString FromWide(const TWideString& source);
  friend TWideString FromNarrow(const TAnsiString& source);
};

class TWideString : public TStringHandle<WCHAR> {
 public:
  TWideString() {}
  TWideString(const WCHAR* text) : TStringHandle<WCHAR>(text) {}
  explicit TWideString(WCHAR unit) : TStringHandle<WCHAR>(unit) {}
  TWideString(const TWideString& other) : TStringHandle<WCHAR>(other) {}
  TWideString& operator=(const TWideString& other) {
    Assign(other);
    return *this;
  }
  TWideString& operator=(const WCHAR* text) {
    Assign(text);
    return *this;
  }

  friend TAnsiString FromWide(const TWideString& source);
  friend TWideString FromNarrow(const TAnsiString& source);
};

TAnsiString Substring(const TAnsiString& source, int32_t position, int32_t count);
TAnsiString Concatenate(const TAnsiString& a, const TAnsiString& b);
// -1, 0 or 1; bytes compare as signed 8-bit values, a shorter prefix sorts first.
int Compare(const TAnsiString& x, const TAnsiString& y);
bool Equal(const TAnsiString& x, const TAnsiString& y);
bool NotEqual(const TAnsiString& x, const TAnsiString& y);
// The text without leading and trailing bytes up to 32.
TAnsiString Trim(const TAnsiString& source);
TAnsiString FromWide(const TWideString& source);
TWideString FromNarrow(const TAnsiString& source);

// The text as a zero-terminated string for the narrow calls: "" for the empty (null) text.
inline const char* TextOf(const TAnsiString& text) { return text.Data() != nullptr ? text.Data() : ""; }

inline TAnsiString operator+(const TAnsiString& a, const TAnsiString& b) { return Concatenate(a, b); }
inline bool operator==(const TAnsiString& x, const TAnsiString& y) { return Equal(x, y); }
inline bool operator!=(const TAnsiString& x, const TAnsiString& y) { return NotEqual(x, y); }

// Code-page converters with the argument lists of the Win32 conversion calls, installed by the
// unit that owns the code-page tables. Null = none: conversions then copy the low bytes
// (narrowing) or zero-extend (widening).
typedef int (*TNarrowToWide)(UINT codePage, DWORD flags, const char* src, int srcLen, WCHAR* dst, int dstCap);
typedef int (*TWideToNarrow)(UINT codePage, DWORD flags, const WCHAR* src, int srcLen, char* dst, int dstCap,
                             const char* defaultChar, BOOL* usedDefault);
void SetCodePageConverters(TNarrowToWide narrowToWide, TWideToNarrow wideToNarrow);

void TstringStartup();
void TstringShutdown();
