// The five linear solvers of the five-point system a t = b of one grid.
//
// Common conventions:
// - system: the grid's sizes nx, ny (ghost volumes included, at least 2 each)
//   and volume_count = nx ny, the table a (volume_count rows by the five
//   columns as, aw, ap, ae, an, column by column) and b; only read.
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
//
// The fast kernels give the plain loops' bits (namespace plain below): they
// visit in another order only where every update still sees the same values.
#pragma once

#include <cstdint>
#include <span>

#include "grid/linear_system.hpp"

namespace placatermo {

// Point iterations; the point sweep visits k = 1, the rest of row 1, rows 2 ...
// ny - 1 column by column, row ny without its last volume, and volume_count.
void solve_jacobi(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t);
void solve_gauss_seidel(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t);
// A whole Gauss-Seidel sweep, then the relaxation of the whole field against
// the field before the sweep.
void solve_sor(const LinearSystem& system, std::int32_t max_inner_iterations, double sor_relaxation,
               std::span<double> t);

// Gauss-Seidel and SOR sweep large grids on two threads when the machine has
// two cores (same bits as on one); false keeps them on one thread.
void set_parallel_sweeps(bool enabled);

// Starts the helper thread of the two-thread sweeps if it is not running:
// called before a solution's large arrays are created, so that what the
// thread allocates does not end up between them.
void prepare_parallel_sweeps();

// Whether Jacobi, Gauss-Seidel and SOR on an nx x ny system with a uniform
// interior read the real volumes' coefficients from the table (or only its
// ghost rows).
bool point_solvers_read_interior(std::int32_t nx, std::int32_t ny);

// Alternating-direction line iteration: an x half-step along the rows, then a
// y half-step along the columns, each line solved by the Thomas algorithm.
void solve_adi(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t);
// Whether solve_adi on an nx x ny system with a uniform interior reads the
// real volumes' coefficients from the table (or only its ghost rows).
bool solve_adi_reads_interior(std::int32_t nx, std::int32_t ny);

// Modified strongly implicit procedure: the incomplete factorisation L U of a
// into msi_lower (columns lp, lw, lse, ls) and msi_upper (ue, unw, un), stored
// like a ...
void factorize_msi(const LinearSystem& system, std::span<double> msi_lower, std::span<double> msi_upper);
// ... and the residual correction with it, until the Euclidean residual norm
// is no longer above msi_tolerance times its value at entry, or after
// max_inner_iterations corrections.
void solve_msi(const LinearSystem& system, std::span<const double> msi_lower, std::span<const double> msi_upper,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<double> t);
// Whether solve_msi on an nx x ny system with a uniform interior reads the
// real volumes' coefficients from the table (or only its ghost rows).
bool solve_msi_reads_interior(std::int32_t nx, std::int32_t ny);

// msi_alpha of volume k: 0.5 for a real volume, 0 for a ghost volume.
double msi_alpha(std::int64_t k, std::int64_t nx, std::int64_t ny);

// The plain loops, in the stated visiting order: the definition that the
// faster kernels above must reproduce bit for bit.
namespace plain {
void solve_jacobi(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t);
void solve_gauss_seidel(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t);
void solve_sor(const LinearSystem& system, std::int32_t max_inner_iterations, double sor_relaxation,
               std::span<double> t);
void solve_adi(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t);
void factorize_msi(const LinearSystem& system, std::span<double> msi_lower, std::span<double> msi_upper);
void solve_msi(const LinearSystem& system, std::span<const double> msi_lower, std::span<const double> msi_upper,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<double> t);
}  // namespace plain

}  // namespace placatermo
