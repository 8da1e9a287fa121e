// The engine's own view of its block format and of the compressor's work area, shared by the
// compressor, the match finder, the decoder, their tests and the benches; the callers outside the
// engine see only engine/Compression.h and engine/BlockCheck.h.
//
// A block is a header (S: the pre-pass length, or n for the stored form; N: the token count, 0 for
// the stored form), then either the n stored bytes or three sections: flags (tag 0 plain, tag 1
// runs), literals (tag 2), matches (tag 3). docs/format.md has the layout with a worked example.
//
// The work area of a block whose pre-pass output has S bytes holds, from its start: the match
// finder's key tables (KeyAreaBytes(S), at the same place for every block, so that an area reused
// for many blocks keeps its zeroed counts where the next block looks for them), then the bit
// buffer (9 S bytes), the flags (S bytes) and the run, distance and length lists (S 32-bit
// entries each).
#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>

#include "engine/Compression.h"

// 65,536 buckets of 256 positions and a count, 1,028 bytes each: 67,371,008.
constexpr uint64_t kKeyTableBytes = 65536ull * 1028;

// The key-table part of the work area for a pre-pass output of S bytes.
inline uint64_t KeyAreaBytes(uint32_t S) { return CompressWorkAreaSize(S) - 22ull * S; }

// Layout of the compressor's work area for a pre-pass output of S bytes.
struct SCompressWork {
  uint8_t* bits;       // 9 S bytes (code words one bit per byte; the packed writer needs none)
  uint8_t* flags;      // S bytes
  uint8_t* runs;       // S 32-bit entries
  uint8_t* distances;  // S 32-bit entries: distance - 1
  uint8_t* lengths;    // S 32-bit entries: length - 1
  uint8_t* keyTable;   // first: the match finder's tables, KeyAreaBytes(S) bytes
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

// Undoes the pre-pass for a stream that lies in dst itself, dst[base .. base + len), with
// base + len <= capacity, writing the restored bytes from dst[0] on (PrePass.cpp). False when the
// stream ends inside an escape item or the restored bytes would exceed the capacity.
bool RestorePrePassInPlace(uint8_t* dst, uint32_t capacity, uint32_t base, uint32_t len, uint32_t& restored);

// A 16-byte copy of fixed size, for the decoder's and the pre-pass undo's wide steps.
inline void Copy16(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 16); }

// Each byte of x with its 8 bits in reverse order.
constexpr uint64_t ReverseBitsOfBytes64(uint64_t x) {
  x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
  x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
  return ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
}
// The 64 bits of x in reverse order: code words are written and read most significant bit first
// into streams whose bit j is bit j mod 8 of byte j div 8.
constexpr uint64_t ReverseBits64(uint64_t x) { return __builtin_bswap64(ReverseBitsOfBytes64(x)); }
