// Fixed-length texts and the byte encoding of the files the program writes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace placatermo {

// The text without its trailing blanks.
std::string_view trim_right(std::string_view text);

// Converts the program's own texts (UTF-8 in the source) to single
// Windows-1252 bytes, as every file the program writes uses them. Characters
// without a Windows-1252 byte become '?'.
std::string to_cp1252(std::string_view utf8);

// Converts Windows-1252 bytes to UTF-8, for messages on the terminal that quote
// bytes of a file.
std::string cp1252_to_utf8(std::string_view bytes);

// The bytes that Windows-1252 leaves without a character (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) as '?': a plotting program that converts the text from
// Windows-1252 would otherwise give up on the whole text, and say so in its
// own words.
std::string with_cp1252_characters_only(std::string_view bytes);

// A text as gnuplot reads it between apostrophes: an apostrophe doubled, and
// nothing else changed, so that whatever the text holds is only ever text
// (gnuplot expands neither backquotes nor macros inside apostrophes). Where
// gnuplot would not read a doubled apostrophe (first in the string, or right
// after another one) the string is closed and joined to "'": '."'".'
std::string gnuplot_quoted_body(std::string_view text);
// The whole gnuplot string: the quoted body between apostrophes.
std::string gnuplot_string(std::string_view text);
// A number for a gnuplot script or datablock: nine significant digits.
std::string gnuplot_number(double value);

// A text of exactly N characters: a shorter value is filled with blanks, a
// longer one keeps its first N characters.
template <std::size_t N>
class FixedText {
public:
    FixedText() : text_(N, ' ') {}
    explicit FixedText(std::string_view value) { assign(value); }

    void assign(std::string_view value)
    {
        text_.assign(value.substr(0, value.size() < N ? value.size() : N));
        text_.resize(N, ' ');
    }

    std::string_view view() const { return text_; }
    std::string_view trimmed() const { return trim_right(text_); }
    std::string str() const { return text_; }
    static constexpr std::size_t length = N;

    friend bool operator==(const FixedText&, const FixedText&) = default;

private:
    std::string text_;
};

}  // namespace placatermo
