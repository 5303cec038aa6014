#include "input/values.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/errors.hpp"

namespace placatermo {

namespace {

// A text as a quoted value: apostrophes around it, each of its own doubled.
std::string quoted(std::string_view text)
{
    std::string out = "'";
    for (const char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// A real with all its digits, in a form the reader takes back to the same
// double (the shortest such form); NaN and the infinities as their names, which
// the reader refuses.
std::string real_text(double value)
{
    char text[64];
#if defined(__cpp_lib_to_chars)
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string("?");
#else
    // without the reals' to_chars: the fewest digits that read back the same
    if (!std::isfinite(value)) return "?";
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
#endif
}

// A text that the file could not hold on its line: its message as the
// reader's for a control character.
void check_text(int record, std::string_view text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            throw FatalError("erro no valor \"" + std::string(record_label(record)) +
                             "\": o texto contém um caractere de controle (byte " + std::to_string(u) + ")");
    }
}

}  // namespace

InputValues default_input_values() { return values_of(parse_input_data(default_input_file())); }

InputValues values_of(const InputParameters& in)
{
    return {std::string(in.experiment_name.trimmed()),
            std::string(in.discretization_file_name.trimmed()),
            std::string(in.iterations_file_name.trimmed()),
            in.lx,
            in.ly,
            in.grid_count,
            in.grids.nx_of(1),
            in.grids.ny_of(1),
            in.tolerance,
            in.max_outer_iterations,
            in.solver_kind,
            in.msi_tolerance,
            in.max_inner_iterations,
            in.sor_relaxation,
            in.bc_kind,
            std::string(in.title.trimmed())};
}

std::string input_file_bytes(const InputValues& v)
{
    const std::string file = default_input_file();
    const InputParameters defaults = parse_input_data(file);
    const std::vector<std::pair<int, std::string>> texts = {
        {1, quoted(v.experiment_name)},
        {2, quoted(v.discretization_file_name)},
        {3, quoted(v.iterations_file_name)},
        {4, real_text(v.lx)},
        {5, real_text(v.ly)},
        {6, std::to_string(v.grid_count)},
        {7, std::to_string(v.nx)},
        {8, std::to_string(v.ny)},
        {9, real_text(v.tolerance)},
        {10, std::to_string(v.max_outer_iterations)},
        {11, std::to_string(v.solver_kind)},
        {12, real_text(v.msi_tolerance)},
        {13, std::to_string(v.max_inner_iterations)},
        {14, real_text(v.sor_relaxation)},
        {15, std::to_string(v.bc_kind)},
        {16, quoted(v.title)},
    };
    return replace_records(file, defaults, texts);
}

InputParameters check_input_values(const InputValues& v)
{
    const std::pair<int, const std::string*> texts[] = {
        {1, &v.experiment_name}, {2, &v.discretization_file_name}, {3, &v.iterations_file_name}, {16, &v.title}};
    for (const auto& [record, text] : texts) check_text(record, *text);
    // the file without a name: its messages name the value
    return parse_input_data(input_file_bytes(v), "");
}

}  // namespace placatermo
