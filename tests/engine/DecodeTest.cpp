// The block decoder against a plain one written step by step: sections unpacked one bit per
// byte, numbers read with DecodeNumber, a flag array, byte-by-byte match copies and the pre-pass
// undone by RunLengthUnpackLimited into a buffer of its own. Both must accept the same blocks,
// restore the same bytes, and refuse the same damaged blocks, whatever the damage.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "EngineTestData.h"
#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "foundation/Memdiag.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Reads delta-code words from a section unpacked to one bit per byte.
class TBitList {
 public:
  TBitList(const uint8_t* packed, uint32_t bitCount) : bits_(uint64_t(bitCount / 8 + 1) * 8), count_(bitCount) {
    std::memcpy(bits_.data(), packed, bitCount / 8 + (bitCount % 8 != 0));
    uint32_t bytes = bitCount / 8 + (bitCount % 8 != 0);
    EXPECT_TRUE(UnpackBits(bits_.data(), uint32_t(bits_.size()), bytes));
  }
  bool Read(uint32_t& value) {
    uint64_t v = 0;
    SelectNumberCode(0, false);
    uint32_t used = DecodeNumber(bits_.data() + pos_, count_ - pos_, v);
    if (used == 0) return false;
    pos_ += used;
    value = uint32_t(v);
    return true;
  }

 private:
  Bytes bits_;
  uint32_t count_;
  uint32_t pos_ = 0;
};

bool PlainDecode(Bytes& dst, uint32_t capacity, const Bytes& block) {
  const uint8_t* src = block.data();
  const uint64_t srcLen = block.size();
  if (srcLen == 0) {
    dst.clear();
    return true;
  }
  if (srcLen < 8) return false;
  const uint32_t S = Load32(src), N = Load32(src + 4);
  if (capacity < S) return false;
  if (N == 0) {
    if (srcLen - 8 < S) return false;
    dst.assign(src + 8, src + 8 + S);
    return true;
  }
  if (N > S) return false;
  uint64_t pos = 8;
  if (pos >= srcLen) return false;
  std::vector<uint8_t> flags(N);
  const uint8_t tag = src[pos++];
  if (tag == 0) {
    uint32_t bytes = N / 8 + (N % 8 != 0);
    if (srcLen - pos < bytes) return false;
    for (uint32_t t = 0; t < N; ++t) flags[t] = (src[pos + t / 8] >> (t % 8)) & 1;
    pos += bytes;
  } else {
    if (srcLen - pos < 4) return false;
    uint32_t bits = Load32(src + pos);
    pos += 4;
    if (srcLen - pos < uint64_t(bits) / 8 + (bits % 8 != 0)) return false;
    TBitList list(src + pos, bits);
    pos += bits / 8 + (bits % 8 != 0);
    uint32_t runs = 0;
    if (!list.Read(runs) || runs > S) return false;
    uint64_t q = 0;
    for (uint32_t r = 0; r < runs; ++r) {
      uint32_t stored = 0;
      if (!list.Read(stored)) return false;
      uint64_t length = uint64_t(stored) + (q != 0);
      if (q + length > N) return false;
      for (uint64_t i = 0; i < length; ++i) flags[q + i] = r % 2;
      q += length;
    }
    if (q != N) return false;
  }
  uint32_t L = 0;
  for (uint8_t f : flags) L += f == 0;
  if (pos < srcLen) {
    if (L > 0 && src[pos] != 2) return false;
    ++pos;
  } else if (L > 0) {
    return false;
  }
  if (srcLen - pos < L) return false;
  const uint8_t* literals = src + pos;
  pos += L;
  std::vector<uint32_t> pairs;
  uint64_t T = 0;
  if (pos < srcLen && src[pos] == 3) {
    ++pos;
    if (srcLen - pos < 4) return false;
    uint32_t bits = Load32(src + pos);
    pos += 4;
    if (srcLen - pos < uint64_t(bits) / 8 + (bits % 8 != 0)) return false;
    TBitList list(src + pos, bits);
    uint32_t M = 0;
    if (!list.Read(M) || M > S) return false;
    for (uint32_t m = 0; m < M; ++m) {
      uint32_t d = 0, l = 0;
      if (!list.Read(d) || !list.Read(l)) return false;
      pairs.push_back(d);
      pairs.push_back(l);
      T += uint64_t(l) + 1;
    }
  }
  if (N - L > pairs.size() / 2 || L + T > capacity) return false;
  Bytes rebuilt;
  size_t lit = 0, next = 0;
  for (uint32_t t = 0; t < N; ++t) {
    if (flags[t] == 0) {
      rebuilt.push_back(literals[lit++]);
      continue;
    }
    uint64_t d = uint64_t(pairs[next]) + 1, l = uint64_t(pairs[next + 1]) + 1;
    next += 2;
    if (d > rebuilt.size()) return false;
    for (uint64_t i = 0; i < l; ++i) rebuilt.push_back(rebuilt[rebuilt.size() - d]);
  }
  Bytes restored(capacity + 1);
  uint32_t len = 0;
  if (!RunLengthUnpackLimited(restored.data(), capacity, len, rebuilt.data(), uint32_t(rebuilt.size())))
    return false;
  restored.resize(len);
  dst = restored;
  return true;
}

// Runs both decoders on one block and one capacity and compares what they say.
void ExpectSameVerdict(const Bytes& block, uint32_t capacity, const std::string& what) {
  Bytes expected;
  bool plain = PlainDecode(expected, capacity, block);
  Bytes got;
  bool fast = Decompress(block, capacity, got);
  ASSERT_EQ(plain, fast) << what;
  if (plain) {
    ASSERT_TRUE(got == expected) << what;
  }
}

// Blocks of several shapes, each compressed by the production compressor.
std::vector<Bytes> Samples() {
  std::vector<Bytes> out;
  Bytes text;
  const char* words[] = {"the ", "window ", "of ", "a ", "block ", "compressed ", "\n", "matches ", "zero "};
  std::mt19937 rng(5);
  while (text.size() < 60000) {
    const char* w = words[rng() % 9];
    text.insert(text.end(), w, w + std::strlen(w));
  }
  out.push_back(text);
  Bytes binary(50000);
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = (i % 7 == 0 || rng() % 3 == 0) ? 0 : uint8_t(rng() % 16);
  out.push_back(binary);
  Bytes runs;
  for (int r = 0; r < 300; ++r) runs.insert(runs.end(), 1 + rng() % 700, uint8_t(rng() % 3));
  out.push_back(runs);
  out.push_back(RandomBytes(3000, 9, 4));
  out.push_back(Bytes(100000, 0));
  return out;
}

TEST(DecodeAgainstPlainDecoder, ProducedBlocksAtSeveralCapacities) {
  for (const Bytes& data : Samples()) {
    Bytes block = Compress(data);
    const uint32_t n = uint32_t(data.size());
    ASSERT_NE(Load32(block.data() + 4), 0u) << "sample is stored";
    for (uint32_t capacity : {n, n - 1, n + 1, 2 * n, n + 300, Load32(block.data())}) {
      ExpectSameVerdict(block, capacity, "capacity " + std::to_string(capacity));
      if (HasFailure()) return;
    }
  }
}

// A restore whose pre-pass output is longer than the restored block and starts with long runs:
// at an exact capacity the restored bytes catch up with the stream still to be read.
TEST(DecodeAgainstPlainDecoder, TightCapacityWithRunsFirst) {
  Bytes data(5000, 'a');
  for (int i = 0; i < 3000; ++i) {
    data.push_back(0);
    data.push_back(uint8_t(1 + i % 5));
  }
  Bytes block = Compress(data);
  const uint32_t n = uint32_t(data.size());
  ASSERT_GT(Load32(block.data()), 0u);
  ASSERT_NE(Load32(block.data() + 4), 0u);
  Bytes back;
  ASSERT_TRUE(Decompress(block, n, back));
  EXPECT_TRUE(back == data);
  for (uint32_t capacity : {n - 1, n, n + 1, n + 200, n + 400}) ExpectSameVerdict(block, capacity, "tight");
}

// Random damage to produced blocks: flipped bits, changed bytes, cut tails, changed counts.
TEST(DecodeAgainstPlainDecoder, DamagedBlocks) {
  std::mt19937 rng(77);
  std::vector<Bytes> samples = Samples();
  samples.resize(4);
  for (Bytes& data : samples) data.resize(std::min<size_t>(data.size(), 6000));
  int refused = 0, accepted = 0;
  for (const Bytes& data : samples) {
    const Bytes block = Compress(data);
    const uint32_t n = uint32_t(data.size());
    for (int trial = 0; trial < 600; ++trial) {
      Bytes damaged = block;
      switch (trial % 4) {
        case 0:
          damaged[8 + rng() % (damaged.size() - 8)] ^= uint8_t(1u << (rng() % 8));
          break;
        case 1:
          damaged[rng() % damaged.size()] = uint8_t(rng());
          break;
        case 2:
          damaged.resize(rng() % damaged.size());
          break;
        default: {
          size_t at = rng() % 2 ? 0 : 4;
          Store32(damaged.data() + at, Load32(damaged.data() + at) + uint32_t(rng() % 9) - 4u);
        }
      }
      uint32_t capacity = trial % 3 == 0 ? n : 2 * n;
      Bytes expected;
      (PlainDecode(expected, capacity, damaged) ? accepted : refused)++;
      ExpectSameVerdict(damaged, capacity, "trial " + std::to_string(trial));
      if (HasFailure()) return;
    }
  }
  // The damage must reach both outcomes, or the comparison says little.
  EXPECT_GT(refused, 100);
  EXPECT_GT(accepted, 100);
}

// Crafted blocks the compressor never writes: overlapping short-distance matches (distance less
// than the length, repeating the last bytes), long overlapping matches, unused extra pairs.
std::string DeltaWord(uint64_t value) {
  uint8_t bits[80];
  SelectNumberCode(0, false);
  uint32_t n = EncodeNumber(bits, 80, value);
  std::string s;
  for (uint32_t i = 0; i < n; ++i) s += char('0' + bits[i]);
  return s;
}

Bytes Packed(const std::string& bits) {
  Bytes b((bits.size() + 7) / 8);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') b[i / 8] |= uint8_t(1u << (i % 8));
  return b;
}

// Plain flags, literals, and the given (distance, length) matches.
Bytes CraftedBlock(uint32_t S, const std::string& flags, const Bytes& literals,
                   const std::vector<std::pair<uint32_t, uint32_t>>& matches) {
  Bytes b(8);
  Store32(b.data(), S);
  Store32(b.data() + 4, uint32_t(flags.size()));
  b.push_back(0);
  Bytes f = Packed(flags);
  b.insert(b.end(), f.begin(), f.end());
  b.push_back(2);
  b.insert(b.end(), literals.begin(), literals.end());
  std::string bits = DeltaWord(matches.size());
  for (auto& m : matches) bits += DeltaWord(m.first - 1) + DeltaWord(m.second - 1);
  b.push_back(3);
  Bytes count(4);
  Store32(count.data(), uint32_t(bits.size()));
  b.insert(b.end(), count.begin(), count.end());
  Bytes packed = Packed(bits);
  b.insert(b.end(), packed.begin(), packed.end());
  return b;
}

TEST(DecodeAgainstPlainDecoder, OverlappingAndUnusedMatches) {
  const Bytes abc = {'a', 'b', 'c'};
  for (uint32_t distance = 1; distance <= 3; ++distance) {
    for (uint32_t length : {1u, 2u, 5u, 17u, 40u, 200u}) {
      // Flags 0 0 0 1 0: a, b, c, the match, z.
      Bytes fixed = CraftedBlock(3 + length + 1, "00010", {'a', 'b', 'c', 'z'}, {{distance, length}});
      ExpectSameVerdict(fixed, 400, "distance " + std::to_string(distance) + " length " + std::to_string(length));
      Bytes out;
      ASSERT_TRUE(Decompress(fixed, 400, out));
      ASSERT_EQ(out.size(), 3u + length + 1);
      for (uint32_t i = 0; i < length; ++i) ASSERT_EQ(out[3 + i], out[3 + i - distance]);
    }
  }
  // A long match of distance 20 and length 64 after 20 literals: the copy runs in steps that
  // read what earlier steps wrote.
  Bytes twenty;
  for (int i = 0; i < 20; ++i) twenty.push_back(uint8_t('A' + i));
  Bytes block = CraftedBlock(84, std::string(20, '0') + "1", twenty, {{20, 64}});
  ExpectSameVerdict(block, 84, "distance 20 length 64");
  // Two pairs for one match flag: the second is decoded and counted against the capacity, but
  // never used.
  Bytes extra = CraftedBlock(5, "0001", abc, {{3, 2}, {1, 50}});
  ExpectSameVerdict(extra, 5, "extra pair, capacity 5");
  ExpectSameVerdict(extra, 55, "extra pair, capacity 55");
  Bytes out;
  EXPECT_FALSE(Decompress(extra, 54, out));
  ASSERT_TRUE(Decompress(extra, 55, out));
  EXPECT_EQ(out, Bytes({'a', 'b', 'c', 'a', 'b'}));
}

// Crafted blocks whose header S differs from the length the tokens rebuild: the output is first
// placed by S, so a longer one must be started again elsewhere and a shorter one must not leave a
// gap in what is restored. Unused pairs make the lengths exceed the capacity in some cases.
TEST(DecodeAgainstPlainDecoder, HeaderLengthUnlikeRebuiltLength) {
  Bytes literals;
  for (int i = 0; i < 40; ++i) literals.push_back(uint8_t(i % 3 == 0 ? 0 : 'a' + i % 26));
  literals.push_back(0);
  literals.push_back(0);
  const std::string flags = std::string(40, '0') + "1101" + "0";
  const std::vector<std::vector<std::pair<uint32_t, uint32_t>>> pairLists = {
      {{17, 30}, {40, 9}, {3, 3}},
      {{17, 30}, {40, 9}, {3, 3}, {1, 70}},
      {{1, 300}, {20, 20}, {5, 2}},
  };
  for (const auto& pairs : pairLists) {
    uint32_t rebuilt = 42;
    for (size_t m = 0; m < 3; ++m) rebuilt += pairs[m].second;
    for (uint32_t S : {uint32_t(flags.size()), rebuilt - 1, rebuilt, rebuilt + 1, rebuilt + 200}) {
      const Bytes block = CraftedBlock(S, flags, literals, pairs);
      for (uint32_t capacity : {S, rebuilt, rebuilt + 69, rebuilt + 70, 2 * rebuilt + 300}) {
        if (capacity < S) continue;
        ExpectSameVerdict(block, capacity, "S " + std::to_string(S) + " capacity " + std::to_string(capacity));
        if (HasFailure()) return;
      }
    }
  }
}

// Data dense in escape items of every kind (lone zeros, zeros side by side, zero runs, long runs
// of other bytes) with plain stretches of random length between them, so that items fall at every
// place of the stream and across every 64-byte step of the restore; at the exact capacity the
// restored bytes also catch up with the stream, and at a roomy one the restore keeps its widest
// steps throughout.
TEST(DecodeAgainstPlainDecoder, EscapeItemsEverywhere) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    Bytes data;
    while (data.size() < 40000) {
      const uint32_t plain = rng() % 4 == 0 ? rng() % 150 : rng() % 8;
      for (uint32_t i = 0; i < plain; ++i) data.push_back(uint8_t(1 + rng() % 255));
      switch (rng() % 5) {
        case 0:
          data.push_back(0);
          break;
        case 1:
          data.insert(data.end(), 2, 0);
          break;
        case 2:
          data.insert(data.end(), 3 + rng() % 40, 0);
          break;
        case 3:
          data.insert(data.end(), 3 + rng() % 600, uint8_t(1 + rng() % 255));
          break;
        default:
          data.push_back(0);
          data.push_back(1);
      }
    }
    const Bytes block = Compress(data);
    ASSERT_NE(Load32(block.data() + 4), 0u) << "sample is stored";
    const uint32_t n = uint32_t(data.size());
    Bytes back;
    ASSERT_TRUE(Decompress(block, n, back));
    ASSERT_TRUE(back == data) << "seed " << seed;
    for (uint32_t capacity : {n - 1, n + 1, std::max(n, Load32(block.data())) + 100, 2 * n + 6000})
      ExpectSameVerdict(block, capacity, "seed " + std::to_string(seed) + " capacity " + std::to_string(capacity));
  }
}

// At the exact capacity, full records in a row (3 stream bytes for 255 restored ones) close in on
// the stream still to be read, which the lone zeros after them (3 stream bytes, 2 restored) give
// back: the restore must go over to smaller steps before they overwrite it.
TEST(DecodeAgainstPlainDecoder, RecordsCloseInOnTheStream) {
  std::mt19937 rng(11);
  for (uint32_t prefix : {1000u, 1001u, 1037u}) {
    for (uint32_t records : {25u, 40u}) {
      for (uint32_t loneZeros : {1000u, 2000u, 4000u}) {
        Bytes data;
        for (uint32_t i = 0; i < prefix; ++i) data.push_back(uint8_t(1 + rng() % 255));
        data.insert(data.end(), 255 * records, 'a');
        for (uint32_t i = 0; i < loneZeros; ++i) {
          data.push_back(0);
          data.push_back(uint8_t(1 + rng() % 255));
        }
        const Bytes block = Compress(data);
        ASSERT_NE(Load32(block.data() + 4), 0u) << "sample is stored";
        const uint32_t n = uint32_t(data.size());
        const std::string what = std::to_string(prefix) + " " + std::to_string(records) + " " + std::to_string(loneZeros);
        Bytes back;
        ASSERT_TRUE(Decompress(block, n, back)) << what;
        ASSERT_TRUE(back == data) << what;
        ExpectSameVerdict(block, n + 1, what);
      }
    }
  }
}

// Plain flags with stretches of literal flags around the 57 flags read at once, each stretch
// closed by a match flag or by the end of the flags.
TEST(DecodeAgainstPlainDecoder, LongLiteralStretchesInPlainFlags) {
  for (uint32_t stretch : {1u, 55u, 56u, 57u, 58u, 113u, 114u, 115u, 200u}) {
    for (bool matchLast : {false, true}) {
      std::string flags = std::string(stretch, '0') + "1" + std::string(stretch, '0');
      if (matchLast) flags += "1";
      Bytes literals;
      for (uint32_t i = 0; i < 2 * stretch; ++i) literals.push_back(uint8_t(1 + i % 200));
      std::vector<std::pair<uint32_t, uint32_t>> pairs = {{stretch, 4}};
      if (matchLast) pairs.push_back({2 * stretch, 9});
      const uint32_t rebuilt = 2 * stretch + 4 + (matchLast ? 9 : 0);
      const Bytes block = CraftedBlock(rebuilt, flags, literals, pairs);
      const std::string what = "stretch " + std::to_string(stretch) + (matchLast ? " match last" : "");
      ExpectSameVerdict(block, rebuilt, what);
      Bytes out;
      ASSERT_TRUE(Decompress(block, rebuilt, out)) << what;
      ASSERT_EQ(out.size(), rebuilt) << what;
    }
  }
}

// Every cut of produced blocks, on both decoders: a cut lands inside each section in turn.
TEST(DecodeAgainstPlainDecoder, EveryCut) {
  for (const Bytes& data : Samples()) {
    Bytes small(data.begin(), data.begin() + std::min<size_t>(data.size(), 1500));
    Bytes block = Compress(small);
    for (size_t cut = 0; cut <= block.size(); ++cut) {
      ExpectSameVerdict(Bytes(block.begin(), block.begin() + cut), 3000, "cut " + std::to_string(cut));
      if (HasFailure()) return;
    }
  }
}

}  // namespace

namespace {

// A block with some 200,000 matches, from the tightest capacity to a loose one: the output is
// rebuilt at the top of dst and restored downward over its own bytes, and the bytes, and the
// verdicts on damage in the later pairs, must come out as the plain decoder's.
TEST(DecodeAgainstPlainDecoder, ManyMatches) {
  std::mt19937 rng(3);
  Bytes data;
  while (data.size() < 1500000) {
    uint32_t word = rng() % 4000;
    for (int c = 0; c < 3 + int(word % 5); ++c) data.push_back(uint8_t('a' + (word >> (2 * c)) % 26));
    data.push_back(' ');
  }
  const Bytes block = Compress(data);
  ASSERT_NE(Load32(block.data() + 4), 0u);
  const uint32_t n = uint32_t(data.size());
  std::vector<Bytes> damaged;
  for (int trial = 0; trial < 6; ++trial) {
    damaged.push_back(block);
    damaged.back()[block.size() - 1 - rng() % (block.size() / 4)] ^= uint8_t(1u << (rng() % 8));
  }
  for (uint32_t capacity : {n, n + 8, n + n / 8, n + n / 3, n + n / 2 + 12345, 3 * n}) {
    const std::string how = "capacity n + " + std::to_string(capacity - n);
    Bytes back;
    EXPECT_TRUE(Decompress(block, capacity, back)) << how;
    EXPECT_TRUE(back == data) << how;
    for (size_t trial = 0; trial < damaged.size(); ++trial)
      ExpectSameVerdict(damaged[trial], capacity, how + " damaged late match " + std::to_string(trial));
    ExpectSameVerdict(Bytes(block.begin(), block.end() - 3), capacity, how + " cut");
  }
}

}  // namespace
