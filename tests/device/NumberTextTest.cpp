#include "device/NumberText.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace {

std::array<int, 4> Digits(const unsigned char* d)
{
    return {d[0], d[1], d[2], d[3]};
}

} // namespace

TEST(NumberText, FixedRoundsAsPrintfDoesWhateverTheLocale)
{
    setlocale(LC_ALL, "de_DE.UTF-8"); // a decimal comma locale, where installed
    // Exact binary ties go to the even digit; values just above a tie go up.
    EXPECT_EQ(numtext::Fixed(2.125, 2), "2.12");
    EXPECT_EQ(numtext::Fixed(0.125, 2), "0.12");
    EXPECT_EQ(numtext::Fixed(0.375, 2), "0.38");
    EXPECT_EQ(numtext::Fixed(0.0625, 3), "0.062");
    EXPECT_EQ(numtext::Fixed(1.115f, 2), "1.12"); // the float lies above 1.115
    EXPECT_EQ(numtext::Fixed(1.115, 2), "1.11");  // the double below it
    EXPECT_EQ(numtext::FixedText(5.1f, 3), QStringLiteral("5.100"));
    EXPECT_EQ(numtext::Fixed(-0.25, 1), "-0.2");
    std::string row;
    numtext::AppendInt(row, -42);
    EXPECT_EQ(row, "-42");
    setlocale(LC_ALL, "C");
}

TEST(NumberText, ReadersTakeTheLeadingNumberLikeTheWideConversions)
{
    setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(numtext::ParseInt("  42abc"), 42);
    EXPECT_EQ(numtext::ParseInt("-7"), -7);
    EXPECT_EQ(numtext::ParseInt("1.5"), 1);
    EXPECT_EQ(numtext::ParseInt("x1"), 0);
    EXPECT_EQ(numtext::ParseInt(""), 0);
    EXPECT_EQ(numtext::ParseInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(numtext::ParseInt(QStringLiteral("12秒")), 12);
    EXPECT_DOUBLE_EQ(numtext::ParseFloat(" 12.5V"), 12.5);
    EXPECT_DOUBLE_EQ(numtext::ParseFloat(".5\n"), 0.5);
    EXPECT_DOUBLE_EQ(numtext::ParseFloat("1e2"), 100.0);
    EXPECT_DOUBLE_EQ(numtext::ParseFloat("2e"), 2.0);
    EXPECT_DOUBLE_EQ(numtext::ParseFloat("-0.25"), -0.25);
    EXPECT_DOUBLE_EQ(numtext::ParseFloat("word"), 0.0);
    EXPECT_DOUBLE_EQ(numtext::ParseFloat("."), 0.0);
    EXPECT_DOUBLE_EQ(numtext::ParseFloat(QStringLiteral("3,5")), 3.0); // a comma is no decimal point
    EXPECT_TRUE(std::isinf(numtext::ParseFloat("1e999")));
    EXPECT_DOUBLE_EQ(numtext::ParseFloat("1e-999"), 0.0);
    EXPECT_DOUBLE_EQ(numtext::ParseFloat("0." + std::string(400, '0') + "1"), 0.0); // small without an exponent
    EXPECT_DOUBLE_EQ(numtext::ParseFloat("-0." + std::string(400, '0') + "1e10"), 0.0);
    EXPECT_TRUE(std::isinf(numtext::ParseFloat("1" + std::string(400, '0') + "e-80"))); // large despite its exponent
    EXPECT_EQ(numtext::ParseInt("-2147483648"), -2147483647 - 1); // the 32-bit range, both ends
    EXPECT_EQ(numtext::ParseInt("-99999999999"), -2147483647 - 1);
    setlocale(LC_ALL, "C");

    // The short form most files hold reads to the very double the general conversion gives.
    for (long n = 0; n < 4000000; n += 997) {
        for (int decimals : {1, 2, 3, 6}) {
            const std::string text = numtext::Fixed(static_cast<double>(n) / 1000.0, decimals);
            double expected = 0.0;
            std::from_chars(text.data(), text.data() + text.size(), expected);
            ASSERT_EQ(numtext::ParseFloat(text), expected) << text;
        }
    }
    EXPECT_EQ(numtext::ParseFloat("0.1000000000000000055511151231257827"), 0.1); // beyond the short form
    EXPECT_TRUE(std::signbit(numtext::ParseFloat("-0.0")));
}

TEST(NumberText, DigitBufferTruncatesAndHoldsToFourDigits)
{
    unsigned char d[5] = {7, 7, 7, 7, 7};
    struct Case { float value; bool volts; std::array<int, 4> want; };
    const Case cases[] = {
        {5.0f, true, {0, 5, 0, 0}},    {32.0f, true, {3, 2, 0, 0}},  {0.01f, true, {0, 0, 0, 1}},
        {3.29f, true, {0, 3, 2, 9}},   {1.239f, true, {0, 1, 2, 3}}, {5.1f, false, {5, 1, 0, 0}},
        {0.001f, false, {0, 0, 0, 1}}, {0.0f, true, {0, 0, 0, 0}},
        // No four-digit form: held to the range rather than writing "digits" outside 0..9.
        {150.0f, true, {9, 9, 9, 9}},  {-3.0f, true, {0, 0, 0, 0}},  {12.0f, false, {9, 9, 9, 9}},
        {std::numeric_limits<float>::quiet_NaN(), true, {0, 0, 0, 0}},
        {std::numeric_limits<float>::infinity(), true, {9, 9, 9, 9}},
    };
    for (const Case& c : cases) {
        if (c.volts)
            numtext::EncodeVolts(c.value, d);
        else
            numtext::EncodeAmps(c.value, d);
        EXPECT_EQ(Digits(d), c.want) << c.value;
        EXPECT_EQ(d[4], 0);
    }
    const unsigned char in[5] = {1, 2, 3, 4, 0};
    EXPECT_FLOAT_EQ(numtext::DecodeVolts(in), 12.34f);
    EXPECT_FLOAT_EQ(numtext::DecodeAmps(in), 1.234f);
    const unsigned char bad[5] = {0, 12, 0, 200, 0}; // bytes above 9 read as 9
    EXPECT_EQ(numtext::CountFromDigits(bad), 909);
}
