#include "experiment/files.hpp"

#include <cstdlib>

#include "input/input.hpp"

namespace placatermo {

namespace {

std::string number_text(int value) { return std::to_string(value < 0 ? -value : value); }

// Receives bytes and keeps none.
class NoSink final : public ByteSink {
public:
    using ByteSink::write;
    void write(std::string_view) override {}
};

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

RunStamps run_stamps(const LocalTime& now, const InputParameters& input)
{
    RunStamps stamps{make_date_string(now), make_time_string(now), {}};
    stamps.plot_title = make_plot_title(input.title.view(), stamps.date.view());
    return stamps;
}

std::string run_title(const InputParameters& input, const RunStamps& stamps)
{
    return std::string(input.title.trimmed()) + " " + std::string(stamps.date.trimmed());
}

std::string pictures_title(const InputParameters& input, const RunStamps& stamps)
{
    return with_cp1252_characters_only(run_title(input, stamps));
}

void write_results_head(ByteSink& file, const InputParameters& input, std::optional<MultigridCycle> cycle_asked,
                        const RunStamps& stamps)
{
    static const Layout date_line("(/, TR5, 'Dia = ', A12, TR5, 'Hora = ', A8)");
    static const Layout table_header("(/, /, T3, 'Iteração', T14, 'Norma L1 / norma it.=1')");
    file.write(date_line, {stamps.date.view(), stamps.time.view()});
    write_parameter_echo(input, file);
    if (cycle_asked) {
        static const Layout cycle_line("(A20, '   = ciclo multigrid (--multigrid)')");
        const FixedText<20> cycle(cycle_name(*cycle_asked));
        file.write(cycle_line, {cycle.view()});
    }
    file.write(table_header, {});
}

void write_history_line(ByteSink& file, std::int32_t iteration, double ratio)
{
    static const Layout history("(TR2, I8, E15.6)");
    file.write(history, {iteration, ratio});
}

void write_field_listing(ByteSink& file, const Outcome& outcome, const Execution& execution)
{
    static const Layout heading("(/, /, TR30, 'TEMPERATURAS')");
    file.write(heading, {});
    write_temperature_field(file, outcome.t, outcome.grid.nx, outcome.grid.ny, execution);
}

void write_profile(ByteSink& results, ByteSink& data, const Outcome& outcome, char axis)
{
    write_profile_lines(outcome.plate, outcome.grid, outcome.t, axis, results, data);
}

void write_comparison(ByteSink& file, const Outcome& outcome)
{
    write_comparison_blocks(file, outcome.mean_numerical, outcome.mean_analytical, outcome.rate_numerical,
                            outcome.rate_analytical);
}

void write_processing_time(ByteSink& file, const Outcome& outcome)
{
    static const Layout processing_time("(/, /, E20.9, ' = tempo de processamento (s)')");
    file.write(processing_time, {outcome.seconds});
}

void write_results_file(ByteSink& file, const Outcome& outcome, const RunStamps& stamps, const Execution& execution)
{
    write_results_head(file, outcome.input, outcome.cycle_asked, stamps);
    for (std::size_t n = 0; n < outcome.history.size(); ++n)
        write_history_line(file, static_cast<std::int32_t>(n + 1), outcome.history[n]);
    write_field_listing(file, outcome, execution);
    NoSink data;
    write_profile(file, data, outcome, 'x');
    write_profile(file, data, outcome, 'y');
    write_comparison(file, outcome);
    write_processing_time(file, outcome);
}

void write_summary_file(ByteSink& file, const Outcome& outcome, const RunStamps& stamps)
{
    write_summary(file, outcome.t, outcome.mean_numerical, outcome.grid, outcome.input.title.view(),
                  stamps.date.view());
}

void write_profile_data(ByteSink& data, const Outcome& outcome, char axis)
{
    NoSink results;
    write_profile(results, data, outcome, axis);
}

void write_vtk_file(ByteSink& file, const Outcome& outcome, const RunStamps& stamps)
{
    write_vtk(file, outcome.plate, outcome.grid, outcome.t, run_title(outcome.input, stamps));
}

RunRecord run_record(const Outcome& outcome, std::string_view input_bytes)
{
    const InputParameters& in = outcome.input;
    RunRecord r;
    r.program_version = PLACATERMO_VERSION;
    r.input_hash = bytes_hash(input_bytes);
    r.experiment_name = cp1252_to_utf8(in.experiment_name.trimmed());
    r.discretization_file_name = cp1252_to_utf8(in.discretization_file_name.trimmed());
    r.iterations_file_name = cp1252_to_utf8(in.iterations_file_name.trimmed());
    r.title = cp1252_to_utf8(in.title.trimmed());
    r.lx = in.lx;
    r.ly = in.ly;
    r.grid_count = in.grid_count;
    r.tolerance = in.tolerance;
    r.max_outer_iterations = in.max_outer_iterations;
    r.solver_kind = in.solver_kind;
    r.msi_tolerance = in.msi_tolerance;
    r.max_inner_iterations = in.max_inner_iterations;
    r.sor_relaxation = in.sor_relaxation;
    r.bc_kind = in.bc_kind;
    r.solver = std::string(solver_name(in.solver()));
    if (in.grid_count > 1) r.cycle = std::string(cycle_name(outcome.cycle()));
    for (std::int32_t k = 1; k <= in.grid_count; ++k) {
        r.grid_nx.push_back(in.grids.nx_of(k));
        r.grid_ny.push_back(in.grids.ny_of(k));
    }
    r.history = outcome.history;
    r.convergence = outcome.convergence;
    r.iterations = outcome.iterations;
    r.converged = outcome.converged;
    r.mean_numerical = outcome.mean_numerical;
    r.mean_analytical = outcome.mean_analytical;
    r.rate_numerical = outcome.rate_numerical;
    r.rate_analytical = outcome.rate_analytical;
    r.error_l1 = outcome.error.l1;
    r.error_l2 = outcome.error.l2;
    r.error_max = outcome.error.max;
    r.seconds = outcome.seconds;
    return r;
}

}  // namespace placatermo

namespace placatermo {

std::vector<RunFileBytes> run_files_in_memory(const Outcome& outcome, std::string_view input_bytes,
                                              const RunStamps& stamps, const Execution& execution)
{
    const InputParameters& in = outcome.input;
    const std::string results(in.experiment_name.trimmed());
    const std::string summary(in.discretization_file_name.trimmed());
    std::string vtk = vtk_file_name(results, summary);
    if (vtk == results || vtk == summary) vtk = results + ".vtk";
    std::vector<RunFileBytes> files;
    const auto add = [&](std::string name, auto&& fill) {
        TextSink sink;
        fill(sink);
        files.push_back({std::move(name), sink.take()});
    };
    add(std::string(input_file_name), [&](TextSink& s) { s.write(input_bytes); });
    add(results, [&](TextSink& s) { write_results_file(s, outcome, stamps, execution); });
    add(summary, [&](TextSink& s) { write_summary_file(s, outcome, stamps); });
    add("Tx.dat", [&](TextSink& s) { write_profile_data(s, outcome, 'x'); });
    add("Ty.dat", [&](TextSink& s) { write_profile_data(s, outcome, 'y'); });
    add(record_file_name(results, summary), [&](TextSink& s) { s.write(run_record_json(run_record(outcome, input_bytes))); });
    add(vtk, [&](TextSink& s) { write_vtk_file(s, outcome, stamps); });
    return files;
}

}  // namespace placatermo
