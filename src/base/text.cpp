#include "base/text.hpp"

#include <array>
#include <cstdint>
#include <cstdio>

namespace placatermo {

std::string_view trim_right(std::string_view text)
{
    const auto end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

namespace {

// Unicode code points of the Windows-1252 bytes 0x80 ... 0x9F (0 where the
// byte is unassigned).
constexpr std::array<char32_t, 32> cp1252_high = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char code_point_to_cp1252(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (std::size_t i = 0; i < cp1252_high.size(); ++i)
        if (cp1252_high[i] == cp && cp != 0) return static_cast<char>(0x80 + i);
    return '?';
}

void append_utf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string to_cp1252(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        int extra = 0;
        char32_t cp = c;
        if (c >= 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else if (c >= 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0x80) {
            out += '?';
            ++i;
            continue;
        }
        if (i + extra >= utf8.size() && extra > 0) {
            out += '?';
            break;
        }
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out += code_point_to_cp1252(cp);
        i += 1 + extra;
    }
    return out;
}

std::string with_cp1252_characters_only(std::string_view bytes)
{
    std::string text(bytes);
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D) c = '?';
    }
    return text;
}

std::string cp1252_to_utf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out += ch;
        else if (c < 0xA0)
            append_utf8(out, cp1252_high[c - 0x80] ? cp1252_high[c - 0x80] : U'?');
        else
            append_utf8(out, c);
    }
    return out;
}

std::string gnuplot_quoted_body(std::string_view text)
{
    // gnuplot takes a doubled apostrophe in only after another character of
    // the string: at the string's start or right after another doubled one
    // the string is closed, joined to "'" and opened again
    std::string out;
    out.reserve(text.size() + 8);
    bool after_other = false;
    for (const char c : text) {
        if (c != '\'') {
            out += c;
            after_other = true;
        } else {
            out += after_other ? "''" : "'.\"'\".'";
            after_other = false;
        }
    }
    return out;
}

std::string gnuplot_string(std::string_view text)
{
    // appended in place: GCC 12 sees a possible overlap in the copy that
    // "'" + std::string makes when it inserts at the front (-Wrestrict)
    std::string out(1, '\'');
    out += gnuplot_quoted_body(text);
    out += '\'';
    return out;
}

std::string gnuplot_number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

}  // namespace placatermo
