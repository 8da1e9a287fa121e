// The engine's decoder against the plain one of the tests (tests/engine/PlainDecoder.h), on
// arbitrary bytes as one block: the same verdict and, when both restore it, the same bytes. The
// first byte picks the capacity, as in fuzz_decompress.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Compression.h"
#include "foundation/Units.h"
#include "tests/engine/PlainDecoder.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartUnits<kAppLayer>();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static const uint32_t capacities[4] = {64, 4096, 65536, 1u << 20};
  const uint32_t capacity = capacities[size > 0 ? data[0] & 3 : 0];
  std::vector<uint8_t> block(data, data + size), out(capacity), plain;
  uint32_t len = capacity;
  const bool ok = DecompressBlock(out.data(), len, block.data(), uint32_t(block.size()));
  if (ok != PlainDecompress(block.data(), uint32_t(block.size()), capacity, plain)) __builtin_trap();
  if (ok && (len != plain.size() || !std::equal(plain.begin(), plain.end(), out.begin()))) __builtin_trap();
  return 0;
}
