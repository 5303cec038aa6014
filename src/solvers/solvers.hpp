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
// The fast kernels give the plain loops' bits (the *_plain twins below): they
// visit in another order only where every update still sees the same values.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "base/execution.hpp"
#include "grid/linear_system.hpp"

namespace placatermo {

// Every kernel takes the form of the system it reads (grid/linear_system.hpp):
// on a UniformStencil the real volumes' coefficients are the stencil's and
// only the ghost rows of the table are read. The execution chooses the plain
// loops (tables only) or the fast kernels, and whether large grids are swept
// on two threads (the same bits as on one): Gauss-Seidel and SOR on
// whichever of one and two threads has been faster on that grid (see
// ThreadChoice) unless it says always two, ADI and MSI on two.

// Point iterations; the point sweep visits k = 1, the rest of row 1, rows 2 ...
// ny - 1 column by column, row ny without its last volume, and volume_count.
// Jacobi and SOR keep the field before a sweep in `work` when it holds
// volume_count values, else in an array created for the call.
void solve_jacobi(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                  std::span<double> work = {}, const Execution& execution = {});
void solve_jacobi(const UniformStencil& system, std::int32_t max_inner_iterations, std::span<double> t,
                  std::span<double> work = {}, const Execution& execution = {});
void solve_gauss_seidel(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                        const Execution& execution = {});
void solve_gauss_seidel(const UniformStencil& system, std::int32_t max_inner_iterations, std::span<double> t,
                        const Execution& execution = {});
// A whole Gauss-Seidel sweep, then the relaxation of the whole field against
// the field before the sweep.
void solve_sor(const CoefficientTable& system, std::int32_t max_inner_iterations, double sor_relaxation,
               std::span<double> t, std::span<double> work = {}, const Execution& execution = {});
void solve_sor(const UniformStencil& system, std::int32_t max_inner_iterations, double sor_relaxation,
               std::span<double> t, std::span<double> work = {}, const Execution& execution = {});

// Gauss-Seidel in red-black order, the textbook multigrid cycle's smoother:
// each sweep updates the unknowns whose column and row numbers add up to an
// even number (red), then the others (black), each by the point update from
// its neighbours on the grid (no term crosses a row end). No two unknowns of
// a colour are neighbours, so the order within a colour does not matter:
// large grids are swept in two bands of rows on two threads, with the same
// bits.
void solve_gauss_seidel_red_black(const CoefficientTable& system, std::int32_t max_inner_iterations,
                                  std::span<double> t, const Execution& execution = {});
void solve_gauss_seidel_red_black(const UniformStencil& system, std::int32_t max_inner_iterations,
                                  std::span<double> t, const Execution& execution = {});
// Work on whole rows folded into the sweeps' passes over memory: before(j)
// once on every row j (1 ... ny), ahead of the first sweep's first read of
// it; after(j) once on every real row (2 ... ny - 1) after the last sweep,
// when it and its neighbour rows are final. The calls come from the
// sweeping threads, each row's from one. With no sweep (max_inner_iterations
// <= 0), every before() and then every after().
struct RowWork {
    std::function<void(std::int64_t)> before, after;

    // The work around a call that does not fold it: every before(), the
    // call, every after().
    template <typename Call>
    void around(std::int64_t ny, Call call) const
    {
        for (std::int64_t j = 1; j <= ny; ++j) before(j);
        call();
        for (std::int64_t j = 2; j <= ny - 1; ++j) after(j);
    }
};
void solve_gauss_seidel_red_black(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t,
                                  const Execution& execution, const RowWork& work);
// The same in any number of bands, the odd ones on the execution's second
// thread when it has one: the bits do not depend on the bands.
void solve_gauss_seidel_red_black_in_bands(const UniformStencil& system, std::int32_t max_inner_iterations,
                                           std::span<double> t, int bands, const Execution& execution);

// The ghost volumes of row j of u, each by its point update from the values
// its neighbours have: on a ghost row the side's volumes first, then the two
// corners (which read them); elsewhere the first and the last volume, from
// their real neighbours alone (their other coefficients are zero), so that
// rows 2 ... ny - 1 give the same bits in any order.
void update_ghost_volumes(const LinearSystem& system, std::span<double> u, std::int64_t j);
// Every row's, the ghost columns first, then the ghost rows.
void update_ghost_volumes(const LinearSystem& system, std::span<double> u);

// The helper thread of the two-thread sweeps, started at the first call and
// kept for the program's life; none when it cannot be started (the system's
// limit on threads or on memory reached), and the program then stays on one
// thread, with the same bits.
SecondThread* sweep_helper();

// Alternating-direction line iteration: an x half-step along the rows, then a
// y half-step along the columns, each line solved by the Thomas algorithm.
void solve_adi(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
               const Execution& execution = {});
void solve_adi(const UniformStencil& system, std::int32_t max_inner_iterations, std::span<double> t,
               const Execution& execution = {});

// Modified strongly implicit procedure: the incomplete factorisation L U of a
// into msi_lower (columns lp, lw, lse, ls) and msi_upper (ue, unw, un), stored
// like a (it reads every entry of the table) ...
void factorize_msi(const CoefficientTable& system, std::span<double> msi_lower, std::span<double> msi_upper,
                   const Execution& execution = {});
// ... and the residual correction with it, until the Euclidean residual norm
// is no longer above msi_tolerance times its value at entry, or after
// max_inner_iterations corrections.
void solve_msi(const CoefficientTable& system, std::span<const double> msi_lower, std::span<const double> msi_upper,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<double> t,
               const Execution& execution = {});
void solve_msi(const UniformStencil& system, std::span<const double> msi_lower, std::span<const double> msi_upper,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<double> t,
               const Execution& execution = {});

// msi_alpha of volume k: 0.5 for a real volume, 0 for a ghost volume.
double msi_alpha(std::int64_t k, std::int64_t nx, std::int64_t ny);

// The plain loops, in the stated visiting order: the definition that the
// faster kernels above must reproduce bit for bit. Each lives in its fast
// twin's file. Of the execution they take only how arrays are made and where
// a stop is asked for between sweeps.
void solve_jacobi_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                        const Execution& execution = plain_execution);
void solve_gauss_seidel_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                              const Execution& execution = plain_execution);
void solve_gauss_seidel_red_black_plain(const CoefficientTable& system, std::int32_t max_inner_iterations,
                                        std::span<double> t, const Execution& execution = plain_execution);
void solve_sor_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, double sor_relaxation,
                     std::span<double> t, const Execution& execution = plain_execution);
void solve_adi_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                     const Execution& execution = plain_execution);
void factorize_msi_plain(const CoefficientTable& system, std::span<double> msi_lower, std::span<double> msi_upper);
void solve_msi_plain(const CoefficientTable& system, std::span<const double> msi_lower,
                     std::span<const double> msi_upper, double msi_tolerance, std::int32_t max_inner_iterations,
                     std::span<double> t, const Execution& execution = plain_execution);

}  // namespace placatermo
