// The five-point system a t = b of one grid, and its L1 residual norm.
#pragma once

#include <cstdint>
#include <span>

#include "grid/arrays.hpp"
#include "grid/grid.hpp"

namespace placatermo {

// The five coefficients shared by every real volume, when the table has them
// (bit for bit); fast kernels then keep them in registers instead of reading
// the table. Tables with fewer than one real volume are not uniform.
struct UniformInterior {
    bool uniform = false;
    double as = 0.0, aw = 0.0, ap = 0.0, ae = 0.0, an = 0.0;
};
UniformInterior find_uniform_interior(std::int32_t nx, std::int32_t ny, std::span<const double> a);

// The system of one grid: its sizes, the coefficient table `a` (5 volume_count
// values, column by column), the right-hand side `b`, and what the fast
// kernels know of the table. The solvers and the residual norm read it.
struct LinearSystem {
    // Creates a and b; their entries are set by build() or by the caller.
    LinearSystem(std::int32_t nx, std::int32_t ny);

    // The plate's coefficients for the current grid (of the same size).
    // Without with_interior, for kernels that take the real volumes'
    // coefficients from `uniform` and read only the ghost rows of the table,
    // the entries of a for the real volumes are not written; a table whose
    // real volumes would not be uniform (a NaN among the values) is built
    // whole all the same.
    void build(const CurrentGrid& grid, const Plate& plate, bool with_interior = true);
    // Finds the uniform interior again after a or b were set by other means.
    void find_uniform() { uniform = find_uniform_interior(nx, ny, a); }

    std::int32_t nx, ny, volume_count;
    UninitializedArray a, b;
    UniformInterior uniform;
};

// For tests: what build() without with_interior does with the real volumes'
// entries of a:
// leaves them (the program), fills them with NaN, so that a kernel that reads
// them gives itself away, or builds them after all.
enum class SkippedCoefficients { left, poisoned, built };
void set_skipped_coefficients(SkippedCoefficients what);

// L1 norm of the residual a t - b over the real volumes, summed column by
// column.
void compute_residual_norm(const LinearSystem& system, std::span<const double> t, double& norm);

namespace plain {
// The plain loop of compute_residual_norm, kept as its definition.
void compute_residual_norm(const LinearSystem& system, std::span<const double> t, double& norm);
}  // namespace plain

}  // namespace placatermo
