// The L1 residual norm: the plain loop, and the same sum with the residuals
// computed in an order that reads the arrays in memory order; the stored
// residual of the multigrid cycle, on its own or on the way of the norm.
#include <algorithm>
#include <cmath>
#include <vector>

#include "grid/linear_system.hpp"
#include "report/build_options.hpp"

namespace placatermo {

namespace plain {

void compute_residual_norm(const LinearSystem& system, std::span<const double> t_values, double& norm)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const Coefficients<const double> c(system.a, system.volume_count);
    const From1<const double> b(system.b);
    const From1<const double> t(t_values);
    norm = 0.0;
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            const std::int64_t p = volume_number(i, j, nx);
            const double r = c.as(p) * t(p - nx) + c.ap(p) * t(p) + c.aw(p) * t(p - 1) + c.ae(p) * t(p + 1) +
                             c.an(p) * t(p + nx) - b(p);
            norm = norm + std::fabs(r);
        }
    }
}

}  // namespace plain

namespace {

// |r| of the real volumes of columns i0 ... i1 of one row, into `out`; with
// Store, b - a t of each of them into `stored` (indexed like t) too.
template <bool Uniform, bool Store>
void row_residuals(const UniformInterior& u, const double* as, const double* aw, const double* ap, const double* ae,
                   const double* an, const double* b, const double* t, std::int64_t k0, std::int64_t count,
                   std::int64_t nx, double* out, double* stored)
{
    for (std::int64_t m = 0; m < count; ++m) {
        const std::int64_t k = k0 + m;
        double s;
        if constexpr (Uniform) {
            s = u.as * t[k - nx] + u.ap * t[k] + u.aw * t[k - 1] + u.ae * t[k + 1] + u.an * t[k + nx];
        } else {
            s = as[k] * t[k - nx] + ap[k] * t[k] + aw[k] * t[k - 1] + ae[k] * t[k + 1] + an[k] * t[k + nx];
        }
        out[m] = std::fabs(s - b[k]);
        if constexpr (Store) stored[k] = b[k] - s;
    }
}

}  // namespace

// The sum runs column by column, in the plain loop's order. The residuals are
// computed row by row in strips of 16 columns (which reads the arrays in
// memory order), and a strip is summed while the next one is computed: the sum is a
// chain of additions, one after the other, and the residuals of the next
// strip fill the time each addition waits for the one before.
void store_residual(const LinearSystem& system, std::span<const double> u_values, std::span<double> residual)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const Coefficients<const double> c(system.a, system.volume_count);
    const From1<const double> b(system.b);
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

namespace {

// The norm, and with Store the residual stored as store_residual does.
template <bool Store>
void residual_norm(const LinearSystem& system, std::span<const double> t, double& norm, double* stored)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const std::int64_t n = system.volume_count;
    const UniformInterior& u = system.uniform;
    const std::span<const double> a = system.a;
    const std::span<const double> b = system.b;
    norm = 0.0;
    if (nx < 3 || ny < 3) return;
    constexpr std::int64_t strip = 16;
    const std::int64_t rows = ny - 2;
    std::vector<double> buffer(static_cast<std::size_t>(2 * strip * rows));
    const double* c[5];
    for (int m = 0; m < 5; ++m) c[m] = a.data() + m * n;
    // |r| of row j, columns i0 ... i0 + width - 1, into out
    const auto row_of_strip = [&](std::int64_t i0, std::int64_t width, std::int64_t j, double* out) {
        const std::int64_t k0 = volume_number(i0, j, nx) - 1;
        if (u.uniform)
            row_residuals<true, Store>(u, c[0], c[1], c[2], c[3], c[4], b.data(), t.data(), k0, width, nx, out,
                                       stored);
        else
            row_residuals<false, Store>(u, c[0], c[1], c[2], c[3], c[4], b.data(), t.data(), k0, width, nx, out,
                                        stored);
    };
    const auto strip_buffer = [&](std::int64_t s) { return buffer.data() + (s % 2) * strip * rows; };
    const std::int64_t strips = (nx - 2 + strip - 1) / strip;
    for (std::int64_t j = 2; j <= ny - 1; ++j)
        row_of_strip(2, std::min(strip, nx - 2), j, strip_buffer(0) + (j - 2) * strip);
    for (std::int64_t s = 1; s < strips; ++s) {
        // strip s - 1 is a whole one: its rows x strip additions, `strip`
        // of them after each row of strip s
        const double* previous = strip_buffer(s - 1);
        double* current = strip_buffer(s);
        const std::int64_t i0 = 2 + s * strip;
        const std::int64_t width = std::min(strip, nx - i0);
        std::int64_t column = 0, row = 0;
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            row_of_strip(i0, width, j, current + (j - 2) * strip);
            for (std::int64_t step = 0; step < strip; ++step) {
                norm = norm + previous[row * strip + column];
                if (++row == rows) row = 0, ++column;
            }
        }
    }
    const double* last = strip_buffer(strips - 1);
    const std::int64_t last_width = nx - 2 - (strips - 1) * strip;
    for (std::int64_t column = 0; column < last_width; ++column)
        for (std::int64_t row = 0; row < rows; ++row) norm = norm + last[row * strip + column];
}

}  // namespace

void compute_residual_norm(const LinearSystem& system, std::span<const double> t, double& norm)
{
    if constexpr (plain_kernels_only) return plain::compute_residual_norm(system, t, norm);
    residual_norm<false>(system, t, norm, nullptr);
}

void compute_and_store_residual(const LinearSystem& system, std::span<const double> t, double& norm,
                                std::span<double> residual)
{
    if (plain_kernels_only || system.nx < 3 || system.ny < 3) {
        compute_residual_norm(system, t, norm);
        store_residual(system, t, residual);
        return;
    }
    residual_norm<true>(system, t, norm, residual.data());
}

}  // namespace placatermo
