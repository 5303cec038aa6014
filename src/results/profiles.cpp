// Centre-line profiles: results file lines, data files and plot scripts.
#include "base/text.hpp"
#include "results/results.hpp"

namespace placatermo {

namespace {

// What distinguishes the two profiles.
struct Profile {
    char axis;  // 'x' or 'y'
    const char* data_file;
    const char* script;
    const char* heading;
};

constexpr Profile profile_x{'x', "Tx.dat", "Tx.gnu",
                            "(/, /, TR5, 'Temperatura em y = Ly/2 (x, Tanalítico, Tnumérico)', /)"};
constexpr Profile profile_y{'y', "Ty.dat", "Ty.gnu",
                            "(/, /, TR5, 'Temperatura em x = Lx/2 (y, Tanalítico, Tnumérico)', /)"};

const Profile& profile_of(char axis) { return axis == 'x' ? profile_x : profile_y; }

}  // namespace

std::string default_plot_header(char axis)
{
    const std::string data = axis == 'x' ? "Tx.dat" : "Ty.dat";
    // The first plot goes into a discarded table, so that the title line and
    // the "replot" that follow the header draw the one picture.
    const std::string lines[6] = {
        "set encoding cp1252",
        std::string("set xlabel '") + axis + "'; set ylabel 'T'; set key top left box; set grid",
        "set table $descarte",
        "plot '" + data + "' using 1:2 with lines linewidth 2 title 'analítica', '" + data +
            "' using 1:3 with points pointtype 7 title 'numérica'",
        "unset table",
        std::string("set terminal pngcairo noenhanced size 800,600; set output 'T") + axis + ".png'",
    };
    std::string header;
    for (const auto& l : lines) header += to_cp1252(l) + "\r\n";
    return header;
}

std::string plot_title_field(std::string_view plot_title)
{
    // the closing apostrophe, when the cut to 62 characters kept it, is the
    // last character before the blanks: the date stamp that precedes it has
    // none of its own
    std::string_view text = trim_right(plot_title);
    const bool closed = !text.empty() && text.back() == '\'';
    if (closed) text.remove_suffix(1);
    std::string field = gnuplot_quoted_body(with_cp1252_characters_only(text));
    if (closed) field += '\'';
    if (field.size() < plot_title.size()) field.resize(plot_title.size(), ' ');
    return field;
}

std::string replace_plot_title(std::string_view script, std::string_view plot_title)
{
    std::size_t end = 0;
    int lines = 0;
    while (lines < 6) {
        const auto lf = script.find('\n', end);
        if (lf == std::string_view::npos) break;
        end = lf + 1;
        ++lines;
    }
    std::string content;
    if (lines == 6) {
        content.assign(script.substr(0, end));
    } else if (lines == 5 && end < script.size()) {
        // A sixth line without a line end: end it, so that the title line
        // stands on its own.
        content.assign(script);
        content += "\r\n";
    } else {
        return {};
    }
    // the layout ('set title ''', A62, /, 'replot'), its field longer by the
    // title's doubled apostrophes
    content += "set title '";
    content += plot_title_field(plot_title);
    content += "\r\nreplot\r\n";
    return content;
}

std::string_view profile_data_name(char axis) { return profile_of(axis).data_file; }
std::string_view profile_script_name(char axis) { return profile_of(axis).script; }

void write_profile_lines(const Plate& plate, const CurrentGrid& g, std::span<const double> t_values, char axis,
                         ByteSink& results, ByteSink& data)
{
    static const Layout heading_x(profile_x.heading), heading_y(profile_y.heading);
    static const Layout line("(3(E15.6))");
    const std::int64_t nx = g.nx;
    const std::int64_t ny = g.ny;
    const From1<const double> t(t_values);

    results.write(axis == 'x' ? heading_x : heading_y, {});
    if (axis == 'x') {
        const std::int64_t j0 = ny / 2 + 1;
        for (std::int64_t i = 1; i <= nx; ++i) {
            const double x = node_position(i, nx, plate.lx, g.dx);
            const double analytical = plate.analytical_at_mid_height(x);
            const double numerical = t(volume_number(i, j0, nx));
            results.write(line, {x, analytical, numerical});
            data.write(line, {x, analytical, numerical});
        }
    } else {
        const std::int64_t i0 = nx / 2 + 1;
        for (std::int64_t j = 1; j <= ny; ++j) {
            const double y = node_position(j, ny, plate.ly, g.dy);
            const double analytical = plate.analytical_at_mid_width(y);
            const double numerical = t(volume_number(i0, j, nx));
            results.write(line, {y, analytical, numerical});
            data.write(line, {y, analytical, numerical});
        }
    }
}

std::string profile_script(std::string_view script, char axis, std::string_view plot_title)
{
    std::string content = replace_plot_title(script, plot_title);
    if (content.empty()) content = replace_plot_title(default_plot_header(axis), plot_title);
    return content;
}

}  // namespace placatermo
