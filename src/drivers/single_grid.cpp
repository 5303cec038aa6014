// Outer iterations of the selected solver on one grid.
#include "drivers/drivers.hpp"
#include "grid/arrays.hpp"
#include "grid/linear_system.hpp"

namespace placatermo {

void solve_single_grid(const SolutionProblem& problem, SolutionControl& control, Solution& solution)
{
    CurrentGrid& grid = solution.grid;
    solution.elapsed_seconds = control.elapsed_clock();
    solution.t = create_array(problem.execution, "t", static_cast<std::size_t>(problem.grids.volume_count_of(1)));
    Smoother smoother(problem.solver, problem.execution);
    enter_grid(grid, problem.plate, problem.grids, 1);
    const LinearSystem system = smoother.make_system(grid, problem.plate);

    for (std::int64_t outer = 1; outer <= problem.max_outer_iterations; ++outer) {
        solution.outer_iteration = static_cast<std::int32_t>(outer);
        smoother.smooth(system, solution.t);
        solution.residual_norm = compute_residual_norm(system, solution.t, problem.execution);
        if (outer == 1) solution.first_residual_norm = solution.residual_norm;
        const double ratio = solution.residual_norm / solution.first_residual_norm;
        control.history_line(solution.outer_iteration, ratio);
        const bool last = ratio <= problem.tolerance || outer == problem.max_outer_iterations;
        control.observer.finest_iterate({solution.outer_iteration, ratio, last, system, solution.t});
        if (last) break;
    }
    solution.elapsed_seconds = control.elapsed_clock();
}

}  // namespace placatermo
