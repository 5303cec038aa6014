#include "experiment/experiment.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

// Keeps what the options ask for as the solution goes, and passes every
// event on to the front end's observer.
class KeepingObserver final : public SolutionObserver {
public:
    KeepingObserver(const ExperimentOptions& options, Outcome& outcome, SolutionObserver* next, const Plate& plate,
                    const GridHierarchy& grids)
        : options_(options), outcome_(outcome), next_(next), plate_(plate), grids_(grids)
    {
        if (!options.keep_level_norms || grids.count() < 2) return;
        outcome.level_norms.resize(static_cast<std::size_t>(grids.count()));
        for (int k = 1; k <= grids.count(); ++k) {
            outcome.level_norms[static_cast<std::size_t>(k - 1)].nx = grids.nx_of(k);
            outcome.level_norms[static_cast<std::size_t>(k - 1)].ny = grids.ny_of(k);
        }
    }

    void history_line(std::int32_t iteration, double ratio) override
    {
        if (options_.keep_history) outcome_.history.push_back(ratio);
        if (next_ != nullptr) next_->history_line(iteration, ratio);
    }
    void finest_iterate(const FinestIterate& now) override
    {
        if (options_.keep_frames) {
            if (!outcome_.frames) {
                CurrentGrid finest;
                enter_grid(finest, plate_, grids_, grids_.count());
                outcome_.frames.emplace(plate_, finest);
            }
            outcome_.frames->see(now.iteration, now.ratio, now.last, now.system, now.t);
        }
        if (next_ != nullptr) next_->finest_iterate(now);
    }
    bool wants_level_norms() const override
    {
        return !outcome_.level_norms.empty() || (next_ != nullptr && next_->wants_level_norms());
    }
    void level_norm(std::int32_t iteration, int k, double norm) override
    {
        if (!outcome_.level_norms.empty()) {
            LevelNorms& level = outcome_.level_norms[static_cast<std::size_t>(k - 1)];
            level.iterations.push_back(iteration);
            level.norms.push_back(norm);
        }
        if (next_ != nullptr && next_->wants_level_norms()) next_->level_norm(iteration, k, norm);
    }

private:
    const ExperimentOptions& options_;
    Outcome& outcome_;
    SolutionObserver* next_;
    const Plate& plate_;
    const GridHierarchy& grids_;
};

// The processing time's clock: the first reading 0, then the seconds since.
std::function<double()> elapsed_clock(const std::function<double()>& clock)
{
    const std::function<double()> now = clock ? clock : [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    return [now, started = false, start = 0.0]() mutable {
        const double reading = now();
        if (!started) {
            started = true;
            start = reading;
            return 0.0;
        }
        return reading - start;
    };
}

// What the finished solution gives, computed from the field with its
// boundary values.
void complete(Outcome& outcome, const ExperimentOptions& options)
{
    const Plate& plate = outcome.plate;
    const CurrentGrid& grid = outcome.grid;
    fill_boundary_values(plate, grid, outcome.t);
    outcome.mean_numerical = numerical_mean_temperature(plate, grid, outcome.t);
    outcome.mean_analytical = plate.analytical_mean_temperature();
    outcome.rate_numerical = numerical_north_heat_rate(plate, grid, outcome.t);
    outcome.rate_analytical = plate.analytical_north_heat_rate();
    outcome.converged = outcome.iterations > 0 && outcome.last_ratio <= outcome.input.tolerance;
    outcome.convergence = convergence_factor(outcome.history, outcome.input.tolerance);
    outcome.x.resize(static_cast<std::size_t>(grid.nx));
    outcome.y.resize(static_cast<std::size_t>(grid.ny));
    for (std::int64_t i = 1; i <= grid.nx; ++i)
        outcome.x[static_cast<std::size_t>(i - 1)] = node_position(i, grid.nx, plate.lx, grid.dx);
    for (std::int64_t j = 1; j <= grid.ny; ++j)
        outcome.y[static_cast<std::size_t>(j - 1)] = node_position(j, grid.ny, plate.ly, grid.dy);
    if (!options.analytical) return;
    outcome.error = compute_error_norms(plate, grid, outcome.t);
    outcome.analytical.resize(outcome.t.size());
    std::size_t at = 0;
    for (const double y : outcome.y)
        for (const double x : outcome.x) outcome.analytical[at++] = plate.analytical_temperature(x, y);
}

}  // namespace

SecondThread* second_thread() { return sweep_helper(); }

Outcome run_experiment(const InputParameters& input, const ExperimentOptions& options, SolutionObserver* observer)
{
    Outcome outcome;
    outcome.input = input;
    outcome.cycle_asked = options.cycle;
    SolutionProblem problem = input.solution_problem();
    problem.cycle = outcome.cycle();
    problem.execution = options.execution;
    outcome.plate = problem.plate;

    KeepingObserver keeper(options, outcome, observer, problem.plate, problem.grids);
    SolutionControl control(keeper, elapsed_clock(options.clock), options.stop_requested);
    Solution solution;
    solve(problem, control, solution);

    outcome.grid = solution.grid;
    outcome.t = std::move(solution.t);
    outcome.iterations = solution.outer_iteration;
    outcome.last_ratio = control.last_ratio;
    outcome.seconds = solution.elapsed_seconds;
    complete(outcome, options);
    return outcome;
}

}  // namespace placatermo

namespace placatermo {

std::optional<std::string> divergence_warning(const Outcome& outcome)
{
    const double ratio = outcome.last_ratio;
    if (outcome.iterations < 1 || (ratio <= 1.0e10)) return std::nullopt;
    // a mistake in the input, already named, explains it
    if (!outcome.input.warnings.empty()) return std::nullopt;
    char text[32];
    if (std::isnan(ratio))
        std::snprintf(text, sizeof text, "NaN");
    else
        std::snprintf(text, sizeof text, "%.6E", ratio);
    std::string advice = "os resultados não têm sentido";
    if (outcome.input.solver() == SolverKind::sor) advice += "; experimente um coeficiente de relaxação do SOR menor";
    return "aviso: arquivo \"" + std::string(outcome.input.experiment_name.trimmed()) +
           "\": a iteração divergiu (norma L1 / norma it.=1 = " + text + " na iteração externa " +
           std::to_string(outcome.iterations) + "): " + advice;
}

}  // namespace placatermo
