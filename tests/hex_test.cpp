#include "app.h"

#include <gtest/gtest.h>

TEST(HexToInt, ReadsHexadecimalNumbers)
{
    const struct {
        const char *text;
        uint32_t value;
    } cases[] = {
        {"0", 0},
        {"1000", 0x1000},
        {"8000", 0x8000},
        {"abcdef", 0xABCDEF},
        {"ABCDEF", 0xABCDEF},
        {"FFFFFFFF", 0xFFFFFFFF},
        {"80000000", 0x80000000},
        {"0x100", 0x100},  // the prefix is allowed, not read as 0
        {"0X100", 0x100},
        {"0000000012345678", 0x12345678},  // leading zeros don't count against 8 digits
        {"0x00000000FFFFFFFF", 0xFFFFFFFF},
        {"00", 0},
    };
    for (const auto &c : cases) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_TRUE(hexToInt(c.text, &value)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
}

TEST(HexToInt, RefusesWhatIsNotAHexadecimalNumber)
{
    const char *bad[] = {
        "",           // no digits
        "0x",         // prefix alone
        "0X",
        "x10",
        "100000000",  // above FFFFFFFF
        "FFFFFFFFF",
        "0x123456789",
        "12g4",
        "-1",
        "+1",
        " 10",
        "10 ",
        "0x0x10",
        "1.5",
    };
    for (const char *text : bad) {
        uint32_t value = 7;
        EXPECT_FALSE(hexToInt(text, &value)) << '"' << text << '"';
        EXPECT_EQ(7u, value) << "value changed for \"" << text << '"';
    }
}
