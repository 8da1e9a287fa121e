// The decoder: worked blocks, crafted blocks the compressor never writes (each with the verdict it
// must give, one broken thing at a time), cuts of produced blocks, and produced blocks restored at
// the tightest capacities, where the output is rebuilt over its own bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "EngineTestData.h"
#include "engine/BlockCheck.h"
#include "engine/Compression.h"
#include "foundation/LittleEndian.h"

namespace {

typedef std::vector<uint8_t> Bytes;
typedef std::vector<std::pair<uint32_t, uint32_t>> Pairs;

const Bytes kAb = {'a', 'b'};
// Flags 0 0 1 in run form: R = 2, a run of two zeros (its own length, at flag 0), a run of one
// one (length - 1).
const std::string kRuns = "1001" "1001" "0";

Bytes Cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + n); }
Bytes With(Bytes b, size_t at, uint8_t value) {
  b[at] = value;
  return b;
}

TEST(DecompressBlock, WorkedBlocks) {
  Bytes out;
  uint8_t dummy[4];
  uint32_t len = 77;
  EXPECT_TRUE(DecompressBlock(dummy, len, nullptr, 0));
  EXPECT_EQ(len, 0u);

  const Bytes stored = {1, 0, 0, 0, 0, 0, 0, 0, 0x61};
  ASSERT_TRUE(Decompress(stored, 1, out));
  EXPECT_EQ(out, Bytes{0x61});
  EXPECT_FALSE(Decompress(stored, 0, out));
  EXPECT_FALSE(Decompress(Cut(stored, 8), 1, out));

  const Bytes zeros = Compress(Bytes(1000, 0));
  ASSERT_TRUE(Decompress(zeros, 5000, out));
  EXPECT_EQ(out, Bytes(1000, 0));
  EXPECT_FALSE(Decompress(zeros, 11, out));   // below S = 12
  EXPECT_FALSE(Decompress(zeros, 999, out));  // restored length over the capacity
  ASSERT_TRUE(Decompress(Compress(Bytes(300, 0x61)), 300, out));
  EXPECT_EQ(out, Bytes(300, 0x61));

  // Crafted: "ab" and a match of distance 2, length 4, with the flags plain and as runs.
  for (const std::string& runs : {std::string(), kRuns}) {
    ASSERT_TRUE(Decompress(CraftedBlock(6, "001", kAb, {{2, 4}}, runs), 6, out)) << runs;
    EXPECT_EQ(std::string(out.begin(), out.end()), "ababab");
    EXPECT_FALSE(Decompress(CraftedBlock(6, "001", kAb, {{2, 4}}, runs), 5, out));
  }
}

// Blocks the compressor never writes but whose meaning is plain: matches that overlap their
// source repeat it byte by byte, a header S unlike the length the tokens rebuild (the capacity
// alone bounds the output), and pairs past the last match flag, whose lengths count against the
// capacity without being used.
TEST(DecompressBlock, CraftedBlocksItAccepts) {
  const struct {
    uint32_t S;
    std::string flags;
    Pairs pairs;
    uint32_t capacity;
    const char* restored;  // null: refused
  } cases[] = {
      {10, "0001", {{1, 7}}, 10, "abcccccccc"},
      {10, "0001", {{3, 7}}, 10, "abcabcabca"},
      {10, "0001", {{2, 7}}, 10, "abcbcbcbcb"},
      {3, "001", {{2, 4}}, 6, "ababab"},    // S shorter than the output
      {50, "001", {{2, 4}}, 50, "ababab"},  // S longer
      {3, "001", {{2, 40}}, 42, "ababababababababababababababababababababab"},
      {3, "001", {{2, 40}}, 41, nullptr},
      {6, "001", {{2, 4}, {1, 50}}, 56, "ababab"},
      {6, "001", {{2, 4}, {1, 50}}, 55, nullptr},
      {4, "0010", {{2, 40}}, 43, "abababababababababababababababababababababc"},
  };
  // The flags also in run form (two runs, and three: the last run read on its own): where S is
  // shorter than the output, the sections are then read again from the block itself.
  const std::string oddRuns = DeltaWord(3) + DeltaWord(2) + DeltaWord(0) + DeltaWord(0);
  for (const auto& c : cases) {
    for (const std::string& runs : {std::string(), kRuns, oddRuns}) {
      if (!runs.empty() && c.flags != (runs == kRuns ? "001" : "0010")) continue;
      const Bytes literals = c.flags.size() == 4 ? Bytes{'a', 'b', 'c'} : kAb;
      Bytes out;
      const bool accepted = Decompress(CraftedBlock(c.S, c.flags, literals, c.pairs, runs), c.capacity, out);
      EXPECT_EQ(c.restored != nullptr, accepted) << c.S << " " << c.capacity << " " << runs;
      if (accepted && c.restored != nullptr) {
        EXPECT_EQ(std::string(out.begin(), out.end()), c.restored);
      }
    }
  }
}

// One thing broken at a time; every one is refused and leaves the capacity as it was (Decompress
// checks that).
TEST(DecompressBlock, RefusesDamagedBlocks) {
  const Bytes plain = CraftedBlock(6, "001", kAb, {{2, 4}});
  const Bytes runForm = CraftedBlock(6, "001", kAb, {{2, 4}}, kRuns);
  const std::string cutPair = DeltaWord(1) + DeltaWord(1);
  // Counts of 2^31: words of five ones, past what the decoder's tables take in one look-up.
  const std::string hugeCount = DeltaWord(1ull << 31) + DeltaWord(1) + DeltaWord(3);
  Bytes longFlags = CraftedBlock(200, std::string(100, '0'), Bytes(100, 'x'), {});
  Bytes runsPastBlock = runForm;
  runsPastBlock[9] = 250;
  Bytes pairsPastBlock = plain;
  pairsPastBlock[plain.size() - 5] = 200;
  const struct {
    const char* what;
    Bytes block;
  } cases[] = {
      {"header cut", Cut(plain, 6)},
      {"nothing after the header", Cut(plain, 8)},
      {"N over S", CraftedBlock(2, "001", kAb, {{2, 4}})},
      {"plain flags cut", Cut(longFlags, 11)},
      {"run bits past the block", runsPastBlock},
      {"run bits cut", Cut(runForm, 14)},
      {"run bit count cut", Cut(runForm, 11)},
      {"run word cut", CraftedBlock(6, "001", kAb, {{2, 4}}, "1001" "1001" "1")},
      {"more runs than S", CraftedBlock(6, "001", kAb, {{2, 4}}, DeltaWord(7) + "1001" "0" "0" "0" "0" "0" "0")},
      {"run count 2^31", CraftedBlock(6, "001", kAb, {{2, 4}}, DeltaWord(1ull << 31) + "1001" "0")},
      {"runs short of N", CraftedBlock(6, "001", kAb, {{2, 4}}, DeltaWord(1) + DeltaWord(2))},
      {"runs past N", CraftedBlock(6, "001", kAb, {{2, 4}}, DeltaWord(2) + DeltaWord(3) + DeltaWord(1))},
      {"literal tag wrong", With(plain, 10, 7)},
      {"literals cut", Cut(plain, 12)},
      {"match bits past the block", pairsPastBlock},
      {"match bit count cut", Cut(plain, plain.size() - 4)},
      {"match bits cut", Cut(plain, plain.size() - 1)},
      {"more matches than S", CraftedBlock(6, "001", kAb, {{2, 4}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}})},
      {"more match flags than matches", CraftedBlock(6, "0011", kAb, {{2, 2}})},
      {"match count 2^31", CraftedBlock(6, "001", kAb, {}, "", &hugeCount)},
      {"match word cut", CraftedBlock(6, "001", kAb, {}, "", &cutPair)},
      {"distance before the start", CraftedBlock(6, "001", kAb, {{3, 4}})},
      {"first token a match", CraftedBlock(6, "1", {}, {{1, 6}})},
      {"huge match length", CraftedBlock(6, "001", kAb, {{2, 1u << 20}})},
      // Rebuilt stream 41 00: an escape cut after its first byte.
      {"escape cut", {2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 2, 0x41, 0x00, 3, 1, 0, 0, 0, 0}},
      // Rebuilt stream 00 FF 41: 255 bytes, over the capacity of 100.
      {"record over the capacity", {3, 0, 0, 0, 3, 0, 0, 0, 0, 0, 2, 0x00, 0xFF, 0x41, 3, 1, 0, 0, 0, 0}},
  };
  Bytes out;
  for (const auto& c : cases) EXPECT_FALSE(Decompress(c.block, 100, out)) << c.what;
  const Bytes storedHeader(8, 0);
  EXPECT_EQ(BlockBodyLength(storedHeader.data(), 7), 0u) << "a stored header cut by a byte";
  ASSERT_TRUE(Decompress(plain, 100, out));
  ASSERT_TRUE(Decompress(runForm, 100, out));
}

// Every cut of produced blocks (but the empty one, a block of no bytes) is refused or, where only the match section of a block without
// matches is cut away, restores the block; nothing is read outside the cut block (the sanitizer
// build watches that).
TEST(DecompressBlock, EveryCutOfProducedBlocks) {
  Bytes text(3000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = uint8_t("abcab cabbage "[i % 14] + (i % 97 == 0));
  for (const Bytes& data : {text, RandomBytes(1500, 9, 4), Bytes(2000, 0), Bytes(300, 0x61)}) {
    const Bytes block = Compress(data);
    Bytes out;
    for (size_t cut = 1; cut < block.size(); ++cut) {
      if (Decompress(Cut(block, cut), 4000, out)) {
        EXPECT_EQ(out, data) << "cut " << cut;
      }
    }
  }
}

// Produced blocks with bits flipped, a byte inserted or deleted: Decompress holds the engine's
// verdict and bytes against the plain decoder's, whatever they are, at tight and loose capacities.
TEST(DecompressBlock, ChangedBlocksAgreeWithThePlainDecoder) {
  std::mt19937 rng(54);
  const Bytes text = ReadAll(std::string(VELMORA_CORPUS_DIR) + "/alice29.txt");
  for (const Bytes& data : {Bytes(text.begin(), text.begin() + 4000), RandomBytes(900, 5, 6), Bytes(700, 0)}) {
    const Bytes block = Compress(data);
    Bytes out;
    for (int round = 0; round < 1500; ++round) {
      Bytes changed = block;
      const size_t at = rng() % changed.size();
      if (round % 3 == 0) changed.insert(changed.begin() + at, uint8_t(rng()));
      if (round % 3 == 1) changed.erase(changed.begin() + at);
      if (round % 3 == 2) changed[at] ^= uint8_t(1u << (rng() % 8));
      Decompress(changed, uint32_t(data.size() + rng() % 3 * (data.size() / 2)), out);
    }
  }
  // The fuzzers' corpus of blocks (fuzz/corpus/blocks), at the capacity its first byte picks.
  size_t replayed = 0;
  for (const auto& file : std::filesystem::directory_iterator(std::string(VELMORA_SOURCE_DIR) + "/fuzz/corpus/blocks")) {
    const Bytes block = ReadAll(file.path().string());
    Bytes out;
    Decompress(block, block.empty() ? 64 : 64u << (4 * (block[0] & 3)), out);
    ++replayed;
  }
  EXPECT_GT(replayed, 100u);
}

// Produced blocks restored at the exact capacity and a little above it: the pre-pass output is
// rebuilt at the top of dst and undone downward over its own bytes. The data puts escape items of
// every kind everywhere; full run records in a row close in on the stream still to be read, which
// lone zeros after them give back; a block of some 200,000 matches.
TEST(DecompressBlock, TightCapacitiesRestoreExactly) {
  std::vector<Bytes> samples;
  std::mt19937 rng(1);
  for (int seed = 0; seed < 3; ++seed) {
    Bytes data;
    while (data.size() < 40000) {
      const uint32_t plain = rng() % 4 == 0 ? rng() % 150 : rng() % 8;
      for (uint32_t i = 0; i < plain; ++i) data.push_back(uint8_t(1 + rng() % 255));
      const uint32_t kind = rng() % 5;
      if (kind == 0) data.push_back(0);
      if (kind == 1) data.insert(data.end(), 2, 0);
      if (kind == 2) data.insert(data.end(), 3 + rng() % 40, 0);
      if (kind == 3) data.insert(data.end(), 3 + rng() % 600, uint8_t(1 + rng() % 255));
      if (kind == 4) data.insert(data.end(), {0, 1});
    }
    samples.push_back(data);
  }
  for (uint32_t prefix : {1000u, 1037u}) {
    Bytes data;
    for (uint32_t i = 0; i < prefix; ++i) data.push_back(uint8_t(1 + rng() % 255));
    data.insert(data.end(), 255 * 40, 'a');
    for (int i = 0; i < 4000; ++i) data.insert(data.end(), {0, uint8_t(1 + rng() % 255)});
    samples.push_back(data);
  }
  Bytes words;
  while (words.size() < 1500000) {
    const uint32_t word = rng() % 4000;
    for (uint32_t c = 0; c < 3 + word % 5; ++c) words.push_back(uint8_t('a' + (word >> (2 * c)) % 26));
    words.push_back(' ');
  }
  samples.push_back(words);
  for (const Bytes& data : samples) {
    const Bytes block = Compress(data);
    ASSERT_NE(Load32(block.data() + 4), 0u) << "sample is stored";
    const uint32_t n = uint32_t(data.size());
    for (uint32_t capacity : {n, n + 1, n + 8, n + n / 3, 2 * n}) {
      Bytes out;
      ASSERT_TRUE(Decompress(block, capacity, out)) << n << " at " << capacity;
      ASSERT_TRUE(out == data) << n << " at " << capacity;
    }
    Bytes out;
    EXPECT_FALSE(Decompress(block, n - 1, out));
  }
}

// A pair of more than 57 bits (distance and length of 2^20) is read bit by bit, and the pair
// after it from where it ended.
TEST(DecompressBlock, PairLongerThanTheWindowTakes) {
  const uint32_t mib = 1u << 20;
  const uint32_t n = 2 + 2 * mib + 1;
  const Bytes block = CraftedBlock(n, "00111", kAb, {{2, mib}, {mib, mib}, {1, 1}});
  Bytes out;
  ASSERT_TRUE(Decompress(block, n, out));
  ASSERT_EQ(out.size(), n);
  // abab... then the last byte repeats the one before it.
  for (uint32_t i = 0; i + 1 < n; ++i)
    if (out[i] != "ab"[i % 2]) FAIL() << "byte " << i;
  EXPECT_EQ(out[n - 1], 'b');
}

// A full stored block in the file job's layout: the input area directly followed by the output
// area, so the block's last 8 bytes lie in dst.
TEST(DecompressBlock, FullStoredBlockOverlappingItsDestination) {
  const uint32_t window = 2097152;
  const Bytes data = RandomBytes(window, 21);
  const Bytes block = Compress(data);
  ASSERT_EQ(block.size(), window + 8u);
  Bytes buffer(window + 8 + window);
  std::memcpy(buffer.data(), block.data(), block.size());
  uint32_t len = window;
  ASSERT_TRUE(DecompressBlock(buffer.data() + window, len, buffer.data(), window + 8));
  ASSERT_EQ(len, window);
  EXPECT_EQ(0, std::memcmp(buffer.data() + window, data.data(), window));
}

}  // namespace

// A checked block (the engine's block and its trailer) with any one byte changed, over real
// data in both forms: the check refuses it, or it restores the very chunk (a change in padding
// bits past a section's last code, which the format leaves unused). Nothing changed gets through.
TEST(DecompressCheckedBlock, EveryChangedByteIsCaughtOrHarmless) {
  const Bytes text = ReadAll(std::string(VELMORA_CORPUS_DIR) + "/alice29.txt");
  for (const Bytes& chunk : {Bytes(text.begin(), text.begin() + 6000), RandomBytes(700, 3)}) {
    Bytes payload = Compress(chunk);
    payload.resize(payload.size() + kBlockTrailerBytes);
    WriteBlockTrailer(payload.data() + payload.size() - kBlockTrailerBytes, chunk.data(), uint32_t(chunk.size()), 77);
    uint32_t caught = 0, harmless = 0;
    for (size_t at = 0; at < payload.size(); ++at) {
      Bytes changed = With(payload, at, uint8_t(payload[at] + 1));
      Bytes out(2 * chunk.size() + 16);
      uint32_t length = uint32_t(out.size());
      const TBlockVerdict verdict = DecompressCheckedBlock(out.data(), length, changed.data(), uint32_t(changed.size()), 77);
      if (verdict != BlockWhole) {
        ++caught;
      } else {
        ++harmless;
        ASSERT_EQ(chunk, Bytes(out.begin(), out.begin() + length)) << "byte " << at << " changed the chunk unnoticed";
      }
    }
    EXPECT_GT(caught, 9 * payload.size() / 10);
    EXPECT_EQ(payload.size(), caught + harmless);
  }
}
