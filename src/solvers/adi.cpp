// ADI: line solves along the rows, then along the columns.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "grid/arrays.hpp"
#include "report/build_options.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

using Table = Coefficients<const double>;

// Rows: one forward recurrence over k = 1 ... n straight through the row
// ends, with the north and south neighbours from t as it was at the start;
// then each row from its last volume back to its first.
void x_half_step(std::int64_t nx, std::int64_t ny, std::int64_t n, const Table& c, From1<const double> b,
                 From1<double> t, From1<double> p, From1<double> q)
{
    for (std::int64_t k = 1; k <= n; ++k) {
        double r = b(k);
        if (k > nx) r = r - c.as(k) * t(k - nx);
        if (k <= n - nx) r = r - c.an(k) * t(k + nx);
        if (k == 1) {
            const double d = c.ap(1);
            p(1) = -c.ae(1) / d;
            q(1) = r / d;
        } else {
            const double d = c.ap(k) + c.aw(k) * p(k - 1);
            p(k) = -c.ae(k) / d;
            q(k) = (r - c.aw(k) * q(k - 1)) / d;
        }
    }
    for (std::int64_t j = 1; j <= ny; ++j) {
        const std::int64_t last = j * nx;
        t(last) = q(last);
        for (std::int64_t i = nx - 1; i >= 1; --i) {
            const std::int64_t k = volume_number(i, j, nx);
            t(k) = p(k) * t(k + 1) + q(k);
        }
    }
}

// Columns: forward elimination from row 1 column by column, with the west and
// east neighbours from the field the x half-step left; then each column from
// the top row down.
void y_half_step(std::int64_t nx, std::int64_t ny, std::int64_t n, const Table& c, From1<const double> b,
                 From1<double> t, From1<double> p, From1<double> q)
{
    for (std::int64_t k = 1; k <= nx; ++k) {
        p(k) = -c.an(k) / c.ap(k);
        double r = b(k);
        if (k > 1) r = r - c.aw(k) * t(k - 1);
        r = r - c.ae(k) * t(k + 1);
        q(k) = r / c.ap(k);
    }
    for (std::int64_t i = 1; i <= nx; ++i) {
        for (std::int64_t j = 2; j <= ny; ++j) {
            const std::int64_t k = volume_number(i, j, nx);
            const double d = c.ap(k) + c.as(k) * p(k - nx);
            p(k) = -c.an(k) / d;
            double r = b(k) - c.aw(k) * t(k - 1);
            if (k < n) r = r - c.ae(k) * t(k + 1);
            q(k) = (r - c.as(k) * q(k - nx)) / d;
        }
    }
    for (std::int64_t i = 1; i <= nx; ++i) {
        const std::int64_t k = volume_number(i, ny, nx);
        t(k) = q(k);
    }
    for (std::int64_t i = 1; i <= nx; ++i) {
        for (std::int64_t j = ny - 1; j >= 1; --j) {
            const std::int64_t k = volume_number(i, j, nx);
            t(k) = p(k) * t(k + nx) + q(k);
        }
    }
}

}  // namespace

namespace plain {

void solve_adi(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t)
{
    const auto n = static_cast<std::size_t>(system.volume_count);
    std::vector<double> tdma_p = create_array("tdma_p", n);
    std::vector<double> tdma_q = create_array("tdma_q", n);
    const Table c(system.a, system.volume_count);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        x_half_step(system.nx, system.ny, system.volume_count, c, system.b.data(), t, tdma_p.data(), tdma_q.data());
        y_half_step(system.nx, system.ny, system.volume_count, c, system.b.data(), t, tdma_p.data(), tdma_q.data());
    }
}

}  // namespace plain

namespace {

constexpr std::uint64_t negative_zero = std::uint64_t{1} << 63;

// Rows whose forward recurrences run side by side.
constexpr std::int64_t adi_rows = 8;

// The x half-step with several rows at a time. Each row's recurrence depends
// on the row before only at its first volume, through aw p(k - 1) and
// aw q(k - 1); where aw is a zero, ap is not and the right-hand side is not a
// negative zero, those terms cannot change the result as long as p(k - 1)
// and q(k - 1) are finite, so the row may start at once. That they came out
// finite is checked when they are known; if not, the rows from there are
// solved again in order.
void fast_x_half_step(std::int64_t nx, std::int64_t ny, std::int64_t n, const Table& c, const double* b, double* t,
                      double* p, double* q, const UniformInterior& u)
{
    const double *as = &c.as(1), *aw = &c.aw(1), *ap = &c.ap(1), *ae = &c.ae(1), *an = &c.an(1);
    const auto rhs = [&](std::int64_t m) {
        double r = b[m];
        if (m >= nx) r = r - as[m] * t[m - nx];
        if (m < n - nx) r = r - an[m] * t[m + nx];
        return r;
    };
    const auto exact = [&](std::int64_t m) {
        const double r = rhs(m);
        if (m == 0) {
            const double d = ap[0];
            p[0] = -ae[0] / d;
            q[0] = r / d;
        } else {
            const double d = ap[m] + aw[m] * p[m - 1];
            p[m] = -ae[m] / d;
            q[m] = (r - aw[m] * q[m - 1]) / d;
        }
    };
    for (std::int64_t m = 0; m < nx; ++m) exact(m);
    const auto may_start_early = [&](std::int64_t j) {
        const std::int64_t m = (j - 1) * nx;
        return aw[m] == 0.0 && ap[m] != 0.0 && std::bit_cast<std::uint64_t>(rhs(m)) != negative_zero;
    };
    for (std::int64_t j = 2; j <= ny;) {
        std::int64_t rows = 1;
        while (rows < adi_rows && j + rows <= ny && may_start_early(j + rows)) ++rows;
        const std::int64_t first = (j - 1) * nx;
        const auto column = [&](std::int64_t i) {
            for (std::int64_t r = 0; r < rows; ++r) {
                const std::int64_t m = first + r * nx + i;
                if (i == 0 && r > 0) {
                    const double d = ap[m];
                    p[m] = -ae[m] / d;
                    q[m] = rhs(m) / d;
                } else {
                    exact(m);
                }
            }
        };
        if (u.uniform && rows == adi_rows && j + rows - 1 <= ny - 1 && nx >= 3) {
            // a full group of rows inside the plate: between the ghost
            // columns every coefficient is the shared one, and each row's
            // p and q pass from one column to the next in registers
            column(0);
            double pp[adi_rows], qq[adi_rows];
            for (std::int64_t r = 0; r < adi_rows; ++r) pp[r] = p[first + r * nx], qq[r] = q[first + r * nx];
            const double minus_ae = -u.ae;
            for (std::int64_t i = 1; i < nx - 1; ++i) {
#pragma GCC unroll 8
                for (std::int64_t r = 0; r < adi_rows; ++r) {
                    const std::int64_t m = first + r * nx + i;
                    const double rr = (b[m] - u.as * t[m - nx]) - u.an * t[m + nx];
                    const double d = u.ap + u.aw * pp[r];
                    pp[r] = minus_ae / d;
                    qq[r] = (rr - u.aw * qq[r]) / d;
                    p[m] = pp[r];
                    q[m] = qq[r];
                }
            }
            column(nx - 1);
        } else {
            for (std::int64_t i = 0; i < nx; ++i) column(i);
        }
        for (std::int64_t r = 1; r < rows; ++r) {
            const std::int64_t before = first + r * nx - 1;
            if (std::isfinite(p[before]) && std::isfinite(q[before])) continue;
            for (std::int64_t m = before + 1; m < first + rows * nx; ++m) exact(m);
            break;
        }
        j += rows;
    }
    // back substitution, rows side by side
    for (std::int64_t j0 = 1; j0 <= ny; j0 += adi_rows) {
        const std::int64_t rows = std::min(adi_rows, ny - j0 + 1);
        for (std::int64_t r = 0; r < rows; ++r) {
            const std::int64_t last = (j0 + r) * nx - 1;
            t[last] = q[last];
        }
        for (std::int64_t i = nx - 2; i >= 0; --i)
            for (std::int64_t r = 0; r < rows; ++r) {
                const std::int64_t m = (j0 + r - 1) * nx + i;
                t[m] = p[m] * t[m + 1] + q[m];
            }
    }
}

// The y half-step row by row: every column is its own recurrence, so the
// columns advance together.
void fast_y_half_step(std::int64_t nx, std::int64_t n, const Table& c, const double* b, double* t, double* p, double* q)
{
    const double *as = &c.as(1), *aw = &c.aw(1), *ap = &c.ap(1), *ae = &c.ae(1), *an = &c.an(1);
    p[0] = -an[0] / ap[0];
    q[0] = (b[0] - ae[0] * t[1]) / ap[0];
    for (std::int64_t m = 1; m < nx; ++m) {
        p[m] = -an[m] / ap[m];
        q[m] = ((b[m] - aw[m] * t[m - 1]) - ae[m] * t[m + 1]) / ap[m];
    }
    for (std::int64_t m = nx; m < n - 1; ++m) {
        const double d = ap[m] + as[m] * p[m - nx];
        p[m] = -an[m] / d;
        q[m] = (((b[m] - aw[m] * t[m - 1]) - ae[m] * t[m + 1]) - as[m] * q[m - nx]) / d;
    }
    {
        const std::int64_t m = n - 1;
        const double d = ap[m] + as[m] * p[m - nx];
        p[m] = -an[m] / d;
        q[m] = ((b[m] - aw[m] * t[m - 1]) - as[m] * q[m - nx]) / d;
    }
    for (std::int64_t m = n - nx; m < n; ++m) t[m] = q[m];
    for (std::int64_t m = n - nx - 1; m >= 0; --m) t[m] = p[m] * t[m + nx] + q[m];
}

}  // namespace

void solve_adi(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const std::int64_t n = system.volume_count;
    if (plain_kernels_only || nx < 2 || ny < 2) return plain::solve_adi(system, max_inner_iterations, t);
    UninitializedArray tdma_p("tdma_p", static_cast<std::size_t>(n));
    UninitializedArray tdma_q("tdma_q", static_cast<std::size_t>(n));
    const Table c(system.a, n);
    const double* b = system.b.data();
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        fast_x_half_step(nx, ny, n, c, b, t.data(), tdma_p.data(), tdma_q.data(), system.uniform);
        fast_y_half_step(nx, n, c, b, t.data(), tdma_p.data(), tdma_q.data());
    }
}

}  // namespace placatermo
