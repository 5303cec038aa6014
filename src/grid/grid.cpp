#include "grid/grid.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "run/input.hpp"

namespace placatermo {

void enter_grid(CurrentGrid& grid, const InputParameters& input, int k, bool set_center)
{
    grid.nx = input.nx_of(k);
    grid.ny = input.ny_of(k);
    grid.volume_count = grid.nx * grid.ny;
    if (set_center) grid.center_index = (grid.ny / 2) * grid.nx + grid.nx / 2 + 1;
    grid.dx = input.lx / static_cast<double>(grid.nx - 2);
    grid.dy = input.ly / static_cast<double>(grid.ny - 2);
}

namespace {

void set_row(Coefficients<double>& c, From1<double>& b, std::int64_t p, double as, double aw, double ap,
             double ae, double an, double rhs)
{
    c.as(p) = as;
    c.aw(p) = aw;
    c.ap(p) = ap;
    c.ae(p) = ae;
    c.an(p) = an;
    b(p) = rhs;
}

}  // namespace

void set_ghost_rows(const CurrentGrid& grid, const InputParameters& input, std::span<double> a,
                    std::span<double> b_values)
{
    const std::int64_t nx = grid.nx;
    const std::int64_t ny = grid.ny;
    Coefficients<double> c(a, grid.volume_count);
    From1<double> b(b_values);
    const bool linear = input.bc_kind == 1;

    for (std::int64_t j = 1; j <= ny; ++j)  // west
        set_row(c, b, volume_number(1, j, nx), 0.0, 0.0, 1.0, 1.0, 0.0, 0.0);

    double j_minus_2 = -1.0;  // east, y from -dy/2 to ly + dy/2
    for (std::int64_t j = 1; j <= ny; ++j) {
        const double y = j_minus_2 * grid.dy + 0.5 * grid.dy;
        const double rhs = linear ? (y * 200.0) * input.lx : 0.0;
        set_row(c, b, volume_number(nx, j, nx), 0.0, 1.0, 1.0, 0.0, 0.0, rhs);
        j_minus_2 += 1.0;
    }

    for (std::int64_t i = 2; i <= nx - 1; ++i)  // south
        set_row(c, b, volume_number(i, 1, nx), 0.0, 0.0, 1.0, 0.0, 1.0, 0.0);

    double i_minus_2 = 0.0;  // north, x from dx/2 to lx - dx/2
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        const double x = i_minus_2 * grid.dx + 0.5 * grid.dx;
        const double rhs = linear ? (x * 200.0) * input.ly : std::sin((x * pi) / input.lx) * 2.0;
        set_row(c, b, volume_number(i, ny, nx), 1.0, 0.0, 1.0, 0.0, 0.0, rhs);
        i_minus_2 += 1.0;
    }
}

void build_coefficients(const CurrentGrid& grid, const InputParameters& input, std::span<double> a,
                        std::span<double> b_values)
{
    set_ghost_rows(grid, input, a, b_values);
    const std::int64_t nx = grid.nx;
    const std::int64_t ny = grid.ny;
    Coefficients<double> c(a, grid.volume_count);
    From1<double> b(b_values);
    const double dx = grid.dx;
    const double dy = grid.dy;
    const double ap = (dy * 2.0) / dx + (dx * 2.0) / dy;
    const double aew = -(dy / dx);
    const double asn = -(dx / dy);
    for (std::int64_t j = 2; j <= ny - 1; ++j)  // every row on its own: in memory order
        for (std::int64_t i = 2; i <= nx - 1; ++i)
            set_row(c, b, volume_number(i, j, nx), asn, aew, ap, aew, asn, 0.0);
}

namespace plain {

void compute_residual_norm(std::int32_t nx_, std::int32_t ny_, std::int32_t volume_count,
                           std::span<const double> a, std::span<const double> b_values,
                           std::span<const double> t_values, double& norm)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    const Coefficients<const double> c(a, volume_count);
    const From1<const double> b(b_values);
    const From1<const double> t(t_values);
    norm = 0.0;
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            const std::int64_t p = volume_number(i, j, nx);
            const double r = c.as(p) * t(p - nx) + c.ap(p) * t(p) + c.aw(p) * t(p - 1) +
                             c.ae(p) * t(p + 1) + c.an(p) * t(p + nx) - b(p);
            norm = norm + std::fabs(r);
        }
    }
}

}  // namespace plain

UniformInterior find_uniform_interior(std::int32_t nx_, std::int32_t ny_, std::span<const double> a)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    UniformInterior u;
    if (nx < 3 || ny < 3) return u;
    const std::int64_t n = nx * ny;
    const double* column[5];
    for (int c = 0; c < 5; ++c) column[c] = a.data() + c * n;
    const std::int64_t first = volume_number(2, 2, nx) - 1;
    double value[5];
    for (int c = 0; c < 5; ++c) value[c] = column[c][first];
    for (int c = 0; c < 5; ++c) {
        if (std::isnan(value[c])) return u;
        // compare bit patterns: -0.0 differs from 0.0
        const auto bits = std::bit_cast<std::uint64_t>(value[c]);
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            const double* row = column[c] + (volume_number(2, j, nx) - 1);
            std::uint64_t differ = 0;
            for (std::int64_t i = 0; i < nx - 2; ++i) differ |= std::bit_cast<std::uint64_t>(row[i]) ^ bits;
            if (differ != 0) return u;
        }
    }
    u = {true, value[0], value[1], value[2], value[3], value[4]};
    return u;
}

namespace {

// |r| of the real volumes of columns i0 ... i1 of one row, into `out`.
template <bool Uniform>
void row_residuals(const UniformInterior& u, const double* as, const double* aw, const double* ap,
                   const double* ae, const double* an, const double* b, const double* t, std::int64_t k0,
                   std::int64_t count, std::int64_t nx, double* out, std::int64_t out_stride)
{
    for (std::int64_t m = 0; m < count; ++m) {
        const std::int64_t k = k0 + m;
        double r;
        if constexpr (Uniform) {
            r = u.as * t[k - nx] + u.ap * t[k] + u.aw * t[k - 1] + u.ae * t[k + 1] + u.an * t[k + nx] - b[k];
        } else {
            r = as[k] * t[k - nx] + ap[k] * t[k] + aw[k] * t[k - 1] + ae[k] * t[k + 1] + an[k] * t[k + nx] - b[k];
        }
        out[m * out_stride] = std::fabs(r);
    }
}

}  // namespace

// The sum runs column by column, in the plain loop's order; the residuals are
// computed row by row in strips of columns, which reads the arrays in order.
void compute_residual_norm(std::int32_t nx_, std::int32_t ny_, std::int32_t volume_count, std::span<const double> a,
                           std::span<const double> b, std::span<const double> t, double& norm,
                           const UniformInterior& u)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    const std::int64_t n = volume_count;
#ifdef PLACATERMO_PLAIN_KERNELS
    (void)u;
    return plain::compute_residual_norm(nx_, ny_, volume_count, a, b, t, norm);
#endif
    norm = 0.0;
    if (nx < 3 || ny < 3) return;
    constexpr std::int64_t strip = 16;
    const std::int64_t rows = ny - 2;
    std::vector<double> buffer(static_cast<std::size_t>(strip * rows));
    const double* c[5];
    for (int m = 0; m < 5; ++m) c[m] = a.data() + m * n;
    for (std::int64_t i0 = 2; i0 <= nx - 1; i0 += strip) {
        const std::int64_t width = std::min(strip, nx - i0);
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            const std::int64_t k0 = volume_number(i0, j, nx) - 1;
            // the rows come one page apart: fetch a few rows ahead
#if defined(__GNUC__)
            if (j + 6 <= ny - 1) {
                const std::int64_t ahead = k0 + 6 * nx;
                __builtin_prefetch(t.data() + ahead + nx);
                __builtin_prefetch(t.data() + ahead + nx + 8);
                __builtin_prefetch(b.data() + ahead);
                __builtin_prefetch(b.data() + ahead + 8);
            }
#endif
            double* out = buffer.data() + (j - 2) * strip;
            if (u.uniform)
                row_residuals<true>(u, c[0], c[1], c[2], c[3], c[4], b.data(), t.data(), k0, width, nx, out, 1);
            else
                row_residuals<false>(u, c[0], c[1], c[2], c[3], c[4], b.data(), t.data(), k0, width, nx, out, 1);
        }
        for (std::int64_t m = 0; m < width; ++m)
            for (std::int64_t row = 0; row < rows; ++row) norm = norm + buffer[static_cast<std::size_t>(row * strip + m)];
    }
}

}  // namespace placatermo

namespace placatermo {

void compute_residual_norm(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::span<const double> a,
                           std::span<const double> b, std::span<const double> t, double& norm)
{
    compute_residual_norm(nx, ny, volume_count, a, b, t, norm, find_uniform_interior(nx, ny, a));
}

}  // namespace placatermo
