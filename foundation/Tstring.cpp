// Arrays grow and shrink in fixed steps so that buffers come in few sizes, which the memory
// manager's exact-size reuse serves cheaply; a buffer shrinks only when less than half of it
// would be needed. String records are shared by handles and counted; a change to a shared record
// first gives the changing handle a private copy. Every operation that changes a record runs
// under the memory manager's lock.
#include "foundation/Tstring.h"

#include "foundation/Memdiag.h"
#include "foundation/Operaciispamyatyu.h"
#include "foundation/Operaciisostrokami.h"

namespace {

TNarrowToWide narrowToWideConverter = nullptr;
TWideToNarrow wideToNarrowConverter = nullptr;

uint32_t ZeroTerminatedLength(const char* s) { return StrLength(s); }
uint32_t ZeroTerminatedLength(const WCHAR* s) { return WStrLength(s); }

}  // namespace

// ---- the dynamic array ----

template <typename T>
TOdnomernoeMnogestvoElementov<T>::TOdnomernoeMnogestvoElementov(uint32_t elementStep)
    : capacity(0), borrowed(false), data(nullptr), length(0), granularity(elementStep ? elementStep : 1) {}

template <typename T>
TOdnomernoeMnogestvoElementov<T>::~TOdnomernoeMnogestvoElementov() {
  Clear();
}

template <typename T>
void TOdnomernoeMnogestvoElementov<T>::Clear() {
  if (borrowed) return;
  if (data != nullptr && MemoryManagerActive()) {
    TMemoryLock guard;
    Free(data);
    data = nullptr;
  }
  capacity = 0;
  length = 0;
}

template <typename T>
bool TOdnomernoeMnogestvoElementov<T>::ForgetBorrowed() {
  if (!borrowed) return false;
  borrowed = false;
  data = nullptr;
  capacity = 0;
  length = 0;
  return true;
}

template <typename T>
uint32_t TOdnomernoeMnogestvoElementov<T>::MaxElements() const {
  const uint64_t elements = TotalPhysicalMemory() / sizeof(T);
  return elements > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(elements);
}

template <typename T>
bool TOdnomernoeMnogestvoElementov<T>::Resize(uint32_t newLength, bool anchorAtEnd, bool noShrink) {
  const uint64_t needed64 = (static_cast<uint64_t>(newLength) + granularity - 1) / granularity * granularity;
  if (needed64 > 0xFFFFFFFFu) return false;
  const uint32_t needed = static_cast<uint32_t>(needed64);
  T* buffer = data;
  const bool changeBuffer = needed > capacity || (capacity / 2 > needed && !noShrink);
  if (changeBuffer) {
    ForgetBorrowed();
    if (MaxElements() < newLength) return false;
    buffer = nullptr;
    if (needed > 0) {
      Create(buffer, needed);
      if (buffer == nullptr) return false;
    }
  }
  const uint32_t size = static_cast<uint32_t>(sizeof(T));
  if (newLength > length) {
    if (anchorAtEnd)
      MoveBytes(buffer + (newLength - length), data, length * size);
    else if (changeBuffer)
      MoveBytes(buffer, data, length * size);
  } else if (newLength < length) {
    if (anchorAtEnd)
      MoveBytes(buffer, data + (length - newLength), newLength * size);
    else if (changeBuffer)
      MoveBytes(buffer, data, newLength * size);
  } else if (changeBuffer) {
    MoveBytes(buffer, data, length * size);
  }
  if (changeBuffer) {
    if (data != nullptr) Free(data);
    capacity = needed;
  }
  data = buffer;
  length = newLength;
  return true;
}

template <typename T>
bool TOdnomernoeMnogestvoElementov<T>::AssignFrom(const TOdnomernoeMnogestvoElementov& other) {
  if (&other == this) return true;
  if (other.borrowed) {
    Clear();
    capacity = other.capacity;
    borrowed = other.borrowed;
    data = other.data;
    length = other.length;
    granularity = other.granularity;
    return true;
  }
  if (!Resize(other.length, false, true)) return false;
  MoveBytes(data, other.data, other.length * static_cast<uint32_t>(sizeof(T)));
  return true;
}

bool CopyNarrowed(TOdnomernoeMnogestvoElementov<char>& narrow, const TOdnomernoeMnogestvoElementov<WCHAR>& wide) {
  if (!narrow.Resize(wide.length, false, false)) return false;
  for (uint32_t i = 0; i < wide.length; ++i) narrow.data[i] = static_cast<char>(wide.data[i] & 0xFF);
  return true;
}

bool CopyWidened(TOdnomernoeMnogestvoElementov<WCHAR>& wide, const TOdnomernoeMnogestvoElementov<char>& narrow) {
  if (!wide.Resize(narrow.length, false, false)) return false;
  for (uint32_t i = 0; i < narrow.length; ++i) wide.data[i] = static_cast<WCHAR>(static_cast<uint8_t>(narrow.data[i]));
  return true;
}

template class TOdnomernoeMnogestvoElementov<char>;
template class TOdnomernoeMnogestvoElementov<WCHAR>;

// ---- handles ----

template <typename Char>
TStringHandle<Char>::TStringHandle(const Char* text) : record(nullptr) {
  Assign(text);
}

template <typename Char>
TStringHandle<Char>::TStringHandle(Char character) : record(nullptr) {
  if (character == 0) return;
  TMemoryLock guard;
  SetLength(1);
  if (record != nullptr && record->length >= 2) record->data[0] = character;
}

template <typename Char>
TStringHandle<Char>::TStringHandle(const TStringHandle& other) : record(nullptr) {
  // Once the manager has stopped, its memory is gone: a copy then starts empty.
  if (other.record != nullptr && MemoryManagerActive()) {
    record = other.record;
    ++record->references;
  }
}

template <typename Char>
void TStringHandle<Char>::ReleaseRecord() {
  if (record == nullptr) return;
  if (!MemoryManagerActive()) {
    // The record's memory went back to the system with the manager: forget it untouched.
    record = nullptr;
    return;
  }
  TMemoryLock guard;
  if (record->references > 0) --record->references;
  if (record->references == 0) delete record;
  record = nullptr;
}

template <typename Char>
bool TStringHandle<Char>::EnsureRecord() {
  TMemoryLock guard;
  if (record == nullptr) {
    Create(record, 1);
    if (record != nullptr) record->references = 1;
  }
  return record != nullptr;
}

template <typename Char>
TStringHandle<Char>& TStringHandle<Char>::Assign(const Char* text) {
  TMemoryLock guard;
  if (record != nullptr && text != nullptr) {
    const uintptr_t t = reinterpret_cast<uintptr_t>(text);
    const uintptr_t d = reinterpret_cast<uintptr_t>(record->data);
    if (record->data != nullptr && t >= d && t < d + record->capacity * sizeof(Char)) {
      // The text lies in this handle's own buffer, which the resize may replace: copy it first.
      TStringHandle copy(text);
      return Assign(copy);
    }
  }
  if (!MakeUnique()) return *this;
  uint32_t n = text != nullptr ? ZeroTerminatedLength(text) + 1 : 0;
  if (n == 1) n = 0;
  if (n == 0) {
    ReleaseRecord();
    return *this;
  }
  if (!EnsureRecord()) return *this;
  if (record->Resize(n, false, false)) {
    MoveBytes(record->data, text, n * static_cast<uint32_t>(sizeof(Char)));
    record->length = n;
  } else if (record->length > 0) {
    record->data[0] = 0;
  }
  return *this;
}

template <typename Char>
TStringHandle<Char>& TStringHandle<Char>::Assign(const TStringHandle& other) {
  TMemoryLock guard;
  if (&other == this) return *this;
  Record* shared = other.record;
  if (shared != nullptr) ++shared->references;  // before the release, which may be of the same record
  ReleaseRecord();
  record = shared;
  return *this;
}

template <typename Char>
bool TStringHandle<Char>::MakeUnique() {
  TMemoryLock guard;
  if (record == nullptr) return true;
  if (record->references == 1) return true;
  if (record->references == 0) {
    ReleaseRecord();
    return false;
  }
  Record* old = record;
  --old->references;
  record = nullptr;
  Create(record, 1);
  if (record == nullptr) return false;
  record->references = 1;
  record->AssignFrom(*old);
  DropIfEmpty();
  return record != nullptr;
}

template <typename Char>
bool TStringHandle<Char>::DropIfEmpty() {
  TMemoryLock guard;
  if (record != nullptr && record->length < 2 && record->references <= 1) ReleaseRecord();
  return true;
}

template <typename Char>
TStringHandle<Char>& TStringHandle<Char>::SetLength(uint32_t n) {
  TMemoryLock guard;
  if (n == 0) {
    ReleaseRecord();
    return *this;
  }
  if (n == 0xFFFFFFFFu || !MakeUnique() || !EnsureRecord()) return *this;
  if (record->Resize(n + 1, false, false) && record->length > n) record->data[n] = 0;
  return *this;
}

template class TStringHandle<char>;
template class TStringHandle<WCHAR>;

// ---- narrow operations ----

char* TAnsiString::CStr() {
  if (record == nullptr) return nullptr;
  if (!MakeUnique() || record == nullptr) return nullptr;
  if (record->length > 0) record->data[record->length - 1] = 0;
  return record->data;
}

TAnsiString& TAnsiString::Insert(const TAnsiString& source, int32_t position) {
  TMemoryLock guard;
  if (source.record == nullptr) return *this;
  if (record == nullptr) {
    if (position == 1) Assign(source);
    return *this;
  }
  if (source.record == record) {
    // Inserting a text into itself: work from a private copy of the source.
    TAnsiString copy(source);
    if (!copy.MakeUnique() || copy.record == record) return *this;
    return Insert(copy, position);
  }
  if (!MakeUnique() || record == nullptr) return *this;
  const uint32_t p = static_cast<uint32_t>(position);
  if (!(p - 1 < record->length || (position == 1 && record->length == 0))) return *this;
  const uint32_t a = Length();
  const uint32_t b = source.Length();
  if (static_cast<uint64_t>(a) + b >= 0xFFFFFFFFu) return *this;
  SetLength(a + b);
  if (record == nullptr || record->length < a + b + 1) return *this;
  char* d = record->data;
  for (uint32_t i = record->length - 1; i >= p - 1 + b && i >= b; --i) {
    d[i] = d[i - b];
    if (i == 0) break;
  }
  MoveBytes(d + (p - 1), source.record->data, b);
  d[record->length - 1] = 0;
  return *this;
}

TAnsiString& TAnsiString::Erase(int32_t position, int32_t count) {
  TMemoryLock guard;
  if (record == nullptr || !MakeUnique() || record == nullptr) return *this;
  if (position < 1 || count <= 0 ||
      static_cast<int64_t>(position) - 1 + count + 1 > static_cast<int64_t>(record->length))
    return *this;
  const uint32_t p = static_cast<uint32_t>(position);
  const uint32_t k = static_cast<uint32_t>(count);
  char* d = record->data;
  for (uint32_t i = p - 1 + k; i < record->length; ++i) d[i - k] = d[i];
  record->length -= k;
  if (record->length > 0) d[record->length - 1] = 0;
  if (record->length <= 1) ReleaseRecord();
  return *this;
}

TAnsiString Substring(const TAnsiString& source, int32_t position, int32_t count) {
  TMemoryLock guard;
  TAnsiString result;
  const SAnsiString* from = source.record;
  if (from == nullptr || position < 1 || count <= 0 ||
      static_cast<int64_t>(position) - 1 + count + 1 > static_cast<int64_t>(from->length))
    return result;
  uint32_t k = static_cast<uint32_t>(count);
  result.SetLength(k);
  if (result.record == nullptr) return result;
  uint32_t m = k + 1;
  if (result.record->length < m) {
    m = result.record->length;
    k = m > 0 ? m - 1 : 0;
  }
  if (m > 0) {
    MoveBytes(result.record->data, from->data + (position - 1), m);
    result.record->data[k] = 0;
  }
  return result;
}

TAnsiString Concatenate(const TAnsiString& a, const TAnsiString& b) {
  TMemoryLock guard;
  TAnsiString joined(a);
  joined.Insert(b, static_cast<int32_t>(joined.Length() + 1));
  return joined;
}

int Compare(const TAnsiString& x, const TAnsiString& y) {
  const SAnsiString* rx = x.SharedRecord();
  const SAnsiString* ry = y.SharedRecord();
  if (rx == nullptr) return ry != nullptr ? -1 : 0;
  if (ry == nullptr) return 1;
  if (rx->data == nullptr) return ry->data != nullptr ? -1 : 0;
  if (ry->data == nullptr) return 1;
  const uint32_t lx = x.Length();
  const uint32_t ly = y.Length();
  const uint32_t common = lx < ly ? lx : ly;
  for (uint32_t i = 0; i < common; ++i) {
    const int8_t cx = static_cast<int8_t>(rx->data[i]);
    const int8_t cy = static_cast<int8_t>(ry->data[i]);
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  if (lx == ly) return 0;
  return lx < ly ? -1 : 1;
}

bool Equal(const TAnsiString& x, const TAnsiString& y) { return Compare(x, y) == 0; }
bool NotEqual(const TAnsiString& x, const TAnsiString& y) { return Compare(x, y) != 0; }

TAnsiString Trim(const TAnsiString& source) {
  const SAnsiString* r = source.SharedRecord();
  if (r == nullptr || r->length <= 1) return TAnsiString();
  const uint32_t n = source.Length();
  const uint8_t* d = reinterpret_cast<const uint8_t*>(r->data);
  uint32_t i = 0;
  while (i < n && d[i] <= 32) ++i;
  if (i == n) return TAnsiString();
  uint32_t j = n - 1;
  while (j > i && d[j] <= 32) --j;
  return Substring(source, static_cast<int32_t>(i + 1), static_cast<int32_t>(j - i + 1));
}

TAnsiString FromWide(const TWideString& source) {
  TMemoryLock guard;
  TAnsiString result;
  TAnsiString temp(' ');
  if (source.record != nullptr && temp.record != nullptr) {
    if (!CopyNarrowed(*temp.record, *source.record)) return result;
    if (wideToNarrowConverter != nullptr) {
      const uint32_t units = source.record->length > 0 ? source.record->length - 1 : 0;
      const int n = wideToNarrowConverter(1251, 0, source.record->data, static_cast<int>(units),
                                          temp.record->data, static_cast<int>(temp.record->length), nullptr, nullptr);
      // The converted text may be shorter than the source (a surrogate pair becomes one byte):
      // the record then ends at the converted text.
      if (n > 0 && static_cast<uint32_t>(n) < temp.record->length) {
        temp.record->data[n] = 0;
        if (static_cast<uint32_t>(n) + 1 < temp.record->length) temp.SetLength(static_cast<uint32_t>(n));
      }
    }
    result.Assign(temp);
  }
  return result;
}

TWideString FromNarrow(const TAnsiString& source) {
  TMemoryLock guard;
  TWideString result;
  TWideString temp(static_cast<WCHAR>(0x20));
  if (source.record != nullptr && temp.record != nullptr) {
    if (!CopyWidened(*temp.record, *source.record)) return result;
    if (narrowToWideConverter != nullptr) {
      const uint32_t bytes = source.record->length > 0 ? source.record->length - 1 : 0;
      const int n = narrowToWideConverter(1251, 0, source.record->data, static_cast<int>(bytes), temp.record->data,
                                          static_cast<int>(temp.record->length));
      if (n > 0 && static_cast<uint32_t>(n) < temp.record->length) {
        temp.record->data[n] = 0;
        if (static_cast<uint32_t>(n) + 1 < temp.record->length) temp.SetLength(static_cast<uint32_t>(n));
      }
    }
    result.Assign(temp);
  }
  return result;
}

void SetCodePageConverters(TNarrowToWide narrowToWide, TWideToNarrow wideToNarrow) {
  narrowToWideConverter = narrowToWide;
  wideToNarrowConverter = wideToNarrow;
}

void TstringStartup() { SetCodePageConverters(nullptr, nullptr); }

void TstringShutdown() { SetCodePageConverters(nullptr, nullptr); }
