// What both solution drivers share: the choice between them and the history
// line.
#include <string>

#include "drivers/drivers.hpp"

namespace placatermo {

std::string_view cycle_name(MultigridCycle cycle)
{
    switch (cycle) {
    case MultigridCycle::specified: return "especificado";
    case MultigridCycle::textbook: return "classico";
    case MultigridCycle::fast: return "rapido";
    }
    return "especificado";
}

std::optional<MultigridCycle> cycle_from_name(std::string_view name)
{
    for (const MultigridCycle cycle : {MultigridCycle::specified, MultigridCycle::textbook, MultigridCycle::fast})
        if (name == cycle_name(cycle)) return cycle;
    return std::nullopt;
}

void solve(const SolutionProblem& problem, SolutionControl& control, Solution& solution)
{
    // the solvers ask for a stop between their sweeps
    SolutionProblem stoppable = problem;
    if (control.stops()) stoppable.execution.stop = &control;
    if (problem.grids.count() == 1)
        solve_single_grid(stoppable, control, solution);
    else
        solve_multigrid(stoppable, control, solution);
}

void SolutionControl::history_line(std::int32_t iteration, double ratio)
{
    last_told = iteration;
    last_ratio = ratio;
    observer.history_line(iteration, ratio);
    check();
}

}  // namespace placatermo
