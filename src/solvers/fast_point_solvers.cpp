// Jacobi, Gauss-Seidel and SOR in a cache-friendly order that gives every
// update exactly the operands of the point sweep, for any coefficient table.
//
// The point sweep climbs the middle rows column by column. Here they are
// visited row by row, several rows at once along an anti-diagonal wavefront
// (row r lags row r - 1 by one column), which keeps each update's west and
// south neighbours new and its east and north neighbours old, and gives the
// processor independent chains of divisions to overlap. The two terms that
// cross row ends fix the place of the ghost columns: the first volume of row
// j + 1 must see the old last volume of row j, and that last volume must see
// the new first volume of row j + 1, so the first volume of the next row is
// updated before the last volume of the current one.
#include <algorithm>

#include "grid/grid.hpp"
#include "run/errors.hpp"
#include "solvers/point_update.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

using Table = Coefficients<const double>;
using detail::point_value;

// Rows in flight in the wavefront.
constexpr std::int64_t wavefront_rows = 8;

// A real volume, all four neighbours from v: the table's coefficients, or the
// uniform ones held in registers.
template <bool Uniform>
inline double interior_value(const UniformInterior& u, const Table& c, const double* b, const double* v,
                             std::int64_t q, std::int64_t nx)
{
    const std::int64_t k = q + 1;
    if constexpr (Uniform)
        return (b[q] - (((u.as * v[q - nx] + u.aw * v[q - 1]) + u.ae * v[q + 1]) + u.an * v[q + nx])) / u.ap;
    else
        return (b[q] - (((c.as(k) * v[q - nx] + c.aw(k) * v[q - 1]) + c.ae(k) * v[q + 1]) + c.an(k) * v[q + nx])) /
               c.ap(k);
}

// One Gauss-Seidel sweep in place, the same field as the point sweep.
// Needs nx >= 4 and ny >= 3.
template <bool Uniform>
void wavefront_sweep(std::int64_t nx, std::int64_t ny, std::int64_t n, const Table& c, From1<const double> b,
                     double* t_data, const UniformInterior& u)
{
    const From1<double> t(t_data);
    const From1<const double> v(t_data);
    const double* bq = &b(1);
    t(1) = point_value<false, false, true, true>(c, b, v, 1, nx);
    for (std::int64_t k = 2; k <= nx; ++k) t(k) = point_value<false, true, true, true>(c, b, v, k, nx);
    const auto edge = [&](std::int64_t i, std::int64_t j) {
        const std::int64_t k = volume_number(i, j, nx);
        t(k) = point_value<true, true, true, true>(c, b, v, k, nx);
    };
    edge(1, 2);
    for (std::int64_t j0 = 2; j0 <= ny - 1; j0 += wavefront_rows) {
        const std::int64_t rows = std::min(wavefront_rows, ny - j0);
        const std::int64_t last_step = (nx - 3) + (rows - 1);
        for (std::int64_t s = 0; s <= last_step; ++s) {
            // the first volume of row j0 + s, before that row's real volumes
            if (s >= 1 && s <= rows && j0 + s <= ny - 1) edge(1, j0 + s);
            const std::int64_t r_first = std::max<std::int64_t>(0, s - (nx - 3));
            const std::int64_t r_last = std::min(rows - 1, s);
            for (std::int64_t r = r_last; r >= r_first; --r) {
                const std::int64_t q = volume_number(2 + s - r, j0 + r, nx) - 1;
                t_data[q] = interior_value<Uniform>(u, c, bq, t_data, q, nx);
            }
            // the last volume of the row whose real volumes are now done
            if (s >= nx - 3 && s - (nx - 3) < rows) edge(nx, j0 + s - (nx - 3));
        }
    }
    for (std::int64_t i = 1; i <= nx - 1; ++i) {
        const std::int64_t k = (ny - 1) * nx + i;
        t(k) = point_value<true, true, true, false>(c, b, v, k, nx);
    }
    t(n) = point_value<true, true, false, false>(c, b, v, n, nx);
}

void gauss_seidel_sweep(std::int64_t nx, std::int64_t ny, std::int64_t n, const Table& c, From1<const double> b,
                        double* t, const UniformInterior& u)
{
    if (u.uniform) wavefront_sweep<true>(nx, ny, n, c, b, t, u);
    else wavefront_sweep<false>(nx, ny, n, c, b, t, u);
}

// One Jacobi sweep from src into dst, row by row (the order does not matter
// when every value comes from src).
template <bool Uniform>
void jacobi_sweep(std::int64_t nx, std::int64_t ny, std::int64_t n, const Table& c, From1<const double> b,
                  const double* src, double* dst_data, const UniformInterior& u)
{
    const From1<double> dst(dst_data);
    const From1<const double> v(src);
    const double* bq = &b(1);
    dst(1) = point_value<false, false, true, true>(c, b, v, 1, nx);
    for (std::int64_t k = 2; k <= nx; ++k) dst(k) = point_value<false, true, true, true>(c, b, v, k, nx);
    for (std::int64_t j = 2; j <= ny - 1; ++j) {
        const std::int64_t first = volume_number(1, j, nx);
        dst(first) = point_value<true, true, true, true>(c, b, v, first, nx);
        for (std::int64_t q = first; q < first + nx - 2; ++q) dst_data[q] = interior_value<Uniform>(u, c, bq, src, q, nx);
        const std::int64_t last = first + nx - 1;
        dst(last) = point_value<true, true, true, true>(c, b, v, last, nx);
    }
    for (std::int64_t i = 1; i <= nx - 1; ++i) {
        const std::int64_t k = (ny - 1) * nx + i;
        dst(k) = point_value<true, true, true, false>(c, b, v, k, nx);
    }
    dst(n) = point_value<true, true, false, false>(c, b, v, n, nx);
}

bool too_small(std::int32_t nx, std::int32_t ny) { return nx < 4 || ny < 3; }

}  // namespace

void solve_gauss_seidel(std::int32_t nx, std::int32_t ny, std::int32_t volume_count,
                        std::int32_t max_inner_iterations, std::span<const double> a, std::span<const double> b,
                        std::span<double> t)
{
    if (too_small(nx, ny)) return plain::solve_gauss_seidel(nx, ny, volume_count, max_inner_iterations, a, b, t);
    const Table c(a, volume_count);
    const UniformInterior u = find_uniform_interior(nx, ny, a);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration)
        gauss_seidel_sweep(nx, ny, volume_count, c, b, t.data(), u);
}

void solve_jacobi(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
                  std::span<const double> a, std::span<const double> b, std::span<double> t)
{
    if (too_small(nx, ny)) return plain::solve_jacobi(nx, ny, volume_count, max_inner_iterations, a, b, t);
    std::vector<double> t_old = create_array("t_old", static_cast<std::size_t>(volume_count));
    const Table c(a, volume_count);
    const UniformInterior u = find_uniform_interior(nx, ny, a);
    // Alternate between t and the work array instead of copying t every time.
    double* current = t.data();
    double* next = t_old.data();
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        if (u.uniform) jacobi_sweep<true>(nx, ny, volume_count, c, b, current, next, u);
        else jacobi_sweep<false>(nx, ny, volume_count, c, b, current, next, u);
        std::swap(current, next);
    }
    if (current != t.data()) std::copy(t_old.begin(), t_old.end(), t.begin());
}

void solve_sor(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
               double sor_relaxation, std::span<const double> a, std::span<const double> b, std::span<double> t)
{
    if (too_small(nx, ny))
        return plain::solve_sor(nx, ny, volume_count, max_inner_iterations, sor_relaxation, a, b, t);
    const auto n = static_cast<std::size_t>(volume_count);
    std::vector<double> t_old = create_array("t_old", n);
    const Table c(a, volume_count);
    const UniformInterior u = find_uniform_interior(nx, ny, a);
    if (max_inner_iterations >= 1) std::copy(t.begin(), t.end(), t_old.begin());
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        gauss_seidel_sweep(nx, ny, volume_count, c, b, t.data(), u);
        // Relaxation of the whole field; it also leaves the next iteration's
        // copy of the field in t_old.
        double* tq = t.data();
        double* old = t_old.data();
        for (std::size_t q = 0; q < n; ++q) {
            const double relaxed = old[q] + sor_relaxation * (tq[q] - old[q]);
            tq[q] = relaxed;
            old[q] = relaxed;
        }
    }
}

}  // namespace placatermo
