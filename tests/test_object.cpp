// Triangle arrays: growth keeps rows in place, copies are independent, and
// every allocation failure reports, calls the hook and leaves a usable array.
#include "gl_context.h"
#include "kro_internal.h"

#include <gtest/gtest.h>

namespace {

struct ObjectTest : kroTestFailureFixture {};

void fillRows(kroObject rows, int count, int width, float base) {
  for (int i = 0; i < count; i++)
    for (int k = 0; k < width; k++)
      rows[i][k] = base + i * 100 + k;
}

TEST_F(ObjectTest, GrowthKeepsRowAddressesAndValues) {
  kroObject op = nullptr;
  kroIncreaseObject(&op, 0, 3);
  ASSERT_NE(op, nullptr);
  fillRows(op, 3, 9, 0.5f);
  float *rows_before[3] = {op[0], op[1], op[2]};

  kroIncreaseObject(&op, 3, 2);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(op[i], rows_before[i]);
    EXPECT_FLOAT_EQ(op[i][8], 0.5f + i * 100 + 8);
  }
  EXPECT_NE(op[3], nullptr);
  EXPECT_NE(op[4], op[3]);

  kroObject block_before = op;
  kroIncreaseObject(&op, 5, 0); // a new pointer block, same rows
  EXPECT_NE(op, block_before);
  EXPECT_EQ(op[0], rows_before[0]);
  kroDestroyObject(&op, 5);
  EXPECT_EQ(op, nullptr);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(ObjectTest, FourRolesGrowToTheirWidths) {
  kroObject op = nullptr, tc = nullptr, realn = nullptr, nc = nullptr;
  kroIncreaseObject(&op, 0, 4);
  kroIncreaseTexCoords(&tc, 0, 4);
  kroIncreaseCoords(&realn, 0, 4);
  kroIncreaseObject(&nc, 0, 4);
  // Writing the last float of every row of every width must be in bounds
  // (the sanitizer build checks this).
  for (int i = 0; i < 4; i++) {
    op[i][8] = nc[i][8] = 1.0f;
    tc[i][5] = 2.0f;
    realn[i][2] = 3.0f;
  }
  kroDestroyObject(&op, 4);
  kroDestroyObject(&tc, 4);
  kroDestroyObject(&realn, 4);
  kroDestroyObject(&nc, 4);
  EXPECT_TRUE(!op && !tc && !realn && !nc);
}

TEST_F(ObjectTest, CopiesAreIndependentForEveryWidth) {
  kroObject op = nullptr, tc = nullptr, realn = nullptr;
  kroIncreaseObject(&op, 0, 2);
  kroIncreaseTexCoords(&tc, 0, 2);
  kroIncreaseCoords(&realn, 0, 2);
  fillRows(op, 2, 9, 1.0f);
  fillRows(tc, 2, 6, 2.0f);
  fillRows(realn, 2, 3, 3.0f);

  kroObject op_copy = kroCopyObject(op, 2);
  kroObject tc_copy = kroCopyTexCoords(tc, 2);
  kroObject realn_copy = kroCopyRealNormals(realn, 2);
  for (int i = 0; i < 2; i++) {
    for (int k = 0; k < 9; k++)
      EXPECT_EQ(op_copy[i][k], op[i][k]);
    for (int k = 0; k < 6; k++)
      EXPECT_EQ(tc_copy[i][k], tc[i][k]);
    for (int k = 0; k < 3; k++)
      EXPECT_EQ(realn_copy[i][k], realn[i][k]);
    EXPECT_NE(op_copy[i], op[i]);
  }
  op_copy[1][4] = -7.0f;
  EXPECT_FLOAT_EQ(op[1][4], 1.0f + 100 + 4);

  kroObject empty = kroCopyObject(op, 0);
  kroDestroyObject(&empty, 0);
  EXPECT_EQ(empty, nullptr);
  kroObject null_handle = nullptr;
  kroDestroyObject(&null_handle, 0);
  EXPECT_EQ(null_handle, nullptr);

  for (kroObject *a : {&op, &op_copy})
    kroDestroyObject(a, 2);
  for (kroObject *a : {&tc, &tc_copy, &realn, &realn_copy})
    kroDestroyObject(a, 2);
}

// Fails the n-th allocation of a growth from 2 to 5 rows and checks that the
// array is left exactly as it was (old block, old rows) after the report.
void expectGrowthFailureIsClean(int failing_allocation, bool with_hook) {
  kroObject op = nullptr;
  kroIncreaseObject(&op, 0, 2);
  fillRows(op, 2, 9, 4.0f);
  kroObject block = op;
  float *row0 = op[0];

  kroTestUseCountingHook();
  if (!with_hook)
    kroSetErrorFunc(nullptr);
  testing::internal::CaptureStdout();
  kroFailAllocationAfter(failing_allocation);
  kroIncreaseObject(&op, 2, 3);
  std::string printed = testing::internal::GetCapturedStdout();

  EXPECT_EQ(printed, "Error during allocating memory in kroIncreaseObject(..)\n");
  EXPECT_EQ(kroTestHookCalls, with_hook ? 1 : 0);
  EXPECT_EQ(op, block);
  EXPECT_EQ(op[0], row0);
  EXPECT_FLOAT_EQ(op[1][8], 4.0f + 100 + 8);
  kroDestroyObject(&op, 2); // the count is still 2
}

TEST_F(ObjectTest, GrowthFailureLeavesTheArrayAsItWas) {
  for (int n = 1; n <= 4; n++) { // the pointer block, then each new row
    SCOPED_TRACE(n);
    expectGrowthFailureIsClean(n, true);
    expectGrowthFailureIsClean(n, false);
  }
}

TEST_F(ObjectTest, EveryOperationReportsItsOwnAllocationFailure) {
  kroObject source = nullptr;
  kroIncreaseObject(&source, 0, 2);
  fillRows(source, 2, 9, 0.0f);

  struct Case {
    const char *message;
    void (*run)(kroObject source);
  } cases[] = {
      {"Error during allocating memory in kroIncreaseTexCoords(..)\n",
       [](kroObject) {
         kroObject tc = nullptr;
         kroIncreaseTexCoords(&tc, 0, 2);
         EXPECT_EQ(tc, nullptr);
       }},
      {"Error during allocating memory in kroIncreaseCoords(..)\n",
       [](kroObject) {
         kroObject realn = nullptr;
         kroIncreaseCoords(&realn, 0, 2);
         EXPECT_EQ(realn, nullptr);
       }},
      {"Error during allocating memory in kroCopyObject(..)\n",
       [](kroObject s) { EXPECT_EQ(kroCopyObject(s, 2), nullptr); }},
      {"Error during allocating memory in kroCopyTexCoords(..)\n",
       [](kroObject s) { EXPECT_EQ(kroCopyTexCoords(s, 2), nullptr); }},
      {"Error during allocating memory in kroCopyRealNormals(..)\n",
       [](kroObject s) { EXPECT_EQ(kroCopyRealNormals(s, 2), nullptr); }},
  };
  for (const Case &c : cases) {
    for (int n = 1; n <= 3; n++) {
      SCOPED_TRACE(std::string(c.message) + std::to_string(n));
      kroTestUseCountingHook();
      testing::internal::CaptureStdout();
      kroFailAllocationAfter(n);
      c.run(source);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
      EXPECT_EQ(kroTestHookCalls, 1);
    }
  }
  kroFailAllocationAfter(0);
  kroDestroyObject(&source, 2);
}

TEST_F(ObjectTest, NegativeCountsAreRefused) {
  kroObject op = nullptr;
  testing::internal::CaptureStdout();
  kroIncreaseObject(&op, 0, -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error during allocating memory in kroIncreaseObject(..)\n");
  EXPECT_EQ(op, nullptr);
  EXPECT_EQ(kroTestHookCalls, 1);
}

} // namespace
