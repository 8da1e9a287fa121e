// Little-endian loads and stores at any alignment: the one copy of them for the engine's blocks
// and the archive's fields. The 16- and 32-bit ones are written byte by byte, so they hold on any
// host; the 64-bit load is the host's own (the program runs on little-endian processors only).
#pragma once
#include <cstdint>
#include <cstring>

inline uint32_t Load16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

inline uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

inline void Store64(uint8_t* p, uint64_t v) {
  Store32(p, uint32_t(v));
  Store32(p + 4, uint32_t(v >> 32));
}
