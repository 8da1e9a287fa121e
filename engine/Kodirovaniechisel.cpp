// Four universal codes share one layout idea: a prefix that tells the bit length L of
// N = value + 1 (or of the magnitude m for signed values), an optional sign bit, then the L - 1
// bits of N below its leading one, most significant first.
//   delta code:        k = floor(log2 L) ones, a zero, the k bits of L below its leading one;
//   fixed-prefix code: L in a P-bit field, most significant first, L = 2^P written as zeros.
// N is formed in 65-bit arithmetic: value 2^64 - 1 has L = 65 and a mantissa of 64 zeros, and
// decoding rebuilds N modulo 2^64 (that is 0) and subtracts one, giving 2^64 - 1 back.
#include "engine/Kodirovaniechisel.h"

namespace {

// Bit length and the bits below the leading one of the number a value is coded through.
struct SCodeParts {
  uint32_t bitLength;  // L
  uint64_t mantissa;   // the L - 1 bits below the leading one
  uint8_t sign;
};

SCodeParts UnsignedParts(uint64_t value) {
  SCodeParts parts;
  parts.sign = 0;
  if (value == UINT64_MAX) {
    parts.bitLength = 65;
    parts.mantissa = 0;
  } else {
    uint64_t n = value + 1;
    parts.bitLength = HighestBit64(n) + 1;
    parts.mantissa = n ^ (uint64_t(1) << (parts.bitLength - 1));
  }
  return parts;
}

SCodeParts SignedParts(uint64_t pattern) {
  int64_t value = static_cast<int64_t>(pattern);
  uint64_t magnitude = value >= 0 ? uint64_t(value) + 1 : uint64_t(0) - pattern;
  SCodeParts parts;
  parts.sign = value < 0 ? 1 : 0;
  parts.bitLength = HighestBit64(magnitude) + 1;
  parts.mantissa = magnitude ^ (uint64_t(1) << (parts.bitLength - 1));
  return parts;
}

// Writes the low count bits of v, most significant first.
uint8_t* WriteBits(uint8_t* out, uint64_t v, uint32_t count) {
  while (count > 0) {
    --count;
    *out++ = static_cast<uint8_t>((v >> count) & 1u);
  }
  return out;
}

// Reads count bits, most significant first, keeping the low 64 of them.
uint64_t ReadBits(const uint8_t* in, uint32_t count) {
  uint64_t v = 0;
  for (uint32_t i = 0; i < count; ++i) v = (v << 1) | (in[i] != 0 ? 1u : 0u);
  return v;
}

uint64_t FromParts(uint32_t bitLength, uint64_t mantissa, bool isSigned, bool negative) {
  // Leading one above the mantissa, modulo 2^64 (vanishes for L = 65).
  uint64_t n = mantissa;
  if (bitLength <= 64) n |= uint64_t(1) << (bitLength - 1);
  if (!isSigned) return n - 1;
  return negative ? uint64_t(0) - n : n - 1;
}

// --- delta codes ---

uint32_t DeltaLength(const SCodeParts& parts, bool isSigned) {
  return 2u * DeltaOnes(parts.bitLength) + parts.bitLength + (isSigned ? 1u : 0u);
}

uint32_t EncodeDelta(uint8_t* bits, uint32_t capacity, const SCodeParts& parts, bool isSigned) {
  uint32_t length = DeltaLength(parts, isSigned);
  if (capacity < length) return 0;
  uint32_t k = DeltaOnes(parts.bitLength);
  uint8_t* out = bits;
  for (uint32_t i = 0; i < k; ++i) *out++ = 1;
  *out++ = 0;
  out = WriteBits(out, parts.bitLength, k);
  if (isSigned) *out++ = parts.sign;
  WriteBits(out, parts.mantissa, parts.bitLength - 1);
  return length;
}

uint32_t DecodeDelta(const uint8_t* bits, uint32_t available, uint64_t& value, bool isSigned) {
  uint32_t k = 0;
  while (k < available && bits[k] != 0) ++k;
  if (k >= available) return 0;
  if (k > kDeltaMostOnes) return 0;
  uint32_t pos = k + 1;
  if (available - pos < k) return 0;
  uint32_t bitLength = (1u << k) | static_cast<uint32_t>(ReadBits(bits + pos, k));
  pos += k;
  uint32_t maxLength = isSigned ? kDeltaMostBitLength - 1 : kDeltaMostBitLength;
  if (bitLength > maxLength) return 0;
  uint32_t rest = bitLength - 1 + (isSigned ? 1u : 0u);
  if (available - pos < rest) return 0;
  bool negative = false;
  if (isSigned) negative = bits[pos++] != 0;
  uint64_t mantissa = ReadBits(bits + pos, bitLength - 1);
  pos += bitLength - 1;
  value = FromParts(bitLength, mantissa, isSigned, negative);
  return pos;
}

// --- fixed-prefix codes ---

bool FitsField(uint32_t bitLength, uint32_t width) {
  return uint64_t(bitLength) <= (uint64_t(1) << width);
}

uint32_t FixedLength(uint32_t width, const SCodeParts& parts, bool isSigned) {
  if (!FitsField(parts.bitLength, width)) return 0;
  return width + parts.bitLength - 1 + (isSigned ? 1u : 0u);
}

uint32_t EncodeFixed(uint32_t width, uint8_t* bits, uint32_t capacity, const SCodeParts& parts, bool isSigned) {
  uint32_t length = FixedLength(width, parts, isSigned);
  if (length == 0 || capacity < length) return 0;
  uint32_t mask = width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u);
  uint8_t* out = WriteBits(bits, parts.bitLength & mask, width);
  if (isSigned) *out++ = parts.sign;
  WriteBits(out, parts.mantissa, parts.bitLength - 1);
  return length;
}

uint32_t DecodeFixed(uint32_t width, const uint8_t* bits, uint32_t available, uint64_t& value, bool isSigned) {
  if (available < width) return 0;
  uint64_t field = ReadBits(bits, width);
  uint64_t bitLength = field == 0 ? (uint64_t(1) << width) : field;
  uint32_t maxLength = isSigned ? 64u : 65u;
  if (bitLength > maxLength) return 0;
  uint32_t pos = width;
  uint32_t rest = static_cast<uint32_t>(bitLength) - 1 + (isSigned ? 1u : 0u);
  if (available - pos < rest) return 0;
  bool negative = false;
  if (isSigned) negative = bits[pos++] != 0;
  uint64_t mantissa = ReadBits(bits + pos, static_cast<uint32_t>(bitLength) - 1);
  pos += static_cast<uint32_t>(bitLength) - 1;
  value = FromParts(static_cast<uint32_t>(bitLength), mantissa, isSigned, negative);
  return pos;
}

}  // namespace

bool SelectNumberCode(TNumberCode& code, uint32_t prefixWidth, bool isSigned) {
  if (prefixWidth > 32) return false;
  code.prefixWidth = prefixWidth;
  code.isSigned = isSigned;
  return true;
}

uint32_t NumberCodeLength(const TNumberCode& code, uint64_t value) {
  const SCodeParts parts = code.isSigned ? SignedParts(value) : UnsignedParts(value);
  return code.prefixWidth == 0 ? DeltaLength(parts, code.isSigned) : FixedLength(code.prefixWidth, parts, code.isSigned);
}

uint32_t EncodeNumber(const TNumberCode& code, uint8_t* bits, uint32_t capacity, uint64_t value) {
  const SCodeParts parts = code.isSigned ? SignedParts(value) : UnsignedParts(value);
  return code.prefixWidth == 0 ? EncodeDelta(bits, capacity, parts, code.isSigned)
                               : EncodeFixed(code.prefixWidth, bits, capacity, parts, code.isSigned);
}

uint32_t DecodeNumber(const TNumberCode& code, const uint8_t* bits, uint32_t available, uint64_t& value) {
  return code.prefixWidth == 0 ? DecodeDelta(bits, available, value, code.isSigned)
                               : DecodeFixed(code.prefixWidth, bits, available, value, code.isSigned);
}

void KodirovaniechiselStartup() {}
void KodirovaniechiselShutdown() {}

bool PackBits(uint8_t* buffer, uint32_t capacity, uint32_t& count) {
  if (count > capacity) return false;
  uint32_t bytes = count / 8 + (count % 8 != 0 ? 1u : 0u);
  for (uint32_t i = 0; i < bytes; ++i) {
    uint32_t first = 8 * i;
    uint32_t take = count - first < 8 ? count - first : 8;
    uint8_t b = 0;
    for (uint32_t j = 0; j < take; ++j) b |= static_cast<uint8_t>((buffer[first + j] & 1u) << j);
    buffer[i] = b;
  }
  count = bytes;
  return true;
}

bool UnpackBits(uint8_t* buffer, uint32_t capacity, uint32_t& count) {
  uint64_t bits = uint64_t(count) * 8;
  if (bits > capacity) return false;
  for (uint32_t i = count; i-- > 0;) {
    uint8_t b = buffer[i];
    for (uint32_t j = 8; j-- > 0;) buffer[8 * i + j] = static_cast<uint8_t>((b >> j) & 1u);
  }
  count = static_cast<uint32_t>(bits);
  return true;
}
