// The grid being worked on, the five-point coefficient system with its ghost
// volumes, and the L1 residual norm.
//
// Volume (i, j), i = 1 ... nx west to east and j = 1 ... ny south to north,
// ghost volumes included, has the number P = i + (j - 1) nx, from 1. Tables of
// several columns are stored column by column with volume_count as the
// leading dimension; the coefficient table `a` has the columns as, aw, ap, ae,
// an (south, west, the volume itself, east, north), with their signs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace placatermo {

struct InputParameters;

inline constexpr double pi = 3.141592653589793;

// Number of volume (i, j) on a grid of nx columns, from 1.
constexpr std::int64_t volume_number(std::int64_t i, std::int64_t j, std::int64_t nx)
{
    return i + (j - 1) * nx;
}

// A read-only or writable view of an array indexed from 1, as the volumes are
// numbered.
template <typename T>
class From1 {
public:
    From1(std::span<T> values) : data_(values.data()) {}
    From1(T* data) : data_(data) {}
    T& operator()(std::int64_t k) const { return data_[k - 1]; }

private:
    T* data_;
};

// The five columns of a coefficient table of n rows.
template <typename T>
struct Coefficients {
    From1<T> as, aw, ap, ae, an;
    Coefficients(std::span<T> a, std::int64_t n)
        : as(a.data()), aw(a.data() + n), ap(a.data() + 2 * n), ae(a.data() + 3 * n), an(a.data() + 4 * n)
    {
    }
};

struct CurrentGrid {
    std::int32_t nx = 0;
    std::int32_t ny = 0;
    std::int32_t volume_count = 0;
    double dx = 0.0;
    double dy = 0.0;
    std::int32_t center_index = 0;
    // Grid number k while the multigrid cycle visits the grids, and the
    // position before its first entry in the all-grid stores.
    std::int32_t grid_index = 0;
    std::int32_t grid_offset = 0;
};

// Makes grid k of the hierarchy the current grid: nx, ny, volume_count, dx and
// dy; center_index only when `set_center` (the finest grid).
void enter_grid(CurrentGrid& grid, const InputParameters& input, int k, bool set_center);

// Fills a (5 volume_count) and b (volume_count) for the current grid: the
// ghost rows first, then the rows of the real volumes.
void build_coefficients(const CurrentGrid& grid, const InputParameters& input, std::span<double> a,
                        std::span<double> b);

// The ghost rows: west column, east column, south row, north row.
void set_ghost_rows(const CurrentGrid& grid, const InputParameters& input, std::span<double> a,
                    std::span<double> b);

// L1 norm of the residual over the real volumes, column by column.
void compute_residual_norm(std::int32_t nx, std::int32_t ny, std::int32_t volume_count,
                           std::span<const double> a, std::span<const double> b,
                           std::span<const double> t, double& norm);

// The five coefficients shared by every real volume, when the table has them
// (bit for bit); fast kernels then keep them in registers instead of reading
// the table. Tables with fewer than one real volume are not uniform.
struct UniformInterior {
    bool uniform = false;
    double as = 0.0, aw = 0.0, ap = 0.0, ae = 0.0, an = 0.0;
};
UniformInterior find_uniform_interior(std::int32_t nx, std::int32_t ny, std::span<const double> a);

// compute_residual_norm with the table's uniformity known (found once per
// build of the table).
void compute_residual_norm(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::span<const double> a,
                           std::span<const double> b, std::span<const double> t, double& norm,
                           const UniformInterior& uniform);

namespace plain {
// The plain loop of compute_residual_norm, kept as its definition.
void compute_residual_norm(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::span<const double> a,
                           std::span<const double> b, std::span<const double> t, double& norm);
}  // namespace plain

}  // namespace placatermo
