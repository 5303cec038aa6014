// The experiment as a call: the library's face, the one way in for every
// front end (the program, the Python module, the page in a web browser).
//
// Given the input's 16 values, checked, and the run's options, it solves the
// plate and gives back what the run computed, held in memory. It opens no
// file and starts no process; it reads no terminal and handles no signal.
// Writing the program's files from an outcome is a step of its own
// (experiment/files.hpp), into any byte sink.
//
//     placatermo::InputParameters input = placatermo::check_input_values(placatermo::default_input_values());
//     placatermo::Outcome outcome = placatermo::run_experiment(input);
//     // outcome.t, outcome.history, outcome.iterations ...
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/execution.hpp"
#include "drivers/drivers.hpp"
#include "input/input.hpp"
#include "input/values.hpp"
#include "results/animation.hpp"
#include "results/convergence.hpp"
#include "results/results.hpp"

namespace placatermo {

// What a run keeps and how it is run.
struct ExperimentOptions {
    // The multigrid cycle, with more than one grid: the specified one when
    // unset. When set, the results file says in a line which one ran.
    std::optional<MultigridCycle> cycle;
    // The kernels, the second thread and the pages (base/execution.hpp): fast
    // kernels on one thread unless the front end chooses.
    Execution execution;
    // Kept besides the field and the scalars:
    bool keep_history = true;       // the ratio of every outer iteration
    bool keep_level_norms = false;  // each grid's residual norm per cycle (multigrid)
    bool keep_frames = false;       // the frames of the error and the residual as the iteration goes
    // The analytical field and the error norms (each point's analytical
    // temperature is a sum of a series: the program computes them only for
    // its pictures and record).
    bool analytical = true;
    // The clock of the processing time, seconds from any origin; a steady
    // clock when empty.
    std::function<double()> clock;
    // Asked from the solving thread after every history line and every
    // sweep of the solvers (a Gauss-Seidel sweep of 1024 x 1024 volumes
    // takes some 4 ms); true ends the solution with SolutionStopped.
    std::function<bool()> stop_requested;
};

// A stop asked for from any thread (StopFlag::requested as the options'
// stop_requested).
class StopFlag {
public:
    void request() { requested_.store(true, std::memory_order_relaxed); }
    bool requested() const { return requested_.load(std::memory_order_relaxed); }
    std::function<bool()> query() const
    {
        return [this] { return requested(); };
    }

private:
    std::atomic<bool> requested_{false};
};

// What a run computed.
struct Outcome {
    InputParameters input;
    std::optional<MultigridCycle> cycle_asked;  // the options' cycle, as given
    MultigridCycle cycle() const { return cycle_asked.value_or(MultigridCycle::specified); }
    Plate plate;
    // The finest grid. Its field: nx x ny values, row by row from the south
    // (entry (j - 1) nx + i - 1 for volume (i, j)), the ghost entries holding
    // the boundary temperatures; x and y the positions of the columns and
    // rows (boundary faces and volume centres).
    CurrentGrid grid;
    std::vector<double> t;
    std::vector<double> x, y;
    // The analytical temperature at the same points (options.analytical).
    std::vector<double> analytical;
    std::vector<double> history;  // the ratio of every outer iteration (options.keep_history)
    std::int32_t iterations = 0;
    bool converged = false;  // the last ratio within the tolerance
    double last_ratio = 0.0;
    double mean_numerical = 0.0, mean_analytical = 0.0;
    double rate_numerical = 0.0, rate_analytical = 0.0;  // through the north boundary
    ErrorNorms error;                                    // options.analytical
    ConvergenceFactor convergence;                       // of the history kept
    double seconds = 0.0;                                // the processing time
    std::vector<LevelNorms> level_norms;                 // options.keep_level_norms, coarsest first
    std::optional<IterationFrames> frames;               // options.keep_frames, when there was an iteration
};

// The warning of a run whose iteration diverged (its last ratio not a
// number or above 1e10), none for any other; none too when the input has
// warnings of its own, which explain it.
std::optional<std::string> divergence_warning(const Outcome& outcome);

// The library's second thread for the passes that split in two, started at
// its first use: a front end that may use two cores puts it in its
// execution.
SecondThread* second_thread();

// Solves the plate of `input` (parse_input_data or check_input_values made
// it). `observer`, when given, is told every history line, the finest
// iterate and the grids' norms as the solution goes. A stop ends it with
// SolutionStopped; an array that cannot be made, with a FatalError.
Outcome run_experiment(const InputParameters& input, const ExperimentOptions& options = {},
                       SolutionObserver* observer = nullptr);

}  // namespace placatermo
