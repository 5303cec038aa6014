// The correction-scheme multigrid cycle over the grids 1 (coarsest) ...
// count (finest), built from named parts: a Level per grid (its system,
// smoother, residual and correction), and a Transfer between neighbouring
// grids, chosen once for the run.
//
// A cycle: descent from the second finest grid to the coarsest, each grid
// smoothing a correction from zero against the restricted residual of the
// grid above; ascent from grid 2 to the finest, each grid adding the
// interpolated correction of the grid below and smoothing it again; on the
// finest grid the correction goes into t, t is smoothed, and the ratio of
// residual norms is the convergence test.
//
// The two cycles differ in their Transfer and in what each Cycle does around
// it. The specified one injects the paired fine residual and, on the way up,
// gives an intermediate grid the residual left after its own descent
// smoothing as right-hand side. The textbook one (--multigrid=classico) sums
// the four fine residuals a coarse volume covers, computing the finest
// grid's from t as it sums, interpolates between the coarse volume centres,
// and keeps each grid's right-hand side from the descent for its ascent.
// The fast one (--multigrid=rapido) is the textbook one with the ghost
// volumes of each grid (but under Jacobi) updated from their equations
// right after the interpolation, which leaves them as they were: a stale
// ghost value is then read by its real neighbour in the next sweep and puts
// back part of the error just corrected (with one red-black sweep a visit,
// the cycles grew with the grid). With them up to date, half the inner
// iterations on each coarse visit, down and up, converge as fast.
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "drivers/drivers.hpp"
#include "grid/arrays.hpp"
#include "grid/linear_system.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

// One grid of the cycle and what it owns. Its system is built once: the
// coefficients are the same on every visit, and only the right-hand side b
// changes (on the coarse grids it is the restricted residual).
struct Level {
    Level(const SolutionProblem& problem, int k, bool keeps_residual, SweepOrder order, std::int32_t inner,
          RhsKept rhs)
        : smoother(settings(problem.solver, order, inner), problem.execution),
          grid(entered(problem, k)),
          system(smoother.make_system(grid, problem.plate, rhs)),
          residual(keeps_residual
                       ? create_array(problem.execution, "residual", static_cast<std::size_t>(grid.volume_count))
                       : std::vector<double>()),
          correction(k < problem.grids.count()
                         ? create_array(problem.execution, "correction", static_cast<std::size_t>(grid.volume_count))
                         : std::vector<double>())
    {
    }

    static SolverSettings settings(SolverSettings solver, SweepOrder order, std::int32_t inner)
    {
        solver.gauss_seidel_order = order;
        solver.max_inner_iterations = inner;
        return solver;
    }

    static CurrentGrid entered(const SolutionProblem& problem, int k)
    {
        CurrentGrid grid;
        enter_grid(grid, problem.plate, problem.grids, k);
        return grid;
    }

    // b, to be written: its real volumes' entries no longer known
    std::span<double> b()
    {
        if (auto* stencil = std::get_if<UniformStencil>(&system)) stencil->rhs_inside = RhsInside::stored;
        return arrays_of(system).b;
    }

    Smoother smoother;
    CurrentGrid grid;
    LinearSystem system;
    // b - a u of the real volumes after this grid's last smoothing, in the
    // specified cycle: of t on the finest grid, of the correction on the way
    // down elsewhere; none on the coarsest grid, whose residual no step reads.
    // The textbook cycle's restriction computes the residuals as it sums them.
    std::vector<double> residual;
    // The unknown of the coarse grids' equations; none on the finest grid,
    // where the interpolated correction goes straight into t.
    std::vector<double> correction;
};

// How the cycle moves between a grid and the next coarser one.
class Transfer {
public:
    virtual ~Transfer() = default;
    // The coarse grid's right-hand side from the fine grid's residual.
    virtual void restrict_residual(const Level& fine, Level& coarse) const = 0;
    // The coarse correction, interpolated, added to the fine correction.
    virtual void prolongate_correction(const Level& coarse, Level& fine) const = 0;
    // The same interpolation on the finest grid, added to t with the bits of
    // a zeroed correction interpolated into and then added to t.
    virtual void prolongate_to_field(const Level& coarse, const Level& fine, std::span<double> t) const = 0;
};

// Injection, and interpolation as the program defines it.
class InjectionTransfer final : public Transfer {
public:
    void restrict_residual(const Level& fine, Level& coarse) const override
    {
        placatermo::restrict_residual(coarse.grid.nx, coarse.grid.ny, fine.grid.nx, fine.residual, coarse.b());
    }
    void prolongate_correction(const Level& coarse, Level& fine) const override
    {
        placatermo::prolongate_correction(fine.grid.nx, fine.grid.ny, coarse.grid.nx, coarse.grid.ny, coarse.correction,
                                          fine.correction);
    }
    void prolongate_to_field(const Level& coarse, const Level& fine, std::span<double> t) const override
    {
        prolongate_correction_to_field(fine.grid.nx, fine.grid.ny, coarse.grid.nx, coarse.grid.ny, coarse.correction,
                                       t);
    }
};

// The four fine residuals summed, bilinear interpolation between the volume
// centres.
class SumTransfer final : public Transfer {
public:
    explicit SumTransfer(const Execution& execution) : execution_(execution) {}
    void restrict_residual(const Level& fine, Level& coarse) const override
    {
        restrict_residual_sum(coarse.grid.nx, coarse.grid.ny, fine.grid.nx, fine.residual, coarse.b(), execution_);
    }
    void prolongate_correction(const Level& coarse, Level& fine) const override
    {
        prolongate_correction_bilinear(fine.grid.nx, fine.grid.ny, coarse.grid.nx, coarse.grid.ny, coarse.correction,
                                       fine.correction, execution_);
    }
    void prolongate_to_field(const Level& coarse, const Level& fine, std::span<double> t) const override
    {
        prolongate_correction_bilinear_to_field(fine.grid.nx, fine.grid.ny, coarse.grid.nx, coarse.grid.ny,
                                                coarse.correction, t, execution_);
    }

private:
    Execution execution_;
};

// What a cycle decides around its transfers.
class Cycle {
public:
    virtual ~Cycle() = default;
    virtual const Transfer& transfer() const = 0;
    // The order of Gauss-Seidel's sweeps.
    virtual SweepOrder gauss_seidel_order() const = 0;
    // Whether the grids but the coarsest keep their residual.
    virtual bool keeps_residuals() const = 0;
    // The coarse grid's right-hand side from the fine grid, whose unknown is
    // u (t on the finest grid).
    virtual void restrict_to(const Level& fine, std::span<const double> u, Level& coarse, bool from_finest) const = 0;
    // The norm of the finest grid's residual after its smoothing, the
    // convergence test's.
    virtual double finest_norm(const Level& fine, std::span<const double> t, Level& coarse) const = 0;
    // The right-hand side of an intermediate grid on the way up.
    virtual void ascent_right_hand_side(Level& level) const = 0;
    // Whether the ghost volumes are updated after each interpolation.
    virtual bool updates_ghosts() const { return false; }
    // The inner iterations of a visit to grid k of count.
    virtual std::int32_t inner_iterations(int, int, std::int32_t inner) const { return inner; }
};

// On the way up, the residual left after the grid's descent smoothing as its
// right-hand side.
class SpecifiedCycle final : public Cycle {
public:
    explicit SpecifiedCycle(const Execution& execution) : execution_(execution) {}
    const Transfer& transfer() const override { return transfer_; }
    SweepOrder gauss_seidel_order() const override { return SweepOrder::natural; }
    bool keeps_residuals() const override { return true; }
    void restrict_to(const Level& fine, std::span<const double>, Level& coarse, bool) const override
    {
        transfer_.restrict_residual(fine, coarse);
    }
    double finest_norm(const Level& fine, std::span<const double> t, Level&) const override
    {
        return compute_residual_norm(fine.system, t, execution_);
    }
    void ascent_right_hand_side(Level& level) const override
    {
        // the residual on the real volumes, zero on the ghost ones, row by row
        const std::int64_t nx = level.grid.nx;
        const std::int64_t ny = level.grid.ny;
        double* b = level.b().data();
        const double* residual = level.residual.data();
        std::fill(b, b + nx, 0.0);
        for (std::int64_t row = nx; row < (ny - 1) * nx; row += nx) {
            b[row] = 0.0;
            std::copy(residual + row + 1, residual + row + nx - 1, b + row + 1);
            b[row + nx - 1] = 0.0;
        }
        std::fill(b + (ny - 1) * nx, b + ny * nx, 0.0);
    }

private:
    InjectionTransfer transfer_;
    Execution execution_;
};

// Red-black from two sweeps a visit on. With one, a red-black sweep leaves
// too much of the error the coarse grids do not see, and the cycles grow
// with the grid (measured, ratio 1e-6 from 4 x 4: 69 cycles at 66², 180 at
// 258², against 23 and 24 in the point sweep's order); with two, 8 cycles
// against 9 at any size.
// The fast cycle, its ghost volumes up to date, in red-black order from one
// sweep on (ratio 1e-8 at 1026² from 4 x 4: 20 cycles, against 200 and not
// there without the update).
SweepOrder textbook_sweep_order(bool fast, std::int32_t inner_iterations)
{
    return fast || inner_iterations >= 2 ? SweepOrder::red_black : SweepOrder::natural;
}

// Gauss-Seidel in red-black order; each residual summed as it is computed,
// on the finest grid in the one pass over t that also gives its norm; each
// grid's right-hand side kept from the descent.
class TextbookCycle final : public Cycle {
public:
    TextbookCycle(const Execution& execution, const SolverSettings& solver, bool fast)
        : transfer_(execution),
          execution_(execution),
          inner_iterations_(solver.max_inner_iterations),
          fast_(fast),
          updates_ghosts_(fast && !Smoother::from_old_values(solver.kind))
    {
    }
    const Transfer& transfer() const override { return transfer_; }
    SweepOrder gauss_seidel_order() const override { return textbook_sweep_order(fast_, inner_iterations_); }
    bool keeps_residuals() const override { return false; }
    void restrict_to(const Level& fine, std::span<const double> u, Level& coarse, bool from_finest) const override
    {
        if (from_finest) return;  // restricted already, with the norm of the visit before
        restrict_residual_sum_of(fine.system, u, coarse.grid.nx, coarse.grid.ny, coarse.b(), execution_);
    }
    double finest_norm(const Level& fine, std::span<const double> t, Level& coarse) const override
    {
        return restrict_residual_sum_and_norm_of(fine.system, t, coarse.grid.nx, coarse.grid.ny, coarse.b(),
                                                 execution_);
    }
    void ascent_right_hand_side(Level&) const override {}
    // Not under a smoother that sweeps from the old values (Jacobi): its sweep
    // gives the ghost volumes their update from the real volumes as they were
    // before it, and an update after the interpolation as well leaves a cycle
    // whose fixed point is not the solution (one inner iteration: the ratio
    // stops at 15/256 on the default plate, and on 2 x 2 real volumes the
    // residual is zero with the ghost equations unmet).
    bool updates_ghosts() const override { return updates_ghosts_; }
    // The fast cycle's coarse grids: half on the way down, half on the way
    // up (rounded up); the finest grid all of them.
    std::int32_t inner_iterations(int k, int count, std::int32_t inner) const override
    {
        return fast_ && k < count ? inner / 2 + inner % 2 : inner;
    }

private:
    SumTransfer transfer_;
    Execution execution_;
    std::int32_t inner_iterations_;
    bool fast_;
    bool updates_ghosts_;
};

// The L1 norm of the real volumes of a residual array, summed column by
// column as compute_residual_norm sums.
double real_volume_norm(const CurrentGrid& grid, std::span<const double> residual)
{
    double norm = 0.0;
    for (std::int64_t i = 2; i <= grid.nx - 1; ++i)
        for (std::int64_t j = 2; j <= grid.ny - 1; ++j)
            norm = norm + std::fabs(residual[static_cast<std::size_t>(volume_number(i, j, grid.nx) - 1)]);
    return norm;
}

std::unique_ptr<Cycle> cycle_of(const SolutionProblem& problem)
{
    const Execution& execution = problem.execution;
    switch (problem.cycle) {
    case MultigridCycle::specified: return std::make_unique<SpecifiedCycle>(execution);
    case MultigridCycle::textbook:
        return std::make_unique<TextbookCycle>(execution, problem.solver, false);
    case MultigridCycle::fast:
        return std::make_unique<TextbookCycle>(execution, problem.solver, true);
    }
    return std::make_unique<SpecifiedCycle>(execution);
}

class Multigrid {
public:
    Multigrid(const SolutionProblem& problem, SolutionControl& control, Solution& solution)
        : problem_(problem), control_(control), solution_(solution), cycle_(cycle_of(problem))
    {
    }

    void run();

private:
    Level& level(int k) { return levels_[static_cast<std::size_t>(k - 1)]; }
    int finest() const { return static_cast<int>(levels_.size()); }

    void first_visit();
    void descend(int k);
    void ascend(int k);
    bool visit_finest();
    double smooth_folded(int k, std::span<double> u, std::function<void(std::int64_t)> before);
    void update_ghosts_after(const Level& level, std::span<double> u, std::int64_t j) const;

    const SolutionProblem& problem_;
    SolutionControl& control_;
    Solution& solution_;
    const std::unique_ptr<Cycle> cycle_;
    const bool levels_wanted_ = control_.observer.wants_level_norms();
    std::vector<Level> levels_;              // grid k at k - 1
    // The textbook cycle with a smoother that folds work on rows into its
    // sweeps: each grid's transfers ride in its smoothing's passes over
    // memory (the zeroing of the correction and the interpolation in the
    // first sweep's, the restriction and the norm in the last one's).
    bool folded_ = false;
    std::vector<double> observer_residual_;  // for the norms of grids that keep no residual
};

// Outer iteration 1: the finest grid smoothed from zero; its norm is the
// reference of every ratio.
void Multigrid::first_visit()
{
    Level& top = level(finest());
    if (folded_) {
        solution_.first_residual_norm = smooth_folded(finest(), solution_.t, [](std::int64_t) {});
    } else {
        top.smoother.smooth(top.system, solution_.t);
        solution_.first_residual_norm = cycle_->finest_norm(top, solution_.t, level(finest() - 1));
    }
    solution_.outer_iteration = 1;
    if (levels_wanted_) control_.observer.level_norm(1, finest(), solution_.first_residual_norm);
    control_.history_line(1, 1.0);
    control_.observer.finest_iterate({1, 1.0, problem_.max_outer_iterations <= 1, top.system, solution_.t});
    if (cycle_->keeps_residuals()) store_residual(top.system, solution_.t, top.residual, problem_.execution);
}

// Grid k on the way down: the correction equation whose right-hand side is
// the restricted residual of grid k + 1, smoothed from a zero correction.
void Multigrid::descend(int k)
{
    Level& here = level(k);
    if (folded_) {
        // the right-hand side restricted already, in the smoothing of grid k + 1
        const std::int64_t nx = here.grid.nx;
        double* correction = here.correction.data();
        smooth_folded(k, here.correction,
                      [=](std::int64_t j) { std::fill(correction + (j - 1) * nx, correction + j * nx, 0.0); });
    } else {
        const Level& above = level(k + 1);
        const bool from_finest = k + 1 == finest();
        cycle_->restrict_to(above, from_finest ? std::span<const double>(solution_.t) : above.correction, here,
                            from_finest);
        std::fill(here.correction.begin(), here.correction.end(), 0.0);
        here.smoother.smooth(here.system, here.correction);
    }
    // what the smoothing left, for the next coarser grid's right-hand side
    // (and for this grid's own on the way up, in the specified cycle)
    if (!here.residual.empty()) store_residual(here.system, here.correction, here.residual, problem_.execution);
    if (!levels_wanted_) return;
    // a grid that keeps no residual (the coarsest; every grid of the
    // textbook cycle) computes it only for the observer, in an array of the
    // observer's own
    std::span<const double> residual = here.residual;
    if (residual.empty()) {
        const auto n = static_cast<std::size_t>(here.grid.volume_count);
        if (observer_residual_.size() < n) observer_residual_ = create_array(problem_.execution, "residual", n);
        store_residual(here.system, here.correction, observer_residual_, problem_.execution);
        residual = observer_residual_;
    }
    control_.observer.level_norm(solution_.outer_iteration, k, real_volume_norm(here.grid, residual));
}

// Grid k (neither coarsest nor finest) on the way up: its correction, with
// the interpolated coarser one added, smoothed again.
void Multigrid::ascend(int k)
{
    Level& here = level(k);
    const Level& below = level(k - 1);
    if (folded_) {
        smooth_folded(k, here.correction, [&](std::int64_t j) {
            prolongate_correction_bilinear_row(here.grid.nx, here.grid.ny, below.grid.nx, below.grid.ny,
                                               below.correction, here.correction, static_cast<std::int32_t>(j));
            update_ghosts_after(here, here.correction, j);
        });
        return;
    }
    cycle_->transfer().prolongate_correction(below, here);
    if (cycle_->updates_ghosts()) update_ghost_volumes(here.system, here.correction);
    cycle_->ascent_right_hand_side(here);
    here.smoother.smooth(here.system, here.correction);
}

// The finest-grid visit of a cycle: the interpolated correction added to t,
// t smoothed, the convergence test. True when the run has converged.
bool Multigrid::visit_finest()
{
    Level& top = level(finest());
    std::vector<double>& t = solution_.t;
    const Level& below = level(finest() - 1);
    if (folded_) {
        solution_.residual_norm = smooth_folded(finest(), t, [&](std::int64_t j) {
            prolongate_correction_bilinear_to_field_row(top.grid.nx, top.grid.ny, below.grid.nx, below.grid.ny,
                                                        below.correction, t, static_cast<std::int32_t>(j));
            update_ghosts_after(top, t, j);
        });
    } else {
        cycle_->transfer().prolongate_to_field(below, top, t);
        if (cycle_->updates_ghosts()) update_ghost_volumes(top.system, t);
        top.smoother.smooth(top.system, t);
        solution_.residual_norm = cycle_->finest_norm(top, t, level(finest() - 1));
    }
    if (levels_wanted_) control_.observer.level_norm(solution_.outer_iteration, finest(), solution_.residual_norm);
    const double ratio = solution_.residual_norm / solution_.first_residual_norm;
    control_.history_line(solution_.outer_iteration, ratio);
    const bool converged = ratio <= problem_.tolerance;
    control_.observer.finest_iterate({solution_.outer_iteration, ratio,
                                      converged || solution_.outer_iteration == problem_.max_outer_iterations,
                                      top.system, t});
    if (converged) {
        solution_.elapsed_seconds = control_.elapsed_clock();
        return true;
    }
    if (cycle_->keeps_residuals()) store_residual(top.system, t, top.residual, problem_.execution);
    return false;
}

// In the fast cycle, once row j has its interpolation: its ghost volumes,
// and row 1's once row 2 has it. The rows come ready ahead of the first
// sweep's first read of each, the edge rows of each band first; rows 2 ...
// ny - 1 give the same bits in any order, row ny comes after row ny - 1,
// and the values are those of update_ghost_volumes() after the whole
// interpolation.
void Multigrid::update_ghosts_after(const Level& level, std::span<double> u, std::int64_t j) const
{
    if (!cycle_->updates_ghosts()) return;
    if (j == 1) return;
    update_ghost_volumes(level.system, u, j);
    if (j == 2) update_ghost_volumes(level.system, u, 1);
}

// Grid k's unknown u smoothed, with before(j) on each row ahead of the first
// sweep's first read of it, and on grids above the coarsest the restriction
// of what the smoothing leaves into the right-hand side of grid k - 1, row
// by row as the rows become final: the bits of the separate passes. Returns
// the norm of the residual restricted (0 on the coarsest grid).
double Multigrid::smooth_folded(int k, std::span<double> u, std::function<void(std::int64_t)> before)
{
    Level& here = level(k);
    if (k == 1) {
        here.smoother.smooth(here.system, u, problem_.execution, RowWork{std::move(before), [](std::int64_t) {}});
        return 0.0;
    }
    Level& below = level(k - 1);
    const std::span<double> b = below.b();
    const std::int32_t coarse_nx = below.grid.nx;
    const std::int32_t coarse_ny = below.grid.ny;
    const auto ny = static_cast<std::size_t>(here.grid.ny);
    std::vector<double> row_norms(ny + 1, 0.0);
    restrict_residual_sum_row_of(here.system, u, coarse_nx, coarse_ny, b, 1, row_norms);
    restrict_residual_sum_row_of(here.system, u, coarse_nx, coarse_ny, b, coarse_ny, row_norms);
    // a coarse row covers the fine rows 2c - 2 and 2c - 1, and is restricted
    // once both are final; each row is marked by one thread
    std::vector<char> final_rows(ny + 2, 0);
    const auto after = [&](std::int64_t j) {
        final_rows[static_cast<std::size_t>(j)] = 1;
        const std::int64_t partner = j % 2 == 0 ? j + 1 : j - 1;
        if (final_rows[static_cast<std::size_t>(partner)] == 0) return;
        restrict_residual_sum_row_of(here.system, u, coarse_nx, coarse_ny, b,
                                     static_cast<std::int32_t>((std::max(j, partner) + 1) / 2), row_norms);
    };
    here.smoother.smooth(here.system, u, problem_.execution, RowWork{std::move(before), after});
    double norm = 0.0;
    for (std::size_t j = 2; j + 1 <= ny; ++j) norm = norm + row_norms[j];
    return norm;
}

void Multigrid::run()
{
    solution_.elapsed_seconds = control_.elapsed_clock();
    const int count = problem_.grids.count();
    solution_.t =
        create_array(problem_.execution, "t", static_cast<std::size_t>(problem_.grids.volume_count_of(count)));
    levels_.reserve(static_cast<std::size_t>(count));
    // the finest grid's b is never written in the textbook cycles: its ghost
    // volumes' entries alone where the smoother reads no other (a third of
    // the memory, and of the fresh pages a run waits for)
    for (int k = 1; k <= count; ++k)
        levels_.emplace_back(problem_, k, k > 1 && cycle_->keeps_residuals(), cycle_->gauss_seidel_order(),
                             cycle_->inner_iterations(k, count, problem_.solver.max_inner_iterations),
                             k == count && problem_.cycle != MultigridCycle::specified ? RhsKept::ghosts
                                                                                       : RhsKept::whole);
    solution_.grid = level(count).grid;
    folded_ = problem_.cycle != MultigridCycle::specified && level(count).smoother.folds_row_work();

    first_visit();
    bool converged = false;
    for (std::int64_t outer = 2; outer <= problem_.max_outer_iterations && !converged; ++outer) {
        solution_.outer_iteration = static_cast<std::int32_t>(outer);
        for (int k = count - 1; k >= 1; --k) descend(k);
        for (int k = 2; k < count; ++k) ascend(k);
        converged = visit_finest();
    }
    if (!converged) solution_.elapsed_seconds = control_.elapsed_clock();
}

}  // namespace

void solve_multigrid(const SolutionProblem& problem, SolutionControl& control, Solution& solution)
{
    Multigrid cycle(problem, control, solution);
    cycle.run();
}

double solution_memory_bytes(const GridHierarchy& grids, const SolverSettings& solver, MultigridCycle cycle,
                             const Execution& execution)
{
    // Per volume of a grid: b, the table unless the grid's system is a
    // stencil without one, and the smoother's kept tables; with several grids
    // each grid's residual (in the specified cycle only) and, but on the
    // finest grid, its correction. The finest grid of the textbook cycles
    // under red-black Gauss-Seidel: b of its ghost volumes alone.
    // Once: t, and the largest call's work arrays (the finest grid's).
    const int count = grids.count();
    const bool finest_ghost_rhs =
        count > 1 && cycle != MultigridCycle::specified &&
        Smoother::folds_row_work(solver.kind,
                                 textbook_sweep_order(cycle == MultigridCycle::fast, solver.max_inner_iterations));
    double doubles = 0.0;
    for (int k = 1; k <= count; ++k) {
        const bool stencil = stencil_fits(grids.nx_of(k), grids.ny_of(k), execution);
        const bool table = Smoother::table_kept(solver.kind) == TableKept::yes || !stencil;
        const bool ghost_rhs = k == count && finest_ghost_rhs && stencil;
        double per_volume = (ghost_rhs ? 0.0 : 1.0) + (table ? 5.0 : 0.0) + Smoother::kept_doubles_per_volume(solver.kind);
        if (count > 1 && k < count) per_volume += 1.0;  // the correction
        if (count > 1 && cycle == MultigridCycle::specified) per_volume += 1.0;
        doubles += per_volume * grids.volume_count_of(k);
        if (ghost_rhs) doubles += static_cast<double>(ghost_rhs_count(grids.nx_of(k), grids.ny_of(k)));
    }
    const double finest = grids.volume_count_of(count);
    doubles += finest * (1.0 + Smoother::work_doubles_per_volume(solver.kind));
    return doubles * 8.0;
}

}  // namespace placatermo
