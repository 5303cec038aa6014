// The correction-scheme multigrid cycle: descent from the second finest grid
// to the coarsest on restricted residuals, ascent with bilinear interpolation
// of the corrections, smoothing and the convergence test on the finest grid.
#include <algorithm>

#include "drivers/drivers.hpp"
#include "run/errors.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

// The arrays of one grid visit, created on entering the grid and released on
// leaving it; build_coefficients fills them completely.
struct GridSystem {
    UninitializedArray a, b;
    UniformInterior uniform;  // of a, found after each build
    GridSystem(std::size_t n) : a("a", 5 * n), b("b", n) {}
};

}  // namespace

void store_residual(std::int32_t nx_, std::int32_t ny_, std::span<const double> a, std::span<const double> b_values,
                    std::span<const double> u_values, std::span<double> residual)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    const Coefficients<const double> c(a, nx * ny);
    const From1<const double> b(b_values);
    const From1<const double> u(u_values);
    const From1<double> r(residual);
    for (std::int64_t j = 2; j <= ny - 1; ++j) {  // every entry on its own: rows in memory order
        for (std::int64_t i = 2; i <= nx - 1; ++i) {
            const std::int64_t p = volume_number(i, j, nx);
            r(p) = b(p) - (c.as(p) * u(p - nx) + c.ap(p) * u(p) + c.aw(p) * u(p - 1) + c.ae(p) * u(p + 1) +
                           c.an(p) * u(p + nx));
        }
    }
}

void restrict_residual(std::int32_t coarse_nx, std::int32_t coarse_ny, std::int32_t fine_nx_,
                       std::span<const double> fine_residual, std::span<double> b_values,
                       std::span<double> coarse_residual)
{
    const std::int64_t nx = coarse_nx;
    const std::int64_t ny = coarse_ny;
    const std::int64_t fine_nx = fine_nx_;
    std::fill(b_values.begin(), b_values.end(), 0.0);
    const From1<double> b(b_values);
    const From1<const double> fine(fine_residual);
    const From1<double> coarse(coarse_residual);
    for (std::int64_t j = 2; j <= ny - 1; ++j) {  // every entry on its own: rows in memory order
        for (std::int64_t i = 2; i <= nx - 1; ++i) {
            const double v = fine((2 * i - 1) + (2 * j - 2) * fine_nx);
            const std::int64_t p = volume_number(i, j, nx);
            b(p) = v;
            coarse(p) = v;
        }
    }
}

void prolongate_correction(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                           std::span<const double> coarse_correction, std::span<double> fine_correction)
{
    const std::int64_t nx = fine_nx;
    const std::int64_t ny = fine_ny;
    const std::int64_t nxc = coarse_nx;
    const From1<const double> c(coarse_correction);
    const From1<double> fine(fine_correction);
    for (std::int64_t j = 2; j <= ny - 1; ++j) {  // every entry on its own: rows in memory order
        for (std::int64_t i = 2; i <= nx - 1; ++i) {
            const std::int64_t ic = (i - 1) / 2 + 1;
            const std::int64_t jc = (j - 1) / 2 + 1;
            const std::int64_t pc = ic + (jc - 1) * nxc;
            const bool odd_i = i % 2 == 1;
            const bool odd_j = j % 2 == 1;
            double value;
            if (odd_i && odd_j) value = c(pc);
            else if (odd_j) value = 0.5 * (c(pc) + c(pc + 1));
            else if (odd_i) value = 0.5 * (c(pc) + c(pc + nxc));
            else value = 0.25 * (((c(pc) + c(pc + 1)) + c(pc + nxc)) + c(pc + nxc + 1));
            const std::int64_t p = volume_number(i, j, nx);
            fine(p) = fine(p) + value;
        }
    }
}

namespace {

class Multigrid {
public:
    explicit Multigrid(RunContext& run)
        : run_(run), in_(run.input), grid_(run.grid), top_(run.input.grid_count)
    {
        offsets_.assign(static_cast<std::size_t>(top_) + 1, 0);
        for (int k = 2; k <= top_; ++k)
            offsets_[static_cast<std::size_t>(k)] = offsets_[static_cast<std::size_t>(k - 1)] + in_.volume_count_of(k - 1);
    }

    void run();

private:
    std::size_t count_of(int k) const { return static_cast<std::size_t>(in_.volume_count_of(k)); }
    std::int64_t offset_of(int k) const { return offsets_[static_cast<std::size_t>(k)]; }

    void enter(int k)
    {
        grid_.grid_index = k;
        grid_.grid_offset = static_cast<std::int32_t>(offset_of(k));
        enter_grid(grid_, in_, k, k == top_);
    }

    void build(GridSystem& sys)
    {
        build_coefficients(grid_, in_, sys.a, sys.b);
        sys.uniform = find_uniform_interior(grid_.nx, grid_.ny, sys.a);
    }

    void smooth(const GridSystem& sys, MsiTables& msi, std::span<double> u)
    {
        if (in_.solver_kind == 5)
            factorize_msi(sys.a, msi.lower, msi.upper, grid_.volume_count, grid_.nx, grid_.ny);
        call_selected_solver(in_, grid_, sys.a, sys.b, msi, sys.uniform, u);
    }

    std::span<double> part_of(std::vector<double>& store, int k)
    {
        return std::span<double>(store).subspan(static_cast<std::size_t>(offset_of(k)), count_of(k));
    }

    void store_residual_of(const GridSystem& sys, std::span<const double> u)
    {
        store_residual(grid_.nx, grid_.ny, sys.a, sys.b, u, part_of(residual_store_, grid_.grid_index));
    }

    void copy_to_store(std::span<const double> u)
    {
        std::copy(u.begin(), u.end(), part_of(correction_store_, grid_.grid_index).begin());
    }

    void descend(int k);
    void ascend_intermediate(int k, MsiTables& msi);
    bool ascend_finest(std::int32_t outer, MsiTables& msi);

    RunContext& run_;
    const InputParameters& in_;
    CurrentGrid& grid_;
    const int top_;
    std::vector<std::int64_t> offsets_;
    std::vector<double> residual_store_, correction_store_;
};

void Multigrid::descend(int k)
{
    UninitializedArray correction("correction", count_of(k));
    GridSystem sys(count_of(k));
    MsiTables msi;
    msi.create(in_, in_.volume_count_of(k));
    enter(k);
    build(sys);
    restrict_residual(grid_.nx, grid_.ny, in_.nx_of(k + 1), part_of(residual_store_, k + 1), sys.b,
                      part_of(residual_store_, k));
    std::fill(correction.begin(), correction.end(), 0.0);
    smooth(sys, msi, correction);
    copy_to_store(correction);
    store_residual_of(sys, correction);
}

void Multigrid::ascend_intermediate(int k, MsiTables& msi)
{
    UninitializedArray correction("correction", count_of(k));
    GridSystem sys(count_of(k));
    build(sys);
    const std::int64_t nx = grid_.nx;
    const std::int64_t ny = grid_.ny;
    std::fill(sys.b.begin(), sys.b.end(), 0.0);
    const From1<double> b(sys.b.data());
    const From1<const double> residual(part_of(residual_store_, k).data());
    for (std::int64_t j = 2; j <= ny - 1; ++j)  // every entry on its own: rows in memory order
        for (std::int64_t i = 2; i <= nx - 1; ++i) {
            const std::int64_t p = volume_number(i, j, nx);
            b(p) = residual(p);
        }
    const auto stored = part_of(correction_store_, k);
    std::copy(stored.begin(), stored.end(), correction.begin());
    smooth(sys, msi, correction);
    copy_to_store(correction);
}

// The finest-grid visit of a cycle; true when the run has converged.
bool Multigrid::ascend_finest(std::int32_t outer, MsiTables& msi)
{
    RunState& state = run_.state;
    GridSystem sys(count_of(top_));
    const auto stored = part_of(correction_store_, top_);
    for (std::size_t p = 0; p < run_.t.size(); ++p) run_.t[p] = run_.t[p] + stored[p];
    build(sys);
    smooth(sys, msi, run_.t);
    compute_residual_norm(grid_.nx, grid_.ny, grid_.volume_count, sys.a, sys.b, run_.t, state.residual_norm,
                          sys.uniform);
    const double ratio = state.residual_norm / state.first_residual_norm;
    write_history_line(run_, outer, ratio);
    if (ratio <= in_.tolerance) {
        state.elapsed_seconds = run_.clock.read();
        return true;
    }
    store_residual_of(sys, run_.t);
    return false;
}

void Multigrid::run()
{
    RunState& state = run_.state;
    state.elapsed_seconds = run_.clock.read();
    run_.t = create_array("t", count_of(top_));
    const auto total = static_cast<std::size_t>(in_.total_volume_count);
    residual_store_ = create_array("residual_store", total);
    correction_store_ = create_array("correction_store", total);

    enter(top_);
    {
        GridSystem sys(count_of(top_));
        MsiTables msi;
        msi.create(in_, in_.volume_count_of(top_));
        build(sys);
        smooth(sys, msi, run_.t);
        compute_residual_norm(grid_.nx, grid_.ny, grid_.volume_count, sys.a, sys.b, run_.t,
                              state.first_residual_norm, sys.uniform);
        state.outer_iteration = 1;
        write_history_line(run_, 1, 1.0);
        store_residual_of(sys, run_.t);
    }

    bool converged = false;
    for (std::int64_t outer = 2; outer <= in_.max_outer_iterations && !converged; ++outer) {
        state.outer_iteration = static_cast<std::int32_t>(outer);
        for (int k = top_ - 1; k >= 1; --k) descend(k);
        for (int k = 2; k <= top_; ++k) {
            MsiTables msi;
            msi.create(in_, in_.volume_count_of(k));
            enter(k);
            if (k == top_) {
                const auto finest = part_of(correction_store_, k);
                std::fill(finest.begin(), finest.end(), 0.0);
            }
            prolongate_correction(grid_.nx, grid_.ny, in_.nx_of(k - 1), part_of(correction_store_, k - 1),
                                  part_of(correction_store_, k));
            if (k < top_) ascend_intermediate(k, msi);
            else converged = ascend_finest(state.outer_iteration, msi);
        }
    }
    if (!converged) state.elapsed_seconds = run_.clock.read();
    write_results(run_);
}

}  // namespace

void solve_multigrid(RunContext& run)
{
    Multigrid cycle(run);
    cycle.run();
}

}  // namespace placatermo
