// The solution drivers: outer iterations on one grid, or the multigrid cycle
// over the whole hierarchy. Both leave the finest grid as the current grid
// and its temperatures in the solution; the run writes the results.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "base/execution.hpp"
#include "grid/grid.hpp"
#include "grid/linear_system.hpp"
#include "grid/plate.hpp"
#include "solvers/smoother.hpp"

namespace placatermo {

// The multigrid cycle: the one of the program's definition (the default),
// a textbook correction-scheme V-cycle (--multigrid=classico), or that
// cycle with the ghost volumes brought up to date after each interpolation
// and half the inner iterations on each visit to a coarse grid
// (--multigrid=rapido).
enum class MultigridCycle { specified, textbook, fast };

// "especificado", "classico", "rapido" (the option's values), and back:
// nothing for any other text.
std::string_view cycle_name(MultigridCycle cycle);
std::optional<MultigridCycle> cycle_from_name(std::string_view name);

// What the drivers solve: the plate on its grids with the selected solver,
// and when to stop; and how (the same bits every way).
struct SolutionProblem {
    Plate plate;
    GridHierarchy grids;
    SolverSettings solver;
    double tolerance = 0.0;  // of the ratio of residual norms
    std::int32_t max_outer_iterations = 0;
    MultigridCycle cycle = MultigridCycle::specified;
    Execution execution = {};
};

// What they leave: the driver scalars, the finest grid as the current grid,
// and its temperatures (ghost entries as the solver left them).
struct Solution {
    std::int32_t outer_iteration = 0;
    double residual_norm = 0.0;
    double first_residual_norm = 0.0;
    double elapsed_seconds = 0.0;  // the processing time
    CurrentGrid grid;
    std::vector<double> t;
};

// The finest grid as a driver shows it after an outer iteration's history
// line (the frames of --animacao read it; nothing is changed).
struct FinestIterate {
    std::int32_t iteration = 0;
    double ratio = 0.0;
    bool last = false;  // the run ends with this iteration
    const LinearSystem& system;
    std::span<const double> t;
};

// What a driver tells as the solution goes, on the solving thread. Each call
// only looks: nothing it does changes the solution's bits.
class SolutionObserver {
public:
    virtual ~SolutionObserver() = default;
    // Every outer iteration's history line: the iteration and the ratio of
    // its residual norm to the first one's.
    virtual void history_line(std::int32_t, double) {}
    // The finest grid after every history line.
    virtual void finest_iterate(const FinestIterate&) {}
    // Whether the norms of each grid's residual are wanted (a multigrid run
    // then computes the coarsest grid's, which the cycle itself never needs).
    virtual bool wants_level_norms() const { return false; }
    // In a multigrid run, the L1 norm of each grid's residual (real volumes)
    // after its smoothing: (outer iteration, grid k, 1 the coarsest, norm).
    // Iteration 1 has the finest grid only.
    virtual void level_norm(std::int32_t, int, double) {}
};

// The end of a solution stopped on request: `iteration` is the last outer
// iteration whose history line was told (0 before the first).
struct SolutionStopped {
    std::int32_t iteration = 0;
};

// How a driver is run: who is told, the clock of the processing time (first
// reading 0, then seconds since) and the stop, asked after every sweep of
// the solvers and every history line; true ends the solution with
// SolutionStopped.
class SolutionControl final : public StopPoint {
public:
    SolutionControl(SolutionObserver& observer, std::function<double()> elapsed_clock,
                    std::function<bool()> stop_requested = nullptr)
        : observer(observer), elapsed_clock(std::move(elapsed_clock)), stop_requested_(std::move(stop_requested))
    {
    }

    SolutionObserver& observer;
    std::function<double()> elapsed_clock;
    std::int32_t last_told = 0;  // the last history line's iteration
    double last_ratio = 0.0;     // and its ratio

    // Tells a history line and keeps its ratio.
    void history_line(std::int32_t iteration, double ratio);
    // Ends the solution when a stop has been asked for.
    void check() const override
    {
        if (stop_requested_ && stop_requested_()) throw SolutionStopped{last_told};
    }
    bool stops() const { return static_cast<bool>(stop_requested_); }

private:
    std::function<bool()> stop_requested_;
};

// One grid when the hierarchy has one, the multigrid cycle otherwise.
void solve(const SolutionProblem& problem, SolutionControl& control, Solution& solution);

void solve_single_grid(const SolutionProblem& problem, SolutionControl& control, Solution& solution);
void solve_multigrid(const SolutionProblem& problem, SolutionControl& control, Solution& solution);

// The bytes of the arrays that solving on these grids with this solver
// holds at most (what each grid's system, smoother, residual and correction
// hold, t, and one call's work arrays).
// The textbook cycles keep no residual, nor, under red-black Gauss-Seidel,
// b of the finest grid's real volumes.
double solution_memory_bytes(const GridHierarchy& grids, const SolverSettings& solver,
                             MultigridCycle cycle = MultigridCycle::specified, const Execution& execution = {});

// The transfers of the multigrid cycle. The spans are one grid's arrays
// (entry P - 1 for volume P). Both restrictions set b of every real coarse
// volume and zero every other entry; both interpolations add to the fine
// correction of every real fine volume and leave its ghost entries alone.
// The execution chooses the plain loops or the fast passes, and whether large
// grids take a second thread (the same bits every way).
//
// The specified cycle's. Injection: b of a real coarse volume (i, j) is the
// residual of the paired fine volume (2i - 1, 2j - 1).
void restrict_residual(std::int32_t coarse_nx, std::int32_t coarse_ny, std::int32_t fine_nx,
                       std::span<const double> fine_residual, std::span<double> b);
// Bilinear interpolation of the coarse correction; fine column or row 2 reads
// the coarse ghost column or row.
void prolongate_correction(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx, std::int32_t coarse_ny,
                           std::span<const double> coarse_correction, std::span<double> fine_correction);
// The textbook cycle's. Coarse volume (i, j) covers the fine volumes
// (2i - 2 ... 2i - 1, 2j - 2 ... 2j - 1).
//
// Restriction: b of a real coarse volume is the sum of the residuals of the
// four fine volumes it covers (the coarse coefficients come from the coarse
// spacing, so the coarse equation needs the summed residual).
void restrict_residual_sum(std::int32_t coarse_nx, std::int32_t coarse_ny, std::int32_t fine_nx,
                           std::span<const double> fine_residual, std::span<double> b, const Execution& execution = {});
// The same sum from the fine grid's system and unknown u, the residuals
// computed as store_residual computes them and not stored.
void restrict_residual_sum_of(const CoefficientTable& fine, std::span<const double> u, std::int32_t coarse_nx,
                              std::int32_t coarse_ny, std::span<double> b, const Execution& execution = {});
void restrict_residual_sum_of(const UniformStencil& fine, std::span<const double> u, std::int32_t coarse_nx,
                              std::int32_t coarse_ny, std::span<double> b, const Execution& execution = {});
void restrict_residual_sum_of(const LinearSystem& fine, std::span<const double> u, std::int32_t coarse_nx,
                              std::int32_t coarse_ny, std::span<double> b, const Execution& execution = {});
// The same, and the L1 norm of those residuals: each fine row's summed from
// west to east over its even and its odd columns apart, the two sums added,
// then the rows' sums from south to north (fixed blocks, whatever the threads).
double restrict_residual_sum_and_norm_of(const LinearSystem& fine, std::span<const double> u, std::int32_t coarse_nx,
                                         std::int32_t coarse_ny, std::span<double> b, const Execution& execution = {});
// One coarse row (1 ... coarse_ny) of it, the two fine rows' sums into
// row_norms (indexed by fine row); a ghost row is zeroed. On the calling
// thread.
void restrict_residual_sum_row_of(const LinearSystem& fine, std::span<const double> u, std::int32_t coarse_nx,
                                  std::int32_t coarse_ny, std::span<double> b, std::int32_t row,
                                  std::span<double> row_norms);
// Bilinear interpolation between the coarse volume centres (weights 9/16,
// 3/16, 3/16, 1/16). Beyond the real coarse volumes the correction is taken
// as the mirror image of its real neighbour, which puts zero on the plate's
// sides; the coarse ghost entries themselves are not read.
void prolongate_correction_bilinear(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                                    std::int32_t coarse_ny, std::span<const double> coarse_correction,
                                    std::span<double> fine_correction, const Execution& execution = {});

// One row (1 ... fine_ny) of the bilinear interpolation into the fine
// correction, or into t (ghost entries + 0), for passes that fold it into
// the smoothing: the bits of the whole interpolation, on the calling thread.
void prolongate_correction_bilinear_row(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                                        std::int32_t coarse_ny, std::span<const double> coarse_correction,
                                        std::span<double> fine_correction, std::int32_t row);
void prolongate_correction_bilinear_to_field_row(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                                                 std::int32_t coarse_ny, std::span<const double> coarse_correction,
                                                 std::span<double> t, std::int32_t row);

// The finest grid's step of either interpolation: t + (0 + value) on the
// real volumes and t + 0 on the ghost ones, the same bits as interpolating
// into a zeroed correction and adding it to t, without the correction array.
void prolongate_correction_to_field(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                                    std::int32_t coarse_ny, std::span<const double> coarse_correction,
                                    std::span<double> t);
void prolongate_correction_bilinear_to_field(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                                             std::int32_t coarse_ny, std::span<const double> coarse_correction,
                                             std::span<double> t, const Execution& execution = {});

// The residual b - a u of the real volumes (products as, ap, aw, ae, an in
// this order); ghost entries of `residual` are not written.
void store_residual(const CoefficientTable& system, std::span<const double> u, std::span<double> residual,
                    const Execution& execution = {});
void store_residual(const UniformStencil& system, std::span<const double> u, std::span<double> residual,
                    const Execution& execution = {});
void store_residual(const LinearSystem& system, std::span<const double> u, std::span<double> residual,
                    const Execution& execution = {});
// The plain loop of store_residual, kept as its definition.
void store_residual_plain(const CoefficientTable& system, std::span<const double> u, std::span<double> residual);

}  // namespace placatermo
