// Block compression in four stages.
//  1. Run-length pre-pass: runs of three or more equal bytes become records 0, count, byte;
//     a lone zero becomes 0, 0 (zero is the escape). The output S is at most twice the block.
//  2. Greedy parse of the pre-pass output. Every position is filed in the bucket of its two-byte
//     key (byte p low, byte p + 1 high, 0 past the end); a bucket keeps its 256 newest positions.
//     At each position the candidates are walked from the nearest: starting at cur - 2, a
//     candidate whose two bytes equal the current two is measured and the walk steps back one
//     byte; otherwise it jumps to the next older bucket entry. A candidate becomes the best only
//     when it is strictly longer and its delta-coded distance and length plus one flag bit cost
//     fewer bits than its bytes as literals, so the nearest of equally long matches wins. Matches
//     never overlap their source (length <= distance). MatchFinder.h computes this same parse
//     without walking every candidate.
//  3. Sections: token flags (packed, or as alternating runs when that is cheaper), the literal
//     bytes, and the matches as delta-coded distance - 1 and length - 1, bits packed LSB first.
//  4. A result longer than the block is replaced by the stored form (header n, 0, the bytes).
// Decompression checks every count and bound before it trusts it: runs must add up to the token
// count, every match flag needs a decoded match, distances may not reach before the output's
// start, no section may run past the block, and the restored length may not exceed the capacity.
#include "engine/Compression.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/Kodirovaniechisel.h"
#include "engine/MatchFinder.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciispamyatyu.h"

namespace {

bool compressionEnabled = true;

const uint64_t kKeyTableBytes = 65536ull * 1028;  // 67,371,008: 65,536 buckets of 1,028 bytes

uint32_t WriteStored(uint8_t* dst, const uint8_t* src, uint32_t n) {
  Store32(dst, n);
  Store32(dst + 4, 0);
  MoveBytes(dst + 8, src, n);
  return n + 8;
}

using matchfinder::Load64;

// Nonzero exactly when some byte of w is 0; its lowest set bit is the top bit of the first such
// byte.
inline uint64_t ZeroBytesMask(uint64_t w) {
  return (w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull;
}

}  // namespace

void CompressionStartup() { compressionEnabled = true; }

void CompressionShutdown() {}

bool RunLengthPack(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen) {
  dstLen = 0;
  uint32_t out = 0;
  uint32_t pos = 0;
  while (pos < srcLen) {
    // The bytes before the first zero or the first start of three equal bytes, among the next
    // eight, are copied as they are. No pair of equal bytes crosses that point (it would make the
    // byte before it a zero or a start of three), and a pair cut at the eighth comes out the same
    // either way. dst has room for the whole eight: out <= 2 * pos, and pos + 10 <= srcLen.
    if (srcLen - pos >= 10) {
      const uint64_t w0 = Load64(src + pos), w1 = Load64(src + pos + 1), w2 = Load64(src + pos + 2);
      const uint64_t special = ZeroBytesMask(w0) | ZeroBytesMask((w0 ^ w1) | (w1 ^ w2));
      const uint32_t plain = special == 0 ? 8 : static_cast<uint32_t>(__builtin_ctzll(special)) / 8;
      if (plain != 0) {
        std::memcpy(dst + out, src + pos, 8);
        out += plain;
        pos += plain;
        continue;
      }
    }
    uint8_t b = src[pos];
    uint32_t run = 1;
    while (pos + run < srcLen && src[pos + run] == b) ++run;
    if (run < 3) {
      for (uint32_t i = 0; i < run; ++i) {
        if (b != 0) {
          dst[out++] = b;
        } else {
          dst[out++] = 0;
          dst[out++] = 0;
        }
      }
    } else {
      uint32_t left = run;
      while (left >= 255) {
        dst[out++] = 0;
        dst[out++] = 255;
        dst[out++] = b;
        left -= 255;
      }
      if (left > 0) {
        dst[out++] = 0;
        dst[out++] = static_cast<uint8_t>(left);
        dst[out++] = b;
      }
    }
    pos += run;
  }
  dstLen = out;
  return true;
}

bool RunLengthUnpackLimited(uint8_t* dst, uint32_t dstCapacity, uint32_t& dstLen,
                            const uint8_t* src, uint32_t srcLen) {
  dstLen = 0;
  uint32_t out = 0;
  uint32_t pos = 0;
  bool ok = true;
  while (pos < srcLen) {
    if (src[pos] != 0) {
      // Plain bytes up to the next escape are copied as one stretch.
      const void* zero = std::memchr(src + pos, 0, srcLen - pos);
      uint32_t end = zero ? static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - src) : srcLen;
      uint32_t stretch = end - pos;
      if (dstCapacity - out < stretch) { ok = false; break; }
      std::memcpy(dst + out, src + pos, stretch);
      out += stretch;
      pos = end;
      continue;
    }
    if (srcLen - pos < 2) { ok = false; break; }
    uint8_t count = src[pos + 1];
    if (count == 0) {
      if (out == dstCapacity) { ok = false; break; }
      dst[out++] = 0;
      pos += 2;
      continue;
    }
    if (srcLen - pos < 3 || dstCapacity - out < count) { ok = false; break; }
    std::memset(dst + out, src[pos + 2], count);
    out += count;
    pos += 3;
  }
  dstLen = out;
  return ok;
}

bool RunLengthUnpack(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen) {
  return RunLengthUnpackLimited(dst, 0xFFFFFFFFu, dstLen, src, srcLen);
}

bool SetCompression(bool enabled) {
  TMemoryLock guard;
  compressionEnabled = enabled;
  return true;
}

bool CompressionEnabled() { return compressionEnabled; }

uint64_t CompressBoundFor(uint32_t n) { return uint64_t(n) * 9 / 4 + 27; }

uint64_t CompressWorkAreaSize(uint32_t S) {
  uint64_t used = 22ull * S + kKeyTableBytes;
  return used + used / 2;  // floor(1.5 x used)
}

// The key table comes first, so that it lies at the same place whatever the block: an area reused
// for many blocks keeps its key counts where the next block looks for them.
SCompressWork CompressWorkLayout(uint8_t* area, uint32_t S) {
  SCompressWork w;
  w.keyTable = area;
  w.bits = area + (CompressWorkAreaSize(S) - 22ull * S);
  w.flags = w.bits + 9ull * S;
  w.runs = w.flags + S;
  w.distances = w.runs + 4ull * S;
  w.lengths = w.distances + 4ull * S;
  return w;
}

bool SearchMatches(const uint8_t* s, uint32_t S, const SCompressWork& work, uint32_t& tokenCount,
                   uint32_t& matchCount) {
  // The key-table part of the work area runs from work.keyTable up to work.bits.
  const uint64_t keyAreaBytes = CompressWorkAreaSize(S) - 22ull * S;
  tokenCount = matchCount = 0;
  return matchfinder::FindMatches(s, S, work, keyAreaBytes, tokenCount, matchCount);
}

namespace {

uint64_t ReverseBits64(uint64_t x) {
  x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
  x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
  x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
  return __builtin_bswap64(x);
}

// Code words of values below kShortCodeValues by one look-up: an entry holds the word's bits in
// stream order in its low 24 bits and its length above.
const uint32_t kShortCodeValues = 1024;
struct SShortCodes {
  uint32_t entry[kShortCodeValues];
  constexpr SShortCodes() : entry() {
    for (uint32_t value = 0; value < kShortCodeValues; ++value) {
      const uint32_t n = value + 1;
      uint32_t bitLength = 0, k = 0;
      while ((n >> bitLength) != 0) ++bitLength;
      while ((bitLength >> (k + 1)) != 0) ++k;
      uint32_t bits = (1u << k) - 1, count = k + 1;
      for (uint32_t i = k; i-- > 0; ++count) bits |= ((bitLength >> i) & 1) << count;
      for (uint32_t i = bitLength - 1; i-- > 0; ++count) bits |= ((n >> i) & 1) << count;
      entry[value] = bits | count << 24;
    }
  }
};
constexpr SShortCodes kShortCodes;

// Writes unsigned delta-code words (prefix width 0) as packed bits straight into a section: k
// ones and a zero, the k bits of L below its leading one, then the L - 1 bits of n = value + 1
// below its leading one, each field most significant bit first; stream bit j is bit j mod 8 of
// byte j div 8. Only whole bytes are stored until Finish, so nothing beyond the section's last
// byte is written.
class TDeltaWriter {
 public:
  explicit TDeltaWriter(uint8_t* out) : out_(out) {}

  void Put(uint32_t value) {
    if (value < kShortCodeValues) {
      const uint32_t entry = kShortCodes.entry[value];
      Append(entry & 0xFFFFFF, entry >> 24);
      return;
    }
    const uint64_t n = uint64_t(value) + 1;
    const uint32_t bitLength = 64u - static_cast<uint32_t>(__builtin_clzll(n));
    const uint32_t k = 31u - static_cast<uint32_t>(__builtin_clz(bitLength));
    const uint64_t lengthField = k == 0 ? 0 : ReverseBits64(bitLength) >> (64 - k);
    Append(((uint64_t(1) << k) - 1) | lengthField << (k + 1), 2 * k + 1);
    const uint32_t m = bitLength - 1;
    if (m != 0) Append(ReverseBits64(n) >> (64 - m), m);
  }

  // Stores the last bits; returns the number of bits written.
  uint64_t Finish() {
    for (uint32_t left = filled_; left > 0; left = left > 8 ? left - 8 : 0) {
      *out_++ = static_cast<uint8_t>(bits_);
      bits_ >>= 8;
    }
    return total_;
  }

 private:
  // count <= 32 bits, the first in the lowest bit.
  void Append(uint64_t bits, uint32_t count) {
    bits_ |= bits << filled_;
    filled_ += count;
    total_ += count;
    if (filled_ >= 32) {
      Store32(out_, static_cast<uint32_t>(bits_));
      out_ += 4;
      bits_ >>= 32;
      filled_ -= 32;
    }
  }

  uint8_t* out_;
  uint64_t total_ = 0;
  uint64_t bits_ = 0;
  uint32_t filled_ = 0;
};

// Writes a bit section: its tag, its bit count and its packed words (count, then values).
template <typename TValues>
uint32_t WriteBitSection(uint8_t* dst, uint8_t tag, uint32_t count, const TValues& valuesInto) {
  dst[0] = tag;
  TDeltaWriter writer(dst + 5);
  writer.Put(count);
  valuesInto(writer);
  const uint64_t bitCount = writer.Finish();
  Store32(dst + 1, static_cast<uint32_t>(bitCount));
  return 5 + static_cast<uint32_t>((bitCount + 7) / 8);
}

}  // namespace

uint32_t WriteCompressedForm(uint8_t* dst, const uint8_t* s, uint32_t S, const SCompressWork& work,
                             uint32_t N, uint32_t M) {
  Store32(dst, S);
  Store32(dst + 4, N);
  uint32_t out = 8;

  // Flag runs: alternating, starting with zeros; while still at flag 0 the length itself is
  // stored, afterwards the length minus one.
  uint32_t runCount = 0;
  uint64_t runCost = 0;
  {
    uint32_t q = 0;
    uint8_t expected = 0;
    while (q < N) {
      uint32_t start = q;
      while (q < N && work.flags[q] == expected) ++q;
      uint32_t length = q - start;
      uint32_t stored = start == 0 ? length : length - 1;
      Store32(work.runs + 4ull * runCount, stored);
      ++runCount;
      runCost += DeltaCodeLength(stored);
      expected ^= 1;
    }
  }
  if (N <= runCost) {
    dst[out++] = 0;
    uint32_t bytes = (N + 7) / 8;
    std::memset(dst + out, 0, bytes);
    for (uint32_t t = 0; t < N; ++t) dst[out + t / 8] |= static_cast<uint8_t>(work.flags[t] << (t % 8));
    out += bytes;
  } else {
    out += WriteBitSection(dst + out, 1, runCount, [&](TDeltaWriter& writer) {
      for (uint32_t r = 0; r < runCount; ++r) writer.Put(Load32(work.runs + 4ull * r));
    });
  }

  dst[out++] = 2;
  {
    uint32_t pos = 0, m = 0;
    for (uint32_t t = 0; t < N; ++t) {
      if (work.flags[t] == 0) {
        dst[out++] = s[pos++];
      } else {
        pos += Load32(work.lengths + 4ull * m) + 1;
        ++m;
      }
    }
  }

  out += WriteBitSection(dst + out, 3, M, [&](TDeltaWriter& writer) {
    for (uint32_t m = 0; m < M; ++m) {
      writer.Put(Load32(work.distances + 4ull * m));
      writer.Put(Load32(work.lengths + 4ull * m));
    }
  });
  return out;
}

bool CreateBlockWork(SBlockWork& work, uint32_t maxBlock) {
  FreeBlockWork(work);
  // The pre-pass writes at most twice the block.
  if (maxBlock == 0 || 4ull * maxBlock > 0xFFFFFFFFull) return false;
  Create(work.prePass, 4 * maxBlock);
  if (work.prePass == nullptr) return false;
  work.maxBlock = maxBlock;
  return true;
}

void FreeBlockWork(SBlockWork& work) {
  if (work.prePass != nullptr) Free(work.prePass);
  if (work.area != nullptr) Free(work.area);
  work = SBlockWork();
}

namespace {

// Makes the work area fit a pre-pass output of S bytes. The first time it asks for the area the
// largest block needs, so that one area serves every block (its pages are touched only as far as
// blocks use them); when that much cannot be had, it asks for what this block needs with room for
// a quarter more, or for exactly that, and grows again only when a later block needs more.
bool EnsureWorkArea(SBlockWork& work, uint32_t S) {
  const uint64_t needed = CompressWorkAreaSize(S);
  if (work.area != nullptr && work.areaBytes >= needed) return true;
  const bool first = work.area == nullptr;
  if (work.area != nullptr) Free(work.area);
  work.area = nullptr;
  work.areaBytes = 0;
  const uint64_t largest = CompressWorkAreaSize(uint32_t(std::min<uint64_t>(2ull * work.maxBlock, 0xFFFFFFFFull)));
  const uint64_t roomy = CompressWorkAreaSize(uint32_t(std::min<uint64_t>(S + uint64_t(S) / 4, 2ull * work.maxBlock)));
  for (uint64_t size : {first ? largest : roomy, roomy, needed}) {
    if (size > 0xFFFFFFFFull || size < needed) continue;
    Create(work.area, uint32_t(size));
    if (work.area != nullptr) {
      work.areaBytes = size;
      return true;
    }
  }
  return false;
}

// The blocks that need no search: the empty block (no bytes at all), and every block while
// compression is off (the stored form).
bool WithoutSearch(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t n) {
  if (n == 0)
    dstLen = 0;
  else if (!compressionEnabled)
    dstLen = WriteStored(dst, src, n);
  else
    return false;
  return true;
}

// A block that needs the search, in a work area made for blocks of at least n bytes.
bool SearchedBlock(SBlockWork& work, uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t n) {
  if (n > work.maxBlock || work.prePass == nullptr) return false;
  uint32_t S = 0;
  RunLengthPack(work.prePass, S, src, n);
  if (!EnsureWorkArea(work, S)) return false;
  SCompressWork layout = CompressWorkLayout(work.area, S);
  layout.abandon = work.abandon;
  uint32_t N = 0, M = 0;
  if (!SearchMatches(work.prePass, S, layout, N, M)) return false;
  const uint32_t written = WriteCompressedForm(dst, work.prePass, S, layout, N, M);
  dstLen = written > n ? WriteStored(dst, src, n) : written;
  return true;
}

}  // namespace

bool CompressBlockIn(SBlockWork& work, uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen) {
  return WithoutSearch(dst, dstLen, src, srcLen) || SearchedBlock(work, dst, dstLen, src, srcLen);
}

bool CompressBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen) {
  if (WithoutSearch(dst, dstLen, src, srcLen)) return true;
  SBlockWork work;
  if (!CreateBlockWork(work, srcLen)) return false;
  const bool done = SearchedBlock(work, dst, dstLen, src, srcLen);
  FreeBlockWork(work);
  return done;
}

namespace {

uint32_t BytesForBits(uint32_t bits) { return bits / 8 + (bits % 8 != 0 ? 1u : 0u); }

// The prefix of a word (k ones, a zero, the k bits of L below its leading one) at the start of
// bits, stream bit j being bit j: its k and L when all of its 2k + 1 bits lie within the first
// width bits.
constexpr bool PrefixWithin(uint32_t bits, uint32_t width, uint32_t& k, uint32_t& bitLength) {
  k = 0;
  while (k < width && ((bits >> k) & 1u) != 0) ++k;
  if (2 * k + 1 > width) return false;
  bitLength = 1;
  for (uint32_t j = 0; j < k; ++j) bitLength = (bitLength << 1) | ((bits >> (k + 1 + j)) & 1u);
  return true;
}

const uint32_t kShortWordBits = 12;
// Words of at most 12 bits by one look-up: indexed by the next 12 stream bits, an entry holds
// the word's length in its low byte (0: a longer word or none) and its value above.
struct SShortWords {
  uint32_t entry[1u << kShortWordBits];
  constexpr SShortWords() : entry() {
    for (uint32_t i = 0; i < (1u << kShortWordBits); ++i) {
      uint32_t k = 0, bitLength = 0;
      if (!PrefixWithin(i, kShortWordBits, k, bitLength)) continue;
      uint32_t p = 2 * k + 1;
      if (p + bitLength - 1 > kShortWordBits) continue;
      uint32_t n = 1;
      for (uint32_t j = 0; j + 1 < bitLength; ++j) n = (n << 1) | ((i >> p++) & 1u);
      entry[i] = ((n - 1) << 8) | p;
    }
  }
};
// Bit reversal of one byte.
struct SByteReversal {
  uint8_t entry[256];
  constexpr SByteReversal() : entry() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = 0;
      for (uint32_t j = 0; j < 8; ++j) r |= ((i >> j) & 1u) << (7 - j);
      entry[i] = static_cast<uint8_t>(r);
    }
  }
};
// The prefix of a word from its first nine stream bits, when k <= 4: an entry holds L << 8 | k,
// and 0 for a longer prefix.
const uint32_t kPrefixBits = 9;
struct SPrefixes {
  uint16_t entry[1u << kPrefixBits];
  constexpr SPrefixes() : entry() {
    for (uint32_t i = 0; i < (1u << kPrefixBits); ++i) {
      uint32_t k = 0, bitLength = 0;
      if (PrefixWithin(i, kPrefixBits, k, bitLength)) entry[i] = static_cast<uint16_t>(bitLength << 8 | k);
    }
  }
};
constexpr SShortWords kShortWords{};
constexpr SPrefixes kPrefixes{};
constexpr SByteReversal kByteReversal{};

// Unsigned delta-code words read straight from packed section bytes (stream bit j is bit j mod 8
// of byte j div 8), never past bitCount bits, which the caller has checked to lie inside the
// block. Each word keeps the low 32 bits of its value. A word is refused, as undecodable, when
// no zero closes its k ones within k <= 6, when its length field exceeds 65, or when the bits
// that remain do not hold it.
class TDeltaReader {
 public:
  TDeltaReader(const uint8_t* bytes, uint32_t bitCount)
      : bytes_(bytes), bitCount_(bitCount), byteCount_(BytesForBits(bitCount)), fastLimit_(0), pos_(0) {
    // Below fastLimit_ at least 57 bits are left and 8 whole bytes can be read from the current
    // byte on.
    if (bitCount_ >= 57 && byteCount_ >= 8) {
      const uint32_t byBits = bitCount_ - 57 + 1;
      const uint32_t byBytes = (byteCount_ - 8) * 8 + 8;
      fastLimit_ = byBits < byBytes ? byBits : byBytes;
    }
  }

  bool Read(uint32_t& value) {
    if (pos_ < fastLimit_) {
      const uint32_t used = WordAt(Window(), value);
      if (used != 0) {
        pos_ += used;
        return true;
      }
    }
    return ReadSlow(&value);
  }

  // The word after one of `used` bits at the start of the window w: from w itself when it is a
  // short word that still lies inside w, else from the bits.
  bool ReadAfter(uint64_t w, uint32_t used, uint32_t& second) {
    if (used <= 57 - kShortWordBits) {
      const uint32_t entry = kShortWords.entry[(w >> used) & ((1u << kShortWordBits) - 1)];
      if (entry != 0) {
        second = entry >> 8;
        pos_ += used + (entry & 0xFF);
        return true;
      }
    }
    pos_ += used;
    return Read(second);
  }

  // Two words in a row, from one load of the bits where they fit in it.
  bool ReadPair(uint32_t& first, uint32_t& second) {
    if (pos_ < fastLimit_) {
      const uint64_t w = Window();
      const uint32_t used = LongWordAt(w, first);
      if (used != 0) {
        return ReadAfter(w, used, second);
      }
    }
    return ReadSlow(&first) && Read(second);
  }

  // Moves past one word without forming its value, then reads the next; refuses exactly what
  // ReadPair refuses.
  bool SkipThenRead(uint32_t& second) {
    if (pos_ < fastLimit_) {
      const uint64_t w = Window();
      const uint32_t used = LongLengthAt(w);
      if (used != 0) {
        return ReadAfter(w, used, second);
      }
    }
    return ReadSlow(nullptr) && Read(second);
  }

 private:
  // The word at the start of w, which holds at least 57 stream bits: its length in bits, or 0
  // when it is longer than that or does not decode (the bit-by-bit reading then decides).
  static uint32_t WordAt(uint64_t w, uint32_t& value) {
    const uint32_t entry = kShortWords.entry[w & ((1u << kShortWordBits) - 1)];
    if (entry != 0) {
      value = entry >> 8;
      return entry & 0xFF;
    }
    return LongWordAt(w, value);
  }
  // The same without the look-up, for words that are seldom short (distances): fewer branches
  // that the processor cannot foresee. The L - 1 mantissa bits come most significant first.
  static uint32_t LongWordAt(uint64_t w, uint32_t& value) {
    uint32_t k, bitLength;
    if (!Prefix(w, k, bitLength)) return 0;
    const uint32_t total = 2 * k + bitLength;
    if (total > 57) return 0;
    const uint32_t m = bitLength - 1;
    const uint64_t field = (w >> (2 * k + 1)) & ((uint64_t(1) << m) - 1);
    const uint64_t n = ((ReverseBits64(field) >> 1) >> (63 - m)) | (uint64_t(1) << m);
    value = static_cast<uint32_t>(n - 1);
    return total;
  }
  static uint32_t LongLengthAt(uint64_t w) {
    uint32_t k, bitLength;
    if (!Prefix(w, k, bitLength)) return 0;
    const uint32_t total = 2 * k + bitLength;
    return total > 57 ? 0 : total;
  }
  uint64_t WindowAt(uint32_t pos) const {
    uint64_t w;
    std::memcpy(&w, bytes_ + (pos >> 3), 8);
    return w >> (pos & 7);
  }
  uint64_t Window() const { return WindowAt(pos_); }
  // k and L of the word at the start of w, which holds at least 57 stream bits: by one look-up
  // for k <= 4, which covers every value below 2^31 - 1.
  static bool Prefix(uint64_t w, uint32_t& k, uint32_t& bitLength) {
    const uint32_t entry = kPrefixes.entry[w & ((1u << kPrefixBits) - 1)];
    if (entry != 0) {
      k = entry & 0xFF;
      bitLength = entry >> 8;
      return true;
    }
    const uint64_t zeros = ~w;
    k = static_cast<uint32_t>(__builtin_ctzll(zeros | (uint64_t(1) << 63)));
    if (k > 6) return false;
    const uint32_t field = static_cast<uint32_t>(w >> (k + 1)) & ((1u << k) - 1u);
    bitLength = (1u << k) | (kByteReversal.entry[field] >> (8 - k));
    return bitLength <= 65;
  }
  uint32_t Bit(uint32_t j) const { return (bytes_[j >> 3] >> (j & 7)) & 1u; }

  bool ReadSlow(uint32_t* value) {
    uint32_t p = pos_;
    uint32_t k = 0;
    while (p < bitCount_ && Bit(p) != 0 && k <= 6) {
      ++k;
      ++p;
    }
    if (k > 6 || p >= bitCount_) return false;
    ++p;
    if (bitCount_ - p < k) return false;
    uint32_t bitLength = 1;
    for (uint32_t i = 0; i < k; ++i) bitLength = (bitLength << 1) | Bit(p++);
    if (bitLength > 65) return false;
    if (bitCount_ - p < bitLength - 1) return false;
    uint64_t n = 1;
    for (uint32_t i = 0; i + 1 < bitLength; ++i) n = (n << 1) | Bit(p++);
    if (value != nullptr) *value = static_cast<uint32_t>(n - 1);
    pos_ = p;
    return true;
  }

  const uint8_t* bytes_;
  uint32_t bitCount_;
  uint32_t byteCount_;
  uint32_t fastLimit_;
  uint32_t pos_;
};

// A plain flag section read as alternating runs of equal flags, up to 57 flags per step.
class TPlainFlagRuns {
 public:
  TPlainFlagRuns(const uint8_t* bytes, uint32_t N) : bytes_(bytes), byteCount_(BytesForBits(N)), N_(N), q_(0) {}

  // The 0 flags from the current one on, up to 57 of them, and whether a 1 flag ends them;
  // moves past both.
  uint32_t NextLiterals(bool& matchFollows) {
    const uint32_t valid = N_ - q_ < 57 ? N_ - q_ : 57;
    const uint64_t w = Window(q_) | (uint64_t(1) << valid);
    const uint32_t zeros = static_cast<uint32_t>(__builtin_ctzll(w));
    matchFollows = zeros < valid;
    q_ += zeros + (matchFollows ? 1u : 0u);
    return zeros;
  }
  bool AtEnd() const { return q_ >= N_; }

  // Length of the run of flags equal to v that starts at the current flag; moves past it.
  bool Next(uint32_t v, uint32_t& length) {
    const uint32_t start = q_;
    while (q_ < N_) {
      uint64_t w = Window(q_);
      if (v != 0) w = ~w;
      const uint32_t valid = N_ - q_ < 57 ? N_ - q_ : 57;
      const uint32_t run = w == 0 ? 64u : static_cast<uint32_t>(__builtin_ctzll(w));
      if (run < valid) {
        q_ += run;
        break;
      }
      q_ += valid;
    }
    length = q_ - start;
    return true;
  }

 private:
  // The flags from q on in the low bits (at least 57 of them, or all that are left).
  uint64_t Window(uint32_t q) const {
    const uint32_t byte = q >> 3;
    uint64_t w = 0;
    if (byteCount_ - byte >= 8) {
      std::memcpy(&w, bytes_ + byte, 8);
    } else {
      for (uint32_t i = 0; byte + i < byteCount_; ++i) w |= uint64_t(bytes_[byte + i]) << (8 * i);
    }
    return w >> (q & 7);
  }

  const uint8_t* bytes_;
  uint32_t byteCount_;
  uint32_t N_;
  uint32_t q_;
};

// The run form of the flags, read run by run; CheckFlagRuns has checked it beforehand.
class TStoredFlagRuns {
 public:
  TStoredFlagRuns(const uint8_t* bytes, uint32_t bitCount) : reader_(bytes, bitCount), q_(0) {
    uint32_t runCount = 0;
    reader_.Read(runCount);
  }

  bool Next(uint32_t, uint32_t& length) {
    uint32_t stored = 0;
    if (!reader_.Read(stored)) return false;
    length = stored + (q_ != 0 ? 1u : 0u);
    q_ += length;
    return true;
  }

 private:
  TDeltaReader reader_;
  uint64_t q_;
};

inline void Copy16(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 16); }

// How a rebuild ended: done, refused (a pair that does not decode or a distance that reaches
// before the output's start), or stopped because the output would not fit in the region given.
enum class ERebuild { kDone, kRefused, kPastRegion };

// Appends count literals at out[at]; false when they do not fit in the region.
__attribute__((always_inline)) inline bool AppendLiterals(uint8_t* out, uint32_t& at, uint32_t regionLen,
                                                         const uint8_t*& literals, const uint8_t* literalsEnd,
                                                         uint32_t count) {
  if (count > regionLen - at) return false;
  if (count <= 16 && regionLen - at >= 16 && literalsEnd - literals >= 16) {
    Copy16(out + at, literals);
  } else {
    std::memcpy(out + at, literals, count);
  }
  literals += count;
  at += count;
  return true;
}

// Appends at out[at] the match of the next pair.
__attribute__((always_inline)) inline ERebuild AppendMatch(uint8_t* out, uint32_t& at, uint32_t regionLen,
                                                           TDeltaReader& matches) {
  uint32_t distanceCode = 0, lengthCode = 0;
  if (!matches.ReadPair(distanceCode, lengthCode)) return ERebuild::kRefused;
  const uint64_t distance = uint64_t(distanceCode) + 1;
  const uint64_t length = uint64_t(lengthCode) + 1;
  if (distance > at) return ERebuild::kRefused;
  if (length > regionLen - at) return ERebuild::kPastRegion;
  uint8_t* to = out + at;
  const uint8_t* from = to - distance;
  if (distance >= 16 && length <= 32 && regionLen - at >= 32) {
    // Two 16-byte steps: the second may read what the first wrote, as a byte-by-byte copy
    // would, since the source lies at least 16 bytes back.
    Copy16(to, from);
    Copy16(to + 16, from + 16);
  } else if (distance >= length) {
    std::memcpy(to, from, length);
  } else {
    // The source overlaps the bytes being produced: byte by byte.
    for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
  }
  at += static_cast<uint32_t>(length);
  return ERebuild::kDone;
}

// Rebuilds the pre-pass output at out[0 .. regionLen) from the flags, the literals and the
// (distance - 1, length - 1) pairs read from matches, and gives its length in built. Each pair is
// decoded where its match flag is met, so that the serial reading of the bit positions and the
// copies overlap. The caller has checked that there are at least as many pairs as match flags.
// Fixed-size copies may write up to 32 bytes past a token while that stays inside the region: the
// tokens that follow overwrite them. literalsEnd bounds the over-reads of the literal copies.
// Plain flags are taken a match at a time, with the literals before it, so that no loop depends on
// the length of a run of equal flags.
template <typename TFlagRuns>
ERebuild RebuildPrePass(TFlagRuns& flagRuns, uint32_t N, uint8_t* out, uint32_t regionLen, const uint8_t* literals,
                        const uint8_t* literalsEnd, TDeltaReader& matchReader, uint32_t& built) {
  // Local copies, so that their state stays in registers across the byte stores.
  TFlagRuns runs = flagRuns;
  TDeltaReader matches = matchReader;
  ERebuild result = ERebuild::kDone;
  uint32_t at = 0;
  if constexpr (std::is_same<TFlagRuns, TPlainFlagRuns>::value) {
    while (!runs.AtEnd()) {
      bool matchFollows = false;
      const uint32_t count = runs.NextLiterals(matchFollows);
      if (!AppendLiterals(out, at, regionLen, literals, literalsEnd, count)) {
        result = ERebuild::kPastRegion;
        break;
      }
      if (matchFollows) {
        result = AppendMatch(out, at, regionLen, matches);
        if (result != ERebuild::kDone) break;
      }
    }
  } else {
    uint32_t q = 0;
    uint32_t v = 0;
    while (q < N) {
      uint32_t count = 0;
      if (!runs.Next(v, count) || count > N - q) {
        result = ERebuild::kRefused;
        break;
      }
      q += count;
      if (v == 0) {
        if (!AppendLiterals(out, at, regionLen, literals, literalsEnd, count)) {
          result = ERebuild::kPastRegion;
          break;
        }
      } else {
        for (uint32_t m = 0; m < count; ++m) {
          result = AppendMatch(out, at, regionLen, matches);
          if (result != ERebuild::kDone) break;
        }
        if (result != ERebuild::kDone) break;
      }
      v ^= 1;
    }
  }
  matchReader = matches;
  built = at;
  return result;
}

// Reads count pairs and adds their lengths to total; false when one does not decode.
bool AddMatchLengths(TDeltaReader& reader, uint32_t count, uint64_t& total) {
  for (uint32_t m = 0; m < count; ++m) {
    uint32_t lengthCode = 0;
    if (!reader.SkipThenRead(lengthCode)) return false;
    total += uint64_t(lengthCode) + 1;
  }
  return true;
}

// Bit j set exactly when p[j] is 0, for the 64 bytes from p on.
inline uint64_t ZeroByteBits64(const uint8_t* p) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  uint64_t bits = 0;
  for (int part = 0; part < 4; ++part) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
    bits |= uint64_t(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, zero)))) << (16 * part);
  }
  return bits;
#else
  uint64_t bits = 0;
  for (int part = 0; part < 8; ++part) {
    uint64_t w;
    std::memcpy(&w, p + 8 * part, 8);
    // 0x80 in each zero byte and nowhere else (no borrow crosses bytes), then one bit per byte.
    const uint64_t high = ~(((w & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | w) & 0x8080808080808080ull;
    bits |= ((high >> 7) * 0x0102040810204080ull >> 56) << (8 * part);
  }
  return bits;
#endif
}

inline void Fill32(uint8_t* to, uint8_t value) { std::memset(to, value, 32); }

// Undoes the pre-pass for a stream that lies in dst itself, dst[base .. base + len), with
// base + len <= capacity.
// The restored bytes are written from dst[0] upward, which never passes the unread input as long
// as every item's output fits below the input that follows it; an item that would reach into
// unread input first moves the rest of the input to a buffer of its own. Fails, like
// RunLengthUnpackLimited, when the stream ends inside an escape item or the restored bytes would
// exceed the capacity.
bool RestorePrePassInPlace(uint8_t* dst, uint32_t capacity, uint32_t base, uint32_t len, uint32_t& restored) {
  const uint8_t* in = dst + base;
  uint32_t i = 0;
  uint32_t out = 0;
  uint8_t* moved = nullptr;
  // Room kept between output and input for the wide steps: a record's 255 bytes and a 32-byte
  // store.
  const uint64_t kRoom = 255 + 32;
  // For a 64-byte block at once: each of its at most 22 items may take 252 bytes more room than
  // it frees.
  const uint64_t kBlockRoom = kRoom + 22 * 252;
  bool ok = true;
  while (i < len) {
    if (moved == nullptr && uint64_t(base) + i - out >= kBlockRoom && len - i >= 128) {
      // The stream in blocks of 64 bytes, from a mask of their zero bytes: each escape item is
      // met through its bit, the plain bytes before it are copied in fixed-size steps, and a lone
      // zero and a record of up to 32 bytes share one store. The mask is walked with bit 0 at
      // position next, and an item's kind is read from the mask itself (a lone zero's count is the
      // next zero bit), so that the walk does not wait for the loads. A block starts only with
      // room for its worst case; i may run up to 2 bytes into the next block.
      uint32_t block = i;
      uint64_t zeros = ZeroByteBits64(in + block);
      for (;;) {
        uint32_t next = block;
        while (zeros != 0) {
          const uint32_t skip = static_cast<uint32_t>(__builtin_ctzll(zeros));
          const uint32_t at = next + skip;
          zeros >>= skip;
          // Past the block's last byte the mask holds no bits, so a lone zero there is walked
          // as a record; no bit of this block remains after it either way.
          const uint32_t itemLength = 3 - static_cast<uint32_t>((zeros >> 1) & 1u);
          zeros >>= itemLength;
          next = at + itemLength;
          const uint32_t plain = at - i;
          Copy16(dst + out, in + i);
          Copy16(dst + out + 16, in + i + 16);
          if (plain > 32) {
            Copy16(dst + out + 32, in + i + 32);
            Copy16(dst + out + 48, in + i + 48);
          }
          out += plain;
          const uint32_t count = in[at + 1];
          const uint8_t value = count != 0 ? in[at + 2] : 0;
          Fill32(dst + out, value);
          if (count > 32) std::memset(dst + out, value, count);
          out += count != 0 ? count : 1;
          i = at + (count != 0 ? 3 : 2);
        }
        if (i < block + 64) {
          Copy16(dst + out, in + i);
          Copy16(dst + out + 16, in + i + 16);
          Copy16(dst + out + 32, in + i + 32);
          Copy16(dst + out + 48, in + i + 48);
          out += block + 64 - i;
          i = block + 64;
        }
        block += 64;
        if (len - block < 128 || uint64_t(base) + i - out < kBlockRoom) break;
        zeros = ZeroByteBits64(in + block) & (~uint64_t(0) << (i - block));
      }
      continue;
    }
    if (moved == nullptr && uint64_t(base) + i - out >= kRoom && len - i >= 16) {
      // Sixteen bytes are stored at once; those up to the first escape byte are plain ones.
#if defined(__SSE2__)
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + out), chunk);
      const uint32_t zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_setzero_si128())));
      if (zeros == 0) {
        out += 16;
        i += 16;
        continue;
      }
      const uint32_t plain = static_cast<uint32_t>(__builtin_ctz(zeros));
#else
      uint64_t w[2];
      std::memcpy(w, in + i, 16);
      std::memcpy(dst + out, w, 16);
      const uint64_t low = ZeroBytesMask(w[0]), high = ZeroBytesMask(w[1]);
      if ((low | high) == 0) {
        out += 16;
        i += 16;
        continue;
      }
      const uint32_t plain = low != 0 ? static_cast<uint32_t>(__builtin_ctzll(low)) >> 3
                                      : 8 + (static_cast<uint32_t>(__builtin_ctzll(high)) >> 3);
#endif
      out += plain;
      i += plain;
      // An escape item at in[i].
      if (len - i < 2) { ok = false; break; }
      const uint8_t count = in[i + 1];
      if (count == 0) {
        dst[out++] = 0;
        i += 2;
        continue;
      }
      if (len - i < 3) { ok = false; break; }
      const uint8_t value = in[i + 2];
      if (count <= 32) {
        uint8_t fill[32];
        std::memset(fill, value, 32);
        std::memcpy(dst + out, fill, 32);
      } else {
        std::memset(dst + out, value, count);
      }
      out += count;
      i += 3;
      continue;
    }
    // One item at a time, with every bound checked.
    const uint8_t x = in[i];
    if (x != 0) {
      if (out == capacity) { ok = false; break; }
      dst[out++] = x;
      ++i;
      continue;
    }
    if (len - i < 2) { ok = false; break; }
    const uint8_t count = in[i + 1];
    if (count == 0) {
      if (out == capacity) { ok = false; break; }
      dst[out++] = 0;
      i += 2;
      continue;
    }
    if (len - i < 3) { ok = false; break; }
    const uint8_t value = in[i + 2];
    if (capacity - out < count) { ok = false; break; }
    if (moved == nullptr && uint64_t(out) + count > uint64_t(base) + i + 3) {
      // The record would overwrite input not read yet.
      const uint32_t rest = len - i;
      Create(moved, rest);
      if (moved == nullptr) { ok = false; break; }
      std::memcpy(moved, in + i, rest);
      in = moved;
      len = rest;
      i = 0;
    }
    std::memset(dst + out, value, count);
    out += count;
    i += 3;
  }
  if (moved != nullptr) ::operator delete(moved);
  restored = out;
  return ok;
}

// Checks the run form of the flags in its packed bits (R, then R stored runs, alternating from 0;
// while still at flag 0 a run stores its own length, afterwards its length minus one): false when
// a code word does not decode, R > S, or the runs do not cover exactly N flags. zeroFlags receives
// the number of 0 flags.
bool CheckFlagRuns(const uint8_t* packedRuns, uint32_t bitCount, uint32_t S, uint32_t N, uint32_t& zeroFlags) {
  TDeltaReader reader(packedRuns, bitCount);
  uint32_t runCount = 0;
  if (!reader.Read(runCount) || runCount > S) return false;
  uint64_t q = 0;
  uint64_t zeros = 0;
  uint8_t v = 0;
  for (uint32_t r = 0; r < runCount; ++r) {
    uint32_t stored = 0;
    if (!reader.Read(stored)) return false;
    // While still at flag 0 a run stores its own length, afterwards its length minus one.
    uint64_t length = uint64_t(stored) + (q != 0 ? 1u : 0u);
    if (v == 0) zeros += length;
    q += length;
    v ^= 1;
  }
  if (q != N) return false;
  zeroFlags = static_cast<uint32_t>(zeros);
  return true;
}

// Decodes a compressed-form block. The flag section is checked first; the pre-pass output is then
// rebuilt in the top of dst while the match pairs are decoded, each distance checked against the
// bytes already there, and the pre-pass is undone downward into dst itself. A refused block may
// thus leave scratch bytes in dst.
bool DecodeCompressedForm(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen,
                          uint32_t S, uint32_t N) {
  const uint32_t capacity = dstLen;
  if (N > S) return false;
  uint32_t pos = 8;
  if (pos >= srcLen) return false;
  const uint8_t flagTag = src[pos++];
  const uint8_t* flagBytes = nullptr;
  uint32_t runBits = 0;
  uint32_t literalCount = 0;
  if (flagTag == 0) {
    uint32_t bytes = BytesForBits(N);
    if (srcLen - pos < bytes) return false;
    flagBytes = src + pos;
    uint64_t ones = 0;
    uint32_t i = 0;
    for (; i + 8 <= N / 8; i += 8) {
      uint64_t w;
      std::memcpy(&w, flagBytes + i, 8);
      ones += uint64_t(__builtin_popcountll(w));
    }
    for (; i < N / 8; ++i) ones += uint32_t(__builtin_popcount(flagBytes[i]));
    if (N % 8 != 0) ones += uint32_t(__builtin_popcount(flagBytes[N / 8] & ((1u << (N % 8)) - 1u)));
    literalCount = N - static_cast<uint32_t>(ones);
    pos += bytes;
  } else {
    if (srcLen - pos < 4) return false;
    runBits = Load32(src + pos);
    pos += 4;
    uint32_t bytes = BytesForBits(runBits);
    if (srcLen - pos < bytes) return false;
    flagBytes = src + pos;
    if (!CheckFlagRuns(flagBytes, runBits, S, N, literalCount)) return false;
    pos += bytes;
  }
  const uint32_t matchFlags = N - literalCount;

  if (pos < srcLen) {
    if (literalCount > 0 && src[pos] != 2) return false;
    ++pos;
  } else if (literalCount > 0) {
    return false;
  }
  if (srcLen - pos < literalCount) return false;
  const uint8_t* literals = src + pos;
  pos += literalCount;

  uint32_t matchCount = 0;
  TDeltaReader matchReader(src, 0);
  if (pos < srcLen && src[pos] == 3) {
    ++pos;
    if (srcLen - pos < 4) return false;
    const uint32_t matchBits = Load32(src + pos);
    pos += 4;
    if (srcLen - pos < BytesForBits(matchBits)) return false;
    matchReader = TDeltaReader(src + pos, matchBits);
    if (!matchReader.Read(matchCount) || matchCount > S) return false;
  }
  if (matchFlags > matchCount) return false;

  // The output is rebuilt at the top of dst, as long as the pre-pass length S in the header says
  // (at most the capacity), while the pairs are read; the pre-pass is then undone downward into
  // dst itself. The pairs past the last match flag are read afterwards, since their lengths count
  // against the capacity too. A block whose output would not fit in S bytes, which the
  // compressor never writes, is rebuilt again, after a pass that adds up all the match lengths,
  // into the top literals + lengths bytes.
  const TDeltaReader firstPair = matchReader;
  uint32_t built = 0;
  const auto rebuild = [&](uint32_t region) {
    matchReader = firstPair;
    uint8_t* out = dst + (capacity - region);
    if (flagTag == 0) {
      TPlainFlagRuns runs(flagBytes, N);
      return RebuildPrePass(runs, N, out, region, literals, src + srcLen, matchReader, built);
    }
    TStoredFlagRuns runs(flagBytes, runBits);
    return RebuildPrePass(runs, N, out, region, literals, src + srcLen, matchReader, built);
  };
  uint32_t region = S;
  ERebuild result = rebuild(region);
  if (result == ERebuild::kPastRegion) {
    uint64_t allLengths = 0;
    matchReader = firstPair;
    if (!AddMatchLengths(matchReader, matchCount, allLengths) || literalCount + allLengths > capacity) return false;
    region = static_cast<uint32_t>(literalCount + allLengths);
    result = rebuild(region);
  }
  if (result != ERebuild::kDone) return false;
  uint64_t matchTotal = built - literalCount;
  if (!AddMatchLengths(matchReader, matchCount - matchFlags, matchTotal) || literalCount + matchTotal > capacity)
    return false;
  uint32_t restored = 0;
  if (!RestorePrePassInPlace(dst, capacity, capacity - region, built, restored)) return false;
  dstLen = restored;
  return true;
}

}  // namespace

bool DecompressBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen) {
  if (srcLen == 0) {
    dstLen = 0;
    return true;
  }
  if (src == nullptr || srcLen < 8) return false;
  const uint32_t S = Load32(src);
  if (dstLen < S) return false;
  const uint32_t N = Load32(src + 4);
  if (N == 0) {
    if (srcLen - 8 < S) return false;
    MoveBytes(dst, src + 8, S);
    dstLen = S;
    return true;
  }
  return DecodeCompressedForm(dst, dstLen, src, srcLen, S, N);
}
