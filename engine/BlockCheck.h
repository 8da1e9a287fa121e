// The trailer that ends every block of a checked entry, and the check of a restored block.
//
// A checked block's payload is the engine's block (the compressed or the stored form, exactly as
// CompressBlock writes it) followed by 8 bytes: the length n of the chunk the block restores to
// (u32, little-endian) and a check value of the chunk's bytes (u32, little-endian): the low 32 bits
// of XXH3-64 of the chunk with a seed the caller gives (an archive gives each block its own, so a
// block moved to another place or another entry fails its check). A decoder that does not know
// the trailer ignores it: it comes after the block's last section, where the block format allows
// bytes that the decoder leaves alone, and after the stored bytes of the stored form.
//
// Invariant: a block passes only when it decodes, restores to exactly n bytes and those bytes
// give the check value; the check value is over the restored bytes, so it also covers the
// decoder and the pre-pass undo.
#pragma once
#include <cstdint>

struct SBlockWork;

constexpr uint32_t kBlockTrailerBytes = 8;

// XXH3-64 of bytes[0 .. length): the seed of what the caller checks (an entry's header).
uint64_t CheckSeedOf(const uint8_t* bytes, uint32_t length);

// Writes the trailer of the chunk[0 .. n) at `at` (8 bytes).
void WriteBlockTrailer(uint8_t* at, const uint8_t* chunk, uint32_t n, uint64_t seed);

// The chunk length a checked payload's trailer declares; false when the payload is too short
// to hold a trailer.
bool TrailerChunkLength(const uint8_t* payload, uint32_t length, uint32_t& chunkLength);

enum TBlockVerdict : uint8_t {
  BlockWhole,            // decoded, and its length and check value agree with the trailer
  BlockTrailerMissing,   // the payload is shorter than a trailer
  BlockMalformed,        // the block before the trailer does not decode into the capacity
  BlockLengthDiffers,    // it decodes to another length than the trailer says
  BlockCheckDiffers,     // its bytes do not give the trailer's check value
};

// Restores a checked payload src[0 .. srcLen) into dst, whose capacity dstLen gives on entry;
// dstLen is the restored length on return (when the block decoded at all).
TBlockVerdict DecompressCheckedBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen,
                                     uint64_t seed);

// The payload of a checked entry's chunk src[0 .. srcLen), in `work`: the engine's block, then the
// trailer. An empty chunk (an empty file's one block) is the stored form of nothing, for which
// CompressBlock writes no bytes at all, so that its trailer checks the entry's name and time too.
// dst holds CompressBoundFor(srcLen) + kStoredHeaderBytes + kBlockTrailerBytes bytes.
bool CompressCheckedBlock(SBlockWork& work, uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen,
                          uint64_t seed);
// Restores the payload of an entry made before check values: its block, and nothing after the
// block's last section (bytes there mean it was written checked and its entry's mark was changed).
bool DecompressUncheckedBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen);
