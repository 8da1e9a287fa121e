// Block compressor and decompressor: run-length pre-pass, greedy two-byte-key match search,
// flag / literal / match sections with delta-coded numbers.
#pragma once
#include <atomic>
#include <cstdint>

void CompressionStartup();
void CompressionShutdown();

// Run-length pre-pass. dst must hold 2 * srcLen bytes. Always true.
bool RunLengthPack(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen);
// Undoes the pre-pass; dst must hold the restored data (at most 85 * srcLen bytes). Returns false
// when the stream ends inside an escape item (dstLen then counts the bytes restored before it).
bool RunLengthUnpack(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen);
// The same, writing at most dstCapacity bytes: false also when the restored data would not fit.
bool RunLengthUnpackLimited(uint8_t* dst, uint32_t dstCapacity, uint32_t& dstLen,
                            const uint8_t* src, uint32_t srcLen);

// Bytes of dst that CompressBlock may write for a block of n bytes: floor(9n / 4) + 27.
uint64_t CompressBoundFor(uint32_t n);
// Size of the compressor's work area for a pre-pass output of S bytes.
uint64_t CompressWorkAreaSize(uint32_t prePassLength);

// Compresses src[0 .. srcLen) into dst (which must hold CompressBoundFor(srcLen) bytes). False
// when a work area cannot be obtained or the match finder's tables do not fit it. Without
// compression (the run's -s) every nonempty block is stored.
bool CompressBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen, bool compression = true);

// A compressing thread's own memory for blocks of up to maxBlock bytes: the pre-pass output, and
// the work area at the size a block's pre-pass output asks for, obtained through the memory
// manager when a block first needs it and reused for every later block that fits (the match
// finder leaves it ready for the next one). Blocks in different work areas compress at the same
// time without a lock; the result of a block does not depend on the area it was made in.
// abandon, when given, is watched during the match search: once it is true the block fails within
// a few milliseconds, so that blocks in flight can be dropped at once.
struct SBlockWork {
  uint8_t* prePass = nullptr;
  uint8_t* area = nullptr;
  uint64_t areaBytes = 0;
  uint32_t maxBlock = 0;
  const std::atomic<bool>* abandon = nullptr;
  bool compression = true;  // off: every nonempty block is stored
};
bool CreateBlockWork(SBlockWork& work, uint32_t maxBlock);
void FreeBlockWork(SBlockWork& work);
// Whether a work area for blocks of maxBlock bytes (whose pre-pass output is no longer than the
// block) can be had now: it is obtained and given back at once. A run asks before it writes.
bool WorkAreaObtainable(uint32_t maxBlock);
// CompressBlock in a work area made for blocks of at least srcLen bytes.
bool CompressBlockIn(SBlockWork& work, uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen);

// Restores one block. dstLen is the capacity on entry and the restored length on success; on
// failure it is unchanged (the bytes of dst may not be). Every inconsistent or cut block is
// refused.
bool DecompressBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen);

// Where the block at src ends: the stored form's header and bytes, or the compressed form up to
// the end of its last section. Bytes after that (a checked block's trailer) are not the block's.
// 0 when the block's header or sections do not fit src[0 .. srcLen).
uint32_t BlockBodyLength(const uint8_t* src, uint32_t srcLen);

// Bytes of the stored form's header: n, then the token count 0.
constexpr uint32_t kStoredHeaderBytes = 8;

// What a caller needs of a block it could not restore into the capacity it had. The stored form
// (n, 0, the n bytes) may be restored over the bytes that follow its own header; the compressed
// form may not overlap its output.
bool IsStoredForm(const uint8_t* src, uint32_t srcLen);
// The smallest capacity that restores the block: the stored form's length, or for the compressed
// form the larger of its pre-pass length S and the length it restores to (the engine restores it
// into scratch of its own to find out); 0 when no capacity restores it (the block is malformed).
uint32_t CapacityNeeded(const uint8_t* src, uint32_t srcLen);
