// Triangle arrays: growth keeps rows in place, copies are independent, and
// every allocation failure reports, calls the hook and leaves a usable array.
// The bit masks, byte extraction and the last-dot search.
#include "gl_context.h"

namespace {

struct ObjectTest : kroTestFailureFixture {};

void fillRows(kroObject rows, int count, int width, float base) {
  for (int i = 0; i < count; i++)
    for (int k = 0; k < width; k++)
      rows[i][k] = base + i * 100 + k;
}

TEST_F(ObjectTest, GrowthKeepsRowsAndCopiesAreIndependent) {
  kroObject op = nullptr, tc = nullptr, realn = nullptr;
  kroIncreaseObject(&op, 0, 3);
  kroIncreaseTexCoords(&tc, 0, 2);
  kroIncreaseCoords(&realn, 0, 2);
  fillRows(op, 3, 9, 0.5f); // the last float of every row is in bounds (sanitizer build)
  fillRows(tc, 2, 6, 2.0f);
  fillRows(realn, 2, 3, 3.0f);
  float *rows_before[3] = {op[0], op[1], op[2]};

  kroIncreaseObject(&op, 3, 2);
  for (int i = 0; i < 3; i++)
    EXPECT_TRUE(op[i] == rows_before[i] && op[i][8] == 0.5f + i * 100 + 8) << i;

  kroObject copies[3] = {kroCopyObject(op, 3), kroCopyTexCoords(tc, 2),
                         kroCopyRealNormals(realn, 2)};
  EXPECT_TRUE(copies[0][2][8] == op[2][8] && copies[1][1][5] == tc[1][5] &&
              copies[2][1][2] == realn[1][2]);
  copies[0][1][4] = -7.0f;
  EXPECT_FLOAT_EQ(op[1][4], 0.5f + 100 + 4);

  kroObject empty = kroCopyObject(op, 0), null_handle = nullptr;
  kroDestroyObject(&empty, 0);
  kroDestroyObject(&null_handle, 0);
  kroDestroyObject(&op, 5);
  kroDestroyObject(&copies[0], 3);
  for (kroObject *a : {&tc, &realn, &copies[1], &copies[2]})
    kroDestroyObject(a, 2);
  EXPECT_TRUE(!empty && !null_handle && !op && !tc && !copies[0]);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(ObjectTest, GrowthFailureLeavesTheArrayAsItWas) {
  for (int n = 1; n <= 4; n++) { // the pointer block, then each new row
    for (bool with_hook : {true, false}) {
      SCOPED_TRACE(n);
      kroObject op = nullptr;
      kroIncreaseObject(&op, 0, 2);
      fillRows(op, 2, 9, 4.0f);
      kroObject block = op;
      float *row0 = op[0];
      kroTestUseCountingHook();
      if (!with_hook)
        kroSetErrorFunc(nullptr);
      kroFailAllocationAfter(n);
      EXPECT_EQ(kroTestCaptured([&] { kroIncreaseObject(&op, 2, 3); }),
                "Error during allocating memory in kroIncreaseObject(..)\n");
      EXPECT_EQ(kroTestHookCalls, with_hook ? 1 : 0);
      EXPECT_TRUE(op == block && op[0] == row0);
      EXPECT_FLOAT_EQ(op[1][8], 4.0f + 100 + 8);
      kroDestroyObject(&op, 2); // the count is still 2
    }
  }
}

TEST_F(ObjectTest, EveryOperationReportsItsOwnFailure) {
  kroObject source = nullptr;
  kroIncreaseObject(&source, 0, 2);
  fillRows(source, 2, 9, 0.0f);
  // Each operation, by name, run on the source into a new array.
  const std::pair<const char *, void (*)(kroObject, kroObject *)> cases[] = {
      {"kroIncreaseTexCoords", [](kroObject, kroObject *a) { kroIncreaseTexCoords(a, 0, 2); }},
      {"kroIncreaseCoords", [](kroObject, kroObject *a) { kroIncreaseCoords(a, 0, 2); }},
      {"kroCopyObject", [](kroObject s, kroObject *a) { *a = kroCopyObject(s, 2); }},
      {"kroCopyTexCoords", [](kroObject s, kroObject *a) { *a = kroCopyTexCoords(s, 2); }},
      {"kroCopyRealNormals", [](kroObject s, kroObject *a) { *a = kroCopyRealNormals(s, 2); }},
      {"kroIncreaseObject", [](kroObject, kroObject *a) { kroIncreaseObject(a, 0, -1); }},
  };
  for (auto [name, run] : cases)
    for (int n = 1; n <= 3; n++) {
      kroObject made = nullptr;
      kroTestExpectReport([&] { run(source, &made); },
                          std::string("Error during allocating memory in ") + name + "(..)\n", n);
      EXPECT_EQ(made, nullptr) << name << " " << n;
    }
  kroDestroyObject(&source, 2);
}

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
