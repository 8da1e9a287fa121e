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
//
// Speed: decoding is one serial chain, each word's place depending on the length of the word
// before it. The chain is kept to two table look-ups and a few shifts a match: the run and match
// sections are first copied with each byte's bits reversed (into the free bytes below the region
// being rebuilt, when there are enough), so that the next 64 stream bits sit in one register most
// significant first; a word's length and the shifts that take out its value come from a 9-bit
// table, a short word whole from a 12-bit one; and the window is refilled from a load that does
// not wait for the word's length. A distance and its length, like a run of 0 flags and the run of
// 1 flags after it, are read as one pair. Whatever the window does not decide (long words, pairs
// over 57 bits, a section without a copy) is read bit by bit, which gives every verdict the
// window would.
#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/BlockFormat.h"
#include "engine/DeltaCode.h"
#include "foundation/LittleEndian.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciispamyatyu.h"

namespace {

uint32_t BytesForBits(uint32_t bits) { return bits / 8 + (bits % 8 != 0 ? 1u : 0u); }

// The low width bits of i in reverse order: a table index whose most significant bit is the
// first stream bit, turned into the stream's own order (stream bit j is bit j).
constexpr uint64_t ReverseLow(uint32_t i, uint32_t width) { return ReverseBits64(i) >> (64 - width); }

// The tables read a word from a window of stream bits held most significant first, the next bit
// in bit 63.
// A word whose prefix lies within the next 9 bits (k <= 4, which covers every value below
// 2^31 - 1), by the 9 bits: its length in bits (0: a longer prefix or none) and the shifts that
// take its L - 1 low bits of n out of the window; n - 1 is then those bits plus base.
const uint32_t kPrefixBits = 9;
struct SLongWord {
  uint8_t length = 0;
  uint8_t toMantissa = 0;  // 2k + 1: the bits before the L - 1 low bits of n
  uint8_t fromTop = 0;     // 63 - (L - 1)
  uint32_t base = 0;       // 2^(L - 1) - 1
};
struct SLongWords {
  SLongWord entry[1u << kPrefixBits];
  constexpr SLongWords() : entry() {
    for (uint32_t i = 0; i < (1u << kPrefixBits); ++i) {
      uint32_t k = 0, bitLength = 0;
      if (!DeltaPrefixWithin(ReverseLow(i, kPrefixBits), kPrefixBits, k, bitLength)) continue;
      const uint32_t m = bitLength - 1;
      entry[i].length = static_cast<uint8_t>(2 * k + bitLength);
      entry[i].toMantissa = static_cast<uint8_t>(2 * k + 1);
      entry[i].fromTop = static_cast<uint8_t>(63 - m);
      entry[i].base = (1u << m) - 1;
    }
  }
};
// A word of at most 12 bits whole, by the next 12 bits: its value << 8 | its length (0: a longer
// word or none).
const uint32_t kShortWordBits = 12;
struct SShortWords {
  uint32_t entry[1u << kShortWordBits];
  constexpr SShortWords() : entry() {
    for (uint32_t i = 0; i < (1u << kShortWordBits); ++i) {
      uint32_t k = 0, bitLength = 0;
      if (!DeltaPrefixWithin(ReverseLow(i, kShortWordBits), kShortWordBits, k, bitLength)) continue;
      const uint32_t length = 2 * k + bitLength;
      if (length > kShortWordBits) continue;
      const uint32_t m = bitLength - 1;
      const uint32_t low = (i >> (kShortWordBits - length)) & ((1u << m) - 1);
      entry[i] = (((1u << m) | low) - 1) << 8 | length;
    }
  }
};
constexpr SLongWords kLongWords{};
constexpr SShortWords kShortWords{};

inline uint64_t LoadBig64(const uint8_t* p) { return __builtin_bswap64(Load64(p)); }

// Bytes a reader's copy of a section of bitCount bits takes.
uint32_t CopyBytesFor(uint32_t bitCount) { return BytesForBits(bitCount) + 16; }

// The copy of a section that TWordReader reads 64 bits at a time: each byte with its bits in
// reverse order, so that a big-endian load gives the stream bits most significant first, then 16
// zero bytes, so that a load at any position up to the end stays inside it.
void MakeReaderCopy(uint8_t* to, const uint8_t* bytes, uint32_t bitCount) {
  const uint32_t count = BytesForBits(bitCount);
  uint32_t i = 0;
#if defined(__SSE2__)
  // Sixteen bytes a step: the 16-bit shifts move bits across bytes only where the masks drop them.
  const __m128i ones = _mm_set1_epi8(0x55), twos = _mm_set1_epi8(0x33), fours = _mm_set1_epi8(0x0F);
  for (; i + 16 <= count; i += 16) {
    __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    w = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(w, 1), ones), _mm_slli_epi16(_mm_and_si128(w, ones), 1));
    w = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(w, 2), twos), _mm_slli_epi16(_mm_and_si128(w, twos), 2));
    w = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(w, 4), fours), _mm_slli_epi16(_mm_and_si128(w, fours), 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), w);
  }
#endif
  // Eight bytes a step, the last ones through a word of their own.
  for (; i < count; i += 8) {
    uint64_t w = 0;
    if (count - i >= 8) {
      std::memcpy(&w, bytes + i, 8);
    } else {
      std::memcpy(&w, bytes + i, count - i);
    }
    w = ReverseBitsOfBytes64(w);
    std::memcpy(to + i, &w, 8);
  }
  std::memset(to + count, 0, CopyBytesFor(bitCount) - count);
}

// Delta-code words (engine/DeltaCode.h) of a packed section, never past its bitCount bits, which
// the caller has checked to lie inside the block. Each word keeps the low 32 bits of its value. A
// word is refused, as undecodable, when no zero closes its k ones within kDeltaMostOnes, when its
// L exceeds kDeltaMostBitLength, or when the bits that remain do not hold it.
// With a reader's copy of the section (MakeReaderCopy) the next 64 stream bits are kept in a
// window, most significant first: a word is read from the window by one look-up, and the window
// is refilled from a load at the old position + 64, which does not wait for the word's length, so
// that the serial chain from word to word is the look-ups and two shifts. Words with k > 4, a pair
// longer than 57 bits, and a section without a copy are read bit by bit, which decides every
// refusal the window leaves open.
class TWordReader {
 public:
  TWordReader() = default;
  TWordReader(const uint8_t* bytes, uint32_t bitCount, const uint8_t* copy)
      : bytes_(bytes), copy_(copy), bitCount_(bitCount) {
    Prime();
  }

  __attribute__((always_inline)) bool Read(uint32_t& value) {
    if (copy_ != nullptr) {
      const uint64_t next = Next();
      const uint32_t used = TableWord(window_, value);
      if (used != 0) return Advance(used, next);
    }
    const SWords slow = ReadWords(bytes_, bitCount_, pos_, 1);
    value = slow.first;
    return Continue(slow);
  }

  // From here on the section's own bytes are read, bit by bit.
  void DropCopy() { copy_ = nullptr; }

  // Two words in a row (a distance, which is seldom short, then a length).
  __attribute__((always_inline)) bool ReadPair(uint32_t& first, uint32_t& second) {
    if (copy_ != nullptr) {
      const uint64_t next = Next();
      const uint32_t used = LongWord(window_, first);
      if (used != 0) {
        const uint32_t secondUsed = TableWord(window_ << used, second);
        if (secondUsed != 0 && used + secondUsed <= 57) return Advance(used + secondUsed, next);
      }
    }
    const SWords slow = ReadWords(bytes_, bitCount_, pos_, 2);
    first = slow.first;
    second = slow.second;
    return Continue(slow);
  }

 private:
  static uint32_t ShortWord(uint64_t w, uint32_t& value) {
    const uint32_t entry = kShortWords.entry[w >> (64 - kShortWordBits)];
    value = entry >> 8;
    return entry & 0xFF;
  }
  static uint32_t LongWord(uint64_t w, uint32_t& value) {
    const SLongWord& entry = kLongWords.entry[w >> (64 - kPrefixBits)];
    value = static_cast<uint32_t>(((w << entry.toMantissa) >> 1) >> entry.fromTop) + entry.base;
    return entry.length;
  }
  // A word either table gives (0: neither does).
  static uint32_t TableWord(uint64_t w, uint32_t& value) {
    const uint32_t used = ShortWord(w, value);
    return used != 0 ? used : LongWord(w, value);
  }
  // The stream bits from pos_ + 64 on, at least 57 of them.
  uint64_t Next() const { return LoadBig64(copy_ + (pos_ >> 3) + 8) << (pos_ & 7); }
  // Moves past used bits, 1 to 57, refilling the window from next.
  bool Advance(uint32_t used, uint64_t next) {
    pos_ += used;
    if (pos_ > bitCount_) return false;
    window_ = (window_ << used) | (next >> (64 - used));
    return true;
  }
  void Prime() {
    if (copy_ == nullptr) return;
    const uint32_t shift = pos_ & 7;
    window_ = (LoadBig64(copy_ + (pos_ >> 3)) << shift) | (uint64_t(copy_[(pos_ >> 3) + 8]) >> (8 - shift));
  }
  // Words read bit by bit: returned by value, so that the reader's state stays in registers in
  // the loops that inline the fast paths.
  struct SWords {
    bool ok;
    uint32_t pos, first, second;
  };
  __attribute__((noinline)) static SWords ReadWords(const uint8_t* bytes, uint32_t bitCount, uint32_t p,
                                                    uint32_t count) {
    SWords words = {false, p, 0, 0};
    const auto bit = [bytes](uint32_t j) { return (bytes[j >> 3] >> (j & 7)) & 1u; };
    for (uint32_t w = 0; w < count; ++w) {
      uint32_t k = 0;
      while (p < bitCount && bit(p) != 0 && k <= kDeltaMostOnes) {
        ++k;
        ++p;
      }
      if (k > kDeltaMostOnes || p >= bitCount) return words;
      ++p;
      if (bitCount - p < k) return words;
      uint32_t bitLength = 1;
      for (uint32_t i = 0; i < k; ++i) bitLength = (bitLength << 1) | bit(p++);
      if (bitLength > kDeltaMostBitLength) return words;
      if (bitCount - p < bitLength - 1) return words;
      uint64_t n = 1;
      for (uint32_t i = 0; i + 1 < bitLength; ++i) n = (n << 1) | bit(p++);
      (w == 0 ? words.first : words.second) = static_cast<uint32_t>(n - 1);
    }
    words.ok = true;
    words.pos = p;
    return words;
  }
  bool Continue(const SWords& words) {
    if (!words.ok) return false;
    pos_ = words.pos;
    Prime();
    return true;
  }

  const uint8_t* bytes_ = nullptr;
  const uint8_t* copy_ = nullptr;
  uint32_t bitCount_ = 0;
  uint32_t pos_ = 0;
  uint64_t window_ = 0;
};

// Room for the readers' copies of the run and match sections: the free bytes of the output below
// the region where the block is rebuilt, or, where they do not hold a copy, memory of its own. A
// section that gets neither, and every section of a room of none (a check of the layout alone), is
// read bit by bit.
class TCopyRoom {
 public:
  TCopyRoom(uint8_t* room, uint32_t roomBytes) : room_(room), roomBytes_(roomBytes) {}
  ~TCopyRoom() {
    for (uint8_t* p : owned_) Free(p);
  }
  TCopyRoom(const TCopyRoom&) = delete;
  TCopyRoom& operator=(const TCopyRoom&) = delete;

  const uint8_t* Copy(const uint8_t* bytes, uint32_t bitCount) {
    const uint32_t need = CopyBytesFor(bitCount);
    uint8_t* to = nullptr;
    if (roomBytes_ - used_ >= need) {
      to = room_ + used_;
      used_ += need;
    } else if (room_ != nullptr && ownedCount_ < 2) {
      Create(to, need);
      if (to == nullptr) return nullptr;
      owned_[ownedCount_++] = to;
    } else {
      return nullptr;
    }
    MakeReaderCopy(to, bytes, bitCount);
    return to;
  }
  // Bytes of the room in use, from its start.
  uint32_t Used() const { return used_; }

 private:
  uint8_t* room_;
  uint32_t roomBytes_;
  uint32_t used_ = 0;
  uint8_t* owned_[2] = {nullptr, nullptr};
  uint32_t ownedCount_ = 0;
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

// The run form of the flags, which CheckFlagRuns has checked: a run of 0 flags and the run of 1
// flags after it read as one pair of words. The reader given stands after R.
class TRunFormFlagRuns {
 public:
  TRunFormFlagRuns(const TWordReader& afterCount, uint32_t runCount) : reader_(afterCount), left_(runCount) {}

  // The next run of 0 flags and the run of 1 flags after it (none after the last run); false when
  // a word does not decode.
  bool NextPair(uint32_t& literals, uint32_t& matches) {
    uint32_t stored = 0, storedMatches = 0;
    const bool both = left_ >= 2;
    const bool read = both ? reader_.ReadPair(stored, storedMatches) : reader_.Read(stored);
    left_ -= both ? 2 : 1;
    // While still at flag 0 a run stores its own length, afterwards its length minus one.
    literals = stored + (q_ != 0 ? 1u : 0u);
    q_ += literals;
    matches = both ? storedMatches + (q_ != 0 ? 1u : 0u) : 0;
    q_ += matches;
    return read;
  }
  bool AtEnd() const { return left_ == 0; }

 private:
  TWordReader reader_;
  uint32_t left_;
  uint64_t q_ = 0;
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
  } else if (count <= 64 && regionLen - at >= 64 && literalsEnd - literals >= 64) {
    for (uint32_t i = 0; i < count; i += 16) Copy16(out + at + i, literals + i);
  } else {
    std::memcpy(out + at, literals, count);
  }
  literals += count;
  at += count;
  return true;
}

// Appends at out[at] the match of the next pair.
__attribute__((always_inline)) inline TRebuild AppendMatch(uint8_t* out, uint32_t& at, uint32_t regionLen,
                                                           TWordReader& matches) {
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
  } else if (distance >= 16 && regionLen - at - length >= 16) {
    // The same, in as many steps as the length takes.
    for (uint32_t i = 0; i < length; i += 16) Copy16(to + i, from + i);
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
TRebuild RebuildPrePass(TFlagRuns& flagRuns, uint8_t* out, uint32_t regionLen, const uint8_t* literals,
                        const uint8_t* literalsEnd, TWordReader& matchReader, uint32_t& built) {
  // Local copies, so that their state stays in registers across the byte stores.
  TFlagRuns runs = flagRuns;
  TWordReader matches = matchReader;
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
    while (!runs.AtEnd()) {
      uint32_t count = 0, matchRun = 0;
      if (!runs.NextPair(count, matchRun)) {
        result = TRebuild::kRefused;
        break;
      }
      if (!AppendLiterals(out, at, regionLen, literals, literalsEnd, count)) {
        result = TRebuild::kPastRegion;
        break;
      }
      for (uint32_t m = 0; m < matchRun && result == TRebuild::kDone; ++m) result = AppendMatch(out, at, regionLen, matches);
      if (result != TRebuild::kDone) break;
    }
  }
  matchReader = matches;
  built = at;
  return result;
}

// Reads count pairs and adds their lengths to total; false when one does not decode.
bool AddMatchLengths(TWordReader& reader, uint32_t count, uint64_t& total) {
  for (uint32_t m = 0; m < count; ++m) {
    uint32_t distanceCode = 0, lengthCode = 0;
    if (!reader.ReadPair(distanceCode, lengthCode)) return false;
    total += uint64_t(lengthCode) + 1;
  }
  return true;
}

// Checks the run form of the flags from the reader, which stands after R (while still at flag 0
// a run stores its own length, afterwards its length minus one; the runs alternate from 0): false
// when a code word does not decode or the runs do not cover exactly N flags. zeroFlags receives
// the number of 0 flags.
bool CheckFlagRuns(TWordReader reader, uint32_t runCount, uint32_t N, uint32_t& zeroFlags) {
  uint64_t q = 0;
  uint64_t zeros = 0;
  uint8_t v = 0;
  for (uint32_t r = 0; r < runCount; ++r) {
    uint32_t stored = 0;
    if (!reader.Read(stored)) return false;
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
// (plain, or runs whose total is checked against N; R <= S), the literals and the match section's
// count M (<= S), with the readers of the runs after R and of the pairs after M. `end` is where
// the last section ends; bytes after it are not the block's.
struct TSections {
  uint8_t flagTag = 0;
  const uint8_t* flagBytes = nullptr;
  TWordReader runReader;
  uint32_t runCount = 0;
  uint32_t literalCount = 0;
  const uint8_t* literals = nullptr;
  uint32_t matchCount = 0;
  TWordReader matchReader;
  uint32_t end = 0;
};

bool ReadSections(const uint8_t* src, uint32_t srcLen, uint32_t S, uint32_t N, TCopyRoom& room,
                  TSections& sections) {
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
    const uint32_t runBits = Load32(src + pos);
    pos += 4;
    uint32_t bytes = BytesForBits(runBits);
    if (srcLen - pos < bytes) return false;
    sections.flagBytes = src + pos;
    sections.runReader = TWordReader(src + pos, runBits, room.Copy(src + pos, runBits));
    uint32_t& runCount = sections.runCount;
    if (!sections.runReader.Read(runCount) || runCount > S ||
        !CheckFlagRuns(sections.runReader, runCount, N, sections.literalCount))
      return false;
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
    sections.matchReader = TWordReader(src + pos, matchBits, room.Copy(src + pos, matchBits));
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
  // The readers' copies go below the region of S bytes at the top where the block is rebuilt.
  TCopyRoom room(dst, capacity - S);
  TSections sections;
  if (!ReadSections(src, srcLen, S, N, room, sections)) return false;
  const uint32_t literalCount = sections.literalCount;
  const uint32_t matchCount = sections.matchCount;
  const uint32_t matchFlags = N - literalCount;
  TWordReader matchReader = sections.matchReader;

  // The output is rebuilt at the top of dst, as long as the pre-pass length S in the header says
  // (at most the capacity), while the pairs are read; the pre-pass is then undone downward into
  // dst itself. The pairs past the last match flag are read afterwards, since their lengths count
  // against the capacity too. A block whose output would not fit in S bytes, which the
  // compressor never writes, is rebuilt again, after a pass that adds up all the match lengths,
  // into the top literals + lengths bytes.
  TWordReader firstPair = matchReader;
  uint32_t built = 0;
  const auto rebuild = [&](uint32_t region) {
    matchReader = firstPair;
    uint8_t* out = dst + (capacity - region);
    if (sections.flagTag == 0) {
      TPlainFlagRuns runs(sections.flagBytes, N);
      return RebuildPrePass(runs, out, region, sections.literals, src + srcLen, matchReader, built);
    }
    TRunFormFlagRuns runs(sections.runReader, sections.runCount);
    return RebuildPrePass(runs, out, region, sections.literals, src + srcLen, matchReader, built);
  };
  uint32_t region = S;
  TRebuild result = rebuild(region);
  if (result == TRebuild::kPastRegion) {
    uint64_t allLengths = 0;
    matchReader = firstPair;
    if (!AddMatchLengths(matchReader, matchCount, allLengths) || literalCount + allLengths > capacity) return false;
    region = static_cast<uint32_t>(literalCount + allLengths);
    if (room.Used() > capacity - region) {
      // The larger region reaches over the copies: the sections are read bit by bit.
      sections.runReader.DropCopy();
      firstPair.DropCopy();
    }
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
  // The layout alone: no copies are made for it.
  TCopyRoom room(nullptr, 0);
  TSections sections;
  return ReadSections(src, srcLen, S, N, room, sections) ? sections.end : 0;
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
