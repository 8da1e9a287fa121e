// Fast greedy match finder over two-byte-key buckets.
//
// The parse it produces is fixed by a simple procedure: every position of the pre-pass output is
// filed in the bucket of its two-byte key, a bucket remembers its 256 newest positions, and at
// each position the candidates are met from the nearest to the farthest: a step-by-step walk
// back from cur - 2 while the bytes keep equalling the current two, jumping to the next older
// bucket entry whenever they do not. A candidate becomes the best only when its match is strictly
// longer than the best so far and its cost (delta-code bits of distance - 1 and length - 1, plus
// one flag bit) is below 8 bits per matched byte. Matches never overlap their source.
//
// What that procedure computes, and what this finder computes directly:
//   * The walk only ever passes over positions that carry the current key. Every such position
//     newer than the bucket's oldest entry is itself in the bucket, so the distinct candidates
//     are exactly the older bucket entries plus, when the bucket is full, the run of positions
//     directly below its oldest entry that still carry the key (a run of one byte value).
//     Positions met twice, and cur - 1 (its match is at most one byte), change nothing.
//   * The result is the longest match that passes the cost test, the nearest among equals; a
//     match of length 1 never becomes a token, so the best starts at length 1.
//   * The cost test is monotone: for a distance d it passes exactly for lengths
//     l >= MinimumLength(d), and that minimum only grows with d (2 up to distance 63, 3 up to
//     4,095, 4 up to 131,071, 5 up to 2^25 - 1, ...). A candidate therefore needs
//     need = max(best + 1, MinimumLength(d)) matching bytes; when need exceeds what the block end
//     or the distance allows, the candidate is skipped without reading it, and when the block
//     end or the minimum for the distance already rules out every farther candidate, the search
//     ends.
//   * A match of four bytes or more needs a candidate whose first four bytes equal those at cur.
//     Positions are also chained by a hash of their first four bytes, so those candidates are
//     met directly, nearest first, without the bucket entries that share only two or three
//     bytes; the chain is left as soon as it reaches below the bucket's oldest entry (beyond
//     that no position of the key is still in the bucket). Only when no candidate of four
//     bytes or more is found do the bucket entries come into play, and then only those within
//     distance 4,095, the farthest at which a three-byte match passes.
//   * A candidate that survives is rejected from the byte at offset need - 1 before the match
//     is measured, eight bytes at a time.
//
// Storage (all of it inside the compressor's key-table area, which is handed out zero-filled):
// a count of insertions and a slot number per key, per key that has occurred a slot of 256
// positions used as a ring (entry = ordinal mod 256; the ring replaces the shift of the bucket's
// entries), the heads of the four-byte chains and one chain link per position. Slots are given
// out in order of first use, so a block with few distinct keys touches few pages; a ring is laid
// out lane by lane across planes (see TRing), so a key with few positions touches few pages too.
// The chain-head table grows with the block up to 2^kChainHashBits heads. Only the
// counts, slot numbers and chain heads rely on the zero fill.
#pragma once
#include <cstdint>
#include <cstring>

#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"

namespace matchfinder {

const uint32_t kKeys = 65536;
const uint32_t kRing = 256;
const uint32_t kSlotBytes = kRing * 4;
const uint32_t kChainHashBits = 20;
// The farthest distance at which a match shorter than four bytes passes the cost test.
const uint32_t kShortMatchReach = 4095;

// Smallest length that passes the cost test at a distance whose highest set bit is hb: every
// distance of one bit length has the same delta-code cost for distance - 1.
struct SMinimumLengths {
  uint8_t byHighestBit[32];
  void Build() {
    for (uint32_t hb = 0; hb < 32; ++hb) {
      const uint32_t distanceCost = DeltaCodeLength((uint64_t(1) << hb) - 1);
      uint32_t length = 2;
      while (distanceCost + DeltaCodeLength(length - 1) + 1 >= 8ull * length) ++length;
      byHighestBit[hb] = static_cast<uint8_t>(length);
    }
  }
};

inline uint32_t HighestBitOf(uint32_t x) { return 31u - static_cast<uint32_t>(__builtin_clz(x)); }

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline uint32_t Load32Raw(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Length of the common prefix of a and b, starting at `from` (already known to match), at most
// limit. Reads only below a + limit and b + limit.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t from, uint32_t limit) {
  uint32_t l = from;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (l + 8 <= limit) {
    const uint64_t x = Load64(a + l) ^ Load64(b + l);
    if (x != 0) return l + (static_cast<uint32_t>(__builtin_ctzll(x)) >> 3);
    l += 8;
  }
#endif
  while (l < limit && a[l] == b[l]) ++l;
  return l;
}

// A key's ring of positions. The ring is cut into lanes of kLane entries (one cache line), and
// lane j of every slot lies in plane j: a key with few positions touches only the first planes,
// so a block with many keys of few positions each (random data, binaries) touches a fraction of
// the pages a slot-after-slot layout would.
const uint32_t kLane = 16;
struct TRing {
  uint32_t* lane;        // lane 0 of the slot
  uint64_t planeStride;  // entries from one plane to the next
  // The entry of the position with this ordinal (taken mod kRing).
  inline uint32_t& At(uint32_t ordinal) const {
    return lane[((ordinal & (kRing - 1)) / kLane) * planeStride + (ordinal & (kLane - 1))];
  }
};

// The finder's tables laid over the key-table area of the work area.
class TFinder {
 public:
  // area: start of the key-table part of the work area, areaBytes: bytes from there to the end of
  // the work area. False when the tables do not fit (never for the work-area size of the block
  // format, checked anyway).
  bool Attach(uint8_t* area, uint64_t areaBytes, uint32_t S) {
    uintptr_t aligned = (reinterpret_cast<uintptr_t>(area) + 63) & ~uintptr_t(63);
    const uint64_t skip = aligned - reinterpret_cast<uintptr_t>(area);
    const uint64_t slotsNeeded = S < kKeys ? S : kKeys;
    // About one chain head per position, at most 2^kChainHashBits: a small block then touches
    // few pages and cache lines of the heads. Chains stay exact (every candidate is checked
    // against the four bytes at cur), so the width changes only the time a walk takes.
    hashBits_ = 10;
    while (hashBits_ < kChainHashBits && (1u << hashBits_) < S) ++hashBits_;
    const uint64_t fixed = 8ull * kKeys + 4ull * (1u << kChainHashBits) + 4ull * S;
    if (skip + fixed + 64 + slotsNeeded * kSlotBytes > areaBytes) return false;
    counts_ = reinterpret_cast<uint32_t*>(aligned);
    slotOf_ = counts_ + kKeys;
    heads_ = slotOf_ + kKeys;
    links_ = heads_ + (1u << hashBits_);
    slots_ = reinterpret_cast<uint32_t*>((reinterpret_cast<uintptr_t>(links_ + S) + 63) & ~uintptr_t(63));
    planeStride_ = slotsNeeded * kLane;
    usedSlots_ = 0;
    return true;
  }

  // Files p (key bytes s[p], s[p + 1] or 0 past the end) and returns its ring, with total set to
  // the key's insertion count including p. A position with four bytes left also joins the chain
  // of its first four bytes.
  inline TRing Insert(const uint8_t* s, uint32_t S, uint32_t p, uint32_t& total) {
    const uint32_t key = uint32_t(s[p]) | (p + 1 < S ? uint32_t(s[p + 1]) << 8 : 0u);
    uint32_t slot = slotOf_[key];
    if (slot == 0) slot = slotOf_[key] = ++usedSlots_;
    const TRing positions = {slots_ + uint64_t(slot - 1) * kLane, planeStride_};
    const uint32_t ordinal = counts_[key]++;
    positions.At(ordinal) = p;
    total = ordinal + 1;
    if (p + 4 <= S) {
      uint32_t& head = heads_[ChainHash(Load32Raw(s + p))];
      links_[p] = head;
      head = p + 1;
    }
    return positions;
  }

  // Brings the chain head of position p (four bytes left) towards the cache ahead of its Insert.
  inline void PrefetchHead(const uint8_t* s, uint32_t p) const {
    __builtin_prefetch(&heads_[ChainHash(Load32Raw(s + p))], 1);
  }

  // The position before p in p's chain, plus one; 0 at the chain's end.
  inline uint32_t LinkOf(uint32_t p) const { return links_[p]; }

 private:
  inline uint32_t ChainHash(uint32_t fourBytes) const {
    return (fourBytes * 2654435761u) >> (32 - hashBits_);
  }

  uint32_t* counts_ = nullptr;
  uint32_t* slotOf_ = nullptr;
  uint32_t* heads_ = nullptr;
  uint32_t* links_ = nullptr;
  uint32_t* slots_ = nullptr;
  uint64_t planeStride_ = 0;
  uint32_t usedSlots_ = 0;
  uint32_t hashBits_ = kChainHashBits;
};

struct SBest {
  uint32_t length;
  uint32_t position;
};

// Offers candidate c (whose first two bytes equal those at cur) to the running best; false when
// no farther candidate can change the result.
inline bool Offer(const uint8_t* s, uint32_t cur, uint32_t maxLength, uint32_t c,
                  const SMinimumLengths& minimum, SBest& best) {
  const uint32_t distance = cur - c;
  const uint32_t minimumForDistance = minimum.byHighestBit[HighestBitOf(distance)];
  if (minimumForDistance > maxLength) return false;
  const uint32_t need = best.length + 1 > minimumForDistance ? best.length + 1 : minimumForDistance;
  const uint32_t limit = distance < maxLength ? distance : maxLength;
  if (need > limit) return true;
  if (need > 2 && s[c + need - 1] != s[cur + need - 1]) return true;
  const uint32_t length = MatchLength(s + c, s + cur, 2, limit);
  if (length >= need) {
    best.length = length;
    best.position = c;
    if (length >= maxLength) return false;
  }
  return true;
}

// The greedy parse of s[0 .. S): the same tokens as the step-by-step procedure described above.
// Returns false (and leaves everything untouched) only when its tables do not fit the work area.
inline bool FindMatches(const uint8_t* s, uint32_t S, const SCompressWork& work, uint64_t keyAreaBytes,
                        uint32_t& tokenCount, uint32_t& matchCount) {
  SMinimumLengths minimum;
  minimum.Build();
  TFinder finder;
  if (!finder.Attach(work.keyTable, keyAreaBytes, S)) return false;
  uint32_t N = 0, M = 0;
  uint32_t cur = 0;
  uint8_t* flags = work.flags;
  uint8_t* distances = work.distances;
  uint8_t* lengths = work.lengths;
  while (cur < S) {
    uint32_t total = 0;
    if (cur + 5 <= S) finder.PrefetchHead(s, cur + 1);
    const TRing positions = finder.Insert(s, S, cur, total);
    const uint32_t maxLength = S - cur;
    SBest best = {1, 0};
    if (maxLength >= 2 && total > 1) {
      // No position of the key lies below the bucket's oldest entry and is still in the bucket.
      const uint32_t oldest = positions.At(total >= kRing ? total : 0);
      bool going = true;
      if (maxLength >= 4) {
        const uint32_t head = Load32Raw(s + cur);
        for (uint32_t link = finder.LinkOf(cur); link != 0 && going; link = finder.LinkOf(link - 1)) {
          const uint32_t c = link - 1;
          if (c < oldest) break;
          if (c + 1 >= cur || Load32Raw(s + c) != head) continue;  // cur - 1: at most one byte
          going = Offer(s, cur, maxLength, c, minimum, best);
        }
      }
      if (going && best.length < 4) {
        // No candidate shares four bytes with cur: what is left are matches of two or three
        // bytes, and only near ones pass.
        const uint32_t older = total - 1 < kRing - 1 ? total - 1 : kRing - 1;
        const uint32_t limit = maxLength < 3 ? maxLength : 3;
        for (uint32_t k = 1; k <= older && best.length < limit; ++k) {
          const uint32_t c = positions.At(total - 1 - k);
          if (c + 1 >= cur) continue;
          const uint32_t distance = cur - c;
          if (distance > kShortMatchReach) break;
          const uint32_t reach = distance < limit ? distance : limit;
          const uint32_t length = reach >= 3 && s[c + 2] == s[cur + 2] ? 3 : 2;
          if (length > best.length && length >= minimum.byHighestBit[HighestBitOf(distance)]) {
            best.length = length;
            best.position = c;
          }
        }
        if (best.length >= maxLength) going = false;
      }
      if (going && total >= kRing) {
        // The bucket's oldest entry may sit in a run of one byte value that goes on below it;
        // the walk reaches those positions too.
        const uint8_t b0 = s[cur], b1 = s[cur + 1];
        uint32_t c = oldest;
        while (going && c > 0 && s[c - 1] == b0 && s[c] == b1) {
          --c;
          going = Offer(s, cur, maxLength, c, minimum, best);
        }
      }
    }
    if (best.length <= 1) {
      flags[N] = 0;
      ++cur;
    } else {
      Store32(distances + 4ull * M, cur - best.position - 1);
      Store32(lengths + 4ull * M, best.length - 1);
      ++M;
      const uint32_t end = cur + best.length;
      const uint32_t ahead = 8;
      for (uint32_t p = cur + 1; p < end; ++p) {
        if (p + ahead + 4 <= S) finder.PrefetchHead(s, p + ahead);
        finder.Insert(s, S, p, total);
      }
      cur = end;
      flags[N] = 1;
    }
    ++N;
  }
  tokenCount = N;
  matchCount = M;
  return true;
}

}  // namespace matchfinder
