// The delta code's words and lengths (the cost model of the match finder), and the Part routines
// the program does not call (the number-code families, bit packing, the floating-point helpers):
// a row each.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "EngineTestData.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/Matematicheskieoperacii.h"

namespace {

TEST(DeltaCode, WorkedWordsAndLengths) {
  EXPECT_EQ(DeltaWord(0), "0");
  EXPECT_EQ(DeltaWord(1), "1000");
  EXPECT_EQ(DeltaWord(3), "10100");
  EXPECT_EQ(DeltaWord(7), "11000000");
  EXPECT_EQ(DeltaWord(127), "1110" + std::string(10, '0'));
  EXPECT_EQ(DeltaWord(UINT64_MAX), "1111110000001" + std::string(64, '0'));
  EXPECT_EQ(DeltaCodeLength(UINT64_MAX), 77u);
  for (uint64_t v = 0; v < 5000; ++v) ASSERT_EQ(DeltaCodeLength(v), DeltaWord(v).size()) << v;
}

// Each family: a value, its word's length (0: it cannot be written in the family) and the value
// read back from the word.
TEST(NumberCodes, FamiliesRoundTripTheirValues) {
  const struct {
    uint32_t width;
    bool isSigned;
    int64_t value;
    uint32_t length;
  } rows[] = {
      {0, false, -1, 77},        {0, false, 0, 1},          {0, false, 2, 4},  {0, true, INT64_MIN, 2 * 6 + 64 + 1},
      {3, false, 254, 3 + 7},    {3, false, 255, 0},        {7, true, 12345, 7 + 1 + 13},
      {5, true, INT64_MIN, 0},   {5, true, -(int64_t(1) << 31), 5 + 32},
  };
  for (const auto& r : rows) {
    TNumberCode code;
    ASSERT_TRUE(SelectNumberCode(code, r.width, r.isSigned));
    uint8_t bits[128] = {};
    EXPECT_EQ(EncodeNumber(code, bits, sizeof bits, uint64_t(r.value)), r.length) << r.width << " " << r.value;
    uint64_t back = 42;
    EXPECT_EQ(DecodeNumber(code, bits, r.length, back), r.length) << r.width << " " << r.value;
    if (r.length != 0) {
      EXPECT_EQ(back, uint64_t(r.value));
      EXPECT_EQ(DecodeNumber(code, bits, r.length - 1, back), 0u) << "a cut word";
      EXPECT_EQ(EncodeNumber(code, bits, r.length, uint64_t(r.value)), r.length) << "room for the word alone";
      EXPECT_EQ(EncodeNumber(code, bits, r.length - 1, uint64_t(r.value)), 0u) << "a bit short";
    }
  }
  TNumberCode code;
  EXPECT_FALSE(SelectNumberCode(code, 40, true));
  uint8_t bits[8];
  EXPECT_EQ(EncodeNumber(code, bits, 7, 7), 0u) << "below the word's 8 bits";
}

TEST(NumberCodes, BitPackingAndFloatingPointHelpers) {
  uint8_t buffer[16] = {1, 0, 1, 1, 0, 0, 0, 1, 1};
  uint32_t count = 9;
  ASSERT_TRUE(PackBits(buffer, 16, count));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(buffer[0], 0x8D);
  ASSERT_TRUE(UnpackBits(buffer, 16, count));
  EXPECT_EQ(count, 16u);
  EXPECT_EQ(buffer[8], 1);
  count = 3;
  EXPECT_FALSE(UnpackBits(buffer, 16, count)) << "24 bits do not fit 16";
  EXPECT_EQ(Absolute(-2.5), 2.5);
  EXPECT_EQ(SignedPower(0, 0), 0.0);
  EXPECT_NEAR(SignedPower(-8, 1.0 / 3), -2.0, 1e-12);
  EXPECT_EQ(RoundToInt(2.5), 2);
  EXPECT_EQ(RoundToInt(3.5), 4);
  EXPECT_EQ(FloorToInt(-0.5), -1);
  EXPECT_EQ(RoundToInt(std::nan("")), INT32_MIN);
}

}  // namespace
