#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "EngineTestData.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/Matematicheskieoperacii.h"

namespace {

uint64_t RoundTrip(uint64_t value, uint32_t* length = nullptr) {
  uint8_t bits[128] = {};
  uint32_t written = EncodeNumber(bits, sizeof bits, value);
  uint64_t back = 0xDEAD;
  uint32_t read = DecodeNumber(bits, written, back);
  EXPECT_EQ(written, read);
  if (length) *length = written;
  return back;
}

struct DeltaCode : ::testing::Test {
  void SetUp() override { SelectNumberCode(0, false); }
  void TearDown() override { SelectNumberCode(0, false); }
};

TEST_F(DeltaCode, WorkedWordsAndLengths) {
  EXPECT_EQ(DeltaWord(0), "0");
  EXPECT_EQ(DeltaWord(1), "1000");
  EXPECT_EQ(DeltaWord(2), "1001");
  EXPECT_EQ(DeltaWord(3), "10100");
  EXPECT_EQ(DeltaWord(7), "11000000");
  EXPECT_EQ(DeltaWord(127), "1110" + std::string(10, '0'));
  EXPECT_EQ(DeltaWord(UINT64_MAX), "1111110000001" + std::string(64, '0'));
  EXPECT_EQ(NumberCodeLength(UINT64_MAX), 77u);
  for (uint64_t v = 0; v < 5000; ++v) {
    ASSERT_EQ(NumberCodeLength(v), DeltaWord(v).size()) << v;
    ASSERT_EQ(DeltaCodeLength(v), DeltaWord(v).size()) << v;
  }
}

TEST_F(DeltaCode, RoundTripsOverTheRange) {
  uint32_t length = 0;
  EXPECT_EQ(RoundTrip(UINT64_MAX, &length), UINT64_MAX);
  EXPECT_EQ(length, 77u);
  for (uint32_t shift = 0; shift < 64; ++shift) {
    uint64_t p = uint64_t(1) << shift;
    EXPECT_EQ(RoundTrip(p), p);
    EXPECT_EQ(RoundTrip(p - 1), p - 1);
    EXPECT_EQ(RoundTrip(p + 1), p + 1);
  }
}

TEST_F(DeltaCode, CapacityAndCutInput) {
  uint8_t bits[16];
  std::memset(bits, 7, sizeof bits);
  EXPECT_EQ(EncodeNumber(bits, 4, 7), 0u);  // needs 8
  EXPECT_EQ(bits[0], 7);
  EXPECT_EQ(EncodeNumber(bits, 8, 7), 8u);
  uint64_t v = 42;
  for (uint32_t avail = 0; avail < 8; ++avail) EXPECT_EQ(DecodeNumber(bits, avail, v), 0u);
  EXPECT_EQ(v, 42u);
  uint8_t ones[40];
  std::memset(ones, 1, sizeof ones);
  EXPECT_EQ(DecodeNumber(ones, sizeof ones, v), 0u);
  EXPECT_EQ(v, 42u);
  // Seven ones announce a length field beyond any 64-bit value.
  uint8_t longField[200] = {};
  std::memset(longField, 1, 7);
  EXPECT_EQ(DecodeNumber(longField, sizeof longField, v), 0u);
}

TEST(OtherCodes, SignedDelta) {
  SelectNumberCode(0, true);
  EXPECT_EQ(NumberCodeLength(0), 2u);
  EXPECT_EQ(NumberCodeLength(uint64_t(-1)), 2u);
  EXPECT_EQ(CodeWord(0), "00");
  EXPECT_EQ(CodeWord(uint64_t(-1)), "01");
  const int64_t samples[] = {0, -1, 1, -2, 100, -100, INT64_MAX, INT64_MIN, INT64_MIN + 1};
  for (int64_t s : samples) EXPECT_EQ(int64_t(RoundTrip(uint64_t(s))), s) << s;
  uint32_t length = 0;
  RoundTrip(uint64_t(INT64_MIN), &length);
  EXPECT_EQ(length, 2u * 6 + 64 + 1);  // L = 64
  SelectNumberCode(0, false);
}

TEST(OtherCodes, FixedPrefix) {
  SelectNumberCode(3, false);
  EXPECT_EQ(CurrentPrefixWidth(), 3u);
  for (uint64_t v = 0; v <= 254; ++v) {
    uint32_t length = 0;
    ASSERT_EQ(RoundTrip(v, &length), v);
    EXPECT_EQ(length, 3 + HighestBit64(v + 1));
  }
  EXPECT_EQ(CodeWord(254).substr(0, 3), "000");  // L = 8 written as zeros
  EXPECT_EQ(CodeWord(0), "001");
  EXPECT_EQ(NumberCodeLength(255), 0u);
  uint8_t bits[32] = {};
  EXPECT_EQ(EncodeNumber(bits, sizeof bits, 255), 0u);

  SelectNumberCode(6, false);
  EXPECT_EQ(NumberCodeLength(UINT64_MAX), 0u);
  SelectNumberCode(7, false);
  EXPECT_EQ(RoundTrip(UINT64_MAX), UINT64_MAX);

  SelectNumberCode(7, true);
  for (int64_t s : {int64_t(0), int64_t(-1), int64_t(12345), INT64_MIN, INT64_MAX})
    EXPECT_EQ(int64_t(RoundTrip(uint64_t(s))), s);
  SelectNumberCode(5, true);
  EXPECT_EQ(int64_t(RoundTrip(uint64_t(-12345))), -12345);
  EXPECT_EQ(NumberCodeLength(uint64_t(INT64_MIN)), 0u);  // L = 64 does not fit 5 bits
  EXPECT_EQ(NumberCodeLength(uint64_t(-(int64_t(1) << 31))), 5u + 32);
  SelectNumberCode(40, false);  // unsupported: selection stays
  EXPECT_EQ(CurrentPrefixWidth(), 5u);
  EXPECT_TRUE(CurrentCodeIsSigned());
  SelectNumberCode(0, false);
}

TEST(BitPacking, NineBitsAndBackAndCapacityRefused) {
  uint8_t buffer[16] = {1, 0, 1, 1, 0, 0, 0, 1, 1};
  uint32_t count = 9;
  ASSERT_TRUE(PackBits(buffer, 16, count));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(buffer[0], 0x8D);
  EXPECT_EQ(buffer[1], 0x01);
  ASSERT_TRUE(UnpackBits(buffer, 16, count));
  EXPECT_EQ(count, 16u);
  const uint8_t expect[16] = {1, 0, 1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(buffer, expect, 16));
  count = 17;
  EXPECT_FALSE(PackBits(buffer, 16, count));
  EXPECT_EQ(count, 17u);
  count = 3;
  EXPECT_FALSE(UnpackBits(buffer, 16, count));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(buffer[0], 1);
}

TEST(Math, FloatingPoint) {
  EXPECT_EQ(Absolute(-2.5), 2.5);
  EXPECT_EQ(SignedPower(0, 0), 0.0);
  EXPECT_DOUBLE_EQ(SignedPower(-2, 2), -4.0);
  EXPECT_NEAR(SignedPower(-8, 1.0 / 3), -2.0, 1e-12);
  EXPECT_NEAR(SignedPower(10, 3), 1000.0, 1e-9);
  EXPECT_NEAR(SignedPower(2, 0.5), std::sqrt(2.0), 1e-12);
  EXPECT_EQ(RoundToInt(2.5), 2);
  EXPECT_EQ(RoundToInt(3.5), 4);
  EXPECT_EQ(RoundToInt(-2.5), -2);
  EXPECT_EQ(RoundToInt(2097152.4), 2097152);
  EXPECT_EQ(FloorToInt(-0.5), -1);
  EXPECT_EQ(FloorToInt(3.99), 3);
  EXPECT_EQ(FloorToInt(1e20), INT32_MIN);
  EXPECT_EQ(RoundToInt(std::nan("")), INT32_MIN);
  EXPECT_EQ(RoundToInt(0.5), 0);  // rounding mode untouched by FloorToInt
}

}  // namespace
