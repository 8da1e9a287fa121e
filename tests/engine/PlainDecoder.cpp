// The block decoder written plainly from docs/format.md and its rules for readers, one bit and one
// byte at a time, with every bound checked where it is met. It is slow and meant to be obviously
// right: the engine's decoder must give the same verdict and the same bytes for every input.
#include "PlainDecoder.h"

#include <cstddef>

namespace {

// The block's bytes, read forward; a read past the end fails.
struct TBytesIn {
  const uint8_t* data;
  uint64_t size;
  uint64_t at = 0;
  bool Byte(uint8_t& b) {
    if (at >= size) return false;
    b = data[at++];
    return true;
  }
  bool U32(uint32_t& v) {
    v = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t b;
      if (!Byte(b)) return false;
      v |= uint32_t(b) << (8 * i);
    }
    return true;
  }
};

// A bit section's words: B bits from ceil(B / 8) bytes, stream bit j being bit j mod 8 of byte
// j div 8.
struct TBitsIn {
  const uint8_t* data = nullptr;
  uint64_t count = 0, at = 0;
  bool Open(TBytesIn& in) {
    uint32_t bits;
    if (!in.U32(bits)) return false;
    count = bits;
    const uint64_t bytes = (count + 7) / 8;
    if (in.size - in.at < bytes) return false;
    data = in.data + in.at;
    in.at += bytes;
    return true;
  }
  bool Bit(uint32_t& b) {
    if (at >= count) return false;
    b = (data[at / 8] >> (at % 8)) & 1;
    ++at;
    return true;
  }
  // One delta-code word, its value's low 32 bits kept.
  bool Word(uint32_t& value) {
    uint32_t k = 0, b = 0;
    for (;;) {
      if (!Bit(b)) return false;
      if (b == 0) break;
      if (++k > 6) return false;
    }
    uint32_t bitLength = 1;
    for (uint32_t i = 0; i < k; ++i) {
      if (!Bit(b)) return false;
      bitLength = bitLength << 1 | b;
    }
    if (bitLength > 65) return false;
    uint64_t n = 1;  // modulo 2^64: L = 65 leaves the leading one out
    for (uint32_t i = 0; i + 1 < bitLength; ++i) {
      if (!Bit(b)) return false;
      n = n << 1 | b;
    }
    value = uint32_t(n - 1);
    return true;
  }
};

}  // namespace

bool PlainDecompress(const uint8_t* src, uint32_t srcLen, uint32_t capacity, std::vector<uint8_t>& out) {
  out.clear();
  if (srcLen == 0) return true;
  TBytesIn in{src, srcLen};
  uint32_t S, N;
  if (!in.U32(S) || capacity < S || !in.U32(N)) return false;
  if (N == 0) {  // stored form
    if (srcLen - 8 < S) return false;
    out.assign(src + 8, src + 8 + S);
    return true;
  }
  if (N > S) return false;
  std::vector<uint8_t> flags(N, 0);
  uint8_t tag;
  if (!in.Byte(tag)) return false;
  if (tag == 0) {
    if (in.size - in.at < (uint64_t(N) + 7) / 8) return false;
    for (uint32_t i = 0; i < N; ++i) flags[i] = (src[in.at + i / 8] >> (i % 8)) & 1;
    in.at += (uint64_t(N) + 7) / 8;
  } else {
    TBitsIn runs;
    uint32_t R;
    if (!runs.Open(in) || !runs.Word(R) || R > S) return false;
    uint64_t q = 0;
    uint8_t v = 0;
    for (uint32_t r = 0; r < R; ++r) {
      uint32_t stored;
      if (!runs.Word(stored)) return false;
      const uint64_t length = q == 0 ? stored : uint64_t(stored) + 1;
      if (q + length > N) return false;  // a run past the last flag: damage
      for (uint64_t i = q; i < q + length; ++i) flags[i] = v;
      q += length;
      v ^= 1;
    }
    if (q != N) return false;  // runs short of the last flag: damage
  }
  uint32_t literals = 0, ones = 0;
  for (uint8_t f : flags) (f != 0 ? ones : literals) += 1;
  if (literals > 0 && (!in.Byte(tag) || tag != 2)) return false;
  if (literals == 0 && in.at < in.size) ++in.at;  // the tag, there also for no literal
  if (in.size - in.at < literals) return false;
  const uint8_t* literal = src + in.at;
  in.at += literals;
  std::vector<uint32_t> distances, lengths;
  uint64_t total = literals;
  if (in.at < in.size && src[in.at] == 3) {
    ++in.at;
    TBitsIn pairs;
    uint32_t M;
    if (!pairs.Open(in) || !pairs.Word(M) || M > S) return false;
    for (uint32_t m = 0; m < M; ++m) {
      uint32_t distance, length;
      if (!pairs.Word(distance) || !pairs.Word(length)) return false;
      distances.push_back(distance);
      lengths.push_back(length);
      total += uint64_t(length) + 1;
    }
  }
  if (ones > distances.size() || total > capacity) return false;
  std::vector<uint8_t> stream;
  size_t match = 0;
  for (uint8_t f : flags) {
    if (f == 0) {
      stream.push_back(*literal++);
      continue;
    }
    const uint64_t d = uint64_t(distances[match]) + 1, l = uint64_t(lengths[match]) + 1;
    ++match;
    if (d > stream.size()) return false;
    for (uint64_t i = 0; i < l; ++i) stream.push_back(stream[stream.size() - d]);
  }
  // The pre-pass undone: 00 00 is a 0 byte, 00 c b (c from 1) is c copies of b.
  for (size_t i = 0; i < stream.size();) {
    if (stream[i] != 0) {
      out.push_back(stream[i++]);
    } else if (i + 1 < stream.size() && stream[i + 1] == 0) {
      out.push_back(0);
      i += 2;
    } else if (i + 2 < stream.size()) {
      out.insert(out.end(), stream[i + 1], stream[i + 2]);
      i += 3;
    } else {
      return false;  // the stream ends inside an escape item
    }
    if (out.size() > capacity) return false;
  }
  return true;
}
