#include "run/program.hpp"

#include <cstdio>
#include <string>

#include "drivers/drivers.hpp"
#include "report/errors.hpp"
#include "results/results.hpp"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace placatermo {

namespace {

constexpr std::string_view window_title = "PLACATERMO (Difusão de Calor Bidimensional Permanente)";

std::string number_text(int value) { return std::to_string(value < 0 ? -value : value); }

}  // namespace

FixedText<12> make_date_string(const LocalTime& time)
{
    std::string year = number_text(time.year);
    year.resize(4, ' ');  // the year as 4 characters: cut, or filled on the right
    std::string stamp = "(";
    stamp += number_text(time.day);
    stamp += '/';
    stamp += number_text(time.month);
    stamp += '/';
    stamp += year;
    stamp += ')';
    return FixedText<12>(stamp);
}

FixedText<8> make_time_string(const LocalTime& time)
{
    std::string second = number_text(time.second);
    second.resize(4, ' ');
    return FixedText<8>(number_text(time.hour) + ":" + number_text(time.minute) + ":" + second);
}

FixedText<62> make_plot_title(std::string_view title, std::string_view date_string)
{
    return FixedText<62>(std::string(trim_right(title)) + " " + std::string(trim_right(date_string)) + "'");
}

double physical_memory_bytes()
{
#ifdef _WIN32
    return 0.0;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return 0.0;
    return static_cast<double>(pages) * static_cast<double>(page_size);
#endif
}

void check_memory(const InputParameters& in, double available_bytes)
{
    const double needed = required_memory_bytes(in);
    if (available_bytes <= 0.0 || needed <= available_bytes) return;
    const auto gib = [](double bytes) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f GiB", bytes / (1024.0 * 1024.0 * 1024.0));
        return std::string(text);
    };
    const int finest = in.grid_count;
    throw FatalError("erro no arquivo \"" + std::string(input_file_name) + "\", linhas " +
                     std::to_string(in.record_line[6]) + " a " + std::to_string(in.record_line[8]) +
                     ", parâmetros \"número de malhas\" e \"número de volumes\": a malha mais fina de " +
                     std::to_string(in.grids.nx_of(finest)) + " x " + std::to_string(in.grids.ny_of(finest)) +
                     " volumes precisa de " + gib(needed) + " de memória, e esta máquina tem " + gib(available_bytes));
}

void read_input_data(RunContext& run)
{
    const std::string name(input_file_name);
    std::string bytes;
    if (!read_whole_file(name, bytes)) {
        OutputFile file(name);
        file.write(default_input_file());
        file.close();
    }
    if (!run.options.batch) run.state.command_status = run.platform.run_command(run.platform.editor_command(name));
    if (!read_whole_file(name, bytes)) {
        // Removed in the editor: it is read as an empty file.
        OutputFile file(name);
        file.close();
        bytes.clear();
    }
    run.input = parse_input_data(bytes, name);
}

void open_results_file(RunContext& run)
{
    static const Layout date_line("(/, TR5, 'Dia = ', A12, TR5, 'Hora = ', A8)");
    static const Layout table_header("(/, /, T3, 'Iteração', T14, 'Norma L1 / norma it.=1')");
    run.results = std::make_unique<OutputFile>(std::string(run.input.experiment_name.trimmed()));
    const LocalTime now = run.platform.local_time();
    run.state.date_string = make_date_string(now);
    run.state.time_string = make_time_string(now);
    run.results->write(date_line, {run.state.date_string.view(), run.state.time_string.view()});
    run.state.plot_title = make_plot_title(run.input.title.view(), run.state.date_string.view());
    write_parameter_echo(run.input, *run.results);
    run.results->write(table_header, {});
    run.results->flush();
}

void solve_plate(RunContext& run)
{
    SolutionReport report{*run.results, [&run] { return run.clock.read(); }, run.stop_requested};
    solve(run.input.solution_problem(), report, run.solution);
}

PlotProgram plot_program(RunContext& run)
{
    return [&run](std::string_view script) {
        return run_command_succeeded(run.platform, run.platform.plot_command(script)) ? 1 : 0;
    };
}

void write_results(RunContext& run)
{
    static const Layout heading("(/, /, TR30, 'TEMPERATURAS')");
    const Plate plate = run.input.plate();
    const CurrentGrid& grid = run.solution.grid;
    std::vector<double>& t = run.solution.t;
    OutputFile& results = *run.results;
    const PlotProgram plot = plot_program(run);
    fill_boundary_values(plate, grid, t);
    results.write(heading, {});
    write_temperature_field(results, t, grid.ny, grid.nx, grid.volume_count);
    run.state.command_status = write_profile_x(plate, grid, t, results, run.state.plot_title.view(), plot);
    run.state.command_status = write_profile_y(plate, grid, t, results, run.state.plot_title.view(), plot);
    run.state.numerical_mean_temperature = compare_with_analytical(plate, grid, t, results);
}

void write_processing_time(RunContext& run)
{
    static const Layout processing_time("(/, /, E20.9, ' = tempo de processamento (s)')");
    run.results->write(processing_time, {run.solution.elapsed_seconds});
}

void write_summary(RunContext& run)
{
    write_summary_file(run.input.discretization_file_name.view(), run.solution.t, run.state.numerical_mean_temperature,
                       run.solution.grid, run.input.title.view(), run.state.date_string.view());
}

void close_results_file(RunContext& run)
{
    run.results->close();
    run.results.reset();
}

void show_results(RunContext& run)
{
    if (run.options.batch) return;
    run.state.command_status =
        run.platform.run_command(run.platform.editor_command(run.input.experiment_name.trimmed()));
}

void run_program(RunContext& run)
{
    run.platform.set_window_title(window_title);
    read_input_data(run);
    check_memory(run.input, physical_memory_bytes());
    open_results_file(run);
    solve_plate(run);
    write_results(run);
    write_processing_time(run);
    write_summary(run);
    close_results_file(run);
    show_results(run);
}

}  // namespace placatermo
