#include "engine/BlockCheck.h"

#include "engine/Compression.h"
#include "foundation/LittleEndian.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

uint32_t CheckValue(const uint8_t* chunk, uint32_t n, uint64_t seed) {
  return static_cast<uint32_t>(XXH3_64bits_withSeed(chunk, n, seed));
}

}  // namespace

uint64_t CheckSeedOf(const uint8_t* bytes, uint32_t length) { return XXH3_64bits(bytes, length); }

void WriteBlockTrailer(uint8_t* at, const uint8_t* chunk, uint32_t n, uint64_t seed) {
  Store32(at, n);
  Store32(at + 4, CheckValue(chunk, n, seed));
}

bool TrailerChunkLength(const uint8_t* payload, uint32_t length, uint32_t& chunkLength) {
  if (length < kBlockTrailerBytes) return false;
  chunkLength = Load32(payload + length - kBlockTrailerBytes);
  return true;
}

TBlockVerdict DecompressCheckedBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen,
                                     uint64_t seed) {
  if (srcLen < kBlockTrailerBytes) return BlockTrailerMissing;
  const uint32_t body = srcLen - kBlockTrailerBytes;
  // The trailer is read before the block is restored: a stored block is moved over the bytes
  // that follow its input, which may be where the trailer lies.
  const uint32_t length = Load32(src + body);
  const uint32_t check = Load32(src + body + 4);
  if (body == 0 || !DecompressBlock(dst, dstLen, src, body)) return BlockMalformed;
  if (dstLen != length) return BlockLengthDiffers;
  return CheckValue(dst, dstLen, seed) == check ? BlockWhole : BlockCheckDiffers;
}

bool CompressCheckedBlock(SBlockWork& work, uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen,
                          uint64_t seed) {
  if (!CompressBlockIn(work, dst, dstLen, src, srcLen)) return false;
  if (dstLen == 0) {
    Store32(dst, 0);
    Store32(dst + 4, 0);
    dstLen = kStoredHeaderBytes;
  }
  WriteBlockTrailer(dst + dstLen, src, srcLen, seed);
  dstLen += kBlockTrailerBytes;
  return true;
}

bool DecompressUncheckedBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen) {
  return BlockBodyLength(src, srcLen) == srcLen && DecompressBlock(dst, dstLen, src, srcLen);
}
