#include "EngineTestData.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "engine/Compression.h"

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::string dir = VELMORA_CORPUS_DIR;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == ".." || name == "README.md") continue;
      files.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + got);
  std::fclose(f);
  return data;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

std::vector<uint8_t> Compress(const uint8_t* data, uint32_t n) {
  std::vector<uint8_t> out(CompressBoundFor(n));
  uint32_t len = 0;
  EXPECT_TRUE(CompressBlock(out.data(), len, data, n));
  EXPECT_LE(len, out.size());
  out.resize(len);
  return out;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& block) {
  return Compress(block.data(), uint32_t(block.size()));
}

bool Decompress(const std::vector<uint8_t>& block, uint32_t capacity, std::vector<uint8_t>& out) {
  out.assign(capacity, 0xCC);
  uint32_t len = capacity;
  bool ok = DecompressBlock(out.data(), len, block.data(), uint32_t(block.size()));
  if (!ok) {
    EXPECT_EQ(len, capacity);
    return false;
  }
  EXPECT_LE(len, capacity);
  out.resize(len);
  return true;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, uint32_t alphabet) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(n);
  for (auto& b : data) b = uint8_t(rng() % alphabet);
  return data;
}
