// Centre-line profiles: results file lines, data files, plot scripts and the
// plotting program.
#include <cmath>

#include "report/output_file.hpp"
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

// Position of line `m` (1 ... count) along a centre line: the boundary at
// both ends, the volume centre in between.
double position(std::int64_t m, std::int64_t count, double length, double spacing)
{
    if (m == 1) return 0.0;
    if (m == count) return length;
    return static_cast<double>(m - 2) * spacing + 0.5 * spacing;
}

void write_profile(RunContext& run, const Profile& profile, const Layout& heading)
{
    static const Layout line("(3(E15.6))");
    const CurrentGrid& g = run.grid;
    const InputParameters& in = run.input;
    const std::int64_t nx = g.nx;
    const std::int64_t ny = g.ny;
    const bool linear = in.bc_kind == 1;
    const From1<const double> t(run.t.data());

    OutputFile data(profile.data_file);
    run.results->write(heading, {});
    if (profile.axis == 'x') {
        const std::int64_t j0 = ny / 2 + 1;
        for (std::int64_t i = 1; i <= nx; ++i) {
            const double x = position(i, nx, in.lx, g.dx);
            const double analytical = linear ? ((x * 100.0) * in.ly) * 0.5
                                             : (std::sin((x * pi) / in.lx) * std::sinh((in.ly * pi) / (in.lx * 2.0))) /
                                                   std::sinh((in.ly * pi) / in.lx);
            const double numerical = t(volume_number(i, j0, nx));
            run.results->write(line, {x, analytical, numerical});
            data.write(line, {x, analytical, numerical});
        }
    } else {
        const std::int64_t i0 = nx / 2 + 1;
        for (std::int64_t j = 1; j <= ny; ++j) {
            const double y = position(j, ny, in.ly, g.dy);
            const double analytical = linear ? ((y * 100.0) * in.lx) * 0.5
                                             : std::sinh((y * pi) / in.lx) / std::sinh((in.ly * pi) / in.lx);
            const double numerical = t(volume_number(i0, j, nx));
            run.results->write(line, {y, analytical, numerical});
            data.write(line, {y, analytical, numerical});
        }
    }
    data.close();

    std::string script;
    if (!read_whole_file(profile.script, script)) script.clear();
    std::string content = replace_plot_title(script, run.state.plot_title.view());
    if (content.empty()) content = replace_plot_title(default_plot_header(profile.axis), run.state.plot_title.view());
    OutputFile script_file(profile.script);
    script_file.write(content);
    script_file.close();

    run.state.command_status = run_command_succeeded(run.platform, run.platform.plot_command(profile.script)) ? 1 : 0;
}

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

std::string replace_plot_title(std::string_view script, std::string_view plot_title)
{
    static const Layout title_lines("('set title ''', A62, /, 'replot')");
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
    const Value title[] = {plot_title};
    title_lines.format(content, title);
    return content;
}

void write_profile_x(RunContext& run)
{
    static const Layout heading(profile_x.heading);
    write_profile(run, profile_x, heading);
}

void write_profile_y(RunContext& run)
{
    static const Layout heading(profile_y.heading);
    write_profile(run, profile_y, heading);
}

}  // namespace placatermo
