// Frozen blocks: today's compressor must still write them byte for byte and they must restore. They
// were made and checked against a plain step-by-step reference of the whole block compressor, so
// they pin the block's layout beyond its tokens (whose reference is ReferenceSearch.h): the
// pre-pass, the flags in either form, the sections and the stored fallback.
// Set VELMORA_WRITE_GOLDEN=1 to (re)write the block files after a deliberate format change.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "EngineTestData.h"
#include "engine/Compression.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Generated(const std::string& kind, size_t n) {
  Bytes d(n);
  std::mt19937 rng(2024);
  if (kind == "zeros") return Bytes(n, 0);
  if (kind == "letter-a") return Bytes(n, 0x61);
  if (kind == "runs") {
    d.clear();
    while (d.size() < n) {  // the value is drawn first, then the run's length
      const uint8_t value = uint8_t(rng() % 4);
      d.insert(d.end(), 1 + rng() % 700, value);
    }
    d.resize(n);
  } else if (kind == "pattern") {
    for (size_t i = 0; i < n; ++i) d[i] = uint8_t("0123456789abc"[i % 13]);
  } else if (kind == "four-letters") {
    for (auto& b : d) b = uint8_t("ACGT"[rng() % 4]);
  } else if (kind == "zero-pairs") {
    for (size_t i = 0; i < n; ++i) d[i] = (i % 3 == 2) ? uint8_t(1 + rng() % 9) : 0;
  } else if (kind == "every-key") {  // every two-byte key in order, twice: every bucket is used
    for (size_t i = 0; i < n; ++i) d[i] = uint8_t(i % 2 ? (i % 131072) >> 9 : i >> 1);
  } else if (kind == "full-buckets") {  // one key far more than a bucket holds, varied continuations
    for (size_t i = 0; i < n; ++i) d[i] = i % 3 == 0 ? 'x' : i % 3 == 1 ? 'y' : uint8_t(1 + rng() % 40);
  } else if (kind == "lone-zeros") {  // the pre-pass doubles every zero: its output twice the block
    for (size_t i = 0; i < n; ++i) d[i] = i % 2 ? uint8_t(1 + rng() % 4) : 0;
  } else {
    d.clear();
  }
  return d;
}

struct SGoldenBlock {
  std::string file;
  Bytes source;
};

std::vector<SGoldenBlock> Manifest() {
  std::vector<SGoldenBlock> blocks;
  std::ifstream in(std::string(VELMORA_GOLDEN_DIR) + "/engine-blocks.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    SGoldenBlock b;
    std::string source;
    size_t offset = 0, length = 0;
    fields >> b.file >> source >> offset >> length;
    Bytes whole = source.rfind("generated:", 0) == 0
                      ? Generated(source.substr(10), offset + length)
                      : ReadAll(std::string(VELMORA_CORPUS_DIR) + "/" + source);
    EXPECT_GE(whole.size(), offset + length) << line;
    if (whole.size() < offset + length) continue;
    b.source.assign(whole.begin() + offset, whole.begin() + offset + length);
    blocks.push_back(b);
  }
  return blocks;
}

TEST(GoldenBlocks, CompressorStillWritesThemAndTheyRestore) {
  std::vector<SGoldenBlock> blocks = Manifest();
  ASSERT_GE(blocks.size(), 10u);
  const bool write = std::getenv("VELMORA_WRITE_GOLDEN") != nullptr;
  for (const SGoldenBlock& b : blocks) {
    std::string path = std::string(VELMORA_GOLDEN_DIR) + "/" + b.file;
    Bytes today = Compress(b.source);
    if (write) WriteAll(path, today);
    Bytes frozen = ReadAll(path);
    ASSERT_FALSE(frozen.empty()) << path;
    EXPECT_TRUE(today == frozen) << b.file << ": " << today.size() << " bytes today, "
                                 << frozen.size() << " frozen";
    Bytes back;
    ASSERT_TRUE(Decompress(frozen, 2 * uint32_t(b.source.size()), back)) << b.file;
    EXPECT_TRUE(back == b.source) << b.file;
  }
}

}  // namespace
