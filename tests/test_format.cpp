// The record formatter: layouts, fields, rounding, the stop and reversion
// rules, and the fast real field against the C library's.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "base/text.hpp"
#include "report/format.hpp"
#include "test_support.hpp"

namespace placatermo {
namespace {

std::string e_field(double v, int w, int d)
{
    std::string field(static_cast<std::size_t>(w), '#');
    format_real(field.data(), w, d, v);
    return field;
}

struct RealCase {
    const char* name;
    double value;
    int width, digits;
    const char* expected;
};

class RealField : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealField, Formats)
{
    const auto& c = GetParam();
    EXPECT_EQ(e_field(c.value, c.width, c.digits), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RealField,
    ::testing::Values(RealCase{"Quarter", 0.25, 15, 6, "   2.500000E-01"},
                      RealCase{"NineDigits", 1.0, 22, 9, "       1.000000000E+00"},
                      RealCase{"Negative", -12.5, 15, 6, "  -1.250000E+01"},
                      RealCase{"RoundsUpToTen", 9.9999999, 15, 6, "   1.000000E+01"},
                      RealCase{"Zero", 0.0, 15, 6, "   0.000000E+00"},
                      RealCase{"NegativeZeroIsZero", -0.0, 15, 6, "   0.000000E+00"},
                      RealCase{"NineteenDigitsOfOneTenth", 0.1, 30, 19, "     1.0000000000000000555E-01"},
                      RealCase{"WideField", 0.5, 20, 9, "     5.000000000E-01"},
                      RealCase{"SmallFraction", 0.000123456, 15, 6, "   1.234560E-04"},
                      RealCase{"ThreeDigitExponentDropsTheE", 1.0e100, 15, 6, "   1.000000+100"},
                      RealCase{"NegativeThreeDigitExponent", -2.5e-120, 15, 6, "  -2.500000-120"},
                      RealCase{"TwoDigitExponentKeepsTheE", 1.0e99, 15, 6, "   1.000000E+99"},
                      RealCase{"SmallestSubnormal", 4.9e-324, 15, 6, "   4.940656-324"},
                      RealCase{"TieRoundsToEvenDown", 12345665.0, 15, 6, "   1.234566E+07"},
                      RealCase{"TieRoundsToEvenUp", 12345675.0, 15, 6, "   1.234568E+07"},
                      // a negative value that fills the field exactly, and one column less
                      RealCase{"NegativeFillsTheField", -1.5, 13, 6, "-1.500000E+00"},
                      RealCase{"NegativeOneColumnShort", -1.5, 12, 6, "************"},
                      RealCase{"NaN", std::nan(""), 15, 6, "            NaN"},
                      RealCase{"Infinity", std::numeric_limits<double>::infinity(), 15, 6, "       Infinity"},
                      RealCase{"NegativeInfinity", -std::numeric_limits<double>::infinity(), 15, 6, "      -Infinity"},
                      RealCase{"InfinityTooNarrow", -std::numeric_limits<double>::infinity(), 8, 1, "********"},
                      RealCase{"FifteenDigits", 25.0, 26, 15, "     2.500000000000000E+01"},
                      RealCase{"NegativeFifteenDigits", -50.0, 26, 15, "    -5.000000000000000E+01"}),
    [](const auto& info) { return std::string(info.param.name); });

struct LayoutCase {
    const char* name;
    const char* layout;
    std::vector<Value> values;
    const char* expected;
};

class LayoutLines : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutLines, Writes)
{
    const auto& c = GetParam();
    std::string out;
    Layout(c.layout).format(out, c.values);
    EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LayoutLines,
    ::testing::Values(
        LayoutCase{"HistoryLine", "(TR2, I8, E15.6)", {5, 0.25}, "         5   2.500000E-01\r\n"},
        LayoutCase{"HistoryLineSmallRatio", "(TR2, I8, E15.6)", {12, 0.000123456}, "        12   1.234560E-04\r\n"},
        LayoutCase{"IntegerTooWide", "(I8)", {123456789}, "********\r\n"},
        LayoutCase{"NegativeIntegerFillsTheField", "(I8)", {-1234567}, "-1234567\r\n"},
        LayoutCase{"NegativeThreeColumns", "(I3)", {-12}, "-12\r\n"},
        // literals only, no values: processed once from start to end
        LayoutCase{"LiteralsOnly",
                   "(/, /, TR30, 'TEMPERATURAS')",
                   {},
                   "\r\n\r\n                              TEMPERATURAS\r\n"},
        LayoutCase{"LiteralThenSlash", "('a', /)", {}, "a\r\n\r\n"},
        LayoutCase{"TabsAndLatin1Text",
                   "(/, /, T3, 'Iteração', T14, 'Norma L1 / norma it.=1')",
                   {},
                   "\r\n\r\n  Itera\xE7\xE3o   Norma L1 / norma it.=1\r\n"},
        // skipped columns at the end add nothing; T back overwrites
        LayoutCase{"SkipAtTheEndAddsNothing", "('abc', TR5)", {}, "abc\r\n"},
        LayoutCase{"TabBackOverwrites", "('abcdef', T2, 'X')", {}, "aXcdef\r\n"},
        LayoutCase{"TabForward", "(T5, 'x')", {}, "    x\r\n"},
        // text fields: cut to w, or right-justified
        LayoutCase{"TextCut", "(A5)", {std::string_view("abcdefgh")}, "abcde\r\n"},
        LayoutCase{"TextRightJustified", "(A5, '|')", {std::string_view("ab")}, "   ab|\r\n"},
        LayoutCase{"QuotedApostrophes", "('''', A3, '''')", {std::string_view("x  ")}, "'x  '\r\n"},
        // the walk stops at the first data item without a value
        LayoutCase{"StopsAtItemWithoutValue", "(I3, ' = a', /, I3, ' = b')", {7}, "  7 = a\r\n\r\n"},
        // reversion to the last top-level group
        LayoutCase{
            "RepeatedGroupPartly", "(8(E15.6))", {1.0, 2.0, 3.0}, "   1.000000E+00   2.000000E+00   3.000000E+00\r\n"},
        LayoutCase{"GroupReverts", "(2(I2))", {1, 2, 3, 4, 5}, " 1 2\r\n 3 4\r\n 5\r\n"},
        LayoutCase{"RevertsToTheGroupNotTheLiteral", "('x', 2(I2))", {1, 2, 3}, "x 1 2\r\n 3\r\n"},
        LayoutCase{"WholeLayoutReverts", "(I2, 'a')", {1, 2}, " 1a\r\n 2a\r\n"},
        LayoutCase{"ThreeReals", "(3(E15.6))", {0.05, 2.5, 2.75}, "   5.000000E-02   2.500000E+00   2.750000E+00\r\n"},
        LayoutCase{"PlotTitleAndReplot",
                   "('set title ''', A6, /, 'replot')",
                   {std::string_view("ab cd'")},
                   "set title 'ab cd'\r\nreplot\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Layout, WholeLayoutWithOnlyLiteralsWritesEmptyLineAtClosingParenthesis)
{
    EXPECT_EQ(Layout("(/)").format({}), "\r\n\r\n");
}

TEST(Layout, MalformedLayoutIsAProgramError)
{
    EXPECT_THROW(Layout("(I8"), std::logic_error);
    EXPECT_THROW(Layout("(X3)"), std::logic_error);
    EXPECT_THROW(Layout("('abc)"), std::logic_error);
}

TEST(Text, FixedLengthPadsAndCuts)
{
    EXPECT_EQ(FixedText<5>("ab").view(), "ab   ");
    EXPECT_EQ(FixedText<5>("abcdefg").view(), "abcde");
    EXPECT_EQ(FixedText<5>("a b  ").trimmed(), "a b");
    EXPECT_EQ(FixedText<3>("").trimmed(), "");
}

TEST(Text, ProgramTextsBecomeWindows1252Bytes)
{
    EXPECT_EQ(to_cp1252("título MÉDIA TRANSFERÊNCIA numérica analítica"),
              "t\xEDtulo M\xC9"
              "DIA TRANSFER\xCANCIA num\xE9rica anal\xEDtica");
    EXPECT_EQ(to_cp1252("€ – ç"), "\x80 \x96 \xE7");
    EXPECT_EQ(cp1252_to_utf8("num\xE9rica \x80"), "numérica €");
}

// The fast field must give the C library's bytes for every value: random bit
// patterns, exact decimal ties, subnormals, signed zeros and non-finite values.
TEST(RealFieldFast, SameBytesAsPrintf)
{
    std::mt19937_64 random(20261208);
    const int widths[][2] = {{15, 6}, {22, 9}, {26, 15}, {30, 19}, {20, 9}, {12, 3},
                             {40, 25}, {8, 0},  {9, 1},   {13, 6},  {7, 0},  {11, 3}};
    std::vector<double> values = {0.0,
                                  -0.0,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::nan(""),
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::min(),
                                  0.5,
                                  1.5,
                                  2.5,
                                  12345665.0,
                                  12345675.0};
    for (int i = 0; i < 200000; ++i) values.push_back(std::bit_cast<double>(random()));
    for (int i = 0; i < 20000; ++i) {
        // n + 1/2 scaled by a power of ten that keeps it exact: decimal ties
        const double tie = (static_cast<double>(random() % 100000000) + 0.5) * std::ldexp(1.0, -(int)(random() % 8));
        values.push_back(tie);
        values.push_back(-tie);
    }
    for (int i = 0; i < 5000; ++i) values.push_back(std::bit_cast<double>(random() & 0x000FFFFFFFFFFFFFull));
    // the magnitudes of fields and norms, 1e-13 to 1e13, where the digits
    // come from integer arithmetic: spread evenly in the exponent, next to
    // powers of ten, and next to the halfway points of 4 to 10 digits
    for (int i = 0; i < 100000; ++i)
        values.push_back(std::pow(10.0, -13.0 + 26.0 * static_cast<double>(random() >> 11) * 0x1.0p-53) *
                         (random() % 2 == 0 ? 1.0 : -1.0));
    for (int k = -13; k <= 13; ++k) {
        const double p = std::pow(10.0, k);
        for (double x = p, up = p, i = 0; i < 3; ++i) {
            x = std::nextafter(x, 0.0);
            up = std::nextafter(up, 2.0 * p);
            values.insert(values.end(), {x, up, -x, -up});
        }
        values.push_back(p);
        for (int digits = 4; digits <= 10; ++digits) {
            // 9.99...95 and 1.23...5 times 10^k: the carry and the ties
            const double nines = (10.0 - 5.0 * std::pow(10.0, -digits)) * p;
            const double half = (1.0 + 5.0 * std::pow(10.0, -digits)) * p;
            for (const double v : {nines, half})
                values.insert(values.end(), {v, std::nextafter(v, 0.0), std::nextafter(v, 1e300)});
        }
    }
    // the field in the middle of a line: nothing written around it
    char line[80], plain[64];
    char* const fast = line + 8;
    for (const double v : values) {
        for (const auto& wd : widths) {
            std::memset(line, '#', sizeof line);
            format_real(fast, wd[0], wd[1], v);
            format_real_printf(plain, wd[0], wd[1], v);
            ASSERT_EQ(std::memcmp(fast, plain, static_cast<std::size_t>(wd[0])), 0)
                << "value " << std::hexfloat << v << " E" << wd[0] << "." << wd[1];
            ASSERT_EQ(std::string_view(line, 8), "########");
            ASSERT_EQ(std::string_view(fast + wd[0], 8), "########");
        }
    }
}

// Every digit count 0 to 17 (the eight-digit store ends at 7, the product in
// doubles at 9, the integer arithmetic at 17) at the tight widths: one short
// of the text (stars), the text alone, and up to eight blanks more, where the
// store of eight digits starts before the field or inside it. The values:
// decimal ties of every length (odd multiples of 2^-s), their neighbours,
// the carries of 9.99..95 10^k, and the edges of the powers the fast paths
// take (1e-13 to 1e-16, 1e22, 2^52).
TEST(RealFieldFast, EveryDigitCountAtTightWidths)
{
    std::mt19937_64 random(20261210);
    std::vector<double> values = {0x1p52, 0x1p52 - 0.5, 0x1p53 - 1.0, 1e22, 1e23, 1e-13, 1e-16, 9.5, 0.125, 0.0625};
    for (int i = 0; i < 300; ++i) {
        const double tie =
            std::ldexp(static_cast<double>((random() >> (11 + random() % 50)) | 1), -1 - (int)(random() % 40));
        values.insert(values.end(), {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300)});
    }
    for (const int k : {-16, -14, -13, -1, 0, 1, 9, 15, 21, 22})
        for (int digits = 0; digits <= 17; ++digits) {
            const double nines = (1.0 - 5.0 * std::pow(10.0, -digits - 2)) * std::pow(10.0, k);
            values.insert(values.end(), {nines, std::nextafter(nines, 0.0), std::nextafter(nines, 1e300)});
        }
    char line[96], plain[96];
    char* const fast = line + 24;
    for (const double magnitude : values)
        for (const double v : {magnitude, -magnitude})
            for (int d = 0; d <= 17; ++d) {
                format_real_printf(plain, 60, d, v);
                const int text = 60 - static_cast<int>(std::string_view(plain, 60).find_first_not_of(' '));
                for (int w = std::max(1, text - 1); w <= text + 8; ++w) {
                    std::memset(line, '#', sizeof line);
                    format_real(fast, w, d, v);
                    format_real_printf(plain, w, d, v);
                    ASSERT_EQ(std::string_view(fast, static_cast<std::size_t>(w)),
                              std::string_view(plain, static_cast<std::size_t>(w)))
                        << "value " << std::hexfloat << v << " E" << w << "." << d;
                    ASSERT_EQ(std::string_view(line, 24), std::string(24, '#'));
                    ASSERT_EQ(std::string_view(fast + w, 96 - 24 - static_cast<std::size_t>(w)),
                              std::string(96 - 24 - static_cast<std::size_t>(w), '#'));
                }
            }
}

// A line of the long listings: the bytes of the layout (n(Ew.d)) for one to
// eight values of every kind, appended to what the text held.
TEST(RealLine, SameBytesAsTheLayout)
{
    const double values[] = {1.5,    -0.0,         123456789.0,  -9.9999995e-3, std::numeric_limits<double>::infinity(),
                             1e-300, std::nan(""), 9.99999951e99};
    const int fields[][2] = {{15, 6}, {22, 9}, {12, 6}};
    for (const auto& wd : fields)
        for (std::size_t n = 1; n <= 8; ++n) {
            const std::span<const double> some(values, n);
            std::vector<Value> items(some.begin(), some.end());
            std::string expected = "before";
            Layout("(" + std::to_string(n) + "(E" + std::to_string(wd[0]) + "." + std::to_string(wd[1]) + "))")
                .format(expected, items);
            std::string line = "before";
            format_real_line(line, some, wd[0], wd[1]);
            EXPECT_EQ(line, expected) << n << " values, E" << wd[0] << "." << wd[1];
        }
}

}  // namespace
}  // namespace placatermo

namespace placatermo {
namespace {

TEST(Layout, LimitsKeepMalformedLayoutsSmall)
{
    EXPECT_THROW(Layout("(99999999999(I3))"), std::logic_error);
    EXPECT_THROW(Layout("(T20000, 'x')"), std::logic_error);
    EXPECT_NO_THROW(Layout("(T9999, 'x')"));
    // found by fuzzing: nested repeats, and more digits than a field holds
    EXPECT_THROW(Layout("(9999(9999(9999('x'))))"), std::logic_error);
    EXPECT_THROW(Layout("(696(5(9615())))"), std::logic_error);  // empty groups repeated
    EXPECT_THROW(Layout("(9999(TR9999, 'x'))"), std::logic_error);
    EXPECT_THROW(Layout("(8(E5.1616))"), std::logic_error);
    EXPECT_EQ(Layout("(E5.99)").format({1.0}), "*****\r\n");
}

}  // namespace
}  // namespace placatermo
