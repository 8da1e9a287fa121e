#include "EngineTestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "PlainDecoder.h"

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(VELMORA_CORPUS_DIR))
    if (entry.path().filename() != "README.md") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> Compress(const uint8_t* data, uint32_t n, bool compression) {
  std::vector<uint8_t> out(CompressBoundFor(n));
  uint32_t len = 0;
  EXPECT_TRUE(CompressBlock(out.data(), len, data, n, compression));
  EXPECT_LE(len, out.size());
  out.resize(len);
  return out;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& block, bool compression) {
  return Compress(block.data(), uint32_t(block.size()), compression);
}

bool Decompress(const std::vector<uint8_t>& block, uint32_t capacity, std::vector<uint8_t>& out) {
  out.assign(capacity, 0xCC);
  uint32_t len = capacity;
  bool ok = DecompressBlock(out.data(), len, block.data(), uint32_t(block.size()));
  std::vector<uint8_t> plain;
  EXPECT_EQ(ok, PlainDecompress(block.data(), uint32_t(block.size()), capacity, plain))
      << "the plain decoder's verdict differs";
  if (!ok) {
    EXPECT_EQ(len, capacity);
    return false;
  }
  EXPECT_LE(len, capacity);
  out.resize(len);
  EXPECT_EQ(out, plain) << "the plain decoder restores other bytes";
  return true;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, uint32_t alphabet) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(n);
  for (auto& b : data) b = uint8_t(rng() % alphabet);
  return data;
}

std::string DeltaWord(uint64_t value) { return CodeWord(TNumberCode(), value); }

std::string CodeWord(const TNumberCode& code, uint64_t value) {
  uint8_t bits[128];
  const uint32_t n = EncodeNumber(code, bits, sizeof bits, value);
  std::string word;
  for (uint32_t i = 0; i < n; ++i) word += char('0' + bits[i]);
  return word;
}

std::vector<uint8_t> PackedBits(const std::string& bits) {
  std::vector<uint8_t> packed((bits.size() + 7) / 8);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') packed[i / 8] |= uint8_t(1u << (i % 8));
  return packed;
}

namespace {
void Append32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void AppendBytes(std::vector<uint8_t>& b, const std::vector<uint8_t>& more) { b.insert(b.end(), more.begin(), more.end()); }
}  // namespace

std::vector<uint8_t> CraftedBlock(uint32_t S, const std::string& flags, const std::vector<uint8_t>& literals,
                                  const std::vector<std::pair<uint32_t, uint32_t>>& pairs, const std::string& runBits,
                                  const std::string* matchBits) {
  std::vector<uint8_t> b;
  Append32(b, S);
  Append32(b, uint32_t(flags.size()));
  if (runBits.empty()) {
    b.push_back(0);
    AppendBytes(b, PackedBits(flags));
  } else {
    b.push_back(1);
    Append32(b, uint32_t(runBits.size()));
    AppendBytes(b, PackedBits(runBits));
  }
  b.push_back(2);
  AppendBytes(b, literals);
  std::string bits;
  if (matchBits != nullptr) {
    bits = *matchBits;
  } else {
    bits = DeltaWord(pairs.size());
    for (const auto& pair : pairs) bits += DeltaWord(pair.first - 1) + DeltaWord(pair.second - 1);
  }
  b.push_back(3);
  Append32(b, uint32_t(bits.size()));
  AppendBytes(b, PackedBits(bits));
  return b;
}
