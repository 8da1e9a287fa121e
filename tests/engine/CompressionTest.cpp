#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "EngineTestData.h"
#include "engine/Compression.h"
#include "foundation/LittleEndian.h"
#include "foundation/Memdiag.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void ExpectRoundTrip(const Bytes& data, const char* what) {
  Bytes block = Compress(data);
  ASSERT_LE(block.size(), data.size() + 8) << what;
  Bytes back;
  ASSERT_TRUE(Decompress(block, 2 * uint32_t(data.size()), back)) << what;  // the file job offers 2 x window
  ASSERT_TRUE(back == data) << what;
}

TEST(CompressBlock, WorkedBlocks) {
  EXPECT_TRUE(Compress(Bytes{}).empty());
  EXPECT_EQ(Compress(Bytes({0x61})), Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0x61}));
  EXPECT_EQ(Compress(Bytes({'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b'})),
            Bytes({8, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b'}));
  EXPECT_EQ(Compress(Bytes(1000, 0)),
            Bytes({0x0C, 0, 0, 0, 0x07, 0, 0, 0, 0x00, 0x18, 0x02, 0x00, 0xFF, 0x00, 0xEB, 0x00,
                 0x03, 0x16, 0x00, 0x00, 0x00, 0x99, 0xD9, 0x0A}));
  EXPECT_EQ(Compress(Bytes(300, 0x61)),
            Bytes({0x06, 0, 0, 0, 0x06, 0, 0, 0, 0x01, 0x09, 0, 0, 0, 0xD1, 0x01, 0x02, 0x00, 0xFF,
                 0x61, 0x00, 0x2D, 0x61, 0x03, 0x01, 0, 0, 0, 0x00}));
}

// Random data and any data while compression is switched off are stored, and restore.
TEST(CompressBlock, IncompressibleOrSwitchedOffIsStored) {
  const Bytes random = RandomBytes(100000, 11), zeros(1000, 0);
  for (bool enabled : {true, false}) {
    const Bytes& data = enabled ? random : zeros;
    const Bytes block = Compress(data, enabled);
    ASSERT_EQ(block.size(), data.size() + 8);
    EXPECT_EQ(Load32(block.data()), data.size());
    EXPECT_EQ(Load32(block.data() + 4), 0u);
    EXPECT_EQ(0, std::memcmp(block.data() + 8, data.data(), data.size()));
    ExpectRoundTrip(data, "stored");
  }
}

TEST(CompressBlock, WorkAreasAreReturned) {
  Bytes text(50000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = uint8_t("the quick brown fox "[i % 20]);
  // The first block may have to open the region (its entry table counts as used); measure a second one.
  Compress(text);
  TMemoryRegionState before{}, after{};
  ASSERT_TRUE(MemoryRegionState(CurrentMemoryRegion(), before));
  Bytes block = Compress(text);
  Bytes back;
  ASSERT_TRUE(Decompress(block, uint32_t(text.size()), back));
  EXPECT_TRUE(WorkAreaObtainable(50000)) << "the probe of a window's work area gives it back too";
  EXPECT_FALSE(WorkAreaObtainable(0x7FFFFFFF)) << "an area beyond 32 bits cannot be had";
  ASSERT_TRUE(MemoryRegionState(CurrentMemoryRegion(), after));
  EXPECT_EQ(before.used, after.used);
}

TEST(RoundTrip, OddSizesAndShapes) {
  Bytes text = ReadAll(std::string(VELMORA_CORPUS_DIR) + "/alice29.txt");
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

// The corpus end to end, cut into blocks of the default window and of a small one.
TEST(RoundTrip, CorpusInWindows) {
  Bytes all;
  while (all.size() <= 2097152)  // as often as it takes to fill more than one window
    for (const std::string& path : CorpusFiles()) {
      const Bytes data = ReadAll(path);
      all.insert(all.end(), data.begin(), data.end());
    }
  for (size_t window : {size_t(2097152), size_t(40000)})
    for (size_t at = 0; at < (window == 40000 ? 400000 : all.size()); at += window)
      ExpectRoundTrip(Bytes(all.begin() + at, all.begin() + std::min(all.size(), at + window)), "corpus stream");
}

// One work area serves block after block, long and short, in any order: every block comes out as
// it does from a fresh work area, so nothing of an earlier block leaks into a later one.
TEST(CompressBlock, OneWorkAreaForManyBlocks) {
  SBlockWork work;
  ASSERT_TRUE(CreateBlockWork(work, 300000));
  std::vector<Bytes> blocks;
  for (const std::string& path : CorpusFiles()) {
    Bytes data = ReadAll(path);
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
    EXPECT_EQ(Compress(block), out) << "block " << i;
  }
  Bytes tooLong(300001, 'x');
  Bytes out(CompressBoundFor(uint32_t(tooLong.size())));
  uint32_t length = 0;
  EXPECT_FALSE(CompressBlockIn(work, out.data(), length, tooLong.data(), uint32_t(tooLong.size())));
  FreeBlockWork(work);
}

}  // namespace
