// Bit masks, byte extraction and the last-dot search.
#include "kro.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

TEST(BitsTest, MasksBeforeAndAfterFilling) {
  // Before the tables are filled every mask is zero: the utilities degrade in
  // a known way rather than reading garbage.
  memset(KRO_TRUE_MASK, 0, sizeof KRO_TRUE_MASK);
  memset(KRO_FALSE_MASK, 0, sizeof KRO_FALSE_MASK);
  EXPECT_EQ(kroGetBit(0u, 5), 1);
  EXPECT_EQ(kroSetBitTrue(0x1234u, 7), 0x1234u);
  EXPECT_EQ(kroSetBitFalse(0xFFFFFFFFu, 7), 0u);

  kroSetBitMasks();
  for (int i = 0; i < 32; i++) {
    EXPECT_EQ(KRO_TRUE_MASK[i], 1u << i) << i;
    EXPECT_EQ(KRO_FALSE_MASK[i], ~(1u << i)) << i;
  }
  EXPECT_EQ(kroGetBit(0x80000000u, 31), 1);
  EXPECT_EQ(kroGetBit(0x7FFFFFFFu, 31), 0);
  EXPECT_EQ(kroSetBitFalse(0xFFFFFFFFu, 0), 0xFFFFFFFEu);
  EXPECT_EQ(kroSetBitTrue(0u, 31), 0x80000000u);
  EXPECT_EQ(kroSetBitTrue(0u, 0), 1u);
  for (int i = 0; i < 32; i++) {
    uint32_t value = 0xA5A5A5A5u;
    EXPECT_EQ(kroGetBit(value, (int8_t)i), (value >> i) & 1u) << i;
  }
}

TEST(BitsTest, BytesFromLeastToMostSignificant) {
  uint32_t word = 0x11223344u;
  EXPECT_EQ(kroGet0thByte(word), 0x44);
  EXPECT_EQ(kroGet1stByte(word), 0x33);
  EXPECT_EQ(kroGet2ndByte(word), 0x22);
  EXPECT_EQ(kroGet3rdByte(word), 0x11);
}

TEST(BitsTest, StringAfterLastDot) {
  char two_dots[] = "scene.final.bmp";
  EXPECT_STREQ(kroStringAfterLastDot(two_dots), ".bmp");
  EXPECT_EQ(kroStringAfterLastDot(two_dots), two_dots + 11);
  char no_dot[] = "README";
  EXPECT_EQ(kroStringAfterLastDot(no_dot), nullptr);
  char trailing[] = "name.";
  EXPECT_STREQ(kroStringAfterLastDot(trailing), ".");
  EXPECT_EQ(kroStringAfterLastDot(trailing), trailing + 4);
}

} // namespace
