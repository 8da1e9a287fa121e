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

// The compression switch (initially on); false makes every nonempty block stored. Returns true.
bool SetCompression(bool enabled);
bool CompressionEnabled();

// Bytes of dst that CompressBlock may write for a block of n bytes: floor(9n / 4) + 27.
uint64_t CompressBoundFor(uint32_t n);
// Size of the compressor's work area for a pre-pass output of S bytes.
uint64_t CompressWorkAreaSize(uint32_t prePassLength);

// Compresses src[0 .. srcLen) into dst (which must hold CompressBoundFor(srcLen) bytes). False
// when a work area cannot be obtained or the match finder's tables do not fit it.
bool CompressBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen);

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
};
bool CreateBlockWork(SBlockWork& work, uint32_t maxBlock);
void FreeBlockWork(SBlockWork& work);
// CompressBlock in a work area made for blocks of at least srcLen bytes.
bool CompressBlockIn(SBlockWork& work, uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen);

// Restores one block. dstLen is the capacity on entry and the restored length on success; on
// failure it is unchanged (the bytes of dst may not be). Every inconsistent or cut block is
// refused.
bool DecompressBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen);

// --- pieces shared with the tests and the bench ---

// Layout of the compressor's work area for a pre-pass output of S bytes.
struct SCompressWork {
  uint8_t* bits;       // 9 S bytes (code words one bit per byte; the packed writer needs none)
  uint8_t* flags;      // S bytes
  uint8_t* runs;       // S 32-bit entries
  uint8_t* distances;  // S 32-bit entries: distance - 1
  uint8_t* lengths;    // S 32-bit entries: length - 1
  uint8_t* keyTable;   // first: the match finder's tables, 1.5 x (22 S + 67,371,008) - 22 S bytes
  const std::atomic<bool>* abandon = nullptr;  // the search gives up once it is true
};
SCompressWork CompressWorkLayout(uint8_t* area, uint32_t prePassLength);

// The greedy match search over the pre-pass output s[0 .. S): fills flags, distances and lengths
// and sets the token count N and the match count M. False when its tables do not fit the area or
// the search was abandoned.
bool SearchMatches(const uint8_t* s, uint32_t S, const SCompressWork& work, uint32_t& tokenCount,
                   uint32_t& matchCount);

// Forms the compressed form from the search result into dst (header and three sections) and
// returns its length. Uses work.runs as scratch.
uint32_t WriteCompressedForm(uint8_t* dst, const uint8_t* s, uint32_t S, const SCompressWork& work,
                             uint32_t tokenCount, uint32_t matchCount);

inline uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
