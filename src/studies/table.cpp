// The study table: each run's values read back from its own files, the
// observed orders, estudo.csv and estudo.md.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <new>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "grid/grid.hpp"
#include "input/input.hpp"
#include "studies/study_parts.hpp"

namespace placatermo {

using namespace study_parts;

std::string study_parts::all_digits(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string study_parts::six_digits(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

namespace {

std::string optional_text(const std::optional<double>& value, std::string (*format)(double))
{
    return value ? format(*value) : std::string();
}

std::string cell(const std::string& value, std::string (*)(double)) { return value; }
std::string cell(std::int32_t value, std::string (*)(double)) { return value > 0 ? std::to_string(value) : ""; }
std::string cell(bool value, std::string (*)(double)) { return value ? "sim" : "nao"; }
std::string cell(double value, std::string (*format)(double)) { return format(value); }
std::string cell(const std::optional<double>& value, std::string (*format)(double))
{
    return optional_text(value, format);
}
// the record's fields that the table leaves out
template <class Value>
std::string cell(const Value&, std::string (*)(double))
{
    return {};
}

// The columns after the run's number, folder and varied values, as
// `add(name, cell)`: the record's fields that the table shows, with what the
// study adds after some (the finest grid after the grid count, the last
// ratio, the differences from the analytical values), and the observed
// orders before the status.
template <class Add>
void each_column(const StudyRow& row, std::string (*format)(double), Add&& add)
{
    const RunRecord& r = row.record;
    const bool ok = row.status == "ok", iterated = r.iterations > 0;
    const auto whole = [](std::int64_t n) { return n > 0 ? std::to_string(n) : std::string(); };
    std::string order_of_mean, order_of_rate, order_of_max;
    for_each_record_field(r, [&](const RecordField& f, const auto& value) {
        using enum RecordColumn;
        const auto is = [&](const auto& member) {
            return static_cast<const void*>(&value) == static_cast<const void*>(&member);
        };
        if (f.shown == none) return;
        if (f.shown == row_status) {
            add("ordem_" + order_of_mean, optional_text(row.order_mean, format));
            add("ordem_" + order_of_rate, optional_text(row.order_rate, format));
            add("ordem_" + order_of_max, optional_text(row.order_max, format));
            add(f.column, row.status);
            return;
        }
        const bool shown =
            f.shown == always || (f.shown == once_iterated && iterated) || (f.shown == when_complete && ok);
        add(f.column, shown ? cell(value, format) : std::string());
        if (is(r.grid_count)) {
            using Grids = RecordGrids<const std::vector<std::int32_t>>;
            add(Grids::nx_key, whole(row.nx));
            add(Grids::ny_key, whole(row.ny));
            add("incognitas", whole(row.unknowns));
            add("h", row.h > 0.0 ? format(row.h) : "");
        } else if (is(r.converged)) {
            add("ultima_razao", iterated ? format(r.history.empty() ? 0.0 : r.history.back()) : "");
        } else if (is(r.mean_analytical)) {
            order_of_mean = f.within;
            add(order_of_mean + "_diferenca", ok ? format(r.mean_numerical - r.mean_analytical) : "");
        } else if (is(r.rate_analytical)) {
            order_of_rate = f.within;
            add(order_of_rate + "_diferenca", ok ? format(r.rate_numerical - r.rate_analytical) : "");
        } else if (is(r.error_max)) {
            order_of_max = f.column;
        }
    });
}

}  // namespace

namespace {

// The row from the run's input and record; what is missing or wrong throws a
// FatalError with the row's status.
void fill_row(StudyRow& row, const std::string* expected_input)
{
    const StudyRun& run = row.run;
    namespace fs = std::filesystem;
    const std::string input_name = (run.folder / std::string(input_file_name)).string();
    std::string bytes;
    if (!read_run_input(input_name, bytes)) {
        // a run that a stop left out has no folder
        std::error_code error;
        throw FatalError(std::filesystem::exists(run.folder, error) ? "sem arquivo de entrada" : "sem resultados");
    }
    const InputParameters input = parse_input_data(bytes, input_name);
    const int k = input.grid_count;
    row.record.grid_count = k;
    row.nx = input.grids.nx_of(k);
    row.ny = input.grids.ny_of(k);
    row.unknowns = static_cast<std::int64_t>(row.nx - 2) * (row.ny - 2);
    row.h = input.lx / static_cast<double>(row.nx - 2);
    row.record.solver = std::string(solver_name(input.solver()));
    const std::string_view results = input.experiment_name.trimmed();
    for (const std::string_view name : {results, input.discretization_file_name.trimmed()})
        if (!stays_in_run_folder(name))
            throw FatalError("o arquivo \"" + cp1252_to_utf8(name) + "\" da entrada sairia da pasta da execução");
    const fs::path record_name = run.folder / record_file_name(results, input.discretization_file_name.trimmed());
    std::error_code error;
    const auto size = fs::file_size(record_name, error);
    if (error) {
        if (fs::exists(run.folder / std::string(results), error))
            throw FatalError("incompleta (sem o registro " + record_name.filename().string() + ")");
        throw FatalError("sem resultados");
    }
    if (size > largest_record_bytes)
        throw FatalError("registro " + record_name.filename().string() + " grande demais (" + std::to_string(size) +
                         " bytes)");
    std::string text;
    read_whole_file(record_name.string(), text);
    RunRecord record;
    try {
        record = parse_run_record(text);
    } catch (const FatalError& failure) {
        throw FatalError(record_name.filename().string() + ": " + failure.what());
    }
    if (record.input_hash != bytes_hash(bytes))
        throw FatalError("o registro " + record_name.filename().string() + " não é da entrada que está na pasta");
    if (record.status != "completa") throw FatalError("registro com estado \"" + record.status + "\"");
    if (expected_input != nullptr && bytes != *expected_input)
        throw FatalError("a entrada " + std::string(input_file_name) +
                         " da pasta não é a que o estudo deu a esta execução (mudada depois, ou a pasta de outra)");
    row.record = std::move(record);
}

}  // namespace

bool read_run_input(const std::filesystem::path& name, std::string& bytes)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (fs::exists(status) && !fs::is_regular_file(status))
        throw FatalError("o arquivo de entrada " + name.filename().string() + " não é um arquivo comum");
    if (fs::is_regular_file(status)) {
        const auto size = fs::file_size(name, error);
        if (!error && size > largest_record_bytes)
            throw FatalError("o arquivo de entrada " + name.filename().string() + " é grande demais (" +
                             std::to_string(size) + " bytes)");
    }
    return read_whole_file(name.string(), bytes);
}

StudyRow read_study_row(const StudyRun& run, const std::string* expected_input)
{
    StudyRow row;
    row.run = run;
    try {
        fill_row(row, expected_input);
    } catch (const FatalError& error) {
        row.status = error.what();
    } catch (const std::bad_alloc&) {
        row.status = "memória insuficiente para ler o registro";
    } catch (const std::exception&) {
        row.status = "não foi possível ler os arquivos da execução";
    }
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
            const RunRecord &cr = c.record, &fr = f.record;
            f.order_mean = order(std::fabs(cr.mean_numerical - cr.mean_analytical),
                                 std::fabs(fr.mean_numerical - fr.mean_analytical), c.h, f.h);
            f.order_rate = order(std::fabs(cr.rate_numerical - cr.rate_analytical),
                                 std::fabs(fr.rate_numerical - fr.rate_analytical), c.h, f.h);
            f.order_max = order(cr.error_max, fr.error_max, c.h, f.h);
        }
    }
}

StudyTableOutcome write_study_table(const StudyOptions& options, const std::vector<StudyRow>& rows, Platform& platform)
{
    std::vector<std::string> header = {"execucao", "pasta"};
    for (const auto& variation : options.variations) header.push_back(variation.name());
    each_column(StudyRow{}, six_digits, [&](std::string name, std::string) { header.push_back(std::move(name)); });
    const auto cells = [&](const StudyRow& row, std::string (*format)(double)) {
        std::vector<std::string> c = {std::to_string(row.run.number), row.run.folder.filename().string()};
        for (const auto& value : row.run.values) c.push_back(value);
        each_column(row, format, [&](std::string, std::string cell) { c.push_back(std::move(cell)); });
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
        const auto full = cells(row, all_digits);
        for (std::size_t c = 0; c < full.size(); ++c) {
            if (c > 0) csv += ',';
            csv += csv_cell(full[c]);
        }
        csv += "\n";
        for (auto cell : cells(row, six_digits)) {
            for (char& ch : cell)
                if (ch == '|' || ch == '\n') ch = ' ';
            md += "| " + cell + " ";
        }
        md += "|\n";
    }
    // whole or not at all; a table that cannot be written (a full disk) goes
    // to standard output instead
    for (const auto& [name, text] : {std::pair{"estudo.csv", &csv}, std::pair{"estudo.md", &md}}) {
        try {
            write_file_atomically((options.folder / name).string(), *text);
        } catch (const FatalError& error) {
            platform.warn(std::string("aviso: ") + error.what() + "; a tabela vai na saída padrão");
            std::fputs(csv.c_str(), stdout);
            std::fflush(stdout);
            return {false, false};
        }
    }

    return {true, draw_study_plots(options, rows, platform)};
}

}  // namespace placatermo
