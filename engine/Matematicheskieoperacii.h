// Small integer and floating-point routines: bit scans on which every code length rests, and the
// unit's rounding helpers (the window-size option rounds with RoundToInt; the others are the
// unit's public routines, kept whether the program calls them or not).
#pragma once
#include <cstdint>

void MatematicheskieoperaciiStartup();
void MatematicheskieoperaciiShutdown();

// Index of the highest set bit; 0 for 0 (and for 1). Inline: the match search asks it per
// candidate.
inline uint32_t HighestBit32(uint32_t x) { return 31u - static_cast<uint32_t>(__builtin_clz(x | 1u)); }
inline uint32_t HighestBit64(uint64_t x) {
  const uint32_t high = static_cast<uint32_t>(x >> 32);
  return high != 0 ? 32u + HighestBit32(high) : HighestBit32(static_cast<uint32_t>(x));
}

double Absolute(double x);
// |x|^y with the sign of x; 0.0 for x = 0 whatever y is.
double SignedPower(double x, double y);
// Nearest 32-bit integer, ties to the even neighbour. Out of range or NaN gives INT32_MIN,
// the value a processor conversion yields there.
int32_t RoundToInt(double x);
// floor(x) as a 32-bit integer; out of range or NaN gives INT32_MIN.
int32_t FloorToInt(double x);
