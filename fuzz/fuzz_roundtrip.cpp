// Compresses arbitrary bytes and requires the block to restore to them exactly. One work area
// serves every input, as it serves every block of a compressing thread.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/Units.h"
#include "engine/Compression.h"

const uint32_t kLargest = 1u << 18;
SBlockWork work;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartUnits<kAppLayer>();
  if (!CreateBlockWork(work, kLargest)) __builtin_trap();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kLargest) return 0;
  uint32_t n = uint32_t(size);
  std::vector<uint8_t> block(CompressBoundFor(n));
  uint32_t blockLen = 0;
  if (!CompressBlockIn(work, block.data(), blockLen, data, n)) __builtin_trap();
  if (blockLen > n + 8 || blockLen > block.size()) __builtin_trap();
  block.resize(blockLen);
  std::vector<uint8_t> out(2 * size + 1);
  uint32_t len = uint32_t(out.size());
  if (!DecompressBlock(out.data(), len, block.data(), blockLen)) __builtin_trap();
  if (len != n || std::memcmp(out.data(), data, n) != 0) __builtin_trap();
  return 0;
}
