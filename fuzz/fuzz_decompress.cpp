// Feeds arbitrary bytes to DecompressBlock as one block. The first byte picks the capacity, so
// that both the capacity checks and full restores are reached; the output buffer is exactly the
// capacity, so any write past it is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/Units.h"
#include "engine/Compression.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartUnits<kAppLayer>();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static const uint32_t capacities[4] = {0, 256, 65536, 1u << 20};
  uint32_t capacity = capacities[size > 0 ? data[0] & 3 : 0];
  // A copy of exactly the input length, so reads past the block are caught.
  std::vector<uint8_t> block(data, data + size);
  std::vector<uint8_t> out(capacity);
  uint32_t len = capacity;
  bool ok = DecompressBlock(out.data(), len, block.data(), uint32_t(block.size()));
  if (ok && len > capacity) __builtin_trap();
  if (!ok && len != capacity) __builtin_trap();
  return 0;
}
