// Bit masks, byte extraction and the last-dot search.
#include "kro.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(BitsTest, MasksAndTheBitsTheyGetAndSet) {
  kroSetBitMasks();
  for (int i = 0; i < 32; i++) {
    EXPECT_EQ(KRO_TRUE_MASK[i], 1u << i) << i;
    EXPECT_EQ(KRO_FALSE_MASK[i], ~(1u << i)) << i;
  }
  EXPECT_EQ(kroSetBitFalse(0xFFFFFFFFu, 0), 0xFFFFFFFEu);
  EXPECT_EQ(kroSetBitTrue(0u, 31), 0x80000000u);
  EXPECT_EQ(kroSetBitTrue(0u, 0), 1u);
  for (int i = 0; i < 32; i++) // bit 31 set, bit 30 clear
    EXPECT_EQ(kroGetBit(0xA5A5A5A5u, (int8_t)i), (0xA5A5A5A5u >> i) & 1u) << i;
}

TEST(BitsTest, BytesFromLeastToMostSignificant) {
  const uint32_t word = 0x11223344u;
  EXPECT_EQ((std::vector<int>{kroGet0thByte(word), kroGet1stByte(word), kroGet2ndByte(word),
                              kroGet3rdByte(word)}),
            (std::vector<int>{0x44, 0x33, 0x22, 0x11}));
}

TEST(BitsTest, StringAfterLastDot) {
  char two_dots[] = "scene.final.bmp", no_dot[] = "README", trailing[] = "name.";
  EXPECT_EQ(kroStringAfterLastDot(two_dots), two_dots + 11); // ".bmp", in the string itself
  EXPECT_EQ(kroStringAfterLastDot(no_dot), nullptr);
  EXPECT_EQ(kroStringAfterLastDot(trailing), trailing + 4);
}

} // namespace
