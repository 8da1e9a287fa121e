// Literal reference of the block compressor. Buckets hold their positions oldest first and drop
// the oldest by shifting; candidates are walked one by one: from cur - 2 one byte at a time while
// the two bytes at the candidate equal the two at cur, otherwise on to the next older bucket entry.
#include "ReferenceCompressor.h"

#include <cstring>

#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"

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

uint32_t Cost(uint64_t v) { return NumberCodeLength(v); }

void PutBits(std::vector<uint8_t>& out, const std::vector<uint8_t>& bits, uint32_t bitCount) {
  std::vector<uint8_t> buffer(bits);
  buffer.resize(bitCount + 8);
  uint32_t count = bitCount;
  PackBits(buffer.data(), static_cast<uint32_t>(buffer.size()), count);
  out.insert(out.end(), buffer.begin(), buffer.begin() + count);
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Encode(std::vector<uint8_t>& bits, uint64_t v) {
  uint8_t word[96];
  uint32_t length = EncodeNumber(word, sizeof word, v);
  bits.insert(bits.end(), word, word + length);
}

}  // namespace

void ReferenceSearch(const uint8_t* s, uint32_t S, SReferenceTokens& tokens) {
  std::vector<SBucket> table(65536);
  for (SBucket& b : table) b.count = 0;
  SelectNumberCode(0, false);
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

std::vector<uint8_t> ReferenceCompressBlock(const uint8_t* src, uint32_t n) {
  std::vector<uint8_t> out;
  if (n == 0) return out;
  std::vector<uint8_t> stored;
  Put32(stored, n);
  Put32(stored, 0);
  stored.insert(stored.end(), src, src + n);
  if (!CompressionEnabled()) return stored;

  std::vector<uint8_t> prePass(2ull * n + 1);
  uint32_t S = 0;
  RunLengthPack(prePass.data(), S, src, n);
  SReferenceTokens tokens;
  ReferenceSearch(prePass.data(), S, tokens);
  uint32_t N = static_cast<uint32_t>(tokens.flags.size());
  uint32_t M = static_cast<uint32_t>(tokens.lengthsMinusOne.size());

  SelectNumberCode(0, false);
  std::vector<uint32_t> runs;
  uint64_t runCost = 0;
  uint32_t q = 0;
  uint8_t expected = 0;
  while (q < N) {
    uint32_t start = q;
    while (q < N && tokens.flags[q] == expected) ++q;
    uint32_t stored_value = start == 0 ? q - start : q - start - 1;
    runs.push_back(stored_value);
    runCost += NumberCodeLength(stored_value);
    expected ^= 1;
  }

  Put32(out, S);
  Put32(out, N);
  if (N <= runCost) {
    out.push_back(0);
    PutBits(out, tokens.flags, N);
  } else {
    std::vector<uint8_t> bits;
    Encode(bits, runs.size());
    for (uint32_t r : runs) Encode(bits, r);
    out.push_back(1);
    Put32(out, static_cast<uint32_t>(bits.size()));
    PutBits(out, bits, static_cast<uint32_t>(bits.size()));
  }
  out.push_back(2);
  uint32_t pos = 0, m = 0;
  for (uint32_t t = 0; t < N; ++t) {
    if (tokens.flags[t] == 0) {
      out.push_back(prePass[pos++]);
    } else {
      pos += tokens.lengthsMinusOne[m++] + 1;
    }
  }
  std::vector<uint8_t> bits;
  Encode(bits, M);
  for (uint32_t j = 0; j < M; ++j) {
    Encode(bits, tokens.distancesMinusOne[j]);
    Encode(bits, tokens.lengthsMinusOne[j]);
  }
  out.push_back(3);
  Put32(out, static_cast<uint32_t>(bits.size()));
  PutBits(out, bits, static_cast<uint32_t>(bits.size()));
  if (out.size() > n) return stored;
  return out;
}
