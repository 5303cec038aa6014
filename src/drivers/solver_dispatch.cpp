// What both solution drivers share: the solver selection, the history line
// and the result calls.
#include "drivers/drivers.hpp"
#include "results/results.hpp"
#include "run/errors.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

void MsiTables::create(const InputParameters& input, std::int32_t volume_count)
{
    if (input.solver_kind != 5) return;
    const auto n = static_cast<std::size_t>(volume_count);
    lower = UninitializedArray("msi_lower", 4 * n);
    upper = UninitializedArray("msi_upper", 3 * n);
}

void MsiTables::release()
{
    lower = UninitializedArray();
    upper = UninitializedArray();
}

void call_selected_solver(const InputParameters& in, const CurrentGrid& grid, std::span<const double> a,
                          std::span<const double> b, const MsiTables& msi, const UniformInterior& uniform,
                          std::span<double> u)
{
    switch (in.solver_kind) {
    case 1: solve_jacobi(grid.nx, grid.ny, grid.volume_count, in.max_inner_iterations, a, b, u, uniform); break;
    case 2:
        solve_gauss_seidel(grid.nx, grid.ny, grid.volume_count, in.max_inner_iterations, a, b, u, uniform);
        break;
    case 3:
        solve_sor(grid.nx, grid.ny, grid.volume_count, in.max_inner_iterations, in.sor_relaxation, a, b, u,
                  uniform);
        break;
    case 4: solve_adi(grid.nx, grid.ny, grid.volume_count, in.max_inner_iterations, a, b, u); break;
    case 5:
        solve_msi(a, msi.lower, msi.upper, grid.ny, grid.nx, grid.volume_count, u, in.msi_tolerance,
                  in.max_inner_iterations, b);
        break;
    default: break;
    }
}

void write_history_line(RunContext& run, std::int32_t iteration, double ratio)
{
    static const Layout history("(TR2, I8, E15.6)");
    run.results->write(history, {iteration, ratio});
    run.results->flush_when_due();
    if (run.stop_requested()) {
        run.results->flush();
        throw FatalError("execução interrompida na iteração externa " + std::to_string(iteration) +
                         "; o arquivo \"" + run.results->name() +
                         "\" contém o histórico das iterações até aqui");
    }
}

void write_results(RunContext& run)
{
    static const Layout heading("(/, /, TR30, 'TEMPERATURAS')");
    fill_boundary_values(run);
    run.results->write(heading, {});
    write_temperature_field(*run.results, run.t, run.grid.ny, run.grid.nx, run.grid.volume_count);
    write_profile_x(run);
    write_profile_y(run);
    compare_with_analytical(run);
}

}  // namespace placatermo
