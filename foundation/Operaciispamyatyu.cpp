// The move picks its direction from the addresses: when the destination lies at or below the
// source, copying from the low end never overwrites a byte before it is read; otherwise the copy
// runs from the high end. Words go through memcpy of four bytes each, so unaligned and aliasing
// pointers are fine; every word is read whole before it is written.
#include "foundation/Operaciispamyatyu.h"

#include <cstring>

uint8_t* MoveBytes(void* destination, const void* source, uint32_t n) {
  uint8_t* dst = static_cast<uint8_t*>(destination);
  const uint8_t* src = static_cast<const uint8_t*>(source);
  if (n == 0 || dst == src) return dst;
  const uint32_t words = n / 4;
  const uint32_t tail = n % 4;
  if (reinterpret_cast<uintptr_t>(dst) <= reinterpret_cast<uintptr_t>(src)) {
    for (uint32_t i = 0; i < words; ++i) {
      uint32_t word;
      std::memcpy(&word, src + 4 * i, 4);
      std::memcpy(dst + 4 * i, &word, 4);
    }
    for (uint32_t i = n - tail; i < n; ++i) dst[i] = src[i];
  } else {
    for (uint32_t i = words; i > 0; --i) {
      uint32_t word;
      std::memcpy(&word, src + tail + 4 * (i - 1), 4);
      std::memcpy(dst + tail + 4 * (i - 1), &word, 4);
    }
    for (uint32_t i = tail; i > 0; --i) dst[i - 1] = src[i - 1];
  }
  return dst;
}

void ZeroBytes(void* p, uint32_t n) {
  uint8_t* bytes = static_cast<uint8_t*>(p);
  const uint32_t zero = 0;
  const uint32_t words = n / 4;
  for (uint32_t i = 0; i < words; ++i) std::memcpy(bytes + 4 * i, &zero, 4);
  for (uint32_t i = words * 4; i < n; ++i) bytes[i] = 0;
}

void OperaciispamyatyuStartup() {}
void OperaciispamyatyuShutdown() {}
