#include <gtest/gtest.h>
#include "platform/win32.h"

#include <cstring>

#include "foundation/Operaciispamyatyu.h"
#include "foundation/Operaciisostrokami.h"

namespace {

// Overlaps of every shift up to 9 in both directions go through the word loops and both tails;
// the same pointer and a zero length leave the bytes.
TEST(MoveBytes, OverlappingShiftsInBothDirections) {
  uint8_t buffer[64];
  for (int shift = 1; shift <= 9; ++shift) {
    for (int i = 0; i < 64; ++i) buffer[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(MoveBytes(buffer + shift, buffer + 1, 43), buffer + shift);
    for (int i = 0; i < 43; ++i) ASSERT_EQ(buffer[shift + i], i + 1) << "shift " << shift;
    for (int length : {43, 44}) {  // with and without a tail: nothing past the destination is written
      for (int i = 0; i < 64; ++i) buffer[i] = static_cast<uint8_t>(100 + i);
      MoveBytes(buffer + 1, buffer + shift, length);
      for (int i = 0; i < length; ++i) ASSERT_EQ(buffer[1 + i], 100 + shift + i) << "shift " << shift;
      if (shift > 1) {
        ASSERT_EQ(buffer[1 + length], 101 + length) << "shift " << shift;
      }
    }
    MoveBytes(buffer, buffer, 64);
    MoveBytes(buffer + 2, buffer, 0);
    EXPECT_EQ(buffer[0], 100);
    EXPECT_EQ(buffer[63], 163);
  }
}

TEST(ZeroBytes, ClearsExactlyN) {
  uint8_t bytes[7] = {1, 1, 1, 1, 1, 1, 1};
  ZeroBytes(bytes + 1, 5);
  const uint8_t expected[7] = {1, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(0, std::memcmp(bytes, expected, 7));
}

TEST(StringPrimitives, LengthsAndSearches) {
  EXPECT_EQ(StrLength(nullptr), 0u);
  EXPECT_EQ(StrLength(""), 0u);
  EXPECT_EQ(StrLength("abc"), 3u);
  EXPECT_EQ(WStrLength(nullptr), 0u);
  EXPECT_EQ(WStrLength(WIDE_TEXT("")), 0u);
  EXPECT_EQ(WStrLength(WIDE_TEXT("\u041e\u0448")), 2u);

  const uint8_t text[4] = {'a', '\r', 'b', '\r'};
  EXPECT_EQ(FindByte(text, '\r', 4), text + 1);
  EXPECT_EQ(FindByte(text, '\r', 1), nullptr);
  EXPECT_EQ(FindByte(nullptr, '\r', 4), nullptr);
  const uint8_t withZero[3] = {'x', 0, 'y'};
  EXPECT_EQ(FindByte(withZero, 'y', 3), withZero + 2);

  const char data[4] = {'1', '2', 'a', '3'};
  EXPECT_EQ(CountBytesInSet(data, "0123456789", 4, 10), 3u);
  EXPECT_EQ(CountBytesInSet(data, "11", 4, 2), 1u);
  EXPECT_EQ(CountBytesInSet(data, nullptr, 4, 10), 0u);
  EXPECT_EQ(CountBytesInSet(data, "0123456789", 0, 10), 0u);
}

}  // namespace
