// The L1 residual norm: the plain loop, and the same sum with the residuals
// computed in an order that reads the arrays in memory order.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/pairs.hpp"
#include "grid/linear_system.hpp"

namespace placatermo {

double compute_residual_norm_plain(const CoefficientTable& system, std::span<const double> t_values)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const Coefficients<const double> c(system.a, system.volume_count);
    const From1<const double> b(system.b);
    const From1<const double> t(t_values);
    double norm = 0.0;
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            const std::int64_t p = volume_number(i, j, nx);
            const double r = c.as(p) * t(p - nx) + c.ap(p) * t(p) + c.aw(p) * t(p - 1) + c.ae(p) * t(p + 1) +
                             c.an(p) * t(p + nx) - b(p);
            norm = norm + std::fabs(r);
        }
    }
    return norm;
}

namespace {

// |r| of the real volumes of columns i0 ... i1 of one row, into `out`.
template <bool Uniform, RhsInside R>
void row_residuals(const Stencil& u, const double* as, const double* aw, const double* ap, const double* ae,
                   const double* an, const double* b, const double* t, std::int64_t k0, std::int64_t count,
                   std::int64_t nx, double* out)
{
    // the row and its neighbours through pointers to their first volume, not
    // indices from t: where the addressing is not folded into the loads
    // (WebAssembly) the index sums cost more than the residual
    const double* south = t + k0 - nx;
    const double* here = t + k0;
    const double* north = t + k0 + nx;
    for (std::int64_t m = 0; m < count; ++m) {
        double r;
        if constexpr (Uniform) {
            r = u.as * south[m] + u.ap * here[m] + u.aw * here[m - 1] + u.ae * here[m + 1] + u.an * north[m] -
                rhs_at<R>(b + k0, m);
        } else {
            const std::int64_t k = k0 + m;
            r = as[k] * south[m] + ap[k] * here[m] + aw[k] * here[m - 1] + ae[k] * here[m + 1] + an[k] * north[m] -
                b[k];
        }
        out[m] = std::fabs(r);
    }
}

// row_residuals of a uniform stencil over Width columns, two at a time,
// with no test of whether `out` overlaps the field. The compiler's own
// vectorised loop of row_residuals sits behind such tests; in WebAssembly
// these pairs written out made a whole Gauss-Seidel run on one grid of 514²
// 14 % faster, natively the compiler's loop is the faster one.
#if defined(__EMSCRIPTEN__)
constexpr bool residual_pairs_written_out = true;
#else
constexpr bool residual_pairs_written_out = false;
#endif
template <std::int64_t Width, RhsInside R>
void uniform_row_residuals(const Stencil& u, const double* b, const double* t, std::int64_t k0, std::int64_t nx,
                           double* out)
{
    const double* south = t + k0 - nx;
    const double* here = t + k0;
    const double* north = t + k0 + nx;
    const Pair as = pair_of(u.as), ap = pair_of(u.ap), aw = pair_of(u.aw), ae = pair_of(u.ae), an = pair_of(u.an);
    const PairBits magnitude = {~(std::uint64_t{1} << 63), ~(std::uint64_t{1} << 63)};
    for (std::int64_t m = 0; m < Width; m += 2) {
        const Pair rhs = R == RhsInside::zero ? pair_of(0.0) : load_pair(b + k0 + m);
        const Pair r = as * load_pair(south + m) + ap * load_pair(here + m) + aw * load_pair(here + m - 1) +
                       ae * load_pair(here + m + 1) + an * load_pair(north + m) - rhs;
        const Pair r_abs = reinterpret_cast<Pair>(reinterpret_cast<PairBits>(r) & magnitude);  // fabs: the sign bit off
        std::memcpy(out + m, &r_abs, sizeof r_abs);
    }
}

// The sum runs column by column, in the plain loop's order. The residuals are
// computed row by row in strips of 16 columns (which reads the arrays in
// memory order), and a strip is summed while the next one is computed: the sum is a
// chain of additions, one after the other, and the residuals of the next
// strip fill the time each addition waits for the one before. With Uniform
// the real volumes' coefficients are u, else the table's entries.
template <bool Uniform, RhsInside R = RhsInside::stored>
double residual_norm(const SystemArrays& system, const Stencil& u, std::span<const double> t)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const std::int64_t n = system.volume_count;
    const std::span<const double> a = system.a;
    const std::span<const double> b = system.b;
    double norm = 0.0;
    if (nx < 3 || ny < 3) return norm;
    constexpr std::int64_t strip = 16;
    const std::int64_t rows = ny - 2;
    std::vector<double> buffer(static_cast<std::size_t>(2 * strip * rows));
    const double* c[5] = {};
    if constexpr (!Uniform)
        for (int m = 0; m < 5; ++m) c[m] = a.data() + m * n;
    // |r| of row j, columns i0 ... i0 + width - 1, into out; a whole strip's
    // width a constant, so that its loop has no remainder to test
    const auto row_of_strip = [&](std::int64_t i0, std::int64_t width, std::int64_t j, double* out) {
        const std::int64_t k0 = volume_number(i0, j, nx) - 1;
        if constexpr (Uniform && residual_pairs_written_out)
            if (width == strip) return uniform_row_residuals<strip, R>(u, b.data(), t.data(), k0, nx, out);
        if (width == strip)
            row_residuals<Uniform, R>(u, c[0], c[1], c[2], c[3], c[4], b.data(), t.data(), k0, strip, nx, out);
        else
            row_residuals<Uniform, R>(u, c[0], c[1], c[2], c[3], c[4], b.data(), t.data(), k0, width, nx, out);
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
        std::int64_t column = 0, row = 0;  // of the next addition
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            row_of_strip(i0, width, j, current + (j - 2) * strip);
            const double* next = previous + row * strip + column;
            if (rows - row > strip) {
                // all in one column, at fixed distances from `next` (which
                // WebAssembly, too, adds inside the loads)
                for (std::int64_t step = 0; step < strip; ++step) norm = norm + next[step * strip];
                row += strip;
            } else {
                for (std::int64_t step = 0; step < strip; ++step) {
                    norm = norm + previous[row * strip + column];
                    if (++row == rows) row = 0, ++column;
                }
            }
        }
    }
    const double* last = strip_buffer(strips - 1);
    const std::int64_t last_width = nx - 2 - (strips - 1) * strip;
    for (std::int64_t column = 0; column < last_width; ++column)
        for (std::int64_t row = 0; row < rows; ++row) norm = norm + last[row * strip + column];
    return norm;
}

}  // namespace

double compute_residual_norm(const CoefficientTable& system, std::span<const double> t, const Execution& execution)
{
    if (execution.plain()) return compute_residual_norm_plain(system, t);
    return residual_norm<false>(system, Stencil(), t);
}

double compute_residual_norm(const UniformStencil& system, std::span<const double> t, const Execution&)
{
    return with_rhs_inside(system.rhs_inside, [&](auto rhs) {
        return residual_norm<true, decltype(rhs)::value>(system, system.interior, t);
    });
}

double residual_at(const LinearSystem& system, std::span<const double> t, std::int64_t p)
{
    const SystemArrays& arrays = arrays_of(system);
    if (const auto* uniform = std::get_if<UniformStencil>(&system))
        return with_rhs_inside(uniform->rhs_inside, [&](auto rhs) {
            return volume_residual<decltype(rhs)::value>(uniform->interior, arrays.b.data(), t.data(), p - 1,
                                                         arrays.nx);
        });
    return volume_residual(arrays.a.data(), arrays.volume_count, arrays.b.data(), t.data(), p - 1, arrays.nx);
}

}  // namespace placatermo
