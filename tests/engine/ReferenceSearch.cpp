// Literal reference of the match search. Buckets hold their positions oldest first and drop
// the oldest by shifting; candidates are walked one by one: from cur - 2 one byte at a time while
// the two bytes at the candidate equal the two at cur, otherwise on to the next older bucket entry.
#include "ReferenceSearch.h"

#include "engine/BlockFormat.h"
#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/MatchFinder.h"
#include "foundation/Memdiag.h"

namespace {

struct SBucket {
  uint32_t count;
  uint32_t positions[256];
};

uint32_t KeyAt(const uint8_t* s, uint32_t S, uint32_t p) {
  uint32_t high = p + 1 < S ? s[p + 1] : 0;
  return s[p] | (high << 8);
}

uint32_t Insert(std::vector<SBucket>& table, const uint8_t* s, uint32_t S, uint32_t p) {
  SBucket& b = table[KeyAt(s, S, p)];
  if (b.count == 256) {
    for (uint32_t j = 0; j + 1 < 256; ++j) b.positions[j] = b.positions[j + 1];
    b.count = 255;
  }
  b.positions[b.count] = p;
  return b.count++;
}

uint32_t Cost(uint64_t v) { return NumberCodeLength(TNumberCode(), v); }  // the delta code

}  // namespace

void ReferenceSearch(const uint8_t* s, uint32_t S, SReferenceTokens& tokens) {
  std::vector<SBucket> table(65536);
  for (SBucket& b : table) b.count = 0;
  tokens = SReferenceTokens();
  uint32_t cur = 0;
  while (cur < S) {
    uint32_t key = KeyAt(s, S, cur);
    int64_t i = Insert(table, s, S, cur);
    const SBucket& bucket = table[key];
    uint8_t cur0 = s[cur];
    uint8_t cur1 = cur + 1 < S ? s[cur + 1] : 0;
    uint32_t bestLength = 0;
    int64_t bestPos = -1;
    int64_t c = int64_t(cur) - 2;
    while (c >= 0) {
      if (s[c] != cur0 || s[c + 1] != cur1) {
        if (i == 0) break;
        i = i - 1;
        c = bucket.positions[i];
      }
      uint32_t l = 0;
      if (s[c] == cur0) {
        while (cur + l + 1 <= S && c + l + 1 <= cur && s[c + l] == s[cur + l]) ++l;
      }
      if (l > bestLength && Cost(cur - c - 1) + Cost(l - 1) + 1 < 8 * l) {
        bestLength = l;
        bestPos = c;
      }
      c = c - 1;
    }
    if (bestLength <= 1) {
      tokens.flags.push_back(0);
      cur = cur + 1;
    } else {
      tokens.distancesMinusOne.push_back(static_cast<uint32_t>(cur - bestPos - 1));
      tokens.lengthsMinusOne.push_back(bestLength - 1);
      for (uint32_t p = cur + 1; p <= cur + bestLength - 1; ++p) Insert(table, s, S, p);
      cur = cur + bestLength;
      tokens.flags.push_back(1);
    }
  }
}

bool FinderSearch(const uint8_t* s, uint32_t S, SReferenceTokens& tokens) {
  tokens = SReferenceTokens();
  const uint64_t size = CompressWorkAreaSize(S);
  uint8_t* area = nullptr;
  if (size <= 0xFFFFFFFFull) Create(area, static_cast<uint32_t>(size));
  if (area == nullptr) return false;
  SCompressWork work = CompressWorkLayout(area, S);
  uint32_t N = 0, M = 0;
  const bool ok = matchfinder::FindMatches(s, S, work, KeyAreaBytes(S), N, M);
  tokens.flags.assign(work.flags, work.flags + N);
  for (uint32_t i = 0; i < M; ++i) {
    tokens.distancesMinusOne.push_back(Load32(work.distances + 4ull * i));
    tokens.lengthsMinusOne.push_back(Load32(work.lengths + 4ull * i));
  }
  Free(area);
  return ok;
}
