#include "foundation/Operaciisostrokami.h"

uint32_t StrLength(const char* s) {
  if (s == nullptr) return 0;
  uint32_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

uint32_t WStrLength(const WCHAR* s) {
  if (s == nullptr) return 0;
  uint32_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

const uint8_t* FindByte(const void* p, uint8_t value, uint32_t n) {
  if (p == nullptr) return nullptr;
  const uint8_t* bytes = static_cast<const uint8_t*>(p);
  for (uint32_t i = 0; i < n; ++i)
    if (bytes[i] == value) return bytes + i;
  return nullptr;
}

uint32_t CountBytesInSet(const void* data, const void* set, uint32_t n, uint32_t m) {
  if (n == 0 || m == 0 || set == nullptr || data == nullptr) return 0;
  bool member[256] = {};
  const uint8_t* setBytes = static_cast<const uint8_t*>(set);
  for (uint32_t i = 0; i < m; ++i) member[setBytes[i]] = true;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  uint32_t count = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (member[bytes[i]]) ++count;
  return count;
}

void OperaciisostrokamiStartup() {}
void OperaciisostrokamiShutdown() {}
