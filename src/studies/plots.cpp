// The study's plots: one gnuplot script with the data inside (the history
// of every run, and with the grid varied the errors and times against h),
// drawn in a folder of its own and moved in when whole, then kept beside
// the pictures.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "drivers/drivers.hpp"
#include "grid/plate.hpp"
#include "platform/output_file.hpp"
#include "results/picture_check.hpp"
#include "solvers/solver_kind.hpp"
#include "studies/study_parts.hpp"

namespace placatermo {

using namespace study_parts;

namespace {

// What keeps a picture the plotting program was to draw from counting as
// drawn; empty when it is whole.
std::string picture_fault(const std::filesystem::path& name)
{
    std::string bytes;
    try {
        if (!read_whole_file(name.string(), bytes)) return "o gnuplot não gravou o arquivo";
    } catch (const FatalError& failure) {
        return failure.what();
    }
    if (png_is_whole(bytes)) return {};
    if (bytes.empty()) return "o arquivo que o gnuplot gravou está vazio";
    return "o arquivo que o gnuplot gravou está incompleto (" + std::to_string(bytes.size()) + " bytes)";
}

// Draws `script` in a folder of its own inside the study folder (the
// plotting program ends with 0 after a failed write, and a picture cut short
// must not take the place of the earlier one), then moves each of `pictures`
// that is whole into the study folder, and the script beside them, for the
// user to restyle and draw again. The script is written whole in that folder
// of the study's own and renamed into place: never through a link, never in
// part. False when some picture or the script is not in place, after saying
// which and why; without the plotting program only the script.
bool draw_study_pictures(const std::filesystem::path& folder, const std::string& script,
                         const std::vector<std::string>& pictures, Platform& platform)
{
    namespace fs = std::filesystem;
    const fs::path drawing = folder / std::string(study_pictures_folder);
    const std::string script_name(study_script_file);
    std::error_code ignored;
    const auto not_drawn = [&](const std::string& why) {
        fs::remove_all(drawing, ignored);
        platform.warn("aviso: os gráficos do estudo não foram desenhados: " + why);
        return false;
    };
    // what a study killed while drawing left there goes first
    std::error_code error;
    fs::remove_all(drawing, error);
    if (!error) fs::create_directory(drawing, error);
    if (error)
        return not_drawn("não foi possível criar a pasta \"" + drawing.string() + "\": " + system_error_text(error));
    try {
        OutputFile file((drawing / script_name).string());
        file.write(script);
        file.close();
    } catch (const FatalError& failure) {
        return not_drawn(failure.what());
    }
    bool all_whole = true;
    if (!program_on_path(plotting_program)) {
        platform.warn("aviso: os gráficos do estudo não foram desenhados: o programa de gráficos (" +
                      std::string(plotting_program) + ") não foi encontrado: " + std::string(plotting_program_remedy));
    } else {
        const int status = platform.run_command("cd " + quote_for_shell(drawing.string()) + " && " +
                                                platform.plot_command(script_name));
        if (status != 0)
            platform.warn("aviso: os gráficos do estudo não foram desenhados (gnuplot terminou com o código " +
                          std::to_string(status) + ")");
        for (const auto& picture : pictures) {
            std::string fault = picture_fault(drawing / picture);
            if (fault.empty()) {
                fs::rename(drawing / picture, folder / picture, error);
                if (error) fault = "não foi possível pô-lo na pasta do estudo: " + system_error_text(error);
            }
            if (fault.empty()) continue;
            all_whole = false;
            const bool earlier = fs::exists(fs::symlink_status(folder / picture, ignored));
            platform.warn("aviso: o gráfico " + picture + " do estudo não foi desenhado: " + fault +
                          (earlier ? "; fica o anterior" : ""));
        }
    }
    fs::rename(drawing / script_name, folder / script_name, error);
    if (error) {
        all_whole = false;
        platform.warn("aviso: o script dos gráficos " + script_name +
                      " não foi posto na pasta do estudo: " + system_error_text(error));
    }
    fs::remove_all(drawing, ignored);
    return all_whole;
}

// Whether a variation is of a grid size (records 6, 7 and 8).
bool of_the_grid(const StudyVariation& variation) { return variation.record >= 6 && variation.record <= 8; }

// An integer value as it stands in the input, when it is one.
std::optional<long> whole_value(const std::string& text)
{
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The short name of a varied value in the pictures' keys.
std::string value_label(const StudyVariation& variation, const std::string& value)
{
    switch (variation.record) {
    case 0:
        if (const auto cycle = cycle_from_name(value))
            switch (*cycle) {
            case MultigridCycle::specified: return "ciclo especificado";
            case MultigridCycle::textbook: return "ciclo clássico";
            case MultigridCycle::fast: return "ciclo rápido";
            }
        return "ciclo " + value;
    case 4: return "Lx = " + value;
    case 5: return "Ly = " + value;
    case 9: return "tol. " + value;
    case 10: return "máx. " + value + " it.";
    case 11:
        if (const auto number = whole_value(value))
            return std::string(solver_name(solver_kind_from_input(static_cast<std::int32_t>(*number))));
        return "solver " + value;
    case 12: return "tol. MSI " + value;
    case 13: return value + (value == "1" ? " it. interna" : " it. internas");
    case 14: return "ω = " + value;
    case 15:
        if (const auto number = whole_value(value))
            return "c.c. " + std::string(boundary_name(boundary_kind_from_input(static_cast<std::int32_t>(*number))));
        return "c.c. " + value;
    default: return "R" + std::to_string(variation.record) + " = " + value;
    }
}

// The pictures' colours, in an order where neighbours differ, and their
// point types; beyond them the dashes change.
constexpr const char* curve_colours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2",
                                         "#7f7f7f", "#bcbd22", "#17becf", "#393b79", "#e7ba52", "#637939", "#ad494a",
                                         "#3182bd", "#31a354", "#756bb1", "#000000", "#fd8d3c", "#843c39"};
constexpr int curve_points[] = {7, 5, 9, 11, 13, 1, 2, 3, 6, 4, 8, 10, 12, 14, 15};

std::string curve_colour(std::size_t curve)
{
    return std::string("rgb '") + curve_colours[curve % std::size(curve_colours)] + "'";
}

std::string curve_style(std::size_t curve)
{
    return "lc " + curve_colour(curve) + " dt " + std::to_string(1 + curve / std::size(curve_colours) % 5) + " pt " +
           std::to_string(curve_points[curve % std::size(curve_points)]);
}

// The terminal and the key of a picture with these curve titles: the key
// below the plot in as many columns as fit its width, the picture taller for
// every row of it.
std::string terminal_and_key(const std::vector<std::string>& titles)
{
    // about what gnuplot takes for a key entry with the default font
    constexpr int char_width = 10, sample_width = 80, plot_height = 640, row_height = 22;
    std::size_t longest = 1;
    for (const auto& title : titles) {
        std::size_t characters = 0;
        for (const char ch : title) characters += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
        longest = std::max(longest, characters);
    }
    const int entry = static_cast<int>(longest) * char_width + sample_width;
    // wider when the names are so long that a key of many would be one column
    const int width = titles.size() > 8 ? std::clamp(2 * entry + 40, 1000, 1600) : 1000;
    const std::size_t columns = std::clamp<std::size_t>(static_cast<std::size_t>((width - 40) / entry), 1,
                                                        std::max<std::size_t>(titles.size(), 1));
    const std::size_t rows = (titles.size() + columns - 1) / columns;
    return "set terminal pngcairo noenhanced size " + std::to_string(width) + "," +
           std::to_string(plot_height + static_cast<int>(rows) * row_height) +
           "\nset key outside below center horizontal Left reverse height 1 maxcols " + std::to_string(columns) + "\n";
}

// The errors of erro_h.png, in the columns 2, 3 and 4 of its data.
constexpr const char* error_quantities[] = {"Tmédia", "q norte", "erro máx."};

// A step between x tics that leaves at most about eight of them up to `last`.
long tic_step(long last)
{
    long step = 1;
    for (;;) {
        for (const long factor : {1L, 2L, 5L})
            if (last / (step * factor) <= 8) return step * factor;
        step *= 10;
    }
}

// A part of the script: its data blocks (which go before every command) and
// its commands.
struct ScriptPart {
    std::string data, commands;
};

// residuos.png: each run's history; no commands when no run has one.
ScriptPart history_plot(const StudyOptions& options, const std::vector<StudyRow>& rows)
{
    ScriptPart part;
    std::string plot;
    std::vector<std::string> titles;
    std::size_t longest = 0;
    for (const auto& row : rows) {
        std::string data;
        const std::vector<double>& history = row.record.history;
        for (std::size_t m = 0; m < history.size(); ++m)
            if (history[m] > 0.0 && std::isfinite(history[m]))
                data += std::to_string(m + 1) + " " + all_digits(history[m]) + "\n";
        if (data.empty()) continue;
        longest = std::max(longest, history.size());
        const std::string block = "$h" + std::to_string(row.run.number);
        // the later runs' blocks first
        part.data = block + " << EOD\n" + data + "EOD\n" + part.data;
        std::string title = study_plot_label(options.variations, row, false);
        if (title.empty()) title = "execução " + std::to_string(row.run.number);
        // a point every tenth of the history tells the lines apart without colour
        plot += (plot.empty() ? "plot " : ", ") + block + " using 1:2 with linespoints " + curve_style(titles.size()) +
                " pi " + std::to_string(std::max<std::size_t>(1, history.size() / 10)) + " title " +
                gnuplot_string(title);
        titles.push_back(std::move(title));
    }
    if (plot.empty()) return part;
    part.commands = terminal_and_key(titles) +
                    "set output 'residuos.png'\nset title 'Histórico das execuções do estudo'\nset logscale y\n"
                    "set format y '%.0e'\nset xtics " +
                    std::to_string(tic_step(static_cast<long>(longest))) +
                    "\nset xlabel 'iteração externa'\nset ylabel 'norma L1 / norma L1 da iteração 1'\n" + plot +
                    "\nunset logscale\nset xtics autofreq\nset format y '% h'\n";
    return part;
}

// erro_h.png and tempo.png: a line for the complete rows of each set of the
// other values, the coarsest grid first; no commands when no line has two
// grid sizes.
ScriptPart refinement_plots(const StudyOptions& options, const std::vector<StudyRow>& rows)
{
    if (std::none_of(options.variations.begin(), options.variations.end(), of_the_grid)) return {};
    // the other values name a series, as they do for the observed orders
    std::map<std::vector<std::string>, std::vector<const StudyRow*>> series;
    for (const auto& row : rows) {
        if (row.status != "ok") continue;
        std::vector<std::string> key;
        for (std::size_t v = 0; v < options.variations.size(); ++v)
            if (!of_the_grid(options.variations[v])) key.push_back(row.run.values[v]);
        series[key].push_back(&row);
    }
    // the plots against h need two grid sizes somewhere: with one the
    // plotting program only says, in English, that the range is empty
    bool refined = false;
    for (const auto& [key, members] : series)
        for (const StudyRow* row : members) refined |= row->h != members.front()->h;
    if (!refined) return {};
    std::string errors, times, error_plot, error_key, time_plot;
    std::vector<std::string> error_titles, time_titles;
    bool timed = false;
    std::size_t s = 0;
    for (auto& [key, members] : series) {
        std::sort(members.begin(), members.end(), [](const StudyRow* a, const StudyRow* b) { return a->h > b->h; });
        const std::string name = study_plot_label(options.variations, *members.front(), true);
        const std::string style = curve_style(s);
        ++s;  // the series' blocks from 1
        const std::string e = "$e" + std::to_string(s), t = "$t" + std::to_string(s);
        errors += e + " << EOD\n";
        times += t + " << EOD\n";
        for (const StudyRow* row : members) {
            const RunRecord& r = row->record;
            errors += all_digits(row->h) + " " + all_digits(std::fabs(r.mean_numerical - r.mean_analytical)) + " " +
                      all_digits(std::fabs(r.rate_numerical - r.rate_analytical)) + " " + all_digits(r.error_max) +
                      " " + (row->order_max ? study_order_label(*row->order_max) : std::string("-")) + "\n";
            // a run too short for the clock has no place on a logarithmic scale
            if (r.seconds > 0.0) {
                times += std::to_string(row->unknowns) + " " + all_digits(r.seconds) + "\n";
                timed = true;
            }
        }
        errors += "EOD\n";
        times += "EOD\n";
        // the series by colour, the quantity by the line's dashes and points;
        // the key names each once
        for (std::size_t q = 0; q < std::size(error_quantities); ++q)
            error_plot += (error_plot.empty() ? "plot " : ", ") + e + " using 1:" + std::to_string(q + 2) +
                          " with linespoints lc " + curve_colour(s - 1) + " dt " + std::to_string(q + 1) + " pt " +
                          std::to_string(curve_points[q]) + " notitle";
        error_plot += ", " + e + " using 1:4:(strcol(5) eq '-' ? '' : strcol(5)) with labels offset 0,-1 tc " +
                      curve_colour(s - 1) + " notitle";
        if (!name.empty()) {
            error_key += ", NaN with lines lc " + curve_colour(s - 1) + " lw 2 title " + gnuplot_string(name);
            error_titles.push_back(name);
        }
        const std::string time_title = name.empty() ? std::string("execuções") : name;
        time_plot += (time_plot.empty() ? "plot " : ", ") + t + " using 1:2 with points " + style + " ps 1.5 title " +
                     gnuplot_string(time_title);
        time_titles.push_back(time_title);
    }
    for (std::size_t q = 0; q < std::size(error_quantities); ++q) {
        error_key += ", NaN with linespoints lc rgb 'black' dt " + std::to_string(q + 1) + " pt " +
                     std::to_string(curve_points[q]) + " title " + gnuplot_string(error_quantities[q]);
        error_titles.emplace_back(error_quantities[q]);
    }
    std::string commands = terminal_and_key(error_titles) +
                           "set output 'erro_h.png'\nset title 'Erro contra h (ordem observada do erro máximo nos "
                           "pontos)'\nset logscale xy\nset format y '%.0e'\nset xlabel 'h = dx da malha mais fina'\n"
                           "set ylabel '|erro|'\n" +
                           error_plot + error_key + "\n";
    // each run timed once: on logarithmic scales a power of the unknowns is a
    // line, and a short run's noise stays a point off it, not a jump
    if (timed)
        commands += terminal_and_key(time_titles) +
                    "set output 'tempo.png'\nset title 'Tempo de processamento contra o número de incógnitas "
                    "(escalas logarítmicas, uma execução por ponto)'\nset format x '%.0f'\nset format y '%g'\n"
                    "set xlabel 'incógnitas'\nset ylabel 'tempo de processamento (s)'\n" +
                    time_plot + "\n";
    return {errors + (timed ? times : std::string()), commands};
}

}  // namespace

namespace study_parts {

std::string study_plot_label(const std::vector<StudyVariation>& variations, const StudyRow& row, bool without_grid)
{
    std::string text;
    const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    // one value is no variation
    const auto varied = [](const StudyVariation& variation) { return variation.values.size() > 1; };
    bool grid_shown = false;
    for (std::size_t v = 0; v < variations.size(); ++v) {
        const StudyVariation& variation = variations[v];
        if (!varied(variation)) continue;
        if (!of_the_grid(variation)) {
            add(value_label(variation, row.run.values[v]));
            continue;
        }
        if (without_grid || grid_shown) continue;
        grid_shown = true;
        // the finest grid's size, as the run's grids give it, else as the values say
        std::string nx = row.nx > 0 ? std::to_string(row.nx) : "", ny = row.ny > 0 ? std::to_string(row.ny) : "";
        std::string count;
        for (std::size_t w = 0; w < variations.size(); ++w) {
            if (variations[w].record == 7 && nx.empty()) nx = row.run.values[w];
            if (variations[w].record == 8 && ny.empty()) ny = row.run.values[w];
            if (variations[w].record == 6 && varied(variations[w])) count = row.run.values[w];
        }
        if (!nx.empty() || !ny.empty()) add("malha " + (nx.empty() ? "?" : nx) + " × " + (ny.empty() ? "?" : ny));
        if (!count.empty()) add(count + (count == "1" ? " malha" : " malhas"));
    }
    for (char& ch : text)
        if (ch == '\'' || ch == '"') ch = '`';
    return text;
}

std::string study_order_label(double order)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.2f", order);
    return text;
}

StudyPlotScript study_plot_script(const StudyOptions& options, const std::vector<StudyRow>& rows)
{
    const ScriptPart history = history_plot(options, rows), refinement = refinement_plots(options, rows);
    StudyPlotScript plots;
    if (!history.commands.empty()) plots.pictures.emplace_back("residuos.png");
    if (!refinement.commands.empty()) plots.pictures.emplace_back("erro_h.png");
    if (refinement.commands.find("'tempo.png'") != std::string::npos) plots.pictures.emplace_back("tempo.png");
    if (plots.pictures.empty()) return plots;
    // run from the study folder (`gnuplot estudo.gnu`) it draws there
    plots.script = "# Os gráficos do estudo: gnuplot " + std::string(study_script_file) +
                   ", nesta pasta, desenha-os de novo.\n" + refinement.data + history.data +
                   "set encoding utf8\nset grid\n" + history.commands + refinement.commands + "set output\n";
    return plots;
}

bool draw_study_plots(const StudyOptions& options, const std::vector<StudyRow>& rows, Platform& platform)
{
    const StudyPlotScript plots = study_plot_script(options, rows);
    // nothing to draw leaves the earlier pictures and their script
    if (plots.pictures.empty()) return true;
    return draw_study_pictures(options.folder, plots.script, plots.pictures, platform);
}

}  // namespace study_parts

}  // namespace placatermo
