// The correction-scheme multigrid cycle over the grids 1 (coarsest) ...
// count (finest): descent from the second finest grid to the coarsest on
// restricted residuals, ascent with bilinear interpolation of the
// corrections, smoothing and the convergence test on the finest grid. Every
// grid visit builds its system anew and releases it when it leaves; the
// smoother of each grid is kept.
//
// Two cycles share these steps. The specified one injects the paired fine
// residual and, on the way up, gives an intermediate grid the residual left
// after its own descent smoothing as right-hand side. The textbook one
// (--multigrid=classico) sums the four fine residuals a coarse volume covers,
// keeps each grid's right-hand side from the descent for its ascent, and
// interpolates between the coarse volume centres; the finest grid, the
// smoother, the history and the convergence test are the same.
#include <algorithm>

#include "base/build_options.hpp"
#include "drivers/drivers.hpp"
#include "grid/arrays.hpp"
#include "grid/linear_system.hpp"

namespace placatermo {

namespace {

class Multigrid {
public:
    Multigrid(const SolutionProblem& problem, SolutionReport& report, Solution& solution)
        : problem_(problem), report_(report), solution_(solution), finest_(problem.grids.count())
    {
        offsets_.assign(static_cast<std::size_t>(finest_) + 1, 0);
        for (int k = 0; k <= finest_; ++k) smoothers_.emplace_back(problem.solver);
        for (int k = 2; k <= finest_; ++k)
            offsets_[static_cast<std::size_t>(k)] = offsets_[static_cast<std::size_t>(k - 1)] + size_of(k - 1);
    }

    void run();

private:
    std::size_t size_of(int k) const { return static_cast<std::size_t>(problem_.grids.volume_count_of(k)); }
    std::int32_t nx_of(int k) const { return problem_.grids.nx_of(k); }
    std::int32_t ny_of(int k) const { return problem_.grids.ny_of(k); }

    // Grid k's part of an all-grid store.
    std::span<double> level(std::vector<double>& store, int k)
    {
        return std::span<double>(store).subspan(offsets_[static_cast<std::size_t>(k)], size_of(k));
    }

    void enter(int k) { enter_grid(solution_.grid, problem_.plate, problem_.grids, k); }

    // Builds grid k's system (the current grid); without the real volumes'
    // coefficients when its smoother takes them from `uniform` (the norm and
    // the stored residual do).
    LinearSystem system_of(int k)
    {
        LinearSystem system(nx_of(k), ny_of(k));
        build(k, system);
        return system;
    }
    void build(int k, LinearSystem& system)
    {
        const Smoother& smoother = smoothers_[static_cast<std::size_t>(k)];
        system.build(solution_.grid, problem_.plate, smoother.reads_interior_coefficients(nx_of(k), ny_of(k)));
    }

    // Grid k's table is the same on every visit, and so are its MSI
    // factors: the fast build keeps them and factorises each grid once.
    void smooth(int k, const LinearSystem& system, std::span<double> u)
    {
        const auto g = static_cast<std::size_t>(k);
        if (plain_kernels_only || !smoothers_[g].prepared()) smoothers_[g].prepare(system);
        smoothers_[g].smooth(system, u);
    }

    void first_visit();
    void descend(int k);
    void ascend_intermediate(int k);
    bool ascend_finest();

    bool textbook() const { return problem_.cycle == MultigridCycle::textbook; }

    const SolutionProblem& problem_;
    SolutionReport& report_;
    Solution& solution_;
    const int finest_;
    std::vector<std::size_t> offsets_;
    std::vector<Smoother> smoothers_;
    // Per grid: the specified cycle keeps the residual left by the last
    // smoothing; the textbook cycle keeps the finest grid's residual and each
    // coarser grid's right-hand side, and hands the residual of the grid just
    // smoothed to the next coarser one in `descent_residual_`.
    std::vector<double> residual_store_, correction_store_;
    UninitializedArray descent_residual_;
};

// Outer iteration 1: the finest grid smoothed from zero; its norm is the
// reference of every ratio.
void Multigrid::first_visit()
{
    enter(finest_);
    const LinearSystem system = system_of(finest_);
    smooth(finest_, system, solution_.t);
    compute_residual_norm(system, solution_.t, solution_.first_residual_norm);
    solution_.outer_iteration = 1;
    write_history_line(report_, 1, 1.0);
    store_residual(system, solution_.t, level(residual_store_, finest_));
}

// Grid k on the way down: the injected residual of grid k + 1 as the
// right-hand side, smoothed from a zero correction.
void Multigrid::descend(int k)
{
    enter(k);
    LinearSystem system = system_of(k);
    if (textbook()) {
        const std::span<const double> fine_residual =
            k + 1 == finest_ ? std::span<const double>(level(residual_store_, k + 1)) : descent_residual_;
        restrict_residual_sum(nx_of(k), ny_of(k), nx_of(k + 1), fine_residual, system.b);
        std::copy(system.b.begin(), system.b.end(), level(residual_store_, k).begin());
    } else {
        restrict_residual(nx_of(k), ny_of(k), nx_of(k + 1), level(residual_store_, k + 1), system.b,
                          level(residual_store_, k));
    }
    // smoothed where it is kept
    const auto correction = level(correction_store_, k);
    std::fill(correction.begin(), correction.end(), 0.0);
    smooth(k, system, correction);
    if (!textbook()) {
        store_residual(system, correction, level(residual_store_, k));
    } else if (k > 1) {
        descent_residual_ = UninitializedArray();
        descent_residual_ = UninitializedArray("residual", size_of(k));
        store_residual(system, correction, descent_residual_);
    }
}

// Grid k (neither coarsest nor finest) on the way up: its stored correction,
// with the interpolated coarser one added, smoothed against the residual that
// its descent left.
void Multigrid::ascend_intermediate(int k)
{
    LinearSystem system = system_of(k);
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    // the residual on the real volumes, zero on the ghost ones, row by row
    double* b = system.b.data();
    const double* residual = level(residual_store_, k).data();
    std::fill(b, b + nx, 0.0);
    for (std::int64_t row = nx; row < (ny - 1) * nx; row += nx) {
        b[row] = 0.0;
        std::copy(residual + row + 1, residual + row + nx - 1, b + row + 1);
        b[row + nx - 1] = 0.0;
    }
    std::fill(b + (ny - 1) * nx, b + ny * nx, 0.0);
    smooth(k, system, level(correction_store_, k));
}

// The finest-grid visit of a cycle: the correction added to t, t smoothed,
// the convergence test. True when the run has converged.
bool Multigrid::ascend_finest()
{
    LinearSystem system(nx_of(finest_), ny_of(finest_));
    const auto stored = level(correction_store_, finest_);
    std::vector<double>& t = solution_.t;
    for (std::size_t p = 0; p < t.size(); ++p) t[p] = t[p] + stored[p];
    build(finest_, system);
    smooth(finest_, system, t);
    compute_residual_norm(system, t, solution_.residual_norm);
    const double ratio = solution_.residual_norm / solution_.first_residual_norm;
    write_history_line(report_, solution_.outer_iteration, ratio);
    if (ratio <= problem_.tolerance) {
        solution_.elapsed_seconds = report_.elapsed_clock();
        return true;
    }
    store_residual(system, t, level(residual_store_, finest_));
    return false;
}

void Multigrid::run()
{
    solution_.elapsed_seconds = report_.elapsed_clock();
    solution_.t = create_array("t", size_of(finest_));
    const auto total = static_cast<std::size_t>(problem_.grids.total_volume_count);
    residual_store_ = create_array("residual_store", total);
    correction_store_ = create_array("correction_store", total);

    first_visit();
    bool converged = false;
    for (std::int64_t outer = 2; outer <= problem_.max_outer_iterations && !converged; ++outer) {
        solution_.outer_iteration = static_cast<std::int32_t>(outer);
        for (int k = finest_ - 1; k >= 1; --k) descend(k);
        for (int k = 2; k <= finest_; ++k) {
            enter(k);
            if (k == finest_) {
                const auto finest = level(correction_store_, k);
                std::fill(finest.begin(), finest.end(), 0.0);
            }
            if (textbook())
                prolongate_correction_bilinear(nx_of(k), ny_of(k), nx_of(k - 1), ny_of(k - 1),
                                               level(correction_store_, k - 1), level(correction_store_, k));
            else
                prolongate_correction(nx_of(k), ny_of(k), nx_of(k - 1), level(correction_store_, k - 1),
                                      level(correction_store_, k));
            if (k < finest_)
                ascend_intermediate(k);
            else
                converged = ascend_finest();
        }
    }
    if (!converged) solution_.elapsed_seconds = report_.elapsed_clock();
    descent_residual_ = UninitializedArray();
}

}  // namespace

void solve_multigrid(const SolutionProblem& problem, SolutionReport& report, Solution& solution)
{
    Multigrid cycle(problem, report, solution);
    cycle.run();
}

}  // namespace placatermo
