#include "TextConversion.h"

#include <gtest/gtest.h>

namespace korvan {
namespace {

struct Case {
    const char* text;
    bool ok;
    std::int32_t value;
};

TEST(TextConversion, ConvertsLikeTheSettingsFieldsExpect) {
    const Case cases[] = {
        {"0", true, 0},
        {"127", true, 127},
        {"  42", true, 42},
        {"+7", true, 7},
        {"-5", true, -5},
        {"$1F", true, 31},
        {"x10", true, 16},
        {"X10", true, 16},
        {"0x1388", true, 5000},
        {"0XfF", true, 255},
        {"-$10", true, -16},
        {"007", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        // Failures deliver the leading digits' value, without the sign.
        {"", false, 0},
        {"   ", false, 0},
        {"-", false, 0},
        {"$", false, 0},
        {"0x", false, 0},
        {"12a", false, 12},
        {"-1a", false, 1},
        {"42 ", false, 42},
        {" 4 2", false, 4},
        {"1.5", false, 1},
        {"$1G", false, 1},
        {"2147483648", false, 214748364},
        {"abc", false, 0},
    };
    for (const Case& c : cases) {
        const TextNumber n = ConvertText(c.text);
        EXPECT_EQ(n.ok, c.ok) << '"' << c.text << '"';
        EXPECT_EQ(n.value, c.value) << '"' << c.text << '"';
    }
}

TEST(TextConversion, SlaveAddressTakesLowEightBitsEvenOfAFailedConversion) {
    EXPECT_EQ(SlaveAddressFromText("1"), 1);
    EXPECT_EQ(SlaveAddressFromText("12a"), 12);
    EXPECT_EQ(SlaveAddressFromText("300"), 44);
    EXPECT_EQ(SlaveAddressFromText("-1"), 255);
    EXPECT_EQ(SlaveAddressFromText("-1a"), 1);
    EXPECT_EQ(SlaveAddressFromText(""), 0);
    EXPECT_EQ(SlaveAddressFromText("$FF"), 255);
}

} // namespace
} // namespace korvan
