#include "report/format.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/execution.hpp"
#include "base/text.hpp"

namespace placatermo {

namespace {

[[noreturn]] void bad_layout(std::string_view text, std::size_t pos)
{
    throw std::logic_error("layout malformado na posição " + std::to_string(pos) + ": " + std::string(text));
}

void skip_separators(std::string_view text, std::size_t& pos)
{
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == ',')) ++pos;
}

// Counts, widths and columns of a layout; our layouts stay far below the
// limit, which keeps a malformed one from asking for endless lines.
int read_number(std::string_view text, std::size_t& pos)
{
    constexpr int limit = 10000;
    int value = 0;
    const auto start = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos++] - '0');
        if (value > limit) bad_layout(text, pos);
    }
    if (pos == start) bad_layout(text, pos);
    return value;
}

void fill_right_justified(char* field, int width, std::string_view body)
{
    if (static_cast<int>(body.size()) > width) {
        std::memset(field, '*', static_cast<std::size_t>(width));
        return;
    }
    const auto pad = static_cast<std::size_t>(width) - body.size();
    std::memset(field, ' ', pad);
    std::memcpy(field + pad, body.data(), body.size());
}

// Text of a value that is not a finite number, or empty for a finite one.
std::string_view non_finite_word(double value)
{
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    return {};
}

// Builds "d.ddd" + exponent from a mantissa text ("-1.2345" or "-1") and a
// decimal exponent.
std::size_t finish_real(char* buf, std::size_t len, int digits, int exponent)
{
    if (digits == 0) buf[len++] = '.';
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude <= 99) {
        buf[len++] = 'E';
        buf[len++] = exponent < 0 ? '-' : '+';
        buf[len++] = static_cast<char>('0' + magnitude / 10);
        buf[len++] = static_cast<char>('0' + magnitude % 10);
    } else {
        buf[len++] = exponent < 0 ? '-' : '+';
        buf[len++] = static_cast<char>('0' + magnitude / 100);
        buf[len++] = static_cast<char>('0' + magnitude / 10 % 10);
        buf[len++] = static_cast<char>('0' + magnitude % 10);
    }
    return len;
}

std::size_t zero_real(char* buf, int digits)
{
    std::size_t len = 0;
    buf[len++] = '0';
    if (digits > 0) {
        buf[len++] = '.';
        for (int i = 0; i < digits; ++i) buf[len++] = '0';
    }
    return finish_real(buf, len, digits, 0);
}

}  // namespace

void format_integer(char* field, int width, std::int64_t value)
{
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    fill_right_justified(field, width, std::string_view(buf, static_cast<std::size_t>(result.ptr - buf)));
}

namespace {

// Writes the field from `split`, which leaves the correctly rounded
// significand "-d.ddd" of a finite non-zero value in buf and returns its
// length and the decimal exponent.
template <typename Split>
void format_real_with(char* field, int width, int digits, double value, Split split)
{
    if (const auto word = non_finite_word(value); !word.empty()) {
        fill_right_justified(field, width, word);
        return;
    }
    char buf[400];
    std::size_t len;
    if (value == 0.0) {
        len = zero_real(buf, digits);
    } else {
        int exponent = 0;
        len = split(buf, sizeof buf, value, digits, exponent);
        len = finish_real(buf, len, digits, exponent);
    }
    fill_right_justified(field, width, std::string_view(buf, len));
}

#if defined(__SIZEOF_INT128__)
// The eight decimal digits of n < 10^8, leading zeros included, as the
// bytes of a word in memory order (on a little-endian machine): the halves,
// their hundreds and their tens split in lanes of one multiplication each.
std::uint64_t eight_digits(std::uint64_t n)
{
    std::uint64_t lanes = (n / 10000) | ((n % 10000) << 32);                  // two of 4 digits
    const std::uint64_t hundreds = ((lanes * 10486) >> 20) & 0x0000007F0000007Full;  // x / 100, x < 10^4
    lanes = hundreds | ((lanes - hundreds * 100) << 16);                       // four of 2 digits
    const std::uint64_t tens = ((lanes * 103) >> 10) & 0x000F000F000F000Full;  // x / 10, x < 100
    lanes = tens | ((lanes - tens * 10) << 8);                                 // eight of 1 digit
    if constexpr (std::endian::native == std::endian::big) {
        std::uint64_t reversed = 0;
        for (int byte = 0; byte < 8; ++byte) reversed = (reversed << 8) | ((lanes >> (8 * byte)) & 0xFF);
        lanes = reversed;
    }
    return lanes | 0x3030303030303030ull;
}

// The `count` decimal digits of n (n < 10^count, count <= 20) into out,
// leading zeros included, eight at a time from the right.
void write_digits(char* out, std::uint64_t n, int count)
{
    while (count > 8) {
        count -= 8;
        const std::uint64_t word = eight_digits(n % 100000000);
        std::memcpy(out + count, &word, 8);
        n /= 100000000;
    }
    const std::uint64_t word = eight_digits(n);
    char last[8];
    std::memcpy(last, &word, 8);
    std::memcpy(out, last + (8 - count), static_cast<std::size_t>(count));
}

constexpr std::uint64_t power_of_ten[20] = {1ull,
                                             10ull,
                                             100ull,
                                             1000ull,
                                             10000ull,
                                             100000ull,
                                             1000000ull,
                                             10000000ull,
                                             100000000ull,
                                             1000000000ull,
                                             10000000000ull,
                                             100000000000ull,
                                             1000000000000ull,
                                             10000000000000ull,
                                             100000000000000ull,
                                             1000000000000000ull,
                                             10000000000000000ull,
                                             100000000000000000ull,
                                             1000000000000000000ull,
                                             10000000000000000000ull};

// The significand of a finite non-zero value correctly rounded to d + 1
// digits, as the integer n (10^d <= n < 10^(d+1)), and its decimal exponent:
// `scaled(p, n)` gives |v| 10^p rounded half to even, or false where it
// cannot tell. The exponent starts from the binary one, floor(log10 |v|) or
// one below it, and moves by one when n has a digit too many or too few.
template <typename Scaled>
bool rounded_significand(double v, int d, std::uint64_t& significand, int& exponent, Scaled scaled)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const auto biased = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased == 0 || biased == 0x7ff || d < 0 || d > 17) return false;
    int e10 = static_cast<int>(((static_cast<std::int64_t>(biased) - 1023) * 78913) >> 18);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::uint64_t n;
        if (!scaled(d - e10, n)) return false;
        if (n >= power_of_ten[d + 1]) {
            ++e10;
            continue;
        }
        if (n < power_of_ten[d]) {
            --e10;
            continue;
        }
        significand = n;
        exponent = e10;
        return true;
    }
    return false;
}

// From integer arithmetic: with v = m 2^-s exactly, v 10^p is m 10^p / 2^s,
// rounded half to even by the remainder of the shift. Taken for normal
// numbers below 2^52 where m 10^p has no more than 128 bits (about 1e-13 <=
// |v| < 10^(d+1), the fields and norms of the reports).
[[maybe_unused]] bool integer_significand(double v, int d, std::uint64_t& significand, int& exponent)
{
    __extension__ typedef unsigned __int128 Wide;
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const auto biased = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased >= 1075 || 1075 - biased > 127) return false;
    const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int shift = 1075 - biased;
    return rounded_significand(v, d, significand, exponent, [&](int p, std::uint64_t& rounded) {
        if (p < 0 || p > 19) return false;
        const Wide scaled = static_cast<Wide>(m) * power_of_ten[p];
        Wide n = scaled >> shift;
        const Wide remainder = scaled - (n << shift);
        const Wide half = Wide{1} << (shift - 1);
        if (remainder > half || (remainder == half && (n & 1) != 0)) ++n;
        if ((n >> 64) != 0) return false;
        rounded = static_cast<std::uint64_t>(n);
        return true;
    });
}

// The text "-d.ddd" of that significand into buf; its length.
[[maybe_unused]] std::size_t significand_text(char* buf, bool negative, std::uint64_t significand, int d)
{
    char digits[24];
    write_digits(digits, significand, d + 1);
    char* out = buf;
    if (negative) *out++ = '-';
    *out++ = digits[0];
    if (d > 0) {
        *out++ = '.';
        std::memcpy(out, digits + 1, static_cast<std::size_t>(d));
        out += d;
    }
    return static_cast<std::size_t>(out - buf);
}

// From one product in doubles, where that product decides the rounding: for
// d <= 9 and 10^p exact (p <= 22), x = |v| 10^p is within half an ulp of the
// exact product, at most 2^-19 below 10^10; unless x is within 2^-16 of a
// tie, the exact product rounds as x does (the tie is a double: a rounding
// that crossed it would have stopped on it).
[[maybe_unused]] bool product_significand(double v, int d, std::uint64_t& significand, int& exponent)
{
    static constexpr double exact_power_of_ten[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (d > 9) return false;
    const double magnitude = std::fabs(v);
    return rounded_significand(v, d, significand, exponent, [&](int p, std::uint64_t& rounded) {
        if (p < 0 || p > 22) return false;
        const double x = magnitude * exact_power_of_ten[p];
        if (!(x < 1e11)) return false;
        const auto whole = static_cast<std::uint64_t>(x);
        const double fraction = x - static_cast<double>(whole);
        if (std::fabs(fraction - 0.5) < 0x1p-16) return false;
        rounded = whole + (fraction > 0.5 ? 1 : 0);
        return true;
    });
}

// The whole field, written in place, of a value whose significand the
// product or the integer arithmetic gives and whose exponent has two digits,
// when the text fits: the reports' common case; false otherwise.
[[maybe_unused]] bool field_in_place(char* field, int width, int d, double v)
{
    std::uint64_t significand;
    int exponent;
    if (!(v != 0.0) ||
        !(product_significand(v, d, significand, exponent) || integer_significand(v, d, significand, exponent)) ||
        exponent < -99 || exponent > 99)
        return false;
    const bool negative = std::signbit(v);
    // "-d.ddd" and "E+ee"; with d = 0 the point still follows the digit
    const int length = (negative ? 1 : 0) + d + 6;
    if (length > width) return false;
    char* out = field + (width - length) + (negative ? 1 : 0);
    // the d + 1 digits one place to the right, then the first moved before
    // the point; up to eight digits in one store of eight, its leading
    // zeros over the padding written after it
    if (d <= 7 && (width - length) + (negative ? 1 : 0) + d - 6 >= 0) {
        const std::uint64_t word = eight_digits(significand);
        std::memcpy(out + d - 6, &word, 8);
    } else {
        write_digits(out + 1, significand, d + 1);
    }
    std::memset(field, ' ', static_cast<std::size_t>(width - length));
    if (negative) out[-1] = '-';
    out[0] = out[1];
    out[1] = '.';
    out += d + 2;
    const int magnitude = exponent < 0 ? -exponent : exponent;
    out[0] = 'E';
    out[1] = exponent < 0 ? '-' : '+';
    out[2] = static_cast<char>('0' + magnitude / 10);
    out[3] = static_cast<char>('0' + magnitude % 10);
    return true;
}
#else
[[maybe_unused]] bool integer_significand(double, int, std::uint64_t&, int&) { return false; }
[[maybe_unused]] std::size_t significand_text(char*, bool, std::uint64_t, int) { return 0; }
[[maybe_unused]] bool field_in_place(char*, int, int, double) { return false; }
[[maybe_unused]] bool product_significand(double, int, std::uint64_t&, int&) { return false; }
#endif

}  // namespace

void format_real(char* field, int width, int digits, double value)
{
#if !defined(__cpp_lib_to_chars)
    // a standard library without the reals' to_chars (the browser's): the C
    // library's, as exact
    format_real_printf(field, width, digits, value);
#else
    if constexpr (default_kernels == Kernels::plain) return format_real_printf(field, width, digits, value);
    if (field_in_place(field, width, digits, value)) return;
    format_real_with(field, width, digits, value, [](char* buf, std::size_t size, double v, int d, int& exponent) {
        if (std::uint64_t significand; integer_significand(v, d, significand, exponent))
            return significand_text(buf, std::signbit(v), significand, d);
        // to_chars gives the correctly rounded "-d.ddde-05": the e right
        // after the sign, one digit, and the point and d digits if d > 0
        const auto result = std::to_chars(buf, buf + size, v, std::chars_format::scientific, d);
        char* e = buf + (v < 0.0 ? 1 : 0) + (d > 0 ? d + 2 : 1);
        if (e + 2 >= result.ptr || *e != 'e')
            e = static_cast<char*>(std::memchr(buf, 'e', static_cast<std::size_t>(result.ptr - buf)));
        int magnitude = 0;
        for (const char* digit = e + 2; digit < result.ptr; ++digit) magnitude = magnitude * 10 + (*digit - '0');
        exponent = e[1] == '-' ? -magnitude : magnitude;
        return static_cast<std::size_t>(e - buf);
    });
#endif
}

void format_real_line(std::string& out, std::span<const double> values, int width, int digits)
{
    const std::size_t at = out.size();
    const auto w = static_cast<std::size_t>(width);
    out.resize(at + values.size() * w + 2);
    char* field = out.data() + at;
    for (const double v : values) {
        format_real(field, width, digits, v);
        field += w;
    }
    field[0] = '\r';
    field[1] = '\n';
}

void format_real_printf(char* field, int width, int digits, double value)
{
    format_real_with(field, width, digits, value, [](char* buf, std::size_t size, double v, int d, int& exponent) {
        std::snprintf(buf, size, "%.*E", d, v);
        char* e = std::strchr(buf, 'E');
        exponent = std::atoi(e + 1);
        return static_cast<std::size_t>(e - buf);
    });
}

struct Layout::Walk {
    std::string& out;
    std::span<const Value> values;
    std::size_t next = 0;
    std::string line;
    std::size_t column = 0;  // current column minus one

    char* place(std::size_t length)
    {
        if (line.size() < column + length) line.resize(column + length, ' ');
        char* field = line.data() + column;
        column += length;
        return field;
    }
    void end_line()
    {
        out += line;
        out += "\r\n";
        line.clear();
        column = 0;
    }
};

Layout::Layout(std::string_view text)
{
    std::size_t pos = 0;
    skip_separators(text, pos);
    if (pos >= text.size() || text[pos] != '(') bad_layout(text, pos);
    ++pos;
    items_ = parse_items(text, pos);
    skip_separators(text, pos);
    if (pos != text.size()) bad_layout(text, pos);
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].kind == Kind::group) reversion_ = i;
    // One pass over the layout, groups repeated, and the line it can reach
    // stay small: nested repeats could otherwise ask for endless output.
    double steps = 0.0, columns = 0.0;
    measure(items_, steps, columns);
    if (steps > 1e6 || columns > 1e6) bad_layout(text, 0);
}

void Layout::measure(const std::vector<Item>& items, double& steps, double& columns)
{
    for (const Item& item : items) {
        steps += 1.0;
        switch (item.kind) {
        case Kind::group: {
            double inner_steps = 0.0, inner_columns = 0.0;
            measure(item.items, inner_steps, inner_columns);
            // every repeat is a step, even of an empty group
            steps += item.width * (inner_steps + 1.0);
            columns += item.width * inner_columns;
            break;
        }
        case Kind::literal: columns += static_cast<double>(item.text.size()); break;
        case Kind::slash: break;
        default: columns += item.width; break;
        }
    }
}

std::vector<Layout::Item> Layout::parse_items(std::string_view text, std::size_t& pos)
{
    std::vector<Item> items;
    for (;;) {
        skip_separators(text, pos);
        if (pos >= text.size()) bad_layout(text, pos);
        const char c = text[pos];
        if (c == ')') {
            ++pos;
            return items;
        }
        Item item{};
        if (c == '\'') {
            std::string utf8;
            ++pos;
            for (;;) {
                if (pos >= text.size()) bad_layout(text, pos);
                if (text[pos] == '\'') {
                    if (pos + 1 < text.size() && text[pos + 1] == '\'') {
                        utf8 += '\'';
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                utf8 += text[pos++];
            }
            item.kind = Kind::literal;
            item.text = to_cp1252(utf8);
        } else if (c == '/') {
            item.kind = Kind::slash;
            ++pos;
        } else if (c >= '0' && c <= '9') {
            item.width = read_number(text, pos);
            if (pos >= text.size() || text[pos] != '(') bad_layout(text, pos);
            ++pos;
            item.kind = Kind::group;
            item.items = parse_items(text, pos);
        } else if (c == 'T') {
            ++pos;
            item.kind = Kind::tab;
            if (pos < text.size() && text[pos] == 'R') {
                item.kind = Kind::tab_right;
                ++pos;
            }
            item.width = read_number(text, pos);
            if (item.kind == Kind::tab && item.width < 1) bad_layout(text, pos);
        } else if (c == 'I' || c == 'A' || c == 'E') {
            ++pos;
            item.kind = c == 'I' ? Kind::integer : c == 'A' ? Kind::text : Kind::real;
            item.width = read_number(text, pos);
            if (c == 'E') {
                if (pos >= text.size() || text[pos] != '.') bad_layout(text, pos);
                ++pos;
                item.digits = read_number(text, pos);
                if (item.digits > 99) bad_layout(text, pos);
            }
        } else {
            bad_layout(text, pos);
        }
        items.push_back(std::move(item));
    }
}

// Walks items[first ...]; false when a data item found no value left.
bool Layout::walk(const std::vector<Item>& items, std::size_t first, Walk& state)
{
    for (std::size_t n = first; n < items.size(); ++n) {
        const Item& item = items[n];
        switch (item.kind) {
        case Kind::literal: std::memcpy(state.place(item.text.size()), item.text.data(), item.text.size()); break;
        case Kind::slash: state.end_line(); break;
        case Kind::tab: state.column = static_cast<std::size_t>(item.width - 1); break;
        case Kind::tab_right: state.column += static_cast<std::size_t>(item.width); break;
        case Kind::group:
            for (int r = 0; r < item.width; ++r)
                if (!walk(item.items, 0, state)) return false;
            break;
        case Kind::integer:
        case Kind::text:
        case Kind::real: {
            if (state.next == state.values.size()) return false;
            const Value& value = state.values[state.next++];
            char* field = state.place(static_cast<std::size_t>(item.width));
            if (item.kind == Kind::integer) {
                format_integer(field, item.width, std::get<std::int32_t>(value));
            } else if (item.kind == Kind::real) {
                format_real(field, item.width, item.digits, std::get<double>(value));
            } else {
                const std::string_view text = std::get<std::string_view>(value);
                const auto w = static_cast<std::size_t>(item.width);
                if (text.size() >= w) {
                    std::memcpy(field, text.data(), w);
                } else {
                    std::memset(field, ' ', w - text.size());
                    std::memcpy(field + (w - text.size()), text.data(), text.size());
                }
            }
            break;
        }
        }
    }
    return true;
}

void Layout::format(std::string& out, std::span<const Value> values) const
{
    Walk state{out, values, 0, {}, 0};
    bool complete = walk(items_, 0, state);
    while (complete) {
        state.end_line();
        if (state.next == values.size()) return;
        // Reversion: a new line from the last top-level group. A layout
        // whose reversion part has no data item would never use up the
        // values; it ends here.
        const auto before = state.next;
        complete = walk(items_, reversion_, state);
        if (complete && state.next == before) {
            state.end_line();
            return;
        }
    }
    state.end_line();
}

std::string Layout::format(std::initializer_list<Value> values) const
{
    std::string out;
    format(out, std::span<const Value>(values.begin(), values.size()));
    return out;
}

}  // namespace placatermo
