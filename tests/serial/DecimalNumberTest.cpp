// Decimal texts read the same on every platform: 64 bits wide, refused rather than wrapped.
#include "serial/DecimalNumber.h"
#include "serial/LineSettings.h"

#include <gtest/gtest.h>

namespace {

TEST(DecimalNumber, WholeDigitTextsUpToTheLimit) {
    constexpr uint64_t All = UINT64_MAX;
    const struct {
        const char* text;
        uint64_t max;
        bool ok;
        uint64_t value;
    } cases[] = {
        {"0", 10, true, 0},
        {"0009600", 4000000, true, 9600},
        {"4000000", 4000000, true, 4000000},
        {"4000001", 4000000, false, 0},
        {"4294967297", 0xFFFFFFFF, false, 0}, // one past 32 bits, plus one: wraps to 1 in a long
        {"4294967295", 0xFFFFFFFF, true, 0xFFFFFFFF},
        {"18446744073709551615", All, true, All},
        {"18446744073709551616", All, false, 0},
        {"99999999999999999999999", All, false, 0},
        {"7", 5, false, 0}, // a single digit above the limit
        {"", All, false, 0},
        {"+1", All, false, 0},
        {"-1", All, false, 0},
        {" 1", All, false, 0},
        {"1 ", All, false, 0},
        {"0x10", All, false, 0},
        {"12a", All, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        uint64_t value = 42;
        EXPECT_EQ(ParseDecimal(c.text, c.max, value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 42u); // untouched when refused
    }
}

TEST(DecimalNumber, LineModesAndBaudItemsRefuseWhatWouldWrap) {
    LineMode mode;
    EXPECT_TRUE(ParseLineMode("4000000,E", mode));
    EXPECT_EQ(mode.Baud, 4000000u);
    EXPECT_EQ(mode.Parity, 2);
    for (const char* text : {"4294967297,none", "4294967296,n", "18446744073709551617,o",
                             "4000001,n", "0,n", ",n", "9600"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(ParseLineMode(text, mode));
    }
    EXPECT_EQ(BaudRateOfItem("115200bps"), 115200);
    EXPECT_EQ(BaudRateOfItem("2147483647"), 2147483647);
    EXPECT_EQ(BaudRateOfItem("2147483648bps"), 0);
    EXPECT_EQ(BaudRateOfItem("4294967297bps"), 0);
}

} // namespace
