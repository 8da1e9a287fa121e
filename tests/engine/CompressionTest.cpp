#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "EngineTestData.h"
#include "ReferenceCompressor.h"
#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "foundation/Memdiag.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Hex(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(uint8_t(x));
  return b;
}

void ExpectRoundTrip(const Bytes& data, const char* what) {
  Bytes block = Compress(data);
  ASSERT_LE(block.size(), data.size() + 8) << what;
  Bytes back;
  ASSERT_TRUE(Decompress(block, 2 * uint32_t(data.size()), back)) << what;  // the file job offers 2 x window
  ASSERT_TRUE(back == data) << what;
}

void ExpectSameAsReference(const Bytes& data, const char* what) {
  Bytes production = Compress(data);
  Bytes reference = ReferenceCompressBlock(data.data(), uint32_t(data.size()));
  ASSERT_TRUE(production == reference) << what << " (" << production.size() << " vs "
                                       << reference.size() << " bytes)";
}

TEST(CompressBlock, WorkedBlocks) {
  EXPECT_TRUE(Compress(Bytes{}).empty());
  EXPECT_EQ(Compress(Hex({0x61})), Hex({1, 0, 0, 0, 0, 0, 0, 0, 0x61}));
  Bytes abab = Hex({0x61, 0x62, 0x61, 0x62, 0x61, 0x62, 0x61, 0x62});
  Bytes stored = Hex({8, 0, 0, 0, 0, 0, 0, 0});
  stored.insert(stored.end(), abab.begin(), abab.end());
  EXPECT_EQ(Compress(abab), stored);
  EXPECT_EQ(Compress(Bytes(1000, 0)),
            Hex({0x0C, 0, 0, 0, 0x07, 0, 0, 0, 0x00, 0x18, 0x02, 0x00, 0xFF, 0x00, 0xEB, 0x00,
                 0x03, 0x16, 0x00, 0x00, 0x00, 0x99, 0xD9, 0x0A}));
  EXPECT_EQ(Compress(Bytes(300, 0x61)),
            Hex({0x06, 0, 0, 0, 0x06, 0, 0, 0, 0x01, 0x09, 0, 0, 0, 0xD1, 0x01, 0x02, 0x00, 0xFF,
                 0x61, 0x00, 0x2D, 0x61, 0x03, 0x01, 0, 0, 0, 0x00}));
}

TEST(CompressBlock, TrialFormsOfTheSmallExamples) {
  // The stored choices above rest on these trial lengths: 18 bytes for one byte, 21 for abab.
  uint8_t one = 0x61;
  uint8_t pre[2];
  uint32_t S = 0;
  RunLengthPack(pre, S, &one, 1);
  SReferenceTokens tokens;
  ReferenceSearch(pre, S, tokens);
  EXPECT_EQ(tokens.flags.size(), 1u);

  const uint8_t abab[] = {0x61, 0x62, 0x61, 0x62, 0x61, 0x62, 0x61, 0x62};
  uint8_t pre8[16];
  RunLengthPack(pre8, S, abab, 8);
  ReferenceSearch(pre8, S, tokens);
  ASSERT_EQ(tokens.flags, Hex({0, 0, 1, 1}));
  EXPECT_EQ(tokens.distancesMinusOne, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(tokens.lengthsMinusOne, (std::vector<uint32_t>{1, 3}));
}

TEST(CompressBlock, SwitchedOffStoresEverything) {
  SetCompression(false);
  Bytes zeros(1000, 0);
  Bytes block = Compress(zeros);
  SetCompression(true);
  ASSERT_EQ(block.size(), 1008u);
  EXPECT_EQ(block[0], 0xE8);
  EXPECT_EQ(block[1], 0x03);
  EXPECT_EQ(block[4], 0);
  Bytes back;
  ASSERT_TRUE(Decompress(block, 1000, back));
  EXPECT_EQ(back, zeros);
}

TEST(CompressBlock, RandomDataIsStored) {
  Bytes data = RandomBytes(100000, 11);
  Bytes block = Compress(data);
  ASSERT_EQ(block.size(), data.size() + 8);
  EXPECT_EQ(0, std::memcmp(block.data() + 8, data.data(), data.size()));
  ExpectRoundTrip(data, "random");
}

TEST(CompressBlock, WorkAreaIsReturned) {
  Bytes text(50000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = uint8_t("the quick brown fox "[i % 20]);
  // The first block may have to open the region (its entry table counts as used); measure a second one.
  Compress(text);
  TMemoryRegionState before{}, after{};
  ASSERT_TRUE(MemoryRegionState(CurrentMemoryRegion(), before));
  Bytes block = Compress(text);
  Bytes back;
  ASSERT_TRUE(Decompress(block, uint32_t(text.size()), back));
  ASSERT_TRUE(MemoryRegionState(CurrentMemoryRegion(), after));
  EXPECT_EQ(before.used, after.used);
}

TEST(RoundTrip, OddSizesAndShapes) {
  Bytes text = ReadWholeFile(std::string(VELMORA_CORPUS_DIR) + "/alice29.txt");
  ASSERT_GT(text.size(), 70000u);
  for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(255), size_t(256), size_t(65536)}) {
    ExpectRoundTrip(Bytes(text.begin(), text.begin() + n), "text prefix");
    ExpectRoundTrip(RandomBytes(n, uint32_t(n)), "random");
    ExpectRoundTrip(Bytes(n, 0), "zeros");
    ExpectRoundTrip(RandomBytes(n, uint32_t(n), 3), "three letters");
  }
  ExpectRoundTrip(Bytes(100000, 0xAB), "one long run");
  Bytes pattern(200000);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = uint8_t((i % 7) * 37);
  ExpectRoundTrip(pattern, "short pattern");
}

TEST(RoundTrip, CorpusAtTheDefaultWindow) {
  const uint32_t window = 2097152;
  std::vector<std::string> files = CorpusFiles();
  ASSERT_GE(files.size(), 5u);
  bool sawSeveralBlocks = false;
  for (const std::string& path : files) {
    Bytes data = ReadWholeFile(path);
    size_t blocks = 0;
    for (size_t at = 0; at < data.size() || (at == 0 && data.empty()); at += window) {
      size_t n = std::min<size_t>(window, data.size() - at);
      Bytes part(data.begin() + at, data.begin() + at + n);
      Bytes block = Compress(part);
      Bytes back;
      ASSERT_TRUE(Decompress(block, 2 * window, back)) << path;
      ASSERT_TRUE(back == part) << path << " at " << at;
      ++blocks;
      if (data.empty()) break;
    }
    if (blocks > 1) sawSeveralBlocks = true;
  }
  // All files end to end, as often as it takes, give a stream longer than one window.
  Bytes all;
  while (all.size() <= window)
    for (const std::string& path : files) {
      Bytes data = ReadWholeFile(path);
      all.insert(all.end(), data.begin(), data.end());
    }
  ASSERT_GT(all.size(), size_t(window));
  for (size_t at = 0; at < all.size(); at += window) {
    Bytes part(all.begin() + at, all.begin() + std::min(all.size(), at + window));
    ExpectRoundTrip(part, "corpus stream");
  }
  if (!sawSeveralBlocks) {
    // No corpus file spans two windows: check several blocks with a smaller window.
    Bytes data = ReadWholeFile(files[0]);
    for (size_t at = 0; at < data.size(); at += 40000) {
      Bytes part(data.begin() + at, data.begin() + std::min(data.size(), at + 40000));
      ExpectRoundTrip(part, "small window");
    }
  }
}

TEST(SameAsReference, Corpus) {
  for (const std::string& path : CorpusFiles()) {
    Bytes data = ReadWholeFile(path);
    if (data.size() > 300000) data.resize(300000);
    ExpectSameAsReference(data, path.c_str());
  }
}

TEST(SameAsReference, GeneratedData) {
  ExpectSameAsReference(RandomBytes(70000, 3), "random");
  ExpectSameAsReference(RandomBytes(70000, 4, 4), "four letters");
  ExpectSameAsReference(RandomBytes(70000, 5, 2), "two letters");
  Bytes runs;
  std::mt19937 rng(9);
  while (runs.size() < 80000) runs.insert(runs.end(), 1 + rng() % 600, uint8_t(rng() % 3));
  ExpectSameAsReference(runs, "runs");
  for (size_t period : {2, 3, 5, 64, 300}) {
    Bytes p(50000);
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(1 + (i % period) * 13);
    ExpectSameAsReference(p, "pattern");
  }
  // Every two-byte key, in order and shuffled, so every bucket is used.
  Bytes keys;
  for (uint32_t k = 0; k < 65536; ++k) {
    keys.push_back(uint8_t(k));
    keys.push_back(uint8_t(k >> 8));
  }
  ExpectSameAsReference(keys, "every key");
  // A pre-pass output twice the block: isolated zero bytes.
  Bytes zeros(60000);
  for (size_t i = 0; i < zeros.size(); ++i) zeros[i] = (i % 2) ? 0 : uint8_t(1 + rng() % 5);
  for (size_t i = 0; i < 60000; i += 2) zeros[i] = 0, zeros[i + 1] = uint8_t(1 + rng() % 200);
  ExpectSameAsReference(zeros, "zeros between bytes");
  Bytes allZero(30000);
  for (size_t i = 0; i < allZero.size(); ++i) allZero[i] = (i % 3 == 2) ? uint8_t(rng()) | 1 : 0;
  ExpectSameAsReference(allZero, "zero pairs");
  // Long bucket histories: the same key more than 256 times with varying continuations.
  Bytes hist;
  for (int i = 0; i < 30000; ++i) {
    hist.push_back('x');
    hist.push_back('y');
    hist.push_back(uint8_t(rng() % 40 + 1));
  }
  ExpectSameAsReference(hist, "full buckets");
}

// One work area serves block after block, long and short, in any order: every block comes out as
// the reference makes it, so nothing of an earlier block leaks into a later one.
TEST(SameAsReference, OneWorkAreaForManyBlocks) {
  SBlockWork work;
  ASSERT_TRUE(CreateBlockWork(work, 300000));
  std::vector<Bytes> blocks;
  for (const std::string& path : CorpusFiles()) {
    Bytes data = ReadWholeFile(path);
    blocks.push_back(Bytes(data.begin(), data.begin() + std::min<size_t>(data.size(), 300000)));
    blocks.push_back(Bytes(data.begin(), data.begin() + std::min<size_t>(data.size(), 700)));
  }
  blocks.push_back(RandomBytes(5000, 11, 3));
  blocks.push_back(Bytes(1, 'a'));
  blocks.push_back(RandomBytes(20000, 12, 2));
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Bytes& block = blocks[i];
    Bytes out(CompressBoundFor(uint32_t(block.size())));
    uint32_t length = 0;
    ASSERT_TRUE(CompressBlockIn(work, out.data(), length, block.data(), uint32_t(block.size())));
    out.resize(length);
    EXPECT_EQ(ReferenceCompressBlock(block.data(), uint32_t(block.size())), out) << "block " << i;
  }
  Bytes tooLong(300001, 'x');
  Bytes out(CompressBoundFor(uint32_t(tooLong.size())));
  uint32_t length = 0;
  EXPECT_FALSE(CompressBlockIn(work, out.data(), length, tooLong.data(), uint32_t(tooLong.size())));
  FreeBlockWork(work);
}

// --- the decoder ---

TEST(DecompressBlock, WorkedCases) {
  Bytes out;
  uint32_t len = 77;
  uint8_t dummy[4];
  EXPECT_TRUE(DecompressBlock(dummy, len, nullptr, 0));
  EXPECT_EQ(len, 0u);
  const uint8_t two[] = {1, 0};
  len = 4;
  EXPECT_FALSE(DecompressBlock(dummy, len, two, 2));
  EXPECT_EQ(len, 4u);

  Bytes stored = Hex({1, 0, 0, 0, 0, 0, 0, 0, 0x61});
  ASSERT_TRUE(Decompress(stored, 1, out));
  EXPECT_EQ(out, Hex({0x61}));
  EXPECT_FALSE(Decompress(stored, 0, out));
  EXPECT_FALSE(Decompress(Bytes(stored.begin(), stored.begin() + 8), 1, out));

  Bytes zeros = Compress(Bytes(1000, 0));
  ASSERT_TRUE(Decompress(zeros, 1000, out));
  EXPECT_EQ(out, Bytes(1000, 0));
  ASSERT_TRUE(Decompress(zeros, 5000, out));
  EXPECT_EQ(out.size(), 1000u);
  EXPECT_FALSE(Decompress(zeros, 11, out));
  EXPECT_FALSE(Decompress(zeros, 999, out));  // restored length over the capacity

  ASSERT_TRUE(Decompress(Compress(Bytes(300, 0x61)), 300, out));
  EXPECT_EQ(out, Bytes(300, 0x61));
}

std::string DeltaBits(uint64_t v) {
  uint8_t bits[96];
  uint32_t n = EncodeNumber(bits, sizeof bits, v);
  std::string s;
  for (uint32_t i = 0; i < n; ++i) s += char('0' + bits[i]);
  return s;
}

// Packs a bit string ("1001...") the way the sections hold it.
Bytes PackedBits(const char* bits) {
  Bytes out;
  for (size_t i = 0; bits[i]; ++i) {
    if (i % 8 == 0) out.push_back(0);
    out.back() |= uint8_t((bits[i] - '0') << (i % 8));
  }
  return out;
}

// A run-form block: header, tag 1, the run bits, the literals, tag 3 and the match bits.
Bytes RunFormBlock(uint32_t S, uint32_t N, const char* runBits, const Bytes& literals,
                   const char* matchBits) {
  Bytes b = Hex({int(S & 0xFF), int(S >> 8 & 0xFF), 0, 0, int(N), 0, 0, 0, 1});
  uint32_t B = uint32_t(std::strlen(runBits));
  b.insert(b.end(), {uint8_t(B), 0, 0, 0});
  Bytes rp = PackedBits(runBits);
  b.insert(b.end(), rp.begin(), rp.end());
  b.push_back(2);
  b.insert(b.end(), literals.begin(), literals.end());
  uint32_t B2 = uint32_t(std::strlen(matchBits));
  b.insert(b.end(), {3, uint8_t(B2), 0, 0, 0});
  Bytes mp = PackedBits(matchBits);
  b.insert(b.end(), mp.begin(), mp.end());
  return b;
}

TEST(DecompressBlock, FlagRunsStartingWithAnEmptyRun) {
  // Stored runs 0, 3: the first (zeros) is empty, so the second counts its own length.
  uint8_t flags[8] = {};
  uint32_t zeros = 99;
  Bytes runs = PackedBits("1001" "0" "10100");
  ASSERT_TRUE(ExpandFlagRuns(runs.data(), 10, 8, 3, flags, zeros));
  EXPECT_EQ(Bytes(flags, flags + 3), Hex({1, 1, 1}));
  EXPECT_EQ(zeros, 0u);
  // Usual form: runs 1, 1 are one zero flag and then two one flags.
  Bytes usual = PackedBits("1001" "1000" "1000");
  ASSERT_TRUE(ExpandFlagRuns(usual.data(), 12, 8, 3, flags, zeros));
  EXPECT_EQ(Bytes(flags, flags + 3), Hex({0, 1, 1}));
  EXPECT_EQ(zeros, 1u);
  // Runs that fall short of N or reach past it, and more runs than S, are refused.
  EXPECT_FALSE(ExpandFlagRuns(runs.data(), 10, 8, 4, flags, zeros));
  EXPECT_FALSE(ExpandFlagRuns(runs.data(), 10, 8, 2, flags, zeros));
  EXPECT_FALSE(ExpandFlagRuns(runs.data(), 10, 1, 3, flags, zeros));
  EXPECT_FALSE(ExpandFlagRuns(runs.data(), 9, 8, 3, flags, zeros));  // last word cut

  // As whole blocks: R = 2, runs 0, 3 with three matches; the first match has no output to copy
  // from, so the block is refused.
  Bytes out;
  EXPECT_FALSE(Decompress(RunFormBlock(6, 3, "1001" "0" "10100", {}, "10100" "0" "1000" "0" "1000" "0" "1000"), 100, out));
  // R = 2, runs 1, 1 (flags 0, 1, 1), literal A, matches (distance 1, length 1) twice.
  ASSERT_TRUE(Decompress(RunFormBlock(3, 3, "1001" "1000" "1000", {0x41}, "1001" "0" "0" "0" "0"), 100, out));
  EXPECT_EQ(out, Hex({0x41, 0x41, 0x41}));
}

// Every check of the decoder on blocks that the compressor never writes. Each case starts from
// a good block and breaks one thing; the decoder must refuse it and leave dst alone.
TEST(DecompressBlock, RefusesCorruptBlocks) {
  Bytes out;
  const Bytes good = RunFormBlock(3, 3, "1001" "1000" "1000", {0x41}, "1001" "0" "0" "0" "0");
  ASSERT_TRUE(Decompress(good, 3, out));

  // Header: fewer than 8 bytes, N > S, flag tag missing.
  EXPECT_FALSE(Decompress(Bytes(good.begin(), good.begin() + 6), 100, out));
  Bytes nOverS = good;
  nOverS[4] = 4;
  nOverS[0] = 3;
  EXPECT_FALSE(Decompress(nOverS, 100, out));
  EXPECT_FALSE(Decompress(Bytes(good.begin(), good.begin() + 8), 100, out));
  // A run code word that does not decode in its B bits.
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "1001" "1000" "100", {0x41}, "1001" "0" "0" "0" "0"), 100, out));
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "1111111", {0x41}, "1001" "0" "0" "0" "0"), 100, out));
  // More runs than S.
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "11000000" "1000" "1000", {0x41}, "1001" "0" "0" "0" "0"), 100, out));
  // Runs that do not add up to N, or reach past it.
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "1001" "1000" "0", {0x41}, "1001" "0" "0" "0" "0"), 100, out));
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "1001" "1000" "1001", {0x41}, "1001" "0" "0" "0" "0"), 100, out));
  // Literal tag wrong, literal bytes past the end.
  Bytes badTag = good;
  badTag[8 + 1 + 4 + 2] = 7;
  EXPECT_FALSE(Decompress(badTag, 100, out));
  // More match flags than matches.
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "1001" "1000" "1000", {0x41}, "1000" "0" "0"), 100, out));
  // More matches than S.
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "1001" "1000" "1000", {0x41}, "10100"), 100, out));
  // A distance before the start of the output (distance 2 after one byte).
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "1001" "1000" "1000", {0x41}, "1001" "1000" "0" "0" "0"), 100, out));
  // A match code word cut off by its bit count.
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "1001" "1000" "1000", {0x41}, "1001" "0" "0" "0"), 100, out));
  // A bit count that runs past the block.
  Bytes longBits = good;
  longBits[good.size() - 5] = 200;
  EXPECT_FALSE(Decompress(longBits, 100, out));
  Bytes longRuns = good;
  longRuns[9] = 250;
  EXPECT_FALSE(Decompress(longRuns, 100, out));
  // Every cut of a good block is refused or restores something within the capacity; none reads
  // outside the block (the sanitizer build watches that).
  Bytes text(4000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = uint8_t("abcab cabbage "[i % 14] + (i % 97 == 0));
  Bytes block = Compress(text);
  ASSERT_LT(block.size(), text.size());
  for (size_t cut = 0; cut < block.size(); ++cut) {
    Bytes part(block.begin(), block.begin() + cut);
    Decompress(part, 4000, out);
  }
  // Literals plus match lengths over the capacity, and a huge crafted match length.
  EXPECT_FALSE(Decompress(good, 2, out));
  std::string huge = "1001" "0" + DeltaBits(1u << 20) + "0" "0";
  EXPECT_FALSE(Decompress(RunFormBlock(3, 3, "1001" "1000" "1000", {0x41}, huge.c_str()), 100, out));
}

TEST(DecompressBlock, CutEscapeAndOversizedRestore) {
  Bytes out;
  // Rebuilt pre-pass stream 41 00 (an escape cut after its first byte): refused.
  EXPECT_FALSE(Decompress(Hex({2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 2, 0x41, 0x00, 3, 1, 0, 0, 0, 0}), 100, out));
  // Rebuilt stream 00 FF 41 (255 bytes) with a capacity of 200 (at least S = 3): refused.
  Bytes rec = Hex({3, 0, 0, 0, 3, 0, 0, 0, 0, 0, 2, 0x00, 0xFF, 0x41, 3, 1, 0, 0, 0, 0});
  EXPECT_FALSE(Decompress(rec, 200, out));
  ASSERT_TRUE(Decompress(rec, 255, out));
  EXPECT_EQ(out, Bytes(255, 0x41));
}

TEST(DecompressBlock, FullStoredBlockOverlappingItsDestination) {
  const uint32_t window = 2097152;
  Bytes data = RandomBytes(window, 21);
  Bytes block = Compress(data);
  ASSERT_EQ(block.size(), window + 8u);
  // Input area directly followed by the output area: the block's last 8 bytes lie in dst.
  Bytes buffer(window + 8 + window);
  std::memcpy(buffer.data(), block.data(), block.size());
  uint8_t* dst = buffer.data() + window;
  uint32_t len = window;
  ASSERT_TRUE(DecompressBlock(dst, len, buffer.data(), window + 8));
  ASSERT_EQ(len, window);
  EXPECT_EQ(0, std::memcmp(dst, data.data(), window));
}

}  // namespace
