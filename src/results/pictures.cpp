// The pictures of a run, drawn by gnuplot from one script whose data travel
// inside it (datablocks), so that no data file is left behind.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/text.hpp"
#include "results/convergence.hpp"
#include "results/results.hpp"

namespace placatermo {

namespace {

// Columns or rows drawn: every one up to this many, else evenly spaced ones
// (the first and the last always): a picture has no more pixels anyway.
constexpr std::int64_t drawn_lines = 401;

// The indices 1 ... count, or evenly spaced ones with both ends.
std::vector<std::int64_t> drawn(std::int64_t first, std::int64_t last)
{
    std::vector<std::int64_t> indices;
    const std::int64_t count = last - first + 1;
    const std::int64_t step = (count + drawn_lines - 2) / (drawn_lines - 1);
    for (std::int64_t m = first; m < last; m += std::max<std::int64_t>(step, 1)) indices.push_back(m);
    if (last >= first) indices.push_back(last);
    return indices;
}

// A map as a datablock: x, y and the value, a blank line after each row.
template <typename Value>
void datablock(std::string& out, const char* name, const std::vector<std::int64_t>& columns,
               const std::vector<std::int64_t>& rows, Value value)
{
    out += std::string("$") + name + " << EOD\n";
    for (const std::int64_t j : rows) {
        for (const std::int64_t i : columns) out += value(i, j) + "\n";
        out += "\n";
    }
    out += "EOD\n";
}

constexpr std::string_view map_settings =
    "set view map\n"
    "set size ratio -1\n"
    "set contour base\n"
    "set cntrparam levels auto 12\n"
    "set cntrlabel onecolor\n"
    "set palette rgbformulae 33,13,10\n"
    "set xlabel 'x'\n"
    "set ylabel 'y'\n"
    "unset key\n";

}  // namespace

std::string convergence_text(const ConvergenceFactor& c)
{
    if (!c.factor) return to_cp1252("fator de convergência: não calculado");
    char factor[32];
    std::snprintf(factor, sizeof factor, "%.4g", *c.factor);
    std::string text = to_cp1252("fator de convergência ") + factor + to_cp1252(" (média geométrica das ") +
                       std::to_string(c.reductions) +
                       to_cp1252(c.reductions == 1 ? " última redução)" : " últimas reduções)");
    if (!c.further_iterations)
        text += to_cp1252(", não alcança a tolerância");
    else if (*c.further_iterations > 0)
        text += to_cp1252(", ") + std::to_string(*c.further_iterations) +
                to_cp1252(*c.further_iterations == 1 ? " iteração a mais até a tolerância"
                                                     : " iterações a mais até a tolerância");
    return text;
}

std::string levels_script(std::span<const LevelNorms> levels, std::string_view cycle, std::string_view plot_title)
{
    std::string out = "reset\nset encoding cp1252\nset output 'niveis.png'\n";
    std::string plot;
    std::int32_t last = 0;
    for (std::size_t k = 0; k < levels.size(); ++k) {
        const LevelNorms& level = levels[k];
        std::string data;
        for (std::size_t n = 0; n < level.norms.size() && n < level.iterations.size(); ++n) {
            last = std::max(last, level.iterations[n]);
            if (!(level.norms[n] > 0.0) || std::isinf(level.norms[n])) continue;
            data += std::to_string(level.iterations[n]) + " " + gnuplot_number(level.norms[n]) + "\n";
        }
        if (data.empty()) continue;
        const std::string block = "$malha" + std::to_string(k + 1);
        out += block + " << EOD\n" + data + "EOD\n";
        plot += (plot.empty() ? "plot " : ", ") + block + " using 1:2 with linespoints pointtype 7 pointsize 0.5" +
                // gnuplot's eight colours come round again: later grids dashed
                (k >= 8 ? " dashtype 2" : "") + " title '" + "malha " + std::to_string(k + 1) + " (" +
                std::to_string(level.nx) + " x " + std::to_string(level.ny) + ")'";
    }
    out += "set title " + gnuplot_string(plot_title) + " . \"\\n\" . " +
           gnuplot_string(to_cp1252("norma L1 do resíduo de cada malha depois da sua suavização, ciclo ") +
                          std::string(cycle)) +
           "\n";
    out += to_cp1252("set xlabel 'ciclo (iteração externa)'\nset ylabel 'norma L1 do resíduo'\n");
    out += "set grid\nset key outside right\nset xrange [0:" + std::to_string(last + 1) + "]\n";
    if (!plot.empty()) {
        out += "set logscale y\nset format y '%.0e'\n" + plot + "\n";
    } else {
        out += to_cp1252("set label 1 'nenhuma norma positiva e finita' at graph 0.5, 0.5 center\n");
        out += "plot [0:1] [0:1] NaN notitle\n";
    }
    out += "set output\n";
    return out;
}

std::string pictures_script(const Plate& plate, const CurrentGrid& g, std::span<const double> t_values,
                            std::span<const double> ratios, double tolerance, const ErrorNorms& norms,
                            std::string_view plot_title)
{
    const std::int64_t nx = g.nx;
    const std::int64_t ny = g.ny;
    const From1<const double> t(t_values);
    const auto x_of = [&](std::int64_t i) { return node_position(i, nx, plate.lx, g.dx); };
    const auto y_of = [&](std::int64_t j) { return node_position(j, ny, plate.ly, g.dy); };

    std::string out = "set encoding cp1252\nset terminal pngcairo noenhanced size 900,700\n";

    // the history: only the ratios a logarithmic axis can show
    out += "$historico << EOD\n";
    bool any_ratio = false;
    double lowest = 0.0, highest = 0.0;
    for (std::size_t n = 0; n < ratios.size(); ++n) {
        if (!(ratios[n] > 0.0) || std::isinf(ratios[n])) continue;
        out += std::to_string(n + 1) + " " + gnuplot_number(ratios[n]) + "\n";
        lowest = any_ratio ? std::min(lowest, ratios[n]) : ratios[n];
        highest = any_ratio ? std::max(highest, ratios[n]) : ratios[n];
        any_ratio = true;
    }
    out += "EOD\n";
    // value ranges of the maps: a constant map gets a range around its value
    const auto color_range = [&](std::int64_t first_i, std::int64_t last_i, std::int64_t first_j, std::int64_t last_j,
                                 auto value) {
        double low = INFINITY, high = -INFINITY;
        for (std::int64_t j = first_j; j <= last_j; ++j)
            for (std::int64_t i = first_i; i <= last_i; ++i) {
                const double v = value(i, j);
                if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
            }
        if (!(low < high) && std::isfinite(low)) {
            const double margin = std::max(std::fabs(low) * 0.01, 1e-12);
            return "set cbrange [" + gnuplot_number(low - margin) + ":" + gnuplot_number(high + margin) + "]\n";
        }
        return std::string("set cbrange [*:*]\n");
    };
    const auto error_at = [&](std::int64_t i, std::int64_t j) {
        return t(volume_number(i, j, nx)) - plate.analytical_temperature(x_of(i), y_of(j));
    };
    datablock(out, "campo", drawn(1, nx), drawn(1, ny), [&](std::int64_t i, std::int64_t j) {
        return gnuplot_number(x_of(i)) + " " + gnuplot_number(y_of(j)) + " " +
               gnuplot_number(t(volume_number(i, j, nx)));
    });
    datablock(out, "erro", drawn(2, nx - 1), drawn(2, ny - 1), [&](std::int64_t i, std::int64_t j) {
        const double x = x_of(i), y = y_of(j);
        return gnuplot_number(x) + " " + gnuplot_number(y) + " " +
               gnuplot_number(t(volume_number(i, j, nx)) - plate.analytical_temperature(x, y));
    });

    const std::string title = gnuplot_string(plot_title);
    out += "set output 'historico.png'\nset title " + title + " . \"\\n\" . " +
           gnuplot_string(convergence_text(convergence_factor(ratios, tolerance))) + "\n";
    out += to_cp1252("set xlabel 'iteração externa'\nset ylabel 'norma L1 do resíduo / norma L1 da iteração 1'\n");
    out += "set grid\nset key top right\n";
    out += "set xrange [0:" + std::to_string(ratios.size() + 1) + "]\n";
    if (any_ratio) {
        out += "set logscale y\nset format y '%.0e'\n";
        if (!(lowest < highest))
            out += "set yrange [" + gnuplot_number(lowest / 10.0) + ":" + gnuplot_number(highest * 10.0) + "]\n";
        std::string plot =
            to_cp1252("plot $historico using 1:2 with linespoints pointtype 7 pointsize 0.6 title 'razão'");
        if (tolerance > 0.0 && std::isfinite(tolerance))
            plot +=
                to_cp1252(", " + gnuplot_number(tolerance) + " with lines dashtype 2 linewidth 2 title 'tolerância " +
                          gnuplot_number(tolerance) + "'");
        out += plot + "\n";
        out += "unset logscale y\nset format y '% h'\nset yrange [*:*]\n";
    } else {
        out += to_cp1252("set label 1 'nenhuma razão positiva e finita' at graph 0.5, 0.5 center\n");
        out += "plot [0:1] [0:1] NaN notitle\nunset label 1\n";
    }
    out += "unset grid\n";

    out += "set output 'campo.png'\nset title " + title + "\n";
    out += std::string(map_settings) + "set cblabel 'T'\n";
    // a length that is not one (zero, negative, not a number) leaves the axis
    // to gnuplot, which only warns where a range set here would stop it
    const auto axis_range = [](char axis, double length) {
        return std::string("set ") + axis + "range " +
               (length > 0.0 && std::isfinite(length) ? "[0:" + gnuplot_number(length) + "]" : "[*:*]") + "\n";
    };
    out += axis_range('x', plate.lx) + axis_range('y', plate.ly);
    out += color_range(1, nx, 1, ny, [&](std::int64_t i, std::int64_t j) { return t(volume_number(i, j, nx)); });
    out += "splot $campo using 1:2:3 with pm3d nocontours, $campo using 1:2:3 with lines nosurface linecolor 'black'\n";

    out += "set output 'erro.png'\n";
    char largest[32];
    std::snprintf(largest, sizeof largest, "%.4E", norms.max);
    out += "set title " + gnuplot_string(std::string(plot_title) + to_cp1252("  erro máximo = ") + largest) + "\n";
    out += to_cp1252("set cblabel 'T numérica - T analítica'\n");
    out += color_range(2, nx - 1, 2, ny - 1, error_at);
    if (std::isfinite(norms.max) && nx > 3 && ny > 3) {
        out +=
            "splot $erro using 1:2:3 with pm3d nocontours, $erro using 1:2:3 with lines nosurface linecolor 'black'\n";
    } else if (std::isfinite(norms.max) && nx > 2 && ny > 2) {
        // a single row or column of volumes: no surface, the values as points
        out += "plot $erro using 1:2:3 with points pointtype 5 pointsize 4 palette\n";
    } else {
        out += to_cp1252("set label 1 'erro sem valores finitos' at screen 0.5, 0.5 center\n");
        out += "unset colorbox\nplot [0:1] [0:1] NaN notitle\n";
    }
    out += "set output\n";
    return out;
}

}  // namespace placatermo
