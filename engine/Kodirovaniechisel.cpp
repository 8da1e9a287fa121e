// Four universal codes share one layout idea: a prefix that tells the bit length L of
// N = value + 1 (or of the magnitude m for signed values), an optional sign bit, then the L - 1
// bits of N below its leading one, most significant first.
//   delta code:        k = floor(log2 L) ones, a zero, the k bits of L below its leading one;
//   fixed-prefix code: L in a P-bit field, most significant first, L = 2^P written as zeros.
// N is formed in 65-bit arithmetic: value 2^64 - 1 has L = 65 and a mantissa of 64 zeros, and
// decoding rebuilds N modulo 2^64 (that is 0) and subtracts one, giving 2^64 - 1 back.
#include "engine/Kodirovaniechisel.h"

namespace {

typedef uint32_t (*TLengthOperation)(uint64_t);
typedef uint32_t (*TEncodeOperation)(uint8_t*, uint32_t, uint64_t);
typedef uint32_t (*TDecodeOperation)(const uint8_t*, uint32_t, uint64_t&);

struct SNumberCode {
  uint32_t prefixWidth;
  bool isSigned;
  TLengthOperation length;
  TEncodeOperation encode;
  TDecodeOperation decode;
};

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
  return 2u * HighestBit32(parts.bitLength) + parts.bitLength + (isSigned ? 1u : 0u);
}

uint32_t EncodeDelta(uint8_t* bits, uint32_t capacity, const SCodeParts& parts, bool isSigned) {
  uint32_t length = DeltaLength(parts, isSigned);
  if (capacity < length) return 0;
  uint32_t k = HighestBit32(parts.bitLength);
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
  // k ones announce L >= 2^k; anything beyond 2^6 + 63 is no code word of ours.
  if (k > 6) return 0;
  uint32_t pos = k + 1;
  if (available - pos < k) return 0;
  uint32_t bitLength = (1u << k) | static_cast<uint32_t>(ReadBits(bits + pos, k));
  pos += k;
  uint32_t maxLength = isSigned ? 64u : 65u;
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

uint32_t LengthDelta(uint64_t v) { return DeltaLength(UnsignedParts(v), false); }
uint32_t EncodeDeltaUnsigned(uint8_t* b, uint32_t c, uint64_t v) { return EncodeDelta(b, c, UnsignedParts(v), false); }
uint32_t DecodeDeltaUnsigned(const uint8_t* b, uint32_t a, uint64_t& v) { return DecodeDelta(b, a, v, false); }
uint32_t LengthSignedDelta(uint64_t v) { return DeltaLength(SignedParts(v), true); }
uint32_t EncodeDeltaSigned(uint8_t* b, uint32_t c, uint64_t v) { return EncodeDelta(b, c, SignedParts(v), true); }
uint32_t DecodeDeltaSigned(const uint8_t* b, uint32_t a, uint64_t& v) { return DecodeDelta(b, a, v, true); }

// --- fixed-prefix codes ---

SNumberCode current;

bool FitsField(uint32_t bitLength, uint32_t width) {
  return uint64_t(bitLength) <= (uint64_t(1) << width);
}

uint32_t FixedLength(const SCodeParts& parts, bool isSigned) {
  uint32_t width = current.prefixWidth;
  if (!FitsField(parts.bitLength, width)) return 0;
  return width + parts.bitLength - 1 + (isSigned ? 1u : 0u);
}

uint32_t EncodeFixed(uint8_t* bits, uint32_t capacity, const SCodeParts& parts, bool isSigned) {
  uint32_t length = FixedLength(parts, isSigned);
  if (length == 0 || capacity < length) return 0;
  uint32_t width = current.prefixWidth;
  uint32_t mask = width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u);
  uint8_t* out = WriteBits(bits, parts.bitLength & mask, width);
  if (isSigned) *out++ = parts.sign;
  WriteBits(out, parts.mantissa, parts.bitLength - 1);
  return length;
}

uint32_t DecodeFixed(const uint8_t* bits, uint32_t available, uint64_t& value, bool isSigned) {
  uint32_t width = current.prefixWidth;
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

uint32_t LengthFixedUnsigned(uint64_t v) { return FixedLength(UnsignedParts(v), false); }
uint32_t EncodeFixedUnsigned(uint8_t* b, uint32_t c, uint64_t v) { return EncodeFixed(b, c, UnsignedParts(v), false); }
uint32_t DecodeFixedUnsigned(const uint8_t* b, uint32_t a, uint64_t& v) { return DecodeFixed(b, a, v, false); }
uint32_t LengthFixedSigned(uint64_t v) { return FixedLength(SignedParts(v), true); }
uint32_t EncodeFixedSigned(uint8_t* b, uint32_t c, uint64_t v) { return EncodeFixed(b, c, SignedParts(v), true); }
uint32_t DecodeFixedSigned(const uint8_t* b, uint32_t a, uint64_t& v) { return DecodeFixed(b, a, v, true); }

}  // namespace

void KodirovaniechiselStartup() { SelectNumberCode(0, false); }
void KodirovaniechiselShutdown() {}

void SelectNumberCode(uint32_t prefixWidth, bool isSigned) {
  if (prefixWidth > 32) return;
  current.prefixWidth = prefixWidth;
  current.isSigned = isSigned;
  if (prefixWidth == 0) {
    current.length = isSigned ? LengthSignedDelta : LengthDelta;
    current.encode = isSigned ? EncodeDeltaSigned : EncodeDeltaUnsigned;
    current.decode = isSigned ? DecodeDeltaSigned : DecodeDeltaUnsigned;
  } else {
    current.length = isSigned ? LengthFixedSigned : LengthFixedUnsigned;
    current.encode = isSigned ? EncodeFixedSigned : EncodeFixedUnsigned;
    current.decode = isSigned ? DecodeFixedSigned : DecodeFixedUnsigned;
  }
}

uint32_t CurrentPrefixWidth() { return current.prefixWidth; }
bool CurrentCodeIsSigned() { return current.isSigned; }

// The slots start bound to the delta code even before the unit's start-up runs.
static TLengthOperation BoundLength() { return current.length ? current.length : LengthDelta; }
static TEncodeOperation BoundEncode() { return current.encode ? current.encode : EncodeDeltaUnsigned; }
static TDecodeOperation BoundDecode() { return current.decode ? current.decode : DecodeDeltaUnsigned; }

uint32_t NumberCodeLength(uint64_t value) { return BoundLength()(value); }
uint32_t EncodeNumber(uint8_t* bits, uint32_t capacity, uint64_t value) { return BoundEncode()(bits, capacity, value); }
uint32_t DecodeNumber(const uint8_t* bits, uint32_t available, uint64_t& value) { return BoundDecode()(bits, available, value); }

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
