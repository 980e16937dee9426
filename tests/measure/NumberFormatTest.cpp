#include "measure/NumberFormat.h"

#include <gtest/gtest.h>

#include <limits>

TEST(Gcvt, ShowsFixedNotationWhileTheExponentFitsTheDigits) {
    EXPECT_EQ(Gcvt(22045.0, 7), "22045.") << "decimals all zero: the point stays";
    EXPECT_EQ(Gcvt(10.7666015625, 3), "10.8");
    EXPECT_EQ(Gcvt(-45.3, 2), "-45") << "no decimals: no point";
    EXPECT_EQ(Gcvt(0.4, 2), "0.4");
    EXPECT_EQ(Gcvt(-0.25, 2), "-0.25");
    EXPECT_EQ(Gcvt(344.53125, 7), "344.5313");
}

TEST(Gcvt, ShowsExponentNotationOutsideThatRange) {
    EXPECT_EQ(Gcvt(-100.0, 2), "-1.e+002");
    EXPECT_EQ(Gcvt(-0.0106, 2), "-1.1e-002");
    EXPECT_EQ(Gcvt(0.05, 2), "5.e-002");
    EXPECT_EQ(Gcvt(123.0, 1), "1e+002");
    EXPECT_EQ(Gcvt(1e300, 3), "1.e+300");
    EXPECT_EQ(Gcvt(-4.9406564584124654e-324, 2), "-4.9e-324");
}

TEST(Gcvt, RoundsTheExactValueHalfAwayFromZero) {
    EXPECT_EQ(Gcvt(-7.25, 2), "-7.3") << "an exact half goes away from zero";
    EXPECT_EQ(Gcvt(0.125, 2), "0.13");
    EXPECT_EQ(Gcvt(2.5, 1), "3");
    EXPECT_EQ(Gcvt(0.15, 1), "0.1") << "0.15 is stored a little below the half";
    EXPECT_EQ(Gcvt(1.0000000000000002, 17), "1.0000000000000002");
}

TEST(Gcvt, RoundingThatCarriesIntoANewDigitDecidesTheNotation) {
    EXPECT_EQ(Gcvt(9.96, 2), "10");
    EXPECT_EQ(Gcvt(99.96, 3), "100");
    EXPECT_EQ(Gcvt(999.6, 3), "1.e+003");
    EXPECT_EQ(Gcvt(0.0996, 2), "0.1");
    EXPECT_EQ(Gcvt(-0.00999, 2), "-1.e-002");
}

TEST(Gcvt, ZeroAndNonFiniteValuesStaySane) {
    EXPECT_EQ(Gcvt(0.0, 2), "0.");
    EXPECT_EQ(Gcvt(-0.0, 2), "0.");
    EXPECT_EQ(Gcvt(0.0, 1), "0");
    EXPECT_EQ(Gcvt(std::numeric_limits<double>::infinity(), 2), "inf");
    EXPECT_EQ(Gcvt(-std::numeric_limits<double>::infinity(), 2), "-inf");
    EXPECT_EQ(Gcvt(std::numeric_limits<double>::quiet_NaN(), 2), "nan");
    EXPECT_EQ(Gcvt(12.0, 0), "1e+001") << "fewer than one digit counts as one";
}

TEST(EditFieldNumbers, ShowFifteenSignificantDigits) {
    EXPECT_EQ(FormatDouble15(1356.923076923077), "1356.92307692308");
    EXPECT_EQ(FormatDouble15(10.7666015625), "10.7666015625");
    EXPECT_EQ(FormatDouble15(22045.0), "22045");
    EXPECT_EQ(FormatDouble15(1e-7), "1e-07");
}

TEST(EditFieldNumbers, ParseDecimalNumbersWithBlanksAndExponents) {
    double value = 0.0;
    EXPECT_TRUE(ParseDouble(" 22045 ", value));
    EXPECT_EQ(value, 22045.0);
    EXPECT_TRUE(ParseDouble("10.7666015625", value));
    EXPECT_EQ(value, 10.7666015625);
    EXPECT_TRUE(ParseDouble("1e3", value));
    EXPECT_EQ(value, 1000.0);
    EXPECT_TRUE(ParseDouble("\t+.5E+1\t", value));
    EXPECT_EQ(value, 5.0);
    EXPECT_TRUE(ParseDouble("-3.", value));
    EXPECT_EQ(value, -3.0);
    EXPECT_TRUE(ParseDouble(FormatDouble15(1356.923076923077), value));
    EXPECT_EQ(value, 1356.92307692308);
}

TEST(EditFieldNumbers, RefuseAnythingElseAndKeepTheValue) {
    for (const char* text : {"abc", "", "   ", "nan", "inf", "-infinity", "1e999", "12abc", "1e",
                             "1e+", ".", "--1", "+-1", "0x10", "1 2", "1,5"}) {
        double value = 42.0;
        EXPECT_FALSE(ParseDouble(text, value)) << '"' << text << '"';
        EXPECT_EQ(value, 42.0) << '"' << text << '"';
    }
}
