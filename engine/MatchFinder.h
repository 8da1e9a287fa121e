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
//     Every bucket entry carries a tag, the two bytes after its key, so those candidates are
//     picked out of the bucket sixteen tags at a time, nearest first, and their bytes are
//     fetched together before they are measured: no walk from one candidate to the next waits
//     on memory. Only when no candidate of four bytes or more is found do the other bucket
//     entries come into play, and then only those within distance 4,095, the farthest at which
//     a three-byte match passes.
//   * Every entry also carries a second tier of its bytes, so that the candidates of that tier
//     are measured first and the others mostly never read. In a block whose rings hold fewer
//     entries than half its length (a few keys recurring all over it, as in text) the tier is
//     a one-byte hash of bytes 4 - 7: when a candidate with the current hash gives eight bytes
//     or more, no other can come near it. Elsewhere the tier is byte 4 itself, kept in the top
//     byte of the position: when a candidate with the current byte 4 gives five bytes or more,
//     no other can come near it, and otherwise every other candidate gives exactly four bytes,
//     so the nearest that passes is the result without measuring any.
//   * A candidate that survives is rejected from the byte at offset need - 1 before the match
//     is measured, eight bytes at a time.
//
// Storage (all of it inside the compressor's key-table area, which is handed out zero-filled):
// a count of insertions per key, and per key that occurs in the block a ring of position words
// and their tags, with the tail hashes beside them in hashed blocks (entry = ordinal mod 256; the
// ring replaces the shift of the bucket's entries). The keys' occurrences are counted before the
// parse, so every ring is exactly as long as its key needs (at most 256 entries, in whole lanes
// of 16) and the rings lie next to each other: a block touches no more of the area than it
// fills. Only the counts rely on the zero fill, and the parse sets them back to 0 when it ends.
#pragma once
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/BlockFormat.h"
#include "engine/DeltaCode.h"
#include "engine/Matematicheskieoperacii.h"
#include "foundation/LittleEndian.h"

namespace matchfinder {

const uint32_t kKeys = 65536;
const uint32_t kRing = 256;
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

// The eight bytes at p, the first in the lowest byte, 0 past the end: the key of position p in
// bits 0 - 15, its tag in bits 16 - 31, and the four bytes its tail hash is made of above.
inline uint64_t EightBytesAt(const uint8_t* s, uint32_t S, uint32_t p) {
  if (__builtin_expect(p + 8 <= S, 1)) return Load32(s + p) | uint64_t(Load32(s + p + 4)) << 32;
  uint64_t bytes = 0;
  for (uint32_t i = 0; i < 8 && p + i < S; ++i) bytes |= uint64_t(s[p + i]) << (8 * i);
  return bytes;
}
inline uint32_t KeyOf(uint64_t bytes) { return bytes & 0xFFFF; }
inline uint16_t TagOf(uint64_t bytes) { return static_cast<uint16_t>(bytes >> 16); }
// Equal hashes for equal bytes 4 - 7; unequal hashes prove them unequal.
inline uint8_t TailHashOf(uint64_t bytes) { return static_cast<uint8_t>((uint32_t(bytes >> 32) * 0x9E3779B1u) >> 24); }
// Byte 4, the first after the tag.
inline uint8_t FifthOf(uint64_t bytes) { return static_cast<uint8_t>(bytes >> 32); }

// A key's ring of positions, with a tag per entry: the two bytes after the position's key (0 past
// the end of the block). Each entry has a second tier too (see the top of this file): in a block
// of mostly repeated text (see TFinder::Attach) a tail hash, one byte hashed from the four bytes
// after the tag, held beside the tags; elsewhere byte 4 itself, held in the top byte of the
// position's word (such blocks are shorter than kTierShift bits can count). The ring is read in
// lanes of kLane entries: sixteen tags, and sixteen tiers, are compared at once.
const uint32_t kLane = 16;
const uint32_t kTierShift = 24;
template <bool kHashed>
struct TRing {
  uint32_t* positions;
  uint16_t* tags;
  uint8_t* hashes;  // with kHashed only
  // The word (position, with byte 4 above it without hashes) and the tag and the hash of the
  // position with this ordinal (taken mod kRing).
  inline uint32_t& WordAt(uint32_t ordinal) const { return positions[ordinal & (kRing - 1)]; }
  inline uint16_t& TagAt(uint32_t ordinal) const { return tags[ordinal & (kRing - 1)]; }
  inline uint8_t& HashAt(uint32_t ordinal) const { return hashes[ordinal & (kRing - 1)]; }
  static inline uint32_t PositionOf(uint32_t word) { return kHashed ? word : word & ((1u << kTierShift) - 1); }
  inline uint32_t At(uint32_t ordinal) const { return PositionOf(WordAt(ordinal)); }
  // The word that files position p whose eight bytes (EightBytesAt) are bytes.
  static inline uint32_t WordOf(uint32_t p, uint64_t bytes) {
    return kHashed ? p : p | uint32_t(FifthOf(bytes)) << kTierShift;
  }

  // Bit i set when entry i of the lane has this tag.
  inline uint32_t TagMatches(uint32_t laneIndex, uint16_t tag) const {
    const uint16_t* lane = tags + laneIndex * kLane;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(tag));
    const __m128i low = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lane)), wanted);
    const __m128i high = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lane + 8)), wanted);
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
#else
    uint32_t four = 0;
    for (uint32_t i = 0; i < kLane; ++i) four |= uint32_t(lane[i] == tag) << i;
    return four;
#endif
  }

  // Bit i set when entry i of the lane has this tier (the tail hash or byte 4).
  inline uint32_t TierMatches(uint32_t laneIndex, uint8_t tier) const {
#if defined(__SSE2__)
    if (kHashed) {
      const __m128i hashes16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hashes + laneIndex * kLane));
      return static_cast<uint32_t>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(hashes16, _mm_set1_epi8(static_cast<char>(tier)))));
    }
    const __m128i* words = reinterpret_cast<const __m128i*>(positions + laneIndex * kLane);
    const __m128i wanted = _mm_set1_epi32(static_cast<int>(tier));
    auto same = [&](int i) { return _mm_cmpeq_epi32(_mm_srli_epi32(_mm_loadu_si128(words + i), kTierShift), wanted); };
    const __m128i low = _mm_packs_epi32(same(0), same(1)), high = _mm_packs_epi32(same(2), same(3));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
#else
    uint32_t bits = 0;
    for (uint32_t i = 0; i < kLane; ++i) {
      const uint32_t entry = laneIndex * kLane + i;
      bits |= uint32_t((kHashed ? hashes[entry] : positions[entry] >> kTierShift) == tier) << i;
    }
    return bits;
#endif
  }
};

// The finder's tables laid over the key-table area of the work area.
class TFinder {
 public:
  // area: start of the key-table part of the work area, areaBytes: bytes from there to the end of
  // the work area. False when the tables do not fit (never for the work-area size of the block
  // format, checked anyway).
  bool Attach(uint8_t* area, uint64_t areaBytes, const uint8_t* s, uint32_t S) {
    uintptr_t aligned = (reinterpret_cast<uintptr_t>(area) + 63) & ~uintptr_t(63);
    const uint64_t skip = aligned - reinterpret_cast<uintptr_t>(area);
    if (skip + 8ull * kKeys > areaBytes) return false;
    keys_ = reinterpret_cast<SKey*>(aligned);
    pool_ = reinterpret_cast<uint8_t*>(keys_ + kKeys);
    // Every key's ring is as long as the block needs, in whole lanes (its occurrences, at most
    // kRing), and the rings lie next to each other: the tables touch no more memory than the
    // block fills. The occurrences are counted in the counts, which start at 0 and are cleared
    // again.
    // A short block lays out the rings of its own keys, in the order they first occur, so that
    // its cost follows its length rather than the number of keys; where the rings lie does not
    // change the parse.
    for (uint32_t p = 0; p + 1 < S; ++p) ++keys_[Load16(s + p)].count;
    if (S != 0) ++keys_[s[S - 1]].count;
    uint64_t lanes = 0;
    auto layOut = [&](SKey& k) {
      const uint32_t entries = k.count < kRing ? k.count : kRing;
      const uint32_t keyLanes = (entries + kLane - 1) / kLane;
      if (keyLanes != 0) k.ring = static_cast<uint32_t>(lanes << 4 | (keyLanes - 1));
      k.count = 0;
      lanes += keyLanes;
    };
    if (Short(S)) {
      for (uint32_t p = 0; p < S; ++p) layOut(keys_[KeyAt(s, S, p)]);
    } else {
      for (uint32_t key = 0; key < kKeys; ++key) layOut(keys_[key]);
    }
    // Where the rings hold fewer entries than half the block, a few keys recur all over it
    // (text, mostly): their searches meet many candidates of five bytes and more, and a tail
    // hash per entry spares reading most of them. Elsewhere byte 4 in the position's word serves
    // better and costs no memory, in every block whose positions leave that byte free.
    hashed_ = lanes * kLane < S / 2 || S > (1u << kTierShift);
    return skip + 8ull * kKeys + lanes * kLane * EntryBytes(hashed_) <= areaBytes && lanes < (1u << 28);
  }

  // The ring of a key that occurs in the block; kHashed must equal Hashed().
  template <bool kHashed>
  inline TRing<kHashed> RingOf(uint32_t key) const {
    const uint32_t ring = keys_[key].ring;
    uint8_t* base = pool_ + uint64_t(ring >> 4) * kLane * EntryBytes(kHashed);
    const uint32_t entries = ((ring & 15) + 1) * kLane;
    return {reinterpret_cast<uint32_t*>(base), reinterpret_cast<uint16_t*>(base + entries * 4), base + entries * 6};
  }

  // Counts one more position of this key and returns the key's ring, with total set to the key's
  // insertion count including that position. Store fills in its entry.
  template <bool kHashed>
  inline TRing<kHashed> File(uint32_t key, uint32_t& total) {
    total = ++keys_[key].count;
    return RingOf<kHashed>(key);
  }

  // Writes the entry with this ordinal: position p, whose eight bytes are bytes.
  template <bool kHashed>
  static inline void Store(const TRing<kHashed>& positions, uint32_t ordinal, uint32_t p, uint64_t bytes) {
    positions.WordAt(ordinal) = TRing<kHashed>::WordOf(p, bytes);
    positions.TagAt(ordinal) = TagOf(bytes);
    if (kHashed) positions.HashAt(ordinal) = TailHashOf(bytes);
  }

  // Files p, whose eight bytes are bytes.
  template <bool kHashed>
  inline void Insert(uint32_t p, uint64_t bytes) {
    uint32_t total;
    const TRing<kHashed> positions = File<kHashed>(KeyOf(bytes), total);
    Store<kHashed>(positions, total - 1, p, bytes);
  }

  bool Hashed() const { return hashed_; }

  // Sets the insertion counts back to 0 after a parse, so the area serves the next block without
  // being cleared as a whole: a short block clears only its own keys.
  void Detach(const uint8_t* s, uint32_t S) {
    if (keys_ == nullptr) return;
    if (Short(S)) {
      for (uint32_t p = 0; p < S; ++p) keys_[KeyAt(s, S, p)].count = 0;
    } else {
      std::memset(static_cast<void*>(keys_), 0, sizeof(SKey) * kKeys);
    }
  }

  // Brings a key's count and ring towards the cache ahead of a search.
  inline void PrefetchKey(uint32_t key) const { __builtin_prefetch(keys_ + key); }

  // Brings the tags of a key's bucket towards the cache ahead of a search.
  template <bool kHashed>
  inline void PrefetchTags(uint32_t key) const {
    const uint32_t count = keys_[key].count;
    if (count == 0) return;
    const TRing<kHashed> ring = RingOf<kHashed>(key);
    const uint32_t entries = count < kRing ? count : kRing;
    for (uint32_t i = 0; i < entries; i += 32) __builtin_prefetch(ring.tags + i);
    if (kHashed)
      for (uint32_t i = 0; i < entries; i += 64) __builtin_prefetch(ring.hashes + i);
  }

 private:
  // A key's insertion count and its ring side by side: one cache line serves both.
  struct SKey {
    uint32_t count;
    uint32_t ring;  // first lane of the key's ring << 4 | its lanes - 1
  };
  // Blocks this short walk their own positions instead of all keys.
  static bool Short(uint32_t S) { return S < kKeys; }
  // The key position p is filed under: its two bytes, the last position's byte alone.
  static uint32_t KeyAt(const uint8_t* s, uint32_t S, uint32_t p) { return p + 1 < S ? Load16(s + p) : s[p]; }

  SKey* keys_ = nullptr;
  uint8_t* pool_ = nullptr;
  bool hashed_ = false;  // the entries carry tail hashes, not byte 4
  // Bytes per ring entry: its word, its tag and, with hashes, its tail hash.
  static constexpr uint32_t EntryBytes(bool hashed) { return hashed ? 4 + 2 + 1 : 4 + 2; }
};

// The running best of one search. Candidates (whose first two bytes equal those at cur) are
// offered in order of growing distance, so the least length the cost test allows only grows: it
// is looked up once per distance bit length, and a candidate is rejected on the byte at offset
// need - 1 before its match is measured.
class TSearch {
 public:
  TSearch(const uint8_t* s, uint32_t cur, uint32_t maxLength, const SMinimumLengths& minimum)
      : s_(s), cur_(cur), maxLength_(maxLength), minimum_(minimum) {}

  uint32_t length = 1;  // of the best match so far (1: none)
  uint32_t position = 0;

  // Forgets the best and starts again from the nearest distance.
  void Restart() {
    length = 1;
    position = 0;
    reach_ = 0;
    least_ = need_ = 2;
  }

  // Makes c the best with this match length, which passes the cost test and beats the best.
  // Candidates offered after it must still be no nearer than any offered before.
  void Take(uint32_t c, uint32_t matchLength) {
    length = matchLength;
    position = c;
    need_ = matchLength + 1 > least_ ? matchLength + 1 : least_;
  }

  // Offers candidate c, no nearer than the candidates before it; false when no farther candidate
  // can change the result.
  inline bool Offer(uint32_t c) {
    const uint32_t distance = cur_ - c;
    if (distance > reach_ && !Widen(distance)) return false;
    // need <= maxLength here: a longer need has ended the search.
    if (need_ > distance || s_[c + need_ - 1] != s_[cur_ + need_ - 1]) return true;
    const uint32_t matchLength = MatchLength(s_ + c, s_ + cur_, 2, distance < maxLength_ ? distance : maxLength_);
    if (matchLength < need_) return true;
    Take(c, matchLength);
    return matchLength < maxLength_;
  }

 private:
  // Moves the least passing length on to the bit length of distance; false when no match that
  // far fits before the block end.
  bool Widen(uint32_t distance) {
    const uint32_t highestBit = HighestBit32(distance);
    const uint32_t least = minimum_.byHighestBit[highestBit];
    if (least > maxLength_) return false;
    reach_ = uint32_t((uint64_t(2) << highestBit) - 1);
    least_ = least;
    if (least > need_) need_ = least;
    return true;
  }

  const uint8_t* s_;
  uint32_t cur_, maxLength_;
  const SMinimumLengths& minimum_;
  uint32_t reach_ = 0;  // the farthest distance of the current distance bit length
  uint32_t least_ = 2;  // the least length that passes the cost test up to reach_
  uint32_t need_ = 2;   // max(length + 1, least_)
};

// The ring's match masks for one search, per lane: the older entries (all but the newest, the
// current position, whose entry is not stored yet) whose tag equals the current one (a match of
// four bytes or more), and those whose tier is equal too (with hashes all of those of eight bytes
// or more, without them exactly those of five bytes or more). All lanes are compared before any
// position is taken, so their loads do not wait on one another.
template <bool kHashed>
struct SLaneMasks {
  uint32_t four[kRing / kLane];
  uint32_t tier[kRing / kLane];
  uint32_t newest;  // ring index of the newest entry
  bool full;
  bool anyFour, anyTier;  // some lane has a bit set in four, in tier

  void Compare(const TRing<kHashed>& ring, uint32_t total, uint16_t tag, uint8_t tierByte) {
    newest = (total - 1) & (kRing - 1);
    full = total >= kRing;
    const uint32_t lanes = full ? kRing / kLane : newest / kLane + 1;
    const uint32_t newestLane = newest / kLane, newestBit = 1u << (newest % kLane);
    uint32_t fours = 0, tiers = 0;
    for (uint32_t lane = 0; lane < lanes; ++lane) {
      four[lane] = ring.TagMatches(lane, tag) & (lane == newestLane ? ~newestBit : ~0u);
      fours |= four[lane];
      // The words of a lane without a tag match are not read: the collecting reads those that
      // have one anyway.
      tier[lane] = kHashed || four[lane] != 0 ? four[lane] & ring.TierMatches(lane, tierByte) : 0;
      tiers |= tier[lane];
    }
    anyFour = fours != 0;
    anyTier = tiers != 0;
  }

  // Calls visit with the positions of the entries set in mask (a lane's bits from its index),
  // nearest first, until it returns false.
  template <typename TMask, typename TVisit>
  __attribute__((always_inline)) void Visit(const TRing<kHashed>& ring, TMask mask, TVisit visit) const {
    const auto lane = [&](uint32_t index, uint32_t bits) __attribute__((always_inline)) {
      while (bits != 0) {
        const uint32_t i = HighestBit32(bits);
        bits &= ~(1u << i);
        if (!visit(TRing<kHashed>::PositionOf(ring.positions[index * kLane + i]))) return false;
      }
      return true;
    };
    const uint32_t newestLane = newest / kLane;
    const uint32_t below = (1u << (newest % kLane)) - 1;
    if (!lane(newestLane, mask(newestLane) & below)) return;
    for (uint32_t index = newestLane; index-- > 0;)
      if (!lane(index, mask(index))) return;
    if (full) {
      // A full ring goes on at its top: its entries there are older still, down to the oldest.
      for (uint32_t index = kRing / kLane - 1; index > newestLane; --index)
        if (!lane(index, mask(index))) return;
      lane(newestLane, mask(newestLane) & ~below);
    }
  }

  // The positions of the entries set in mask, nearest first, their bytes of s on their way to the
  // cache. Returns their number.
  template <typename TMask>
  __attribute__((always_inline)) uint32_t Collect(const uint8_t* s, const TRing<kHashed>& ring, TMask mask,
                                                  uint32_t* found) const {
    uint32_t* end = found;
    Visit(ring, mask, [&](uint32_t position) __attribute__((always_inline)) {
      __builtin_prefetch(s + position);
      *end++ = position;
      return true;
    });
    return static_cast<uint32_t>(end - found);
  }
};

// Tokens parsed between two looks at the abandon flag: a few milliseconds of work.
constexpr uint32_t kTokensBetweenAbandonChecks = 1u << 16;

// The greedy parse of s[0 .. S) over the attached finder, with tail hashes or byte 4 as the tier.
// False when it was abandoned (the tokens are then incomplete).
template <bool kHashed>
inline bool Parse(const uint8_t* s, uint32_t S, const SCompressWork& work, TFinder& finder, uint32_t& tokenCount,
                  uint32_t& matchCount) {
  SMinimumLengths minimum;
  minimum.Build();
  uint32_t N = 0, M = 0;
  uint32_t cur = 0;
  uint8_t* flags = work.flags;
  uint8_t* distances = work.distances;
  uint8_t* lengths = work.lengths;
  uint32_t found[kRing];
  while (cur < S) {
    if ((N & (kTokensBetweenAbandonChecks - 1)) == 0 && work.abandon != nullptr &&
        work.abandon->load(std::memory_order_relaxed))
      return false;
    uint32_t total = 0;
    const uint64_t bytes = EightBytesAt(s, S, cur);
    // The current position's entry is stored only after the search (which passes over it): the
    // search's wide loads of its lane right after a narrow store into it would wait for the store.
    const TRing<kHashed> positions = finder.File<kHashed>(KeyOf(bytes), total);
    // What the searches two and four positions on will read first is fetched now: the tags,
    // which need the key's ring, two positions on, and the key's entry itself four on. (Their
    // keys are bytes 2 - 3 and 4 - 5 of the eight.)
    finder.PrefetchKey(KeyOf(bytes >> 32));
    finder.PrefetchTags<kHashed>(KeyOf(bytes >> 16));
    const uint32_t maxLength = S - cur;
    TSearch best(s, cur, maxLength, minimum);
    if (maxLength >= 2 && total > 1) {
      const uint32_t older = total - 1 < kRing - 1 ? total - 1 : kRing - 1;
      bool going = true;
      if (maxLength >= 4) {
        // Candidates of four bytes or more share the tag. The candidates set in a mask are
        // collected first, so their bytes are fetched all at once, then measured nearest first.
        SLaneMasks<kHashed> masks;
        masks.Compare(positions, total, TagOf(bytes), kHashed ? TailHashOf(bytes) : FifthOf(bytes));
        // A mask's candidates are measured until one gives longest bytes, which none can beat.
        auto measure = [&](auto mask, uint32_t longest) __attribute__((always_inline)) {
          const uint32_t count = masks.Collect(s, positions, mask, found);
          for (uint32_t i = 0; i < count && going && best.length < longest; ++i) going = best.Offer(found[i]);
        };
        // All candidates of tierLength bytes or more share the tier too; when one of those gives
        // tierLength bytes, the best of them is the result of all. Otherwise, and near the block
        // end, where no match reaches tierLength bytes, every candidate with the tag counts,
        // searched from the start (a false hit of the hash may not stand in for a nearer equal
        // match), and none of them gives tierLength bytes (it would have the tier, and none of
        // those did).
        const uint32_t tierLength = kHashed ? 8 : 5;
        if (maxLength >= tierLength && masks.anyTier)
          measure([&](uint32_t lane) { return masks.tier[lane]; }, maxLength);
        if (best.length < tierLength && masks.anyFour) {
          best.Restart();
          going = true;
          const auto four = [&](uint32_t lane) { return masks.four[lane]; };
          if (kHashed || maxLength < tierLength) {
            measure(four, maxLength < tierLength ? maxLength : tierLength - 1);
          } else {
            // Every candidate gives exactly four bytes, or fewer when it is nearer than four: the
            // nearest of the others is the result if four bytes pass that far.
            masks.Visit(positions, four, [&](uint32_t c) {
              const uint32_t distance = cur - c;
              if (distance < 4) return true;
              if (minimum.byHighestBit[HighestBit32(distance)] <= 4) best.Take(c, 4);
              return false;
            });
          }
        }
      }
      if (going && best.length < 4) {
        // No candidate shares four bytes with cur: what is left are matches of two or three
        // bytes, and only near ones pass.
        const uint32_t limit = maxLength < 3 ? maxLength : 3;
        const uint8_t third = limit >= 3 ? s[cur + 2] : 0;
        for (uint32_t k = 1; k <= older && best.length < limit; ++k) {
          const uint32_t c = positions.At(total - 1 - k);
          if (c + 1 >= cur) continue;
          const uint32_t distance = cur - c;
          if (distance > kShortMatchReach) break;
          const uint32_t reach = distance < limit ? distance : limit;
          const uint32_t length = reach >= 3 && (positions.TagAt(total - 1 - k) & 0xFF) == third ? 3 : 2;
          if (length > best.length && length >= minimum.byHighestBit[HighestBit32(distance)]) best.Take(c, length);
        }
        if (best.length >= maxLength) going = false;
      }
      if (going && total >= kRing && s[cur] == s[cur + 1]) {
        // The bucket's oldest entry may sit in a run of one byte value that goes on below it;
        // the walk reaches those positions too. (Only a key of two equal bytes can sit in a run.)
        const uint8_t b = s[cur];
        uint32_t c = positions.At(total);
        while (going && c > 0 && s[c - 1] == b) {
          --c;
          going = best.Offer(c);
        }
      }
    }
    finder.Store<kHashed>(positions, total - 1, cur, bytes);
    if (best.length <= 1) {
      flags[N] = 0;
      ++cur;
    } else {
      Store32(distances + 4ull * M, cur - best.position - 1);
      Store32(lengths + 4ull * M, best.length - 1);
      ++M;
      const uint32_t end = cur + best.length;
      for (uint32_t p = cur + 1; p < end; ++p) finder.Insert<kHashed>(p, EightBytesAt(s, S, p));
      cur = end;
      flags[N] = 1;
    }
    ++N;
  }
  tokenCount = N;
  matchCount = M;
  return true;
}

// The greedy parse of s[0 .. S): the same tokens as the step-by-step procedure described above.
// Returns false when its tables do not fit the work area or the parse was abandoned. The key-table
// area must hold zero counts, and it is left with zero counts: one area serves any number of
// blocks.
inline bool FindMatches(const uint8_t* s, uint32_t S, const SCompressWork& work, uint64_t keyAreaBytes,
                        uint32_t& tokenCount, uint32_t& matchCount) {
  TFinder finder;
  const bool fits = finder.Attach(work.keyTable, keyAreaBytes, s, S);
  bool parsed = false;
  if (fits && finder.Hashed())
    parsed = Parse<true>(s, S, work, finder, tokenCount, matchCount);
  else if (fits)
    parsed = Parse<false>(s, S, work, finder, tokenCount, matchCount);
  finder.Detach(s, S);
  return parsed;
}

}  // namespace matchfinder
