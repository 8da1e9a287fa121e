// The decoder of one block.
//
// The stored form is moved (overlap-safe) into the output. The compressed form is rebuilt from its
// sections into the top of the output buffer: the flags (plain or runs) say for each token whether
// it is a literal (the next byte of the literal section) or a match (the next distance - 1 and
// length - 1 of the match section); then the pre-pass is undone in place, from the bottom up.
// Every count and bound is checked before it is trusted: the runs must add up to the token count,
// every match flag needs a decoded match, a distance may not reach before the output's start, no
// section may run past the block, and the restored length may not exceed the capacity. Bytes
// after the last section are not read.
#include <algorithm>
#include <cstring>

#include "engine/BlockFormat.h"
#include "engine/DeltaCode.h"
#include "foundation/LittleEndian.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciispamyatyu.h"

namespace {

uint32_t BytesForBits(uint32_t bits) { return bits / 8 + (bits % 8 != 0 ? 1u : 0u); }

const uint32_t kShortWordBits = 12;
// Words of at most 12 bits by one look-up: indexed by the next 12 stream bits, an entry holds
// the word's length in its low byte (0: a longer word or none) and its value above.
struct SShortWords {
  uint32_t entry[1u << kShortWordBits];
  constexpr SShortWords() : entry() {
    for (uint32_t i = 0; i < (1u << kShortWordBits); ++i) {
      uint32_t k = 0, bitLength = 0;
      if (!DeltaPrefixWithin(i, kShortWordBits, k, bitLength)) continue;
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
    for (uint32_t i = 0; i < 256; ++i) entry[i] = static_cast<uint8_t>(ReverseBits64(i) >> 56);
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
      if (DeltaPrefixWithin(i, kPrefixBits, k, bitLength)) entry[i] = static_cast<uint16_t>(bitLength << 8 | k);
    }
  }
};
constexpr SShortWords kShortWords{};
constexpr SPrefixes kPrefixes{};
constexpr SByteReversal kByteReversal{};

// Delta-code words (engine/DeltaCode.h) read straight from packed section bytes, never past
// bitCount bits, which the caller has checked to lie inside the block. Each word keeps the low 32
// bits of its value. A word is refused, as undecodable, when no zero closes its k ones within
// kDeltaMostOnes, when its L exceeds kDeltaMostBitLength, or when the bits that remain do not
// hold it.
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
    if (k > kDeltaMostOnes) return false;
    const uint32_t field = static_cast<uint32_t>(w >> (k + 1)) & ((1u << k) - 1u);
    bitLength = (1u << k) | (kByteReversal.entry[field] >> (8 - k));
    return bitLength <= kDeltaMostBitLength;
  }
  uint32_t Bit(uint32_t j) const { return (bytes_[j >> 3] >> (j & 7)) & 1u; }

  bool ReadSlow(uint32_t* value) {
    uint32_t p = pos_;
    uint32_t k = 0;
    while (p < bitCount_ && Bit(p) != 0 && k <= kDeltaMostOnes) {
      ++k;
      ++p;
    }
    if (k > kDeltaMostOnes || p >= bitCount_) return false;
    ++p;
    if (bitCount_ - p < k) return false;
    uint32_t bitLength = 1;
    for (uint32_t i = 0; i < k; ++i) bitLength = (bitLength << 1) | Bit(p++);
    if (bitLength > kDeltaMostBitLength) return false;
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
class TRunFormFlagRuns {
 public:
  TRunFormFlagRuns(const uint8_t* bytes, uint32_t bitCount) : reader_(bytes, bitCount), q_(0) {
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

// How a rebuild ended: done, refused (a pair that does not decode or a distance that reaches
// before the output's start), or stopped because the output would not fit in the region given.
enum class TRebuild { kDone, kRefused, kPastRegion };

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
__attribute__((always_inline)) inline TRebuild AppendMatch(uint8_t* out, uint32_t& at, uint32_t regionLen,
                                                           TDeltaReader& matches) {
  uint32_t distanceCode = 0, lengthCode = 0;
  if (!matches.ReadPair(distanceCode, lengthCode)) return TRebuild::kRefused;
  const uint64_t distance = uint64_t(distanceCode) + 1;
  const uint64_t length = uint64_t(lengthCode) + 1;
  if (distance > at) return TRebuild::kRefused;
  if (length > regionLen - at) return TRebuild::kPastRegion;
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
  return TRebuild::kDone;
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
TRebuild RebuildPrePass(TFlagRuns& flagRuns, uint32_t N, uint8_t* out, uint32_t regionLen, const uint8_t* literals,
                        const uint8_t* literalsEnd, TDeltaReader& matchReader, uint32_t& built) {
  // Local copies, so that their state stays in registers across the byte stores.
  TFlagRuns runs = flagRuns;
  TDeltaReader matches = matchReader;
  TRebuild result = TRebuild::kDone;
  uint32_t at = 0;
  if constexpr (std::is_same<TFlagRuns, TPlainFlagRuns>::value) {
    while (!runs.AtEnd()) {
      bool matchFollows = false;
      const uint32_t count = runs.NextLiterals(matchFollows);
      if (!AppendLiterals(out, at, regionLen, literals, literalsEnd, count)) {
        result = TRebuild::kPastRegion;
        break;
      }
      if (matchFollows) {
        result = AppendMatch(out, at, regionLen, matches);
        if (result != TRebuild::kDone) break;
      }
    }
  } else {
    uint32_t q = 0;
    uint32_t v = 0;
    while (q < N) {
      uint32_t count = 0;
      if (!runs.Next(v, count) || count > N - q) {
        result = TRebuild::kRefused;
        break;
      }
      q += count;
      if (v == 0) {
        if (!AppendLiterals(out, at, regionLen, literals, literalsEnd, count)) {
          result = TRebuild::kPastRegion;
          break;
        }
      } else {
        for (uint32_t m = 0; m < count; ++m) {
          result = AppendMatch(out, at, regionLen, matches);
          if (result != TRebuild::kDone) break;
        }
        if (result != TRebuild::kDone) break;
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

// Where a compressed-form block's sections lie, read from their tags and bit counts: the flags
// (plain, or runs whose total is checked against N), the literals and the match section's
// count. `end` is where the last section ends; bytes after it are not the block's.
struct TSections {
  uint8_t flagTag = 0;
  const uint8_t* flagBytes = nullptr;
  uint32_t runBits = 0;
  uint32_t literalCount = 0;
  const uint8_t* literals = nullptr;
  uint32_t matchCount = 0;
  TDeltaReader matchReader{nullptr, 0};
  uint32_t end = 0;
};

bool ReadSections(const uint8_t* src, uint32_t srcLen, uint32_t S, uint32_t N, TSections& sections) {
  if (N > S) return false;
  uint32_t pos = 8;
  if (pos >= srcLen) return false;
  sections.flagTag = src[pos++];
  if (sections.flagTag == 0) {
    uint32_t bytes = BytesForBits(N);
    if (srcLen - pos < bytes) return false;
    const uint8_t* flagBytes = src + pos;
    uint64_t ones = 0;
    uint32_t i = 0;
    for (; i + 8 <= N / 8; i += 8) {
      uint64_t w;
      std::memcpy(&w, flagBytes + i, 8);
      ones += uint64_t(__builtin_popcountll(w));
    }
    for (; i < N / 8; ++i) ones += uint32_t(__builtin_popcount(flagBytes[i]));
    if (N % 8 != 0) ones += uint32_t(__builtin_popcount(flagBytes[N / 8] & ((1u << (N % 8)) - 1u)));
    sections.flagBytes = flagBytes;
    sections.literalCount = N - static_cast<uint32_t>(ones);
    pos += bytes;
  } else {
    if (srcLen - pos < 4) return false;
    sections.runBits = Load32(src + pos);
    pos += 4;
    uint32_t bytes = BytesForBits(sections.runBits);
    if (srcLen - pos < bytes) return false;
    sections.flagBytes = src + pos;
    if (!CheckFlagRuns(sections.flagBytes, sections.runBits, S, N, sections.literalCount)) return false;
    pos += bytes;
  }
  const uint32_t literalCount = sections.literalCount;
  if (pos < srcLen) {
    if (literalCount > 0 && src[pos] != 2) return false;
    ++pos;
  } else if (literalCount > 0) {
    return false;
  }
  if (srcLen - pos < literalCount) return false;
  sections.literals = src + pos;
  pos += literalCount;

  if (pos < srcLen && src[pos] == 3) {
    ++pos;
    if (srcLen - pos < 4) return false;
    const uint32_t matchBits = Load32(src + pos);
    pos += 4;
    if (srcLen - pos < BytesForBits(matchBits)) return false;
    sections.matchReader = TDeltaReader(src + pos, matchBits);
    if (!sections.matchReader.Read(sections.matchCount) || sections.matchCount > S) return false;
    pos += BytesForBits(matchBits);
  }
  sections.end = pos;
  return N - literalCount <= sections.matchCount;
}

// Decodes a compressed-form block. The sections are checked first; the pre-pass output is then
// rebuilt in the top of dst while the match pairs are decoded, each distance checked against the
// bytes already there, and the pre-pass is undone downward into dst itself. A refused block may
// thus leave scratch bytes in dst.
bool DecodeCompressedForm(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen,
                          uint32_t S, uint32_t N) {
  const uint32_t capacity = dstLen;
  TSections sections;
  if (!ReadSections(src, srcLen, S, N, sections)) return false;
  const uint8_t flagTag = sections.flagTag;
  const uint8_t* flagBytes = sections.flagBytes;
  const uint32_t runBits = sections.runBits;
  const uint32_t literalCount = sections.literalCount;
  const uint8_t* literals = sections.literals;
  const uint32_t matchCount = sections.matchCount;
  const uint32_t matchFlags = N - literalCount;
  TDeltaReader matchReader = sections.matchReader;

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
    TRunFormFlagRuns runs(flagBytes, runBits);
    return RebuildPrePass(runs, N, out, region, literals, src + srcLen, matchReader, built);
  };
  uint32_t region = S;
  TRebuild result = rebuild(region);
  if (result == TRebuild::kPastRegion) {
    uint64_t allLengths = 0;
    matchReader = firstPair;
    if (!AddMatchLengths(matchReader, matchCount, allLengths) || literalCount + allLengths > capacity) return false;
    region = static_cast<uint32_t>(literalCount + allLengths);
    result = rebuild(region);
  }
  if (result != TRebuild::kDone) return false;
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


uint32_t BlockBodyLength(const uint8_t* src, uint32_t srcLen) {
  if (src == nullptr || srcLen < kStoredHeaderBytes) return 0;
  const uint32_t S = Load32(src);
  const uint32_t N = Load32(src + 4);
  if (N == 0) return srcLen - kStoredHeaderBytes >= S ? kStoredHeaderBytes + S : 0;
  TSections sections;
  return ReadSections(src, srcLen, S, N, sections) ? sections.end : 0;
}

bool IsStoredForm(const uint8_t* src, uint32_t srcLen) { return srcLen >= kStoredHeaderBytes && Load32(src + 4) == 0; }

uint32_t CapacityNeeded(const uint8_t* src, uint32_t srcLen) {
  if (srcLen < kStoredHeaderBytes) return 0;
  const uint32_t S = Load32(src);
  if (IsStoredForm(src, srcLen)) return srcLen - kStoredHeaderBytes >= S ? S : 0;
  // The pre-pass makes at most 85 bytes of one (a 3-byte record restores 255), so that much
  // scratch, within 1 GiB, restores any compressed form there is.
  const uint64_t capacity = std::min<uint64_t>(85ull * S, uint64_t(1) << 30);
  uint8_t* scratch = nullptr;
  Create(scratch, uint32_t(capacity));
  if (scratch == nullptr) return 0;
  uint32_t restored = uint32_t(capacity);
  const bool restores = DecompressBlock(scratch, restored, src, srcLen);
  Free(scratch);
  // The pre-pass output is rebuilt within the capacity too, and it may be longer than what the
  // block restores to.
  return restores ? std::max(restored, S) : 0;
}
