// The study's plots: one gnuplot script with the data inside (the history
// of every run, and with the grid varied the errors and times against h),
// drawn in a folder of its own and moved in when whole.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "platform/output_file.hpp"
#include "results/picture_check.hpp"
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

// Runs `script` in a folder of its own inside the study folder (the plotting
// program ends with 0 after a failed write, and a picture cut short must not
// take the place of the earlier one), then moves each of `pictures` that is
// whole into the study folder. False when some picture is not, after saying
// which and why.
bool draw_study_pictures(const std::filesystem::path& folder, const std::string& script,
                         const std::vector<std::string>& pictures, Platform& platform)
{
    namespace fs = std::filesystem;
    const fs::path drawing = folder / std::string(study_pictures_folder);
    const std::string script_name = "estudo.gnu";
    std::error_code ignored;
    const auto not_drawn = [&](const std::string& why) {
        fs::remove_all(drawing, ignored);
        platform.warn("aviso: os gráficos do estudo não foram desenhados: " + why);
        return pictures.empty();
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
    const int status =
        platform.run_command("cd " + quote_for_shell(drawing.string()) + " && " + platform.plot_command(script_name));
    if (status != 0)
        platform.warn("aviso: os gráficos do estudo não foram desenhados (gnuplot terminou com o código " +
                      std::to_string(status) + ")");
    bool all_whole = true;
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
    fs::remove_all(drawing, ignored);
    return all_whole;
}

// Whether a variation is of a grid size (records 6, 7 and 8).
bool of_the_grid(const StudyVariation& variation) { return variation.record >= 6 && variation.record <= 8; }

// The name of a row's line: its varied values (without the grid's when the
// lines are drawn against h), "todas" when there are none.
std::string line_label(const StudyOptions& options, const StudyRow& row, bool without_grid)
{
    std::string text;
    for (std::size_t v = 0; v < options.variations.size(); ++v) {
        if (without_grid && of_the_grid(options.variations[v])) continue;
        if (!text.empty()) text += ' ';
        text += options.variations[v].name();
        text += '=';
        text += row.run.values[v];
    }
    for (char& ch : text)
        if (ch == '\'' || ch == '"') ch = '`';
    return text.empty() ? std::string("todas") : text;
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
    for (const auto& row : rows) {
        std::string data;
        const std::vector<double>& history = row.record.history;
        for (std::size_t m = 0; m < history.size(); ++m)
            if (history[m] > 0.0 && std::isfinite(history[m]))
                data += std::to_string(m + 1) + " " + all_digits(history[m]) + "\n";
        if (data.empty()) continue;
        const std::string block = "$h" + std::to_string(row.run.number);
        // the later runs' blocks first
        part.data = block + " << EOD\n" + data + "EOD\n" + part.data;
        plot += (plot.empty() ? "plot " : ", ") + block + " using 1:2 with lines title " +
                gnuplot_string(line_label(options, row, false));
    }
    if (!plot.empty()) part.commands = plot + "\n";
    return part;
}

// erro_h.png and tempo.png: a line for the complete rows of each set of the
// other values, the coarsest grid first; no commands when no line has two
// grid sizes.
ScriptPart refinement_plots(const StudyOptions& options, const std::vector<StudyRow>& rows)
{
    if (std::none_of(options.variations.begin(), options.variations.end(), of_the_grid)) return {};
    std::map<std::string, std::vector<const StudyRow*>> series;
    for (const auto& row : rows)
        if (row.status == "ok") series[line_label(options, row, true)].push_back(&row);
    // the plots against h need two grid sizes somewhere: with one the
    // plotting program only says, in English, that the range is empty
    bool refined = false;
    for (const auto& [name, members] : series)
        for (const StudyRow* row : members) refined |= row->h != members.front()->h;
    if (!refined) return {};
    std::string errors, times, error_plot, time_plot;
    int s = 0;
    for (auto& [name, members] : series) {
        std::sort(members.begin(), members.end(), [](const StudyRow* a, const StudyRow* b) { return a->h > b->h; });
        ++s;
        const std::string e = "$e" + std::to_string(s), t = "$t" + std::to_string(s);
        errors += e + " << EOD\n";
        times += t + " << EOD\n";
        for (const StudyRow* row : members) {
            const RunRecord& r = row->record;
            errors += all_digits(row->h) + " " + all_digits(std::fabs(r.mean_numerical - r.mean_analytical)) + " " +
                      all_digits(std::fabs(r.rate_numerical - r.rate_analytical)) + " " + all_digits(r.error_max) +
                      " " + (row->order_max ? six_digits(*row->order_max) : std::string("-")) + "\n";
            times += std::to_string(row->unknowns) + " " + all_digits(r.seconds) + "\n";
        }
        errors += "EOD\n";
        times += "EOD\n";
        for (const auto& [column, what] : {std::pair{2, "Tmédia"}, std::pair{3, "q norte"}, std::pair{4, "erro máx."}})
            error_plot += (error_plot.empty() ? "plot " : ", ") + e + " using 1:" + std::to_string(column) +
                          " with linespoints title " + gnuplot_string(std::string(what) + " " + name);
        error_plot += ", " + e + " using 1:4:5 with labels offset 0,1 notitle";
        time_plot +=
            (time_plot.empty() ? "plot " : ", ") + t + " using 1:2 with linespoints title " + gnuplot_string(name);
    }
    return {errors + times,
            "set output 'erro_h.png'\nset title 'Erro contra h (ordem observada do erro máximo nos pontos)'\n"
            "set logscale xy\nset format y '%.0e'\nset xlabel 'h = dx da malha mais fina'\nset ylabel '|erro|'\n" +
                error_plot +
                "\n"
                "set output 'tempo.png'\nset title 'Tempo de processamento contra o número de incógnitas'\n"
                "set xlabel 'incógnitas'\nset ylabel 'tempo de processamento (s)'\n" +
                time_plot + "\n"};
}

}  // namespace

namespace study_parts {

bool draw_study_plots(const StudyOptions& options, const std::vector<StudyRow>& rows, Platform& platform)
{
    const ScriptPart history = history_plot(options, rows), refinement = refinement_plots(options, rows);
    const std::string script =
        refinement.data + history.data +
        "set encoding utf8\nset terminal pngcairo noenhanced size 1000,700\nset grid\n"
        "set output 'residuos.png'\nset title 'Histórico das execuções do estudo'\nset logscale y\n"
        "set format y '%.0e'\nset xlabel 'iteração externa'\nset ylabel 'norma L1 / norma L1 da iteração 1'\n"
        "set key outside right\n" +
        history.commands + "unset logscale\nset format y '% h'\n" + refinement.commands + "set output\n";
    if (!program_on_path(plotting_program)) {
        platform.warn("aviso: os gráficos do estudo não foram desenhados: o programa de gráficos (" +
                      std::string(plotting_program) + ") não foi encontrado: " + std::string(plotting_program_remedy));
        return true;
    }
    std::vector<std::string> pictures;
    if (!history.commands.empty()) pictures.emplace_back("residuos.png");
    if (!refinement.commands.empty()) pictures.insert(pictures.end(), {"erro_h.png", "tempo.png"});
    return draw_study_pictures(options.folder, script, pictures, platform);
}

}  // namespace study_parts

}  // namespace placatermo
