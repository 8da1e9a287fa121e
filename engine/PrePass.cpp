// The run-length pre-pass, both ways.
//
// Packing: a run of three or more equal bytes becomes records 0, count, byte (count 3 to 255; a
// longer run is several records), a lone 0 becomes 0, 0 (0 is the escape byte), every other byte
// stays. The output is at most twice the input (every byte a lone 0). Unpacking reverses it and
// refuses a stream that ends inside an escape item or that would restore more than the capacity.
// There is one undo, the decoder's in-place one: it restores a stream that lies in the output
// buffer itself, below which the restored bytes grow, without ever overwriting input it has not
// read; the unpack into a buffer of the caller's runs it on a copy.
#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/BlockFormat.h"
#include "foundation/LittleEndian.h"
#include "foundation/Memdiag.h"

namespace {

// Nonzero exactly when some byte of w is 0; its lowest set bit is the top bit of the first such
// byte.
inline uint64_t ZeroBytesMask(uint64_t w) {
  return (w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull;
}


// Bit j set exactly when p[j] is 0, for the 64 bytes from p on.
inline uint64_t ZeroByteBits64(const uint8_t* p) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  uint64_t bits = 0;
  for (int part = 0; part < 4; ++part) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
    bits |= uint64_t(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, zero)))) << (16 * part);
  }
  return bits;
#else
  uint64_t bits = 0;
  for (int part = 0; part < 8; ++part) {
    uint64_t w;
    std::memcpy(&w, p + 8 * part, 8);
    // 0x80 in each zero byte and nowhere else (no borrow crosses bytes), then one bit per byte.
    const uint64_t high = ~(((w & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | w) & 0x8080808080808080ull;
    bits |= ((high >> 7) * 0x0102040810204080ull >> 56) << (8 * part);
  }
  return bits;
#endif
}

inline void Fill32(uint8_t* to, uint8_t value) { std::memset(to, value, 32); }

}  // namespace

// Undoes the pre-pass for a stream that lies in dst itself, dst[base .. base + len), with
// base + len <= capacity.
// The restored bytes are written from dst[0] upward, which never passes the unread input as long
// as every item's output fits below the input that follows it; an item that would reach into
// unread input first moves the rest of the input to a buffer of its own. Fails when the stream
// ends inside an escape item or the restored bytes would exceed the capacity.

bool RestorePrePassInPlace(uint8_t* dst, uint32_t capacity, uint32_t base, uint32_t len, uint32_t& restored) {
  const uint8_t* in = dst + base;
  uint32_t i = 0;
  uint32_t out = 0;
  uint8_t* moved = nullptr;
  // Room kept between output and input for the wide steps: a record's 255 bytes and a 32-byte
  // store.
  const uint64_t kRoom = 255 + 32;
  // For a 64-byte block at once: each of its at most 22 items may take 252 bytes more room than
  // it frees.
  const uint64_t kBlockRoom = kRoom + 22 * 252;
  bool ok = true;
  while (i < len) {
    if (moved == nullptr && uint64_t(base) + i - out >= kBlockRoom && len - i >= 128) {
      // The stream in blocks of 64 bytes, from a mask of their zero bytes: each escape item is
      // met through its bit, the plain bytes before it are copied in fixed-size steps, and a lone
      // zero and a record of up to 32 bytes share one store. The mask is walked with bit 0 at
      // position next, and an item's kind is read from the mask itself (a lone zero's count is the
      // next zero bit), so that the walk does not wait for the loads. A block starts only with
      // room for its worst case; i may run up to 2 bytes into the next block.
      uint32_t block = i;
      uint64_t zeros = ZeroByteBits64(in + block);
      for (;;) {
        uint32_t next = block;
        while (zeros != 0) {
          const uint32_t skip = static_cast<uint32_t>(__builtin_ctzll(zeros));
          const uint32_t at = next + skip;
          zeros >>= skip;
          // Past the block's last byte the mask holds no bits, so a lone zero there is walked
          // as a record; no bit of this block remains after it either way.
          const uint32_t itemLength = 3 - static_cast<uint32_t>((zeros >> 1) & 1u);
          zeros >>= itemLength;
          next = at + itemLength;
          const uint32_t plain = at - i;
          Copy16(dst + out, in + i);
          Copy16(dst + out + 16, in + i + 16);
          if (plain > 32) {
            Copy16(dst + out + 32, in + i + 32);
            Copy16(dst + out + 48, in + i + 48);
          }
          out += plain;
          const uint32_t count = in[at + 1];
          const uint8_t value = count != 0 ? in[at + 2] : 0;
          Fill32(dst + out, value);
          if (count > 32) std::memset(dst + out, value, count);
          out += count != 0 ? count : 1;
          i = at + (count != 0 ? 3 : 2);
        }
        if (i < block + 64) {
          Copy16(dst + out, in + i);
          Copy16(dst + out + 16, in + i + 16);
          Copy16(dst + out + 32, in + i + 32);
          Copy16(dst + out + 48, in + i + 48);
          out += block + 64 - i;
          i = block + 64;
        }
        block += 64;
        if (len - block < 128 || uint64_t(base) + i - out < kBlockRoom) break;
        zeros = ZeroByteBits64(in + block) & (~uint64_t(0) << (i - block));
      }
      continue;
    }
    if (moved == nullptr && uint64_t(base) + i - out >= kRoom && len - i >= 16) {
      // Sixteen bytes are stored at once; those up to the first escape byte are plain ones.
#if defined(__SSE2__)
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + out), chunk);
      const uint32_t zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_setzero_si128())));
      if (zeros == 0) {
        out += 16;
        i += 16;
        continue;
      }
      const uint32_t plain = static_cast<uint32_t>(__builtin_ctz(zeros));
#else
      uint64_t w[2];
      std::memcpy(w, in + i, 16);
      std::memcpy(dst + out, w, 16);
      const uint64_t low = ZeroBytesMask(w[0]), high = ZeroBytesMask(w[1]);
      if ((low | high) == 0) {
        out += 16;
        i += 16;
        continue;
      }
      const uint32_t plain = low != 0 ? static_cast<uint32_t>(__builtin_ctzll(low)) >> 3
                                      : 8 + (static_cast<uint32_t>(__builtin_ctzll(high)) >> 3);
#endif
      out += plain;
      i += plain;
      // An escape item at in[i].
      if (len - i < 2) { ok = false; break; }
      const uint8_t count = in[i + 1];
      if (count == 0) {
        dst[out++] = 0;
        i += 2;
        continue;
      }
      if (len - i < 3) { ok = false; break; }
      const uint8_t value = in[i + 2];
      if (count <= 32) {
        uint8_t fill[32];
        std::memset(fill, value, 32);
        std::memcpy(dst + out, fill, 32);
      } else {
        std::memset(dst + out, value, count);
      }
      out += count;
      i += 3;
      continue;
    }
    // One item at a time, with every bound checked.
    const uint8_t x = in[i];
    if (x != 0) {
      if (out == capacity) { ok = false; break; }
      dst[out++] = x;
      ++i;
      continue;
    }
    if (len - i < 2) { ok = false; break; }
    const uint8_t count = in[i + 1];
    if (count == 0) {
      if (out == capacity) { ok = false; break; }
      dst[out++] = 0;
      i += 2;
      continue;
    }
    if (len - i < 3) { ok = false; break; }
    const uint8_t value = in[i + 2];
    if (capacity - out < count) { ok = false; break; }
    if (moved == nullptr && uint64_t(out) + count > uint64_t(base) + i + 3) {
      // The record would overwrite input not read yet.
      const uint32_t rest = len - i;
      Create(moved, rest);
      if (moved == nullptr) { ok = false; break; }
      std::memcpy(moved, in + i, rest);
      in = moved;
      len = rest;
      i = 0;
    }
    std::memset(dst + out, value, count);
    out += count;
    i += 3;
  }
  Free(moved);
  restored = out;
  return ok;
}


bool RunLengthPack(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen) {
  dstLen = 0;
  uint32_t out = 0;
  uint32_t pos = 0;
  while (pos < srcLen) {
    // The bytes before the first zero or the first start of three equal bytes, among the next
    // eight, are copied as they are. No pair of equal bytes crosses that point (it would make the
    // byte before it a zero or a start of three), and a pair cut at the eighth comes out the same
    // either way. dst has room for the whole eight: out <= 2 * pos, and pos + 10 <= srcLen.
    if (srcLen - pos >= 10) {
      const uint64_t w0 = Load64(src + pos), w1 = Load64(src + pos + 1), w2 = Load64(src + pos + 2);
      const uint64_t special = ZeroBytesMask(w0) | ZeroBytesMask((w0 ^ w1) | (w1 ^ w2));
      const uint32_t plain = special == 0 ? 8 : static_cast<uint32_t>(__builtin_ctzll(special)) / 8;
      if (plain != 0) {
        std::memcpy(dst + out, src + pos, 8);
        out += plain;
        pos += plain;
        continue;
      }
    }
    uint8_t b = src[pos];
    uint32_t run = 1;
    while (pos + run < srcLen && src[pos + run] == b) ++run;
    if (run < 3) {
      for (uint32_t i = 0; i < run; ++i) {
        if (b != 0) {
          dst[out++] = b;
        } else {
          dst[out++] = 0;
          dst[out++] = 0;
        }
      }
    } else {
      uint32_t left = run;
      while (left >= 255) {
        dst[out++] = 0;
        dst[out++] = 255;
        dst[out++] = b;
        left -= 255;
      }
      if (left > 0) {
        dst[out++] = 0;
        dst[out++] = static_cast<uint8_t>(left);
        dst[out++] = b;
      }
    }
    pos += run;
  }
  dstLen = out;
  return true;
}

// The undo into a buffer of the caller's is the in-place undo, run on a copy of the stream laid
// above room for all it may restore: a 3-byte record gives at most 255 bytes, so no stream
// restores more than 85 bytes a byte.
bool RunLengthUnpackLimited(uint8_t* dst, uint32_t dstCapacity, uint32_t& dstLen,
                            const uint8_t* src, uint32_t srcLen) {
  dstLen = 0;
  if (srcLen == 0) return true;
  const uint64_t room = std::min<uint64_t>({dstCapacity, 85ull * srcLen, 0xFFFFFFFFull - srcLen});
  const uint32_t size = static_cast<uint32_t>(room + srcLen);
  uint8_t* work = nullptr;
  Create(work, size);
  if (work == nullptr) return false;
  std::memcpy(work + room, src, srcLen);
  uint32_t restored = 0;
  bool ok = RestorePrePassInPlace(work, size, static_cast<uint32_t>(room), srcLen, restored);
  if (restored > dstCapacity) {
    ok = false;
    restored = dstCapacity;
  }
  std::memcpy(dst, work, restored);
  Free(work);
  dstLen = restored;
  return ok;
}

bool RunLengthUnpack(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen) {
  return RunLengthUnpackLimited(dst, 0xFFFFFFFFu, dstLen, src, srcLen);
}

