// ExtraLong: 64-bit values as two 32-bit halves.
#include "TyphexTestSupport.h"

namespace typhextest {
namespace {

class ExtraLongTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        math_ = Make<IExtraLong>(CLSID_ExtraLong, IID_IExtraLong);
    }
    ComPtr<IExtraLong> math_;
};

TEST_F(ExtraLongTest, Products) {
    LONG low = 0, high = 0;
    math_->LongXInt(100000, 512, &low, &high);
    EXPECT_EQ(low, 51200000);
    EXPECT_EQ(high, 0);
    math_->LongXInt(-1, 1, &low, &high);
    EXPECT_EQ(low, -1);
    EXPECT_EQ(high, -1);
    math_->LongXInt(2147483647, 32767, &low, &high);
    EXPECT_EQ(low, 2147450881);
    EXPECT_EQ(high, 16383);
}

TEST_F(ExtraLongTest, SumsCarryAcrossTheHalves) {
    LONG inLow = -1, inHigh = 0, low = 0, high = 0;
    math_->AddLongToInt64(1, &inLow, &inHigh, &low, &high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 1);
    inLow = 0;
    inHigh = 1;
    math_->AddLongToInt64(-1, &inLow, &inHigh, &low, &high);
    EXPECT_EQ(low, -1);
    EXPECT_EQ(high, 0);
}

TEST_F(ExtraLongTest, DifferencesWithDoubles) {
    LONG low = 705032704, high = 1; // 5,000,000,000
    LONG result = 9;
    math_->CompareDiff(5000000000.0, &low, &high, 0, &result);
    EXPECT_EQ(result, 0);
    math_->CompareDiff(5000000000.9, &low, &high, -1, &result); // truncated toward zero
    EXPECT_EQ(result, 1);
    math_->CompareDiff(4999999999.0, &low, &high, 0, &result);
    EXPECT_EQ(result, -1);
    math_->SubInt64FromDouble(6000000000.0, &low, &high, &result);
    EXPECT_EQ(result, 1000000000);
    LONG zeroLow = 0, zeroHigh = 0;
    math_->SubInt64FromDouble(-2.9, &zeroLow, &zeroHigh, &result);
    EXPECT_EQ(result, -2);
}

TEST_F(ExtraLongTest, Int64ToDoubleReadsUnsigned) {
    LONG low = -1, high = -1;
    double result = 0;
    math_->Int64ToDouble(&low, &high, &result);
    EXPECT_EQ(result, 18446744073709551616.0);
    low = 705032704;
    high = 1;
    math_->Int64ToDouble(&low, &high, &result);
    EXPECT_EQ(result, 5000000000.0);
}

} // namespace
} // namespace typhextest
