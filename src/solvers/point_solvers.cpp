// Jacobi, Gauss-Seidel and SOR as plain loops in the point sweep's order: the
// definition that the fast kernels are tested against.
#include <algorithm>

#include "grid/arrays.hpp"
#include "solvers/point_update.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

using Table = Coefficients<const double>;
using detail::point_value;

// One point sweep: every unknown once, in five stretches, each new value
// computed from v and stored into t (v is t itself for Gauss-Seidel).
void point_sweep(std::int64_t nx, std::int64_t ny, std::int64_t n, const Table& c, From1<const double> b,
                 From1<const double> v, From1<double> t)
{
    t(1) = point_value<false, false, true, true>(c, b, v, 1, nx);
    for (std::int64_t k = 2; k <= nx; ++k) t(k) = point_value<false, true, true, true>(c, b, v, k, nx);
    for (std::int64_t i = 1; i <= nx; ++i) {
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            const std::int64_t k = volume_number(i, j, nx);
            t(k) = point_value<true, true, true, true>(c, b, v, k, nx);
        }
    }
    for (std::int64_t i = 1; i <= nx - 1; ++i) {
        const std::int64_t k = (ny - 1) * nx + i;
        t(k) = point_value<true, true, true, false>(c, b, v, k, nx);
    }
    t(n) = point_value<true, true, false, false>(c, b, v, n, nx);
}

}  // namespace

void solve_jacobi_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t)
{
    const auto n = static_cast<std::size_t>(system.volume_count);
    std::vector<double> t_old = create_array("t_old", n);
    const Table c(system.a, system.volume_count);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        std::copy(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(n), t_old.begin());
        point_sweep(system.nx, system.ny, system.volume_count, c, system.b.data(), From1<const double>(t_old.data()),
                    t);
    }
}

void solve_gauss_seidel_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t)
{
    const Table c(system.a, system.volume_count);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration)
        point_sweep(system.nx, system.ny, system.volume_count, c, system.b.data(), From1<const double>(t.data()), t);
}

void solve_sor_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, double sor_relaxation,
                     std::span<double> t_values)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const auto n = static_cast<std::size_t>(system.volume_count);
    std::vector<double> t_old_values = create_array("t_old", n);
    const Table c(system.a, system.volume_count);
    const From1<double> t(t_values);
    const From1<const double> t_old(t_old_values.data());
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        std::copy(t_values.begin(), t_values.begin() + static_cast<std::ptrdiff_t>(n), t_old_values.begin());
        point_sweep(nx, ny, system.volume_count, c, system.b.data(), From1<const double>(t_values.data()), t);
        for (std::int64_t i = 1; i <= nx; ++i) {
            for (std::int64_t j = 1; j <= ny; ++j) {
                const std::int64_t k = volume_number(i, j, nx);
                t(k) = t_old(k) + sor_relaxation * (t(k) - t_old(k));
            }
        }
    }
}

}  // namespace placatermo
