// A title as the input reader can give it (any bytes but control
// characters, tabs allowed) and a date: the title line written into a plot
// script holds the whole title as one gnuplot string between apostrophes,
// with nothing after it but blanks, and a title without an apostrophe keeps
// its 62 characters exactly (a byte without a Windows-1252 character as '?').
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.hpp"
#include "results/results.hpp"
#include "run/program.hpp"

namespace {

// One string of gnuplot 5.4's scanner that starts at text[pos], an
// apostrophe: a doubled apostrophe is taken in only after another character
// of the string; the end of the line ends an open string. Gives the
// string's text and moves pos past it; `closed` tells whether an apostrophe
// ended it.
std::string scan_string(std::string_view text, std::size_t& pos, bool& closed)
{
    std::string value;
    closed = false;
    std::size_t current = pos;
    while (++current < text.size()) {
        if (text[current] == '\'') {
            closed = true;
            pos = current + 1;
            return value;
        }
        value += text[current];
        if (current + 2 < text.size() && text[current + 1] == '\'' && text[current + 2] == '\'') {
            value += '\'';
            current += 2;
        }
    }
    pos = text.size();
    return value;
}

// What gnuplot reads after "set title ": strings joined by ."'". (the
// opening apostrophe of the first is the one "set title '" ends with), and
// what follows the last closed string.
std::string read_title(std::string_view field, std::string& rest, bool& closed)
{
    const std::string text = "'" + std::string(field);
    constexpr std::string_view joined_apostrophe = ".\"'\".";
    std::size_t pos = 0;
    std::string value = scan_string(text, pos, closed);
    while (closed && text.compare(pos, joined_apostrophe.size(), joined_apostrophe) == 0 &&
           pos + joined_apostrophe.size() < text.size() && text[pos + joined_apostrophe.size()] == '\'') {
        pos += joined_apostrophe.size();
        value += '\'';
        value += scan_string(text, pos, closed);
    }
    rest = text.substr(pos);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) return 0;
    placatermo::LocalTime time;
    time.day = data[0] % 32;
    time.month = data[1] % 13;
    time.year = 1900 + data[2] * 50;
    std::string title;
    for (std::size_t p = 3; p < size && title.size() < 50; ++p) {
        const auto c = static_cast<char>(data[p]);
        if ((data[p] < 0x20 && c != '\t') || data[p] == 0x7F) continue;  // refused by the reader
        title += c;
    }
    const placatermo::FixedText<62> plot_title =
        placatermo::make_plot_title(title, placatermo::make_date_string(time).view());
    const std::string header = placatermo::default_plot_header('x');
    const std::string script = placatermo::replace_plot_title(header, plot_title.view());

    const std::string start = header + "set title '";
    const std::string end = "\r\nreplot\r\n";
    if (script.compare(0, start.size(), start) != 0) std::abort();
    if (script.size() < start.size() + end.size() || script.compare(script.size() - end.size(), end.size(), end) != 0)
        std::abort();
    const std::string field = script.substr(start.size(), script.size() - start.size() - end.size());
    if (field.find_first_of("\r\n") != std::string::npos) std::abort();
    std::string rest;
    bool closed = false;
    const std::string shown = read_title(field, rest, closed);
    if (rest.find_first_not_of(' ') != std::string::npos) std::abort();
    // gnuplot shows the plot title's own text, its closing apostrophe aside
    // (and a byte without a Windows-1252 character as '?')
    const std::string title_bytes = placatermo::with_cp1252_characters_only(plot_title.view());
    std::string expected(placatermo::trim_right(title_bytes));
    if (closed) {
        if (expected.empty() || expected.back() != '\'') std::abort();
        expected.pop_back();
    }
    if (std::string(placatermo::trim_right(shown)) != expected) std::abort();
    if (title.find('\'') == std::string::npos && field != title_bytes) std::abort();
    return 0;
}
