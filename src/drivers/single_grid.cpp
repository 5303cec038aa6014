// Outer iterations of the selected solver on one grid.
#include "drivers/drivers.hpp"
#include "run/errors.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

void solve_single_grid(RunContext& run)
{
    const InputParameters& in = run.input;
    CurrentGrid& grid = run.grid;
    RunState& state = run.state;

    state.elapsed_seconds = run.clock.read();
    const auto n = static_cast<std::size_t>(in.volume_count_of(1));
    run.t = create_array("t", n);
    std::vector<double> a = create_array("a", 5 * n);
    std::vector<double> b = create_array("b", n);
    MsiTables msi;
    msi.create(in, in.volume_count_of(1));

    enter_grid(grid, in, 1, true);
    build_coefficients(grid, in, a, b);
    const UniformInterior uniform = find_uniform_interior(grid.nx, grid.ny, a);
    if (in.solver_kind == 5) factorize_msi(a, msi.lower, msi.upper, grid.volume_count, grid.nx, grid.ny);

    for (std::int64_t outer = 1; outer <= in.max_outer_iterations; ++outer) {
        state.outer_iteration = static_cast<std::int32_t>(outer);
        call_selected_solver(in, grid, a, b, msi, uniform, run.t);
        compute_residual_norm(grid.nx, grid.ny, grid.volume_count, a, b, run.t, state.residual_norm, uniform);
        if (outer == 1) state.first_residual_norm = state.residual_norm;
        const double ratio = state.residual_norm / state.first_residual_norm;
        write_history_line(run, state.outer_iteration, ratio);
        if (ratio <= in.tolerance) break;
    }
    state.elapsed_seconds = run.clock.read();
    write_results(run);
}

}  // namespace placatermo
