// The record formatter: a line layout such as "(TR2, I8, E15.6)" is parsed once
// and then filled with values, giving lines that end in CR LF.
//
// Items: 'text' (a doubled quote stands for one), Iw, Aw, Ew.d, Tn, TRn, / and
// k( ... ). Data items take the values in order; the walk stops at the first
// data item for which no value remains. At the closing parenthesis the current
// line is written; if values remain, the walk goes on with a new line from the
// start of the last top-level group (or of the layout when it has none).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace placatermo {

// A value for a data item: an integer for Iw, a double for Ew.d, a text (its
// bytes, trailing blanks included) for Aw.
using Value = std::variant<std::int32_t, double, std::string_view>;

class Layout {
public:
    // Parses a layout; literal texts are given in UTF-8 and kept as
    // Windows-1252 bytes. A malformed layout is a program error
    // (std::logic_error).
    explicit Layout(std::string_view text);

    // Appends the lines for `values` to `out`, each ending in CR LF.
    void format(std::string& out, std::span<const Value> values) const;
    std::string format(std::initializer_list<Value> values) const;

private:
    enum class Kind { literal, integer, text, real, tab, tab_right, slash, group };
    struct Item {
        Kind kind;
        int width = 0;            // w of Iw, Aw, Ew.d; n of Tn, TRn; repeat count of a group
        int digits = 0;           // d of Ew.d
        std::string text;         // literal bytes
        std::vector<Item> items;  // items of a group
    };
    struct Walk;

    static std::vector<Item> parse_items(std::string_view text, std::size_t& pos);
    static void measure(const std::vector<Item>& items, double& steps, double& columns);
    static bool walk(const std::vector<Item>& items, std::size_t first, Walk& state);

    std::vector<Item> items_;
    std::size_t reversion_ = 0;  // index of the last top-level group
};

// Writes `value` as an Ew.d field of `width` columns into `field`.
// Correctly rounded to d + 1 significant digits; zero (of either sign) as
// 0.000E+00; exponents of magnitude 100 to 999 as sign and three digits
// without the E; NaN, Infinity and -Infinity as words; a result longer than
// the field gives asterisks.
void format_real(char* field, int width, int digits, double value);

// Appends one line of Ew.d fields, one per value, and CR LF: the bytes of
// Layout "(n(Ew.d))" for n values, for long listings.
void format_real_line(std::string& out, std::span<const double> values, int width, int digits);

// The same field built through the C library's printf, kept as the reference
// that the fast path is tested against.
void format_real_printf(char* field, int width, int digits, double value);

// Writes `value` as an Iw field.
void format_integer(char* field, int width, std::int64_t value);

}  // namespace placatermo
