// The study table: each run's values read back from its own files, the
// observed orders, estudo.csv, estudo.md and the plots.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "base/errors.hpp"
#include "grid/grid.hpp"
#include "input/input.hpp"
#include "report/output_file.hpp"
#include "report/text.hpp"
#include "studies/study.hpp"

namespace placatermo {

namespace {

std::vector<std::string_view> lines_of(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

double number(std::string_view text)
{
    const std::string value(text);
    const char* begin = value.c_str();
    while (*begin == ' ') ++begin;
    if (std::strncmp(begin, "NaN", 3) == 0) return std::nan("");
    if (std::strncmp(begin, "Infinity", 8) == 0) return INFINITY;
    if (std::strncmp(begin, "-Infinity", 9) == 0) return -INFINITY;
    return std::strtod(begin, nullptr);
}

bool contains(std::string_view line, std::string_view part) { return line.find(part) != std::string_view::npos; }

std::string g17(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string g6(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string optional_text(const std::optional<double>& value, std::string (*format)(double))
{
    return value ? format(*value) : std::string();
}

}  // namespace

StudyRow read_study_row(const StudyRun& run)
{
    StudyRow row;
    row.run = run;
    std::string bytes;
    InputParameters input;
    try {
        if (!read_whole_file((run.folder / std::string(input_file_name)).string(), bytes)) {
            row.status = "sem arquivo de entrada";
            return row;
        }
        input = parse_input_data(bytes, (run.folder / std::string(input_file_name)).string());
    } catch (const FatalError& error) {
        row.status = error.what();
        return row;
    }
    const int k = input.grid_count;
    row.grid_count = k;
    row.nx = input.grids.nx_of(k);
    row.ny = input.grids.ny_of(k);
    row.unknowns = static_cast<std::int64_t>(row.nx - 2) * (row.ny - 2);
    row.h = input.lx / static_cast<double>(row.nx - 2);
    row.solver = std::string(solver_name(input.solver()));
    row.cycle = k > 1 ? std::string(cycle_name(MultigridCycle::specified)) : "";

    std::string results;
    const auto name = run.folder / std::string(input.experiment_name.trimmed());
    try {
        if (!read_whole_file(name.string(), results)) {
            row.status = "sem resultados";
            return row;
        }
    } catch (const FatalError& error) {
        row.status = error.what();
        return row;
    }
    const auto lines = lines_of(results);
    bool history = false, finished = false;
    std::vector<double> field;
    const Plate plate = input.plate();
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        if (contains(line, "   = ciclo multigrid (--multigrid)"))
            row.cycle = std::string(trim_right(line.substr(0, 20)));
        if (contains(line, "Norma L1 / norma it.=1")) {
            history = true;
            continue;
        }
        if (history) {
            if (line.size() == 25) {
                row.history.push_back(number(line.substr(10, 15)));
                row.iterations = std::atoi(std::string(line.substr(2, 8)).c_str());
                continue;
            }
            history = false;
        }
        if (contains(line, "TEMPERATURAS")) {
            // the listing: parts of at most eight columns, ny rows each
            field.assign(static_cast<std::size_t>(row.nx) * static_cast<std::size_t>(row.ny), std::nan(""));
            std::size_t m = n + 1;
            for (int first = 0; first < row.nx; first += 8) {
                m += 2;  // the blank line and "parte"
                for (int j = 0; j < row.ny && m < lines.size(); ++j, ++m)
                    for (std::size_t c = 0; c * 15 + 15 <= lines[m].size(); ++c)
                        field[static_cast<std::size_t>(j) * static_cast<std::size_t>(row.nx) +
                              static_cast<std::size_t>(first) + c] = number(lines[m].substr(c * 15, 15));
            }
            n = m - 1;
            continue;
        }
        if (n + 3 < lines.size() && contains(line,
                                             "TEMPERATURA M\xC9"
                                             "DIA")) {
            row.mean_numerical = number(lines[n + 2].substr(0, 26));
            row.mean_analytical = number(lines[n + 3].substr(0, 26));
        }
        if (n + 3 < lines.size() && contains(line, "TAXA DE TRANSFER")) {
            row.rate_numerical = number(lines[n + 2].substr(0, 26));
            row.rate_analytical = number(lines[n + 3].substr(0, 26));
        }
        if (contains(line, " = tempo de processamento (s)")) {
            row.seconds = number(line.substr(0, 20));
            finished = true;
        }
    }
    if (!row.history.empty()) row.last_ratio = row.history.back();
    row.converged = row.iterations > 0 && row.last_ratio <= input.tolerance;
    if (!finished) {
        row.status = "incompleta";
        return row;
    }
    // the error norms of the listed field (6 decimals of the significand)
    const double dx = input.lx / static_cast<double>(row.nx - 2), dy = input.ly / static_cast<double>(row.ny - 2);
    double sum = 0.0, squares = 0.0;
    bool not_a_number = false;
    for (int j = 2; j <= row.ny - 1; ++j)
        for (int i = 2; i <= row.nx - 1; ++i) {
            const double e = std::fabs(field[static_cast<std::size_t>(volume_number(i, j, row.nx) - 1)] -
                                       plate.analytical_temperature(node_position(i, row.nx, input.lx, dx),
                                                                    node_position(j, row.ny, input.ly, dy)));
            sum += e;
            squares += e * e;
            if (std::isnan(e))
                not_a_number = true;
            else
                row.max = std::max(row.max, e);
        }
    if (not_a_number) row.max = std::nan("");
    row.l1 = sum / static_cast<double>(row.unknowns);
    row.l2 = std::sqrt(squares / static_cast<double>(row.unknowns));
    return row;
}

void observed_orders(const std::vector<StudyVariation>& variations, std::vector<StudyRow>& rows)
{
    // the varied values other than the grid's (records 6, 7 and 8) name a series
    std::map<std::vector<std::string>, std::vector<StudyRow*>> series;
    for (auto& row : rows) {
        if (row.status != "ok") continue;
        std::vector<std::string> key;
        for (std::size_t v = 0; v < variations.size(); ++v)
            if (variations[v].record < 6 || variations[v].record > 8) key.push_back(row.run.values[v]);
        series[key].push_back(&row);
    }
    const auto order = [](double coarse_error, double fine_error, double coarse_h,
                          double fine_h) -> std::optional<double> {
        if (!(coarse_error > 0.0) || !(fine_error > 0.0) || !(coarse_h > fine_h)) return std::nullopt;
        return std::log(coarse_error / fine_error) / std::log(coarse_h / fine_h);
    };
    for (auto& [key, members] : series) {
        std::sort(members.begin(), members.end(), [](const StudyRow* a, const StudyRow* b) { return a->h > b->h; });
        for (std::size_t m = 1; m < members.size(); ++m) {
            const StudyRow& c = *members[m - 1];
            StudyRow& f = *members[m];
            f.order_mean = order(std::fabs(c.mean_numerical - c.mean_analytical),
                                 std::fabs(f.mean_numerical - f.mean_analytical), c.h, f.h);
            f.order_rate = order(std::fabs(c.rate_numerical - c.rate_analytical),
                                 std::fabs(f.rate_numerical - f.rate_analytical), c.h, f.h);
            f.order_max = order(c.max, f.max, c.h, f.h);
        }
    }
}

void write_study_table(const StudyOptions& options, const std::vector<StudyRow>& rows, Platform& platform)
{
    std::vector<std::string> header = {"execucao", "pasta"};
    for (const auto& variation : options.variations) header.push_back(variation.name());
    for (const char* name : {"malhas",
                             "nx",
                             "ny",
                             "incognitas",
                             "h",
                             "solver",
                             "ciclo",
                             "iteracoes",
                             "convergiu",
                             "ultima_razao",
                             "tempo_s",
                             "tmedia_numerica",
                             "tmedia_analitica",
                             "tmedia_diferenca",
                             "q_norte_numerica",
                             "q_norte_analitica",
                             "q_norte_diferenca",
                             "erro_l1",
                             "erro_l2",
                             "erro_max",
                             "ordem_tmedia",
                             "ordem_q_norte",
                             "ordem_erro_max",
                             "estado"})
        header.emplace_back(name);
    const auto cells = [&](const StudyRow& row, std::string (*format)(double)) {
        std::vector<std::string> c = {std::to_string(row.run.number), row.run.folder.filename().string()};
        for (const auto& value : row.run.values) c.push_back(value);
        const bool ok = row.status == "ok";
        c.push_back(row.grid_count > 0 ? std::to_string(row.grid_count) : "");
        c.push_back(row.nx > 0 ? std::to_string(row.nx) : "");
        c.push_back(row.ny > 0 ? std::to_string(row.ny) : "");
        c.push_back(row.unknowns > 0 ? std::to_string(row.unknowns) : "");
        c.push_back(row.h > 0.0 ? format(row.h) : "");
        c.push_back(row.solver);
        c.push_back(row.cycle);
        c.push_back(row.iterations > 0 ? std::to_string(row.iterations) : "");
        c.push_back(row.iterations > 0 ? (row.converged ? "sim" : "nao") : "");
        c.push_back(row.iterations > 0 ? format(row.last_ratio) : "");
        for (const double value : {row.seconds, row.mean_numerical, row.mean_analytical,
                                   row.mean_numerical - row.mean_analytical, row.rate_numerical, row.rate_analytical,
                                   row.rate_numerical - row.rate_analytical, row.l1, row.l2, row.max})
            c.push_back(ok ? format(value) : "");
        c.push_back(optional_text(row.order_mean, format));
        c.push_back(optional_text(row.order_rate, format));
        c.push_back(optional_text(row.order_max, format));
        c.push_back(row.status);
        return c;
    };
    const auto csv_cell = [](const std::string& text) {
        if (text.find_first_of(",\"\n") == std::string::npos) return text;
        std::string quoted = "\"";
        for (const char ch : text) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        return quoted + "\"";
    };
    std::string csv, md;
    for (std::size_t c = 0; c < header.size(); ++c) {
        if (c > 0) csv += ',';
        csv += header[c];
        md += "| " + header[c] + " ";
    }
    csv += "\n";
    md += "|\n";
    for (std::size_t c = 0; c < header.size(); ++c) md += "|---";
    md += "|\n";
    for (const auto& row : rows) {
        const auto full = cells(row, g17);
        for (std::size_t c = 0; c < full.size(); ++c) {
            if (c > 0) csv += ',';
            csv += csv_cell(full[c]);
        }
        csv += "\n";
        for (auto cell : cells(row, g6)) {
            for (char& ch : cell)
                if (ch == '|' || ch == '\n') ch = ' ';
            md += "| " + cell + " ";
        }
        md += "|\n";
    }
    for (const auto& [name, text] : {std::pair{"estudo.csv", &csv}, std::pair{"estudo.md", &md}}) {
        OutputFile file((options.folder / name).string());
        file.write(*text);
        file.close();
    }

    // The plots: one gnuplot script with the data inside, run in the folder.
    const auto label = [&](const StudyRow& row, bool without_grid) {
        std::string text;
        for (std::size_t v = 0; v < options.variations.size(); ++v) {
            const int record = options.variations[v].record;
            if (without_grid && record >= 6 && record <= 8) continue;
            if (!text.empty()) text += ' ';
            text += options.variations[v].name();
            text += '=';
            text += row.run.values[v];
        }
        for (char& ch : text)
            if (ch == '\'' || ch == '"') ch = '`';
        return text.empty() ? std::string("todas") : text;
    };
    std::string script = "set encoding utf8\nset terminal pngcairo noenhanced size 1000,700\nset grid\n";
    script +=
        "set output 'residuos.png'\nset title 'Histórico das execuções do estudo'\nset logscale y\n"
        "set format y '%.0e'\nset xlabel 'iteração externa'\nset ylabel 'norma L1 / norma L1 da iteração 1'\n"
        "set key outside right\n";
    std::string plot;
    for (const auto& row : rows) {
        std::string data;
        for (std::size_t m = 0; m < row.history.size(); ++m)
            if (row.history[m] > 0.0 && std::isfinite(row.history[m]))
                data += std::to_string(m + 1) + " " + g17(row.history[m]) + "\n";
        if (data.empty()) continue;
        const std::string block = "$h" + std::to_string(row.run.number);
        script = block + " << EOD\n" + data + "EOD\n" + script;
        plot += (plot.empty() ? "plot " : ", ") + block + " using 1:2 with lines title " +
                gnuplot_string(label(row, false));
    }
    if (!plot.empty()) script += plot + "\n";
    script += "unset logscale\nset format y '% h'\n";

    bool grid_varies = false;
    for (const auto& variation : options.variations) grid_varies |= variation.record >= 6 && variation.record <= 8;
    if (grid_varies) {
        std::map<std::string, std::vector<const StudyRow*>> series;
        for (const auto& row : rows)
            if (row.status == "ok") series[label(row, true)].push_back(&row);
        std::string errors, times, error_plot, time_plot;
        int s = 0;
        for (auto& [name, members] : series) {
            std::sort(members.begin(), members.end(), [](const StudyRow* a, const StudyRow* b) { return a->h > b->h; });
            ++s;
            const std::string e = "$e" + std::to_string(s), t = "$t" + std::to_string(s);
            errors += e + " << EOD\n";
            times += t + " << EOD\n";
            for (const StudyRow* row : members) {
                errors += g17(row->h) + " " + g17(std::fabs(row->mean_numerical - row->mean_analytical)) + " " +
                          g17(std::fabs(row->rate_numerical - row->rate_analytical)) + " " + g17(row->max) + " " +
                          (row->order_max ? g6(*row->order_max) : std::string("-")) + "\n";
                times += std::to_string(row->unknowns) + " " + g17(row->seconds) + "\n";
            }
            errors += "EOD\n";
            times += "EOD\n";
            for (const auto& [column, what] :
                 {std::pair{2, "Tmédia"}, std::pair{3, "q norte"}, std::pair{4, "erro máx."}})
                error_plot += (error_plot.empty() ? "plot " : ", ") + e + " using 1:" + std::to_string(column) +
                              " with linespoints title " + gnuplot_string(std::string(what) + " " + name);
            error_plot += ", " + e + " using 1:4:5 with labels offset 0,1 notitle";
            time_plot +=
                (time_plot.empty() ? "plot " : ", ") + t + " using 1:2 with linespoints title " + gnuplot_string(name);
        }
        script = errors + times + script;
        script +=
            "set output 'erro_h.png'\nset title 'Erro contra h (ordem observada do erro máximo nos pontos)'\n"
            "set logscale xy\nset format y '%.0e'\nset xlabel 'h = dx da malha mais fina'\nset ylabel '|erro|'\n" +
            error_plot + "\n";
        script +=
            "set output 'tempo.png'\nset title 'Tempo de processamento contra o número de incógnitas'\n"
            "set xlabel 'incógnitas'\nset ylabel 'tempo de processamento (s)'\n" +
            time_plot + "\n";
    }
    script += "set output\n";
    if (!program_on_path(plotting_program)) {
        platform.warn("aviso: os gráficos do estudo não foram desenhados: o programa de gráficos (" +
                      std::string(plotting_program) + ") não foi encontrado");
        return;
    }
    const std::string script_name = "estudo.gnu";
    {
        OutputFile file((options.folder / script_name).string());
        file.write(script);
        file.close();
    }
    const int status = platform.run_command("cd " + quote_for_shell(options.folder.string()) + " && " +
                                            platform.plot_command(script_name));
    std::error_code error;
    std::filesystem::remove(options.folder / script_name, error);
    if (status != 0)
        platform.warn("aviso: os gráficos do estudo não foram desenhados (gnuplot terminou com o código " +
                      std::to_string(status) + ")");
}

}  // namespace placatermo
