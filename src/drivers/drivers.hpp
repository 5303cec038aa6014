// The solution drivers: outer iterations on one grid, or the multigrid cycle
// over the whole hierarchy. Both leave the temperatures of the finest grid in
// the run's `t`, the finest grid as the current grid, and the results written.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "grid/grid.hpp"
#include "run/context.hpp"
#include "run/errors.hpp"

namespace placatermo {

void solve_single_grid(RunContext& run);
void solve_multigrid(RunContext& run);

// The factor tables of the MSI solver; empty unless solver_kind is 5.
// factorize_msi fills them completely.
struct MsiTables {
    UninitializedArray lower, upper;
    void create(const InputParameters& input, std::int32_t volume_count);
    void release();
};

// One call of the solver that solver_kind selects (1 Jacobi, 2 Gauss-Seidel,
// 3 SOR, 4 ADI, 5 MSI; any other value: none) on the current grid, with u as
// the unknown.
// `uniform` is find_uniform_interior of a.
void call_selected_solver(const InputParameters& input, const CurrentGrid& grid, std::span<const double> a,
                          std::span<const double> b, const MsiTables& msi, const UniformInterior& uniform,
                          std::span<double> u);

// The history line (TR2, I8, E15.6) of one outer iteration. The line reaches
// the file within about a second; a requested stop ends the run here.
void write_history_line(RunContext& run, std::int32_t iteration, double ratio);

// Building blocks of the multigrid cycle. The spans are one grid's part of the
// all-grid stores (entry P - 1 for volume P).
//
// Injection: for every real coarse volume (i, j), b(P) and the coarse
// residual take the residual of the paired fine volume (2i - 1, 2j - 1); every
// other entry of b becomes 0.
void restrict_residual(std::int32_t coarse_nx, std::int32_t coarse_ny, std::int32_t fine_nx,
                       std::span<const double> fine_residual, std::span<double> b,
                       std::span<double> coarse_residual);
// Bilinear interpolation of the coarse correction, added to the fine
// correction of every real fine volume; fine column or row 2 reads the coarse
// ghost column or row.
void prolongate_correction(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                           std::span<const double> coarse_correction, std::span<double> fine_correction);
// The residual b - a u of the real volumes (products as, ap, aw, ae, an in
// this order); ghost entries of `residual` are not written.
void store_residual(std::int32_t nx, std::int32_t ny, std::span<const double> a, std::span<const double> b,
                    std::span<const double> u, std::span<double> residual);

// The result operations on the finest grid, in their order: boundary values,
// the temperature listing, both profiles with their plots, the mean
// temperature and the north heat rate.
void write_results(RunContext& run);

}  // namespace placatermo
