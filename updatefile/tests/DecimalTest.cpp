#include "Decimal.h"

#include <gtest/gtest.h>

namespace osprey {

TEST(DecimalInteger, ReadsLeadingBlanksSignAndDigitsUpToTheFirstOtherCharacter) {
    EXPECT_EQ(DecimalInteger("57600,PARITY=NONE"), 57600);
    EXPECT_EQ(DecimalInteger("  -1"), -1);
    EXPECT_EQ(DecimalInteger("+0,\"No error\""), 0);
    EXPECT_EQ(DecimalInteger("\t+12abc"), 12);
    EXPECT_EQ(DecimalInteger("= 1313"), 0);
    EXPECT_EQ(DecimalInteger(""), 0);
    EXPECT_EQ(DecimalInteger("-"), 0);
}

TEST(DecimalInteger, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(DecimalInteger("2147483647"), 2147483647);
    EXPECT_EQ(DecimalInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(DecimalInteger("99999999999999999999999"), INT32_MAX);
    EXPECT_EQ(DecimalInteger("-99999999999999999999999"), INT32_MIN);
}

TEST(DecimalNumber, ReadsAFractionSoThatRevisionsCompareAsNumbers) {
    EXPECT_DOUBLE_EQ(DecimalNumber("1.10"), 1.1);
    EXPECT_LT(DecimalNumber("1.10"), DecimalNumber("1.9"));
    EXPECT_DOUBLE_EQ(DecimalNumber(" -2.5x"), -2.5);
    EXPECT_DOUBLE_EQ(DecimalNumber("abc"), 0.0);
    EXPECT_DOUBLE_EQ(DecimalNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(DecimalNumber("3."), 3.0);
}

}  // namespace osprey
