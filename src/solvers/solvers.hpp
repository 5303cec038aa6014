// The five linear solvers of the five-point system a t = b.
//
// Common conventions:
// - nx, ny: volumes in x and y, ghost volumes included (at least 2 each);
//   volume_count = nx ny, the index of the last unknown.
// - a: volume_count rows by the five columns as, aw, ap, ae, an, column by
//   column; b: volume_count values. Both are only read.
// - t: the unknowns, improved in place (temperatures, or corrections on a
//   coarse grid of the multigrid cycle).
// - Unknown k is volume (i, j) with k = i + (j - 1) nx; its neighbours are
//   k - nx (south), k - 1 (west), k + 1 (east) and k + nx (north), found by
//   index arithmetic alone: row ends are not special, and a neighbour term is
//   left out only when its index falls outside 1 ... volume_count.
// - max_inner_iterations <= 0 leaves t unchanged (the MSI solver always makes
//   at least one correction).
// - No solver computes the convergence measure; the caller does.
// - Work arrays are created once per call; a failed creation ends the run with
//   an out-of-memory message.
#pragma once

#include <cstdint>
#include <span>

namespace placatermo {

// Point iterations; the point sweep visits k = 1, the rest of row 1, rows 2 ...
// ny - 1 column by column, row ny without its last volume, and volume_count.
void solve_jacobi(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
                  std::span<const double> a, std::span<const double> b, std::span<double> t);
void solve_gauss_seidel(std::int32_t nx, std::int32_t ny, std::int32_t volume_count,
                        std::int32_t max_inner_iterations, std::span<const double> a, std::span<const double> b,
                        std::span<double> t);
// A whole Gauss-Seidel sweep, then the relaxation of the whole field against
// the field before the sweep.
void solve_sor(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
               double sor_relaxation, std::span<const double> a, std::span<const double> b, std::span<double> t);

// The same three with the table's uniformity already known (found once per
// build of the table), so that a call does not look at the whole table again.
struct UniformInterior;
void solve_jacobi(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
                  std::span<const double> a, std::span<const double> b, std::span<double> t,
                  const UniformInterior& uniform);
void solve_gauss_seidel(std::int32_t nx, std::int32_t ny, std::int32_t volume_count,
                        std::int32_t max_inner_iterations, std::span<const double> a, std::span<const double> b,
                        std::span<double> t, const UniformInterior& uniform);
void solve_sor(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
               double sor_relaxation, std::span<const double> a, std::span<const double> b, std::span<double> t,
               const UniformInterior& uniform);

// Gauss-Seidel and SOR sweep large grids on two threads when the machine has
// two cores (same bits as on one); false keeps them on one thread.
void set_parallel_sweeps(bool enabled);

// Alternating-direction line iteration: an x half-step along the rows, then a
// y half-step along the columns, each line solved by the Thomas algorithm.
void solve_adi(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
               std::span<const double> a, std::span<const double> b, std::span<double> t);

// Modified strongly implicit procedure: the incomplete factorisation L U of a
// into msi_lower (columns lp, lw, lse, ls) and msi_upper (ue, unw, un), stored
// like a ...
void factorize_msi(std::span<const double> a, std::span<double> msi_lower, std::span<double> msi_upper,
                   std::int32_t volume_count, std::int32_t nx, std::int32_t ny);
// ... and the residual correction with it, until the Euclidean residual norm
// is no longer above msi_tolerance times its value at entry, or after
// max_inner_iterations corrections. Note ny before nx.
void solve_msi(std::span<const double> a, std::span<const double> msi_lower, std::span<const double> msi_upper,
               std::int32_t ny, std::int32_t nx, std::int32_t volume_count, std::span<double> t,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<const double> b);

// The plain loops, in the stated visiting order: the definition that the
// faster kernels above must reproduce bit for bit.
namespace plain {
void solve_jacobi(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
                  std::span<const double> a, std::span<const double> b, std::span<double> t);
void solve_gauss_seidel(std::int32_t nx, std::int32_t ny, std::int32_t volume_count,
                        std::int32_t max_inner_iterations, std::span<const double> a, std::span<const double> b,
                        std::span<double> t);
void solve_sor(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
               double sor_relaxation, std::span<const double> a, std::span<const double> b, std::span<double> t);
void solve_msi(std::span<const double> a, std::span<const double> msi_lower, std::span<const double> msi_upper,
               std::int32_t ny, std::int32_t nx, std::int32_t volume_count, std::span<double> t,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<const double> b);
void solve_adi(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
               std::span<const double> a, std::span<const double> b, std::span<double> t);
}  // namespace plain

// msi_alpha of volume k: 0.5 for a real volume, 0 for a ghost volume.
double msi_alpha(std::int64_t k, std::int64_t nx, std::int64_t ny);

}  // namespace placatermo
