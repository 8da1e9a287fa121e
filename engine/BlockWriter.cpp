// The compressor's block: the pre-pass, the match search (MatchFinder.h), then the header and the
// three sections, or the stored form when that is shorter.
//
// Sections: the token flags packed (tag 0), or as alternating runs when that is shorter (tag 1:
// the bit count, then R and the R runs as delta-code words); the literal bytes (tag 2); the
// matches (tag 3: the bit count, then M and each match's distance - 1 and length - 1). Code words
// are packed least significant bit of the stream first. A trial form longer than the block is
// replaced by the stored form (n, 0, the bytes), so a block never grows by more than its header.
// A worker's work area is obtained once, at the largest block's size, and reused: the match
// finder leaves its key counts zeroed for the next block.
#include <algorithm>
#include <cstring>

#include "engine/BlockFormat.h"
#include "engine/DeltaCode.h"
#include "engine/MatchFinder.h"
#include "foundation/LittleEndian.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciispamyatyu.h"

namespace {

uint32_t WriteStored(uint8_t* dst, const uint8_t* src, uint32_t n) {
  Store32(dst, n);
  Store32(dst + 4, 0);
  MoveBytes(dst + kStoredHeaderBytes, src, n);
  return n + kStoredHeaderBytes;
}

// Where the run of flags equal to `value` that goes on at q ends (N at the most). The flags are
// one byte each, 0 or 1, and are compared eight at a time.
uint32_t RunEnd(const uint8_t* flags, uint32_t q, uint32_t N, uint8_t value) {
  const uint64_t same = value != 0 ? 0x0101010101010101ull : 0;
  for (; N - q >= 8; q += 8) {
    const uint64_t differ = Load64(flags + q) ^ same;
    if (differ != 0) return q + uint32_t(__builtin_ctzll(differ)) / 8;
  }
  while (q < N && flags[q] == value) ++q;
  return q;
}

// Eight flags as the bits of one byte, the first in the lowest bit: each flag's bit is moved to
// its place in the top byte by one multiplication, without carries between them.
uint8_t PackedFlags(uint64_t eight) { return static_cast<uint8_t>((eight * 0x0102040810204080ull) >> 56); }

}  // namespace

uint64_t CompressBoundFor(uint32_t n) { return uint64_t(n) * 9 / 4 + 27; }

uint64_t CompressWorkAreaSize(uint32_t S) {
  uint64_t used = 22ull * S + kKeyTableBytes;
  return used + used / 2;  // floor(1.5 x used)
}

SCompressWork CompressWorkLayout(uint8_t* area, uint32_t S) {
  SCompressWork w;
  w.keyTable = area;
  w.bits = area + KeyAreaBytes(S);
  w.flags = w.bits + 9ull * S;
  w.runs = w.flags + S;
  w.distances = w.runs + 4ull * S;
  w.lengths = w.distances + 4ull * S;
  return w;
}

bool SearchMatches(const uint8_t* s, uint32_t S, const SCompressWork& work, uint32_t& tokenCount,
                   uint32_t& matchCount) {
  tokenCount = matchCount = 0;
  return matchfinder::FindMatches(s, S, work, KeyAreaBytes(S), tokenCount, matchCount);
}

namespace {

// Code words of values below kShortCodeValues by one look-up: an entry holds the word's bits in
// stream order in its low 24 bits and its length above.
const uint32_t kShortCodeValues = 1024;
struct SShortCodes {
  uint32_t entry[kShortCodeValues];
  constexpr SShortCodes() : entry() {
    for (uint32_t value = 0; value < kShortCodeValues; ++value) {
      const uint32_t n = value + 1, bitLength = DeltaBitLength(value), k = DeltaOnes(bitLength);
      uint32_t bits = (1u << k) - 1, count = k + 1;
      for (uint32_t i = k; i-- > 0; ++count) bits |= ((bitLength >> i) & 1) << count;
      for (uint32_t i = bitLength - 1; i-- > 0; ++count) bits |= ((n >> i) & 1) << count;
      entry[value] = bits | count << 24;
    }
  }
};
constexpr SShortCodes kShortCodes;

// Writes delta-code words (engine/DeltaCode.h) of 32-bit values as packed bits straight into a
// section. Only whole bytes are stored until Finish, so nothing beyond the section's last byte is
// written.
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
    const uint32_t bitLength = DeltaBitLength(value), k = DeltaOnes(bitLength);
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
      q = RunEnd(work.flags, q, N, expected);
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
    uint32_t t = 0;
    for (; N - t >= 8; t += 8) dst[out + t / 8] = PackedFlags(Load64(work.flags + t));
    if (t < N) {
      dst[out + t / 8] = 0;
      for (; t < N; ++t) dst[out + t / 8] |= static_cast<uint8_t>(work.flags[t] << (t % 8));
    }
    out += (N + 7) / 8;
  } else {
    out += WriteBitSection(dst + out, 1, runCount, [&](TDeltaWriter& writer) {
      for (uint32_t r = 0; r < runCount; ++r) writer.Put(Load32(work.runs + 4ull * r));
    });
  }

  // The literals run by run: a run of 0 flags copies its bytes, a run of matches passes theirs.
  dst[out++] = 2;
  {
    uint32_t pos = 0, m = 0;
    for (uint32_t r = 0; r < runCount; ++r) {
      const uint32_t length = Load32(work.runs + 4ull * r) + (r != 0 ? 1u : 0u);
      if (r % 2 == 0) {
        std::memcpy(dst + out, s + pos, length);
        out += length;
        pos += length;
      } else {
        for (const uint32_t end = m + length; m < end; ++m) pos += Load32(work.lengths + 4ull * m) + 1;
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

bool WorkAreaObtainable(uint32_t maxBlock) {
  const uint64_t size = CompressWorkAreaSize(maxBlock);
  if (size > 0xFFFFFFFFull) return false;
  uint8_t* area = nullptr;
  Create(area, uint32_t(size));
  if (area == nullptr) return false;
  Free(area);
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
bool WithoutSearch(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t n, bool compression) {
  if (n == 0)
    dstLen = 0;
  else if (!compression)
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
  return WithoutSearch(dst, dstLen, src, srcLen, work.compression) || SearchedBlock(work, dst, dstLen, src, srcLen);
}

bool CompressBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen, bool compression) {
  if (WithoutSearch(dst, dstLen, src, srcLen, compression)) return true;
  SBlockWork work;
  if (!CreateBlockWork(work, srcLen)) return false;
  const bool done = SearchedBlock(work, dst, dstLen, src, srcLen);
  FreeBlockWork(work);
  return done;
}

