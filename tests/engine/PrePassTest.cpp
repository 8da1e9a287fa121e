#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/Compression.h"

namespace {

std::vector<uint8_t> Pack(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out(2 * in.size() + 1);
  uint32_t len = 12345;
  EXPECT_TRUE(RunLengthPack(out.data(), len, in.data(), uint32_t(in.size())));
  out.resize(len);
  return out;
}

std::vector<uint8_t> Repeated(size_t n, uint8_t b) { return std::vector<uint8_t>(n, b); }

TEST(PrePass, WorkedExamples) {
  EXPECT_EQ(Pack({}), std::vector<uint8_t>{});
  EXPECT_EQ(Pack({0}), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(Pack({0, 0}), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(Pack({0, 0, 0}), (std::vector<uint8_t>{0, 3, 0}));
  EXPECT_EQ(Pack({7, 7}), (std::vector<uint8_t>{7, 7}));
  EXPECT_EQ(Pack({7, 7, 7}), (std::vector<uint8_t>{0, 3, 7}));
  EXPECT_EQ(Pack(Repeated(255, 9)), (std::vector<uint8_t>{0, 255, 9}));
  EXPECT_EQ(Pack(Repeated(256, 9)), (std::vector<uint8_t>{0, 255, 9, 0, 1, 9}));
  EXPECT_EQ(Pack(Repeated(257, 9)), (std::vector<uint8_t>{0, 255, 9, 0, 2, 9}));
  EXPECT_EQ(Pack(Repeated(510, 9)), (std::vector<uint8_t>{0, 255, 9, 0, 255, 9}));
  EXPECT_EQ(Pack(Repeated(1000, 0)), (std::vector<uint8_t>{0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 235, 0}));
}

TEST(PrePass, RoundTripsAndSizeBound) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 200; ++trial) {
    size_t n = rng() % 3000;
    std::vector<uint8_t> in(n);
    uint32_t alphabet = 1 + rng() % 4;
    for (auto& b : in) b = uint8_t(rng() % alphabet);
    std::vector<uint8_t> packed = Pack(in);
    ASSERT_LE(packed.size(), 2 * n);
    std::vector<uint8_t> back(85 * packed.size() + 1);
    uint32_t len = 0;
    ASSERT_TRUE(RunLengthUnpack(back.data(), len, packed.data(), uint32_t(packed.size())));
    back.resize(len);
    ASSERT_EQ(back, in);
  }
}

// The pre-pass written plainly: maximal runs of three or more as records of at most 255 (the
// last one takes what is left), other bytes as they are, a zero doubled.
std::vector<uint8_t> PlainPack(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  for (size_t pos = 0; pos < in.size();) {
    size_t run = 1;
    while (pos + run < in.size() && in[pos + run] == in[pos]) ++run;
    if (run >= 3) {
      for (size_t left = run; left > 0;) {
        const size_t part = left >= 255 ? 255 : left;
        out.insert(out.end(), {0, uint8_t(part), in[pos]});
        left -= part;
      }
    } else {
      for (size_t i = 0; i < run; ++i) in[pos] == 0 ? out.insert(out.end(), {0, 0}) : out.insert(out.end(), in[pos]);
    }
    pos += run;
  }
  return out;
}

// Mostly distinct nonzero bytes with a zero, a pair or a run of three or more dropped in here
// and there, so every offset within eight bytes meets each of them.
TEST(PrePass, SameAsPlainPackerAroundRareZerosPairsAndRuns) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<uint8_t> in;
    const size_t n = 20 + rng() % 200;
    while (in.size() < n) {
      const uint32_t pick = rng() % 16;
      const uint8_t b = uint8_t(pick == 0 ? 0 : 1 + rng() % 255);
      const size_t count = pick == 1 ? 2 : pick == 2 ? 3 + rng() % 300 : 1;
      in.insert(in.end(), count, b);
    }
    ASSERT_EQ(Pack(in), PlainPack(in)) << "trial " << trial;
  }
}

// Undone within a capacity, a stream stops at it: 255 + 1 bytes fit 256 and no less.
TEST(PrePass, LimitedUnpackStopsAtCapacity) {
  const uint8_t stream[] = {0, 255, 1, 4};
  uint8_t out[256];
  uint32_t len = 0;
  EXPECT_TRUE(RunLengthUnpackLimited(out, 256, len, stream, 4));
  EXPECT_EQ(len, 256u);
  EXPECT_FALSE(RunLengthUnpackLimited(out, 255, len, stream, 4));
}

// A compressed-form block whose tokens are all literals: its pre-pass stream is exactly `stream`,
// so the decoder's in-place undo of the pre-pass meets it as it is.
std::vector<uint8_t> LiteralBlock(const std::vector<uint8_t>& stream) {
  const uint32_t S = uint32_t(stream.size());
  std::vector<uint8_t> block = {uint8_t(S), uint8_t(S >> 8), 0, 0, uint8_t(S), uint8_t(S >> 8), 0, 0, 0};
  block.insert(block.end(), (S + 7) / 8, 0);  // plain flags: every token a literal
  block.push_back(2);
  block.insert(block.end(), stream.begin(), stream.end());
  const std::vector<uint8_t> noMatches = {3, 1, 0, 0, 0, 0};  // M = 0
  block.insert(block.end(), noMatches.begin(), noMatches.end());
  return block;
}

// A stream that ends inside an escape item (after the 0, or after the count) is refused by every
// way the pre-pass is undone: on its own, within a capacity, and in place by the decoder, after
// plain stretches short and long enough for each of their wide steps.
TEST(PrePass, StreamCutInsideAnEscapeItemIsRefusedEverywhere) {
  for (size_t plain : {0, 5, 63, 200, 1000}) {
    for (const std::vector<uint8_t>& tail : {std::vector<uint8_t>{0}, std::vector<uint8_t>{0, 7}}) {
      std::vector<uint8_t> stream(plain, 'a');
      for (size_t i = 0; i < plain; ++i) stream[i] = uint8_t('a' + i % 7);
      stream.insert(stream.end(), tail.begin(), tail.end());
      std::vector<uint8_t> out(4096);
      uint32_t n = 0;
      EXPECT_FALSE(RunLengthUnpack(out.data(), n, stream.data(), uint32_t(stream.size()))) << plain;
      EXPECT_EQ(n, plain) << "the bytes before the cut item are counted";
      EXPECT_FALSE(RunLengthUnpackLimited(out.data(), uint32_t(out.size()), n, stream.data(), uint32_t(stream.size())));
      const std::vector<uint8_t> block = LiteralBlock(stream);
      uint32_t capacity = uint32_t(out.size());
      EXPECT_FALSE(DecompressBlock(out.data(), capacity, block.data(), uint32_t(block.size())))
          << plain << " plain bytes and a cut item of " << tail.size();

      // The whole item restores: the block was well made but for the cut.
      std::vector<uint8_t> whole(stream.begin(), stream.end() - long(tail.size()));
      whole.insert(whole.end(), {0, 7, 'z'});
      const std::vector<uint8_t> good = LiteralBlock(whole);
      capacity = uint32_t(out.size());
      ASSERT_TRUE(DecompressBlock(out.data(), capacity, good.data(), uint32_t(good.size()))) << plain;
      EXPECT_EQ(capacity, plain + 7);
      EXPECT_EQ(out[plain + 6], 'z');
    }
  }
}

}  // namespace
