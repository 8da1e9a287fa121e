// The delta code of the block format's numbers, stated once for every writer and reader of it
// (the block writer's and the decoder's fast paths, and the number-code routines).
//
// A value v is coded through n = v + 1, formed in 65 bits (v = 2^64 - 1 gives n = 2^64). With L
// the bit length of n and k = floor(log2 L), the word is k ones, a zero, the k bits of L below its
// leading one, then the L - 1 bits of n below its leading one, each field most significant first:
// 2k + L bits. No 64-bit value needs k > 6 or L > 65, so a reader refuses a word with either. In a
// packed section, stream bit j is bit j mod 8 of byte j div 8.
#pragma once
#include <cstdint>

constexpr uint32_t kDeltaMostOnes = 6;
constexpr uint32_t kDeltaMostBitLength = 65;

// L, the bit length of n = value + 1.
constexpr uint32_t DeltaBitLength(uint64_t value) {
  return value == UINT64_MAX ? 65u : 64u - static_cast<uint32_t>(__builtin_clzll(value + 1));
}
// k, the ones that open a word whose n has bit length L.
constexpr uint32_t DeltaOnes(uint32_t bitLength) { return 31u - static_cast<uint32_t>(__builtin_clz(bitLength)); }
// Length of the word of value: the cost model of the match finder and of the flag form.
constexpr uint32_t DeltaCodeLength(uint64_t value) {
  const uint32_t bitLength = DeltaBitLength(value);
  return 2u * DeltaOnes(bitLength) + bitLength;
}

// The word's prefix (k ones, a zero, the k bits of L below its leading one) at the start of bits,
// stream bit j being bit j: its k and L when all of its 2k + 1 bits lie within the first width
// bits and k is one a word may have.
constexpr bool DeltaPrefixWithin(uint64_t bits, uint32_t width, uint32_t& k, uint32_t& bitLength) {
  k = 0;
  while (k < width && ((bits >> k) & 1u) != 0) ++k;
  if (2 * k + 1 > width || k > kDeltaMostOnes) return false;
  bitLength = 1;
  for (uint32_t j = 0; j < k; ++j) bitLength = (bitLength << 1) | static_cast<uint32_t>((bits >> (k + 1 + j)) & 1u);
  return true;
}
