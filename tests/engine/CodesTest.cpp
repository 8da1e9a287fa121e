#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "EngineTestData.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/Matematicheskieoperacii.h"

namespace {

const TNumberCode kDelta;

uint64_t RoundTrip(const TNumberCode& code, uint64_t value, uint32_t* length = nullptr) {
  uint8_t bits[128] = {};
  uint32_t written = EncodeNumber(code, bits, sizeof bits, value);
  uint64_t back = 0xDEAD;
  uint32_t read = DecodeNumber(code, bits, written, back);
  EXPECT_EQ(written, read);
  if (length) *length = written;
  return back;
}

TEST(DeltaCode, WorkedWordsAndLengths) {
  EXPECT_EQ(DeltaWord(0), "0");
  EXPECT_EQ(DeltaWord(1), "1000");
  EXPECT_EQ(DeltaWord(2), "1001");
  EXPECT_EQ(DeltaWord(3), "10100");
  EXPECT_EQ(DeltaWord(7), "11000000");
  EXPECT_EQ(DeltaWord(127), "1110" + std::string(10, '0'));
  EXPECT_EQ(DeltaWord(UINT64_MAX), "1111110000001" + std::string(64, '0'));
  EXPECT_EQ(NumberCodeLength(kDelta, UINT64_MAX), 77u);
  for (uint64_t v = 0; v < 5000; ++v) {
    ASSERT_EQ(NumberCodeLength(kDelta, v), DeltaWord(v).size()) << v;
    ASSERT_EQ(DeltaCodeLength(v), DeltaWord(v).size()) << v;
  }
}

TEST(DeltaCode, RoundTripsOverTheRange) {
  uint32_t length = 0;
  EXPECT_EQ(RoundTrip(kDelta, UINT64_MAX, &length), UINT64_MAX);
  EXPECT_EQ(length, 77u);
  for (uint32_t shift = 0; shift < 64; ++shift) {
    uint64_t p = uint64_t(1) << shift;
    EXPECT_EQ(RoundTrip(kDelta, p), p);
    EXPECT_EQ(RoundTrip(kDelta, p - 1), p - 1);
    EXPECT_EQ(RoundTrip(kDelta, p + 1), p + 1);
  }
}

TEST(DeltaCode, CapacityAndCutInput) {
  uint8_t bits[16];
  std::memset(bits, 7, sizeof bits);
  EXPECT_EQ(EncodeNumber(kDelta, bits, 4, 7), 0u);  // needs 8
  EXPECT_EQ(bits[0], 7);
  EXPECT_EQ(EncodeNumber(kDelta, bits, 8, 7), 8u);
  uint64_t v = 42;
  for (uint32_t avail = 0; avail < 8; ++avail) EXPECT_EQ(DecodeNumber(kDelta, bits, avail, v), 0u);
  EXPECT_EQ(v, 42u);
  uint8_t ones[40];
  std::memset(ones, 1, sizeof ones);
  EXPECT_EQ(DecodeNumber(kDelta, ones, sizeof ones, v), 0u);
  EXPECT_EQ(v, 42u);
  // Seven ones announce a length field beyond any 64-bit value.
  uint8_t longField[200] = {};
  std::memset(longField, 1, 7);
  EXPECT_EQ(DecodeNumber(kDelta, longField, sizeof longField, v), 0u);
}

// The families the program itself does not use, a row each: the value, its word's length (0: it
// cannot be written in the family) and whether it comes back.
TEST(OtherCodes, SignedDeltaAndFixedPrefixFamilies) {
  const struct {
    uint32_t width;
    bool isSigned;
    int64_t value;
    uint32_t length;
  } rows[] = {
      {0, true, 0, 2},          {0, true, -1, 2},         {0, true, INT64_MIN, 2 * 6 + 64 + 1},
      {3, false, 0, 3},         {3, false, 254, 3 + 7},
      {3, false, 255, 0},       {6, false, -1, 0},        {7, false, -1, 7 + 64},
      {7, true, INT64_MIN, 7 + 1 + 63}, {7, true, 12345, 7 + 1 + 13}, {5, true, -12345, 5 + 1 + 13},
      {5, true, INT64_MIN, 0},  {5, true, -(int64_t(1) << 31), 5 + 32},
  };
  for (const auto& r : rows) {
    TNumberCode code;
    ASSERT_TRUE(SelectNumberCode(code, r.width, r.isSigned));
    const uint64_t value = uint64_t(r.value);
    const uint32_t length = NumberCodeLength(code, value);
    EXPECT_EQ(length, r.length) << r.width << " " << r.isSigned << " " << r.value;
    if (length != 0) {
      EXPECT_EQ(RoundTrip(code, value), value) << r.width << " " << r.value;
    }
  }
  TNumberCode fixed;
  ASSERT_TRUE(SelectNumberCode(fixed, 3, false));
  EXPECT_EQ(CodeWord(fixed, 254).substr(0, 3), "000");  // L = 8 written as zeros
  EXPECT_EQ(CodeWord(fixed, 0), "001");
  uint8_t bits[8];
  EXPECT_EQ(EncodeNumber(fixed, bits, 3, 0), 3u);  // a word fits a capacity of its own length
  EXPECT_EQ(EncodeNumber(fixed, bits, 2, 0), 0u);
  EXPECT_FALSE(SelectNumberCode(fixed, 40, true));  // unsupported: the code stays as it was
  EXPECT_EQ(fixed.prefixWidth, 3u);
  EXPECT_FALSE(fixed.isSigned);
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
