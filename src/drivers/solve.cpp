// What both solution drivers share: the choice between them and the history
// line.
#include <string>

#include "base/errors.hpp"
#include "drivers/drivers.hpp"

namespace placatermo {

std::string_view cycle_name(MultigridCycle cycle)
{
    return cycle == MultigridCycle::textbook ? "classico" : "especificado";
}

std::optional<MultigridCycle> cycle_from_name(std::string_view name)
{
    for (const MultigridCycle cycle : {MultigridCycle::specified, MultigridCycle::textbook})
        if (name == cycle_name(cycle)) return cycle;
    return std::nullopt;
}

void solve(const SolutionProblem& problem, SolutionReport& report, Solution& solution)
{
    if (problem.grids.count() == 1)
        solve_single_grid(problem, report, solution);
    else
        solve_multigrid(problem, report, solution);
}

void write_history_line(SolutionReport& report, std::int32_t iteration, double ratio)
{
    static const Layout history("(TR2, I8, E15.6)");
    report.results.write(history, {iteration, ratio});
    report.last_ratio = ratio;
    if (report.history != nullptr) report.history->push_back(ratio);
    report.results.flush_when_due();
    if (report.on_history_line) report.on_history_line(iteration, ratio);
    if (report.stop_requested()) {
        report.results.flush();
        throw FatalError("execução interrompida na iteração externa " + std::to_string(iteration) + "; o arquivo \"" +
                         report.results.name() + "\" contém o histórico das iterações até aqui");
    }
}

}  // namespace placatermo
