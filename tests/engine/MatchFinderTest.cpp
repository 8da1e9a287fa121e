// The fast match finder against the literal reference search: identical tokens on inputs aimed
// at its shortcuts (cost-test boundaries, ties, full buckets, runs walked below a full bucket,
// the block end), on the corpus and on generated data, with and without the pre-pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestData.h"
#include "ReferenceSearch.h"
#include "engine/BlockFormat.h"
#include "engine/MatchFinder.h"
#include "foundation/Memdiag.h"

namespace {

void ExpectSameTokens(const std::vector<uint8_t>& s, const std::string& what) {
  SReferenceTokens expected, got;
  ReferenceSearch(s.data(), static_cast<uint32_t>(s.size()), expected);
  ASSERT_TRUE(FinderSearch(s.data(), static_cast<uint32_t>(s.size()), got)) << what;
  ASSERT_EQ(expected.flags.size(), got.flags.size()) << what;
  EXPECT_EQ(expected.flags, got.flags) << what;
  ASSERT_EQ(expected.lengthsMinusOne.size(), got.lengthsMinusOne.size()) << what;
  for (size_t i = 0; i < expected.lengthsMinusOne.size(); ++i) {
    ASSERT_EQ(expected.distancesMinusOne[i], got.distancesMinusOne[i]) << what << " match " << i;
    ASSERT_EQ(expected.lengthsMinusOne[i], got.lengthsMinusOne[i]) << what << " match " << i;
  }
}

std::vector<uint8_t> PrePass(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> out(2 * block.size() + 1);
  uint32_t S = 0;
  RunLengthPack(out.data(), S, block.data(), static_cast<uint32_t>(block.size()));
  out.resize(S);
  return out;
}

// Filler bytes that share no two-byte key with the probes placed between them.
std::vector<uint8_t> Filler(size_t n, uint32_t seed) {
  std::vector<uint8_t> f = RandomBytes(n, seed, 16);
  for (uint8_t& b : f) b = static_cast<uint8_t>(0x80 + b);
  return f;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& what) {
  to.insert(to.end(), what.begin(), what.end());
}

}  // namespace

// A probe, filler, the probe again: around each length's distance limit (two bytes up to 63,
// three up to 4095, four and five around 128 Ki).
TEST(MatchFinder, MatchesAroundTheirDistanceLimits) {
  const struct {
    uint32_t length;
    std::vector<uint32_t> distances;
  } cases[] = {{2, {62, 63, 64, 65}}, {3, {4094, 4095, 4096, 4097}}, {4, {131071, 131072, 131073}}, {5, {131071, 131072, 131073}}};
  for (const auto& c : cases)
    for (uint32_t distance : c.distances) {
      std::vector<uint8_t> probe = {'a', 'b', 'c', 'd', 'e'};
      probe.resize(c.length);
      std::vector<uint8_t> s = probe;
      Append(s, Filler(distance - c.length, distance + c.length));
      Append(s, probe);
      Append(s, Filler(10, 3));
      ExpectSameTokens(s, "length " + std::to_string(c.length) + " at distance " + std::to_string(distance));
    }
}

TEST(MatchFinder, LongerFartherCandidateFailingTheCostTestIsPassedOver) {
  // A 3-byte match at distance 5000 fails; a nearer 2-byte one at distance 40 passes.
  std::vector<uint8_t> s = {'x', 'y', 'z'};
  Append(s, Filler(4957, 1));
  Append(s, {'x', 'y', 'q'});
  Append(s, Filler(37, 2));
  Append(s, {'x', 'y', 'z'});
  Append(s, Filler(5, 4));
  ExpectSameTokens(s, "cost test passes over");
}

TEST(MatchFinder, NearestOfEquallyLongCandidatesWins) {
  // Three copies of "abcd" followed by different bytes; the fourth copy must take the nearest.
  std::vector<uint8_t> s;
  for (int i = 0; i < 3; ++i) {
    Append(s, {'a', 'b', 'c', 'd', static_cast<uint8_t>('1' + i)});
    Append(s, Filler(20, i));
  }
  Append(s, {'a', 'b', 'c', 'd', '9'});
  ExpectSameTokens(s, "ties");
}

TEST(MatchFinder, FourFiveAndSixByteCandidatesOfOneTag) {
  // Candidates sharing four bytes with the current position, differing from the fifth or the
  // sixth byte on, nearest or farthest, some cut short by their distance or by the block end.
  const std::vector<std::vector<uint8_t>> earlier = {
      {'a', 'b', 'c', 'd', 'Q'}, {'a', 'b', 'c', 'd', 'e', 'Q'}, {'a', 'b', 'c', 'd', 'e', 'f', 'Q'},
      {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'Q'}};
  const std::vector<std::vector<uint8_t>> current = {
      {'a', 'b', 'c', 'd'}, {'a', 'b', 'c', 'd', 'e'}, {'a', 'b', 'c', 'd', 'e', 'f'},
      {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}, {'a', 'b', 'c', 'd', 'a', 'b', 'c', 'd', 'e', 'f'}};
  for (size_t c = 0; c < current.size(); ++c) {
    // Every order of the four earlier candidates, each order followed by the current bytes; the
    // orders before add farther candidates to the later ones.
    std::vector<uint8_t> s;
    for (size_t order = 0; order < 24; ++order) {
      std::vector<size_t> pick = {0, 1, 2, 3};
      for (size_t i = 0, k = order; i < 3; k /= 4 - i, ++i) std::swap(pick[i], pick[i + k % (4 - i)]);
      for (size_t i = 0; i < 4; ++i) {
        Append(s, earlier[pick[i]]);
        Append(s, Filler(30 + 7 * i, static_cast<uint32_t>(order * 4 + i)));
      }
      Append(s, current[c]);
      if (order == 23) ExpectSameTokens(s, "current " + std::to_string(c) + " at the block end");
      Append(s, Filler(12, static_cast<uint32_t>(order)));
    }
    ExpectSameTokens(s, "current " + std::to_string(c));
  }
  // A long candidate at distance 4, cut short to four bytes, and a farther one of five bytes.
  std::vector<uint8_t> s = {'K', 'w', 'x', 'y', 'z', 'R'};
  Append(s, Filler(40, 1));
  Append(s, {'w', 'x', 'y', 'z', 'w', 'Q'});
  Append(s, Filler(40, 2));
  Append(s, {'K', 'w', 'x', 'y', 'z', 'w', 'x', 'y', 'z', 'w', 'x', 'V'});
  Append(s, Filler(12, 3));
  ExpectSameTokens(s, "cut short");
  // At the block end the bytes past it count as 0: a candidate followed by a 0 matches no more.
  s = {'a', 'b', 'c', 'd', 0, 'Q'};
  Append(s, Filler(40, 4));
  Append(s, {'a', 'b', 'c', 'd', 'Q'});
  Append(s, Filler(40, 5));
  Append(s, {'a', 'b', 'c', 'd'});
  ExpectSameTokens(s, "zero past the end");
}

TEST(MatchFinder, FullBucketsDropTheirOldestPositions) {
  // Occurrences of one key, the first one with a long continuation that only the oldest position
  // could give: once the bucket is full it must no longer be found.
  for (uint32_t count : {254u, 255u, 256u, 257u, 300u}) {
    std::vector<uint8_t> t = {'k', 'q', 'L', 'O', 'N', 'G', 'T', 'A', 'I', 'L'};
    for (uint32_t i = 0; i < count; ++i) {
      Append(t, {'k', 'q'});
      Append(t, Filler(2 + count / 300, i));
    }
    Append(t, {'k', 'q', 'L', 'O', 'N', 'G', 'T', 'A', 'I', 'L'});
    ExpectSameTokens(t, "bucket of " + std::to_string(count));
  }
}

TEST(MatchFinder, RunsBelowAFullBucketAreWalked) {
  // Runs of one byte value are searched without the pre-pass, so the walk goes past the
  // bucket's oldest entry into the rest of the run.
  for (uint32_t run : {3u, 200u, 255u, 256u, 257u, 600u, 3000u}) {
    std::vector<uint8_t> s = Filler(7, run);
    s.insert(s.end(), run, 'z');
    Append(s, Filler(5, 1));
    s.insert(s.end(), run / 2 + 1, 'z');
    Append(s, {'z', 'z', 'y'});
    ExpectSameTokens(s, "raw run of " + std::to_string(run));
  }
  // Key-sharing positions interleaved with a run: full bucket whose oldest entries sit in a run.
  std::vector<uint8_t> t(400, 'r');
  for (int i = 0; i < 300; ++i) Append(t, {'r', 'r', static_cast<uint8_t>(i), 'r', 'r', 'q'});
  t.insert(t.end(), 500, 'r');
  ExpectSameTokens(t, "runs and a full bucket");
}

TEST(MatchFinder, RunBelowAFullBucketAfterANearThreeByteMatch) {
  // The search at "zzzzW" meets only far four-byte candidates (the run, 150,000 bytes back, where
  // five bytes are needed), then takes a near three-byte match ("zzzY"), then walks the run
  // below the bucket's oldest entry: at that distance a four-byte match still does not pass.
  std::vector<uint8_t> s = Filler(8, 1);
  s.insert(s.end(), 40, 'z');
  s.push_back('Q');
  Append(s, Filler(150000, 2));
  // 118 pieces of two "zz" keys each: with the run's 39 and the search's own, the bucket holds
  // the newest 256 and its oldest sits 20 bytes into the run.
  for (uint32_t i = 0; i < 118; ++i) {
    Append(s, {'z', 'z', 'z', 'Y'});
    Append(s, Filler(16, 3 + i));
  }
  Append(s, {1, 2, 3, 'z', 'z', 'z', 'z', 'W', 4, 5, 6});
  ExpectSameTokens(s, "run below a full bucket after a near match");
}

TEST(MatchFinder, BlockEndLimitsMatches) {
  for (uint32_t tail = 0; tail < 12; ++tail) {
    std::vector<uint8_t> s = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    Append(s, Filler(5, tail));
    for (uint32_t i = 0; i < tail; ++i) s.push_back(s[i]);
    ExpectSameTokens(s, "tail " + std::to_string(tail));
  }
  ExpectSameTokens({'a'}, "one byte");
  ExpectSameTokens({'a', 'a'}, "two bytes");
  ExpectSameTokens({'a', 'a', 'a'}, "three bytes");
  ExpectSameTokens({0, 0, 0, 0, 0, 0}, "zeros");
}

TEST(MatchFinder, ShortPeriodsAndSmallAlphabets) {
  for (uint32_t period : {1u, 2u, 3u, 4u, 7u, 64u, 100u, 300u}) {
    std::vector<uint8_t> pattern = RandomBytes(period, period);
    std::vector<uint8_t> s;
    while (s.size() < 70000) Append(s, pattern);
    ExpectSameTokens(s, "period " + std::to_string(period));
    ExpectSameTokens(PrePass(s), "period " + std::to_string(period) + " after the pre-pass");
  }
  for (uint32_t alphabet : {2u, 4u, 16u}) {
    ExpectSameTokens(RandomBytes(200000, alphabet, alphabet), "alphabet " + std::to_string(alphabet));
  }
  ExpectSameTokens(PrePass(RandomBytes(300000, 5)), "random after the pre-pass");
}

TEST(MatchFinder, BlocksLongerThanTheWordsPositionBitsCarryTailHashes) {
  // Random bytes give every key a full ring, so only the block length decides the layout: byte 4
  // may ride in the top byte of a position's word only while every position fits below it.
  const uint32_t longest = 1u << matchfinder::kTierShift;
  const std::vector<uint8_t> s = RandomBytes(longest + 1, 7);
  const uint64_t areaBytes = 64 + 8ull * matchfinder::kKeys + 7ull * matchfinder::kKeys * matchfinder::kRing;
  for (uint32_t S : {longest, longest + 1}) {
    uint8_t* area = nullptr;
    Create(area, static_cast<uint32_t>(areaBytes));
    ASSERT_NE(nullptr, area);
    matchfinder::TFinder finder;
    EXPECT_TRUE(finder.Attach(area, areaBytes, s.data(), S));
    EXPECT_EQ(S > longest, finder.Hashed()) << S;
    Free(area);
  }
}
