// MSI: incomplete L U factorisation with partial cancellation, and residual
// correction with it.
#include <algorithm>
#include <cmath>

#include "grid/arrays.hpp"
#include "report/build_options.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

using Table = Coefficients<const double>;

struct Lower {
    From1<double> lp, lw, lse, ls;
    Lower(std::span<double> m, std::int64_t n)
        : lp(m.data()), lw(m.data() + n), lse(m.data() + 2 * n), ls(m.data() + 3 * n)
    {
    }
};
struct Upper {
    From1<double> ue, unw, un;
    Upper(std::span<double> m, std::int64_t n) : ue(m.data()), unw(m.data() + n), un(m.data() + 2 * n) {}
};
struct ConstLower {
    From1<const double> lp, lw, lse, ls;
    ConstLower(std::span<const double> m, std::int64_t n)
        : lp(m.data()), lw(m.data() + n), lse(m.data() + 2 * n), ls(m.data() + 3 * n)
    {
    }
};
struct ConstUpper {
    From1<const double> ue, unw, un;
    ConstUpper(std::span<const double> m, std::int64_t n) : ue(m.data()), unw(m.data() + n), un(m.data() + 2 * n) {}
};

// Residual b - a t over every volume, terms outside 1 ... n left out, and its
// Euclidean norm summed in index order.
double residual(std::int64_t nx, std::int64_t n, const Table& c, From1<const double> b, From1<const double> t,
                From1<double> r)
{
    double sum = 0.0;
    for (std::int64_t k = 1; k <= n; ++k) {
        double s;
        bool any = false;
        if (k > nx) {
            s = c.as(k) * t(k - nx);
            any = true;
        }
        if (k > 1) {
            const double term = c.aw(k) * t(k - 1);
            s = any ? s + term : term;
            any = true;
        }
        s = any ? s + c.ap(k) * t(k) : c.ap(k) * t(k);
        if (k < n) s = s + c.ae(k) * t(k + 1);
        if (k <= n - nx) s = s + c.an(k) * t(k + nx);
        r(k) = b(k) - s;
        sum = sum + r(k) * r(k);
    }
    return std::sqrt(sum);
}

}  // namespace

namespace {

// msi_alpha of volume (i, j).
double alpha_of(std::int64_t i, std::int64_t j, std::int64_t nx, std::int64_t ny)
{
    return (i >= 2 && i <= nx - 1 && j >= 2 && j <= ny - 1) ? 0.5 : 0.0;
}

}  // namespace

double msi_alpha(std::int64_t k, std::int64_t nx, std::int64_t ny)
{
    return alpha_of((k - 1) % nx + 1, (k - 1) / nx + 1, nx, ny);
}

void factorize_msi(const LinearSystem& system, std::span<double> msi_lower, std::span<double> msi_upper)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const Table c(system.a, system.volume_count);
    Lower l(msi_lower, system.volume_count);
    Upper u(msi_upper, system.volume_count);
    for (std::int64_t j = 1; j <= ny; ++j) {
        for (std::int64_t i = 1; i <= nx; ++i) {
            const std::int64_t k = volume_number(i, j, nx);
            const double alpha = alpha_of(i, j, nx, ny);
            const double alpha2 = 2.0 * alpha;
            if (k == 1) {
                l.lp(1) = c.ap(1);
                l.lw(1) = c.aw(1);
                l.lse(1) = 0.0;
                l.ls(1) = c.as(1);
                u.ue(1) = c.ae(1) / c.ap(1);
                u.unw(1) = 0.0;
                u.un(1) = c.an(1) / c.ap(1);
            } else if (k <= nx) {
                l.ls(k) = c.as(k);
                l.lse(k) = 0.0;
                const double lw = c.aw(k) / (1.0 + alpha2 * u.unw(k - 1));
                const double lp = c.ap(k) - lw * u.ue(k - 1) + alpha2 * lw * u.unw(k - 1);
                l.lw(k) = lw;
                l.lp(k) = lp;
                u.ue(k) = c.ae(k) / lp;
                u.unw(k) = -lw * u.un(k - 1) / lp;
                u.un(k) = (c.an(k) - alpha * lw * u.unw(k - 1)) / lp;
            } else {
                const double ls = c.as(k) / (1.0 - alpha * u.ue(k - nx) * u.ue(k - nx + 1));
                const double lse = -ls * u.ue(k - nx);
                const double lw = (c.aw(k) - ls * u.unw(k - nx)) / (1.0 + alpha2 * u.unw(k - 1));
                const double lp = c.ap(k) - ls * u.un(k - nx) - lse * u.unw(k - nx + 1) - lw * u.ue(k - 1) +
                                  alpha2 * (lse * u.ue(k - nx + 1) + lw * u.unw(k - 1));
                l.ls(k) = ls;
                l.lse(k) = lse;
                l.lw(k) = lw;
                l.lp(k) = lp;
                u.ue(k) = (c.ae(k) - lse * u.un(k - nx + 1) - alpha2 * lse * u.ue(k - nx + 1)) / lp;
                u.unw(k) = -lw * u.un(k - 1) / lp;
                u.un(k) = (c.an(k) - alpha * lw * u.unw(k - 1)) / lp;
            }
        }
    }
}

namespace plain {

void solve_msi(const LinearSystem& system, std::span<const double> msi_lower, std::span<const double> msi_upper,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<double> t_values)
{
    const std::int64_t nx = system.nx;
    const std::int64_t n = system.volume_count;
    const auto size = static_cast<std::size_t>(n);
    std::vector<double> residual_values = create_array("msi_residual", size);
    std::vector<double> forward_values = create_array("msi_forward", size);
    std::vector<double> correction_values = create_array("msi_correction", size);
    const Table c(system.a, n);
    const ConstLower l(msi_lower, n);
    const ConstUpper u(msi_upper, n);
    const From1<const double> b(system.b);
    const From1<double> t(t_values);
    const From1<double> r(residual_values.data());
    const From1<double> f(forward_values.data());
    const From1<double> delta(correction_values.data());

    const double threshold = residual(nx, n, c, b, t_values.data(), r) * msi_tolerance;
    std::int32_t count = 0;
    for (;;) {
        ++count;
        for (std::int64_t k = 1; k <= n; ++k) {
            double s = r(k);
            if (k >= 2) s = s - l.lw(k) * f(k - 1);
            if (k >= nx) s = s - l.lse(k) * f(k - nx + 1);
            if (k >= nx + 1) s = s - l.ls(k) * f(k - nx);
            f(k) = s / l.lp(k);
        }
        for (std::int64_t k = n; k >= 1; --k) {
            double d = f(k);
            if (k + 1 <= n) d = d - u.ue(k) * delta(k + 1);
            if (k + nx - 1 <= n) d = d - u.unw(k) * delta(k + nx - 1);
            if (k + nx <= n) d = d - u.un(k) * delta(k + nx);
            delta(k) = d;
            t(k) = t(k) + d;
        }
        const double norm = residual(nx, n, c, b, t_values.data(), r);
        if (count == max_inner_iterations) break;
        if (!(norm > threshold)) break;
    }
}

}  // namespace plain

namespace {

// Rows in flight in the substitution wavefronts.
constexpr std::int64_t msi_rows = 4;

// The residual b - a t of every volume (terms outside 1 ... n left out, the
// present ones added in the order as, aw, ap, ae, an) into r, row by row, and
// the Euclidean norm summed in index order.
double fast_residual(std::int64_t nx, std::int64_t n, const double* const c[5], const double* b, const double* t,
                     double* r)
{
    const double *as = c[0], *aw = c[1], *ap = c[2], *ae = c[3], *an = c[4];
    r[0] = b[0] - ((ap[0] * t[0] + ae[0] * t[1]) + an[0] * t[nx]);
    for (std::int64_t q = 1; q < nx; ++q)
        r[q] = b[q] - (((aw[q] * t[q - 1] + ap[q] * t[q]) + ae[q] * t[q + 1]) + an[q] * t[q + nx]);
    for (std::int64_t q = nx; q < n - nx; ++q)
        r[q] =
            b[q] - ((((as[q] * t[q - nx] + aw[q] * t[q - 1]) + ap[q] * t[q]) + ae[q] * t[q + 1]) + an[q] * t[q + nx]);
    for (std::int64_t q = n - nx; q < n - 1; ++q)
        r[q] = b[q] - (((as[q] * t[q - nx] + aw[q] * t[q - 1]) + ap[q] * t[q]) + ae[q] * t[q + 1]);
    r[n - 1] = b[n - 1] - ((as[n - 1] * t[n - 1 - nx] + aw[n - 1] * t[n - 2]) + ap[n - 1] * t[n - 1]);
    double sum = 0.0;
    for (std::int64_t q = 0; q < n; ++q) sum = sum + r[q] * r[q];
    return std::sqrt(sum);
}

// The forward substitution L f = r in the natural order's values. Rows after
// the first are solved several at a time, each two columns behind the row
// below. The first volume of a row depends on the last volume of the row
// below only through lw f(k - 1); where lw is a zero and the residual is not,
// that term cannot change the result as long as f(k - 1) is finite, so such a
// row may start early. Whether f(k - 1) came out finite is checked once it is
// known; if not, the rows from there are solved again in the natural order.
void forward(std::int64_t nx, std::int64_t ny, const double* const l[4], const double* r, double* f)
{
    const double *lp = l[0], *lw = l[1], *lse = l[2], *ls = l[3];
    const auto exact = [&](std::int64_t q) {
        f[q] = (((r[q] - lw[q] * f[q - 1]) - lse[q] * f[q - nx + 1]) - ls[q] * f[q - nx]) / lp[q];
    };
    f[0] = r[0] / lp[0];
    for (std::int64_t q = 1; q < nx; ++q) {
        double s = r[q] - lw[q] * f[q - 1];
        if (q == nx - 1) s = s - lse[q] * f[0];
        f[q] = s / lp[q];
    }
    const auto may_start_early = [&](std::int64_t j) {
        const std::int64_t q = (j - 1) * nx;
        return lw[q] == 0.0 && r[q] != 0.0;
    };
    for (std::int64_t j = 2; j <= ny;) {
        std::int64_t rows = 1;
        while (rows < msi_rows && j + rows <= ny && may_start_early(j + rows)) ++rows;
        const std::int64_t last_step = (nx - 1) + 2 * (rows - 1);
        for (std::int64_t s = 0; s <= last_step; ++s) {
            for (std::int64_t m = std::min(rows - 1, s / 2); m >= 0; --m) {
                const std::int64_t i = s - 2 * m + 1;
                if (i > nx) break;
                const std::int64_t q = (j + m - 1) * nx + i - 1;
                if (i == 1 && m > 0)
                    f[q] = ((r[q] - lse[q] * f[q - nx + 1]) - ls[q] * f[q - nx]) / lp[q];
                else
                    exact(q);
            }
        }
        for (std::int64_t m = 1; m < rows; ++m) {
            if (std::isfinite(f[(j + m - 1) * nx - 1])) continue;
            for (std::int64_t q = (j + m - 1) * nx; q < (j + rows - 1) * nx; ++q) exact(q);
            break;
        }
        j += rows;
    }
}

// The backward substitution U delta = f, adding each delta to t at once, in
// the natural order's values: rows from the top down, several at a time, each
// two columns behind the row above. The last volume of a row depends on the
// first volume of the row above only through ue delta(k + 1); it starts early
// where ue is a zero and f is not, checked as in the forward substitution.
void backward(std::int64_t nx, std::int64_t ny, std::int64_t n, const double* const u[3], const double* f, double* d,
              double* t)
{
    const double *ue = u[0], *unw = u[1], *un = u[2];
    const auto exact = [&](std::int64_t q) {
        d[q] = ((f[q] - ue[q] * d[q + 1]) - unw[q] * d[q + nx - 1]) - un[q] * d[q + nx];
    };
    d[n - 1] = f[n - 1];
    for (std::int64_t q = n - 2; q >= n - nx; --q) {
        double s = f[q] - ue[q] * d[q + 1];
        if (q == n - nx) s = s - unw[q] * d[n - 1];
        d[q] = s;
    }
    for (std::int64_t q = n - nx; q < n; ++q) t[q] = t[q] + d[q];
    const auto may_start_early = [&](std::int64_t j) {
        const std::int64_t q = j * nx - 1;
        return ue[q] == 0.0 && f[q] != 0.0;
    };
    for (std::int64_t j = ny - 1; j >= 1;) {
        std::int64_t rows = 1;
        while (rows < msi_rows && j - rows >= 1 && may_start_early(j - rows)) ++rows;
        const std::int64_t last_step = (nx - 1) + 2 * (rows - 1);
        for (std::int64_t s = 0; s <= last_step; ++s) {
            for (std::int64_t m = std::min(rows - 1, s / 2); m >= 0; --m) {
                const std::int64_t i = nx - (s - 2 * m);
                if (i < 1) break;
                const std::int64_t q = (j - m - 1) * nx + i - 1;
                if (i == nx && m > 0)
                    d[q] = (f[q] - unw[q] * d[q + nx - 1]) - un[q] * d[q + nx];
                else
                    exact(q);
            }
        }
        for (std::int64_t m = 1; m < rows; ++m) {
            if (std::isfinite(d[(j - m + 1) * nx - nx])) continue;
            for (std::int64_t q = (j - m) * nx - 1; q >= (j - rows + 1) * nx - nx; --q) exact(q);
            break;
        }
        // the group's corrections are final now: add them while they are at hand
        for (std::int64_t q = (j - rows) * nx; q < j * nx; ++q) t[q] = t[q] + d[q];
        j -= rows;
    }
}

}  // namespace

void solve_msi(const LinearSystem& system, std::span<const double> msi_lower, std::span<const double> msi_upper,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<double> t)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const std::int64_t n = system.volume_count;
    if (plain_kernels_only || nx < 4 || ny < 3)
        return plain::solve_msi(system, msi_lower, msi_upper, msi_tolerance, max_inner_iterations, t);
    const std::span<const double> a = system.a;
    const std::span<const double> b = system.b;
    const auto size = static_cast<std::size_t>(n);
    // every entry is written before it is read
    UninitializedArray residual("msi_residual", size);
    UninitializedArray forward_values("msi_forward", size);
    UninitializedArray correction("msi_correction", size);
    const double* c[5];
    for (int m = 0; m < 5; ++m) c[m] = a.data() + m * n;
    const double* l[4];
    for (int m = 0; m < 4; ++m) l[m] = msi_lower.data() + m * n;
    const double* u[3];
    for (int m = 0; m < 3; ++m) u[m] = msi_upper.data() + m * n;

    const double threshold = fast_residual(nx, n, c, b.data(), t.data(), residual.data()) * msi_tolerance;
    std::int32_t count = 0;
    for (;;) {
        ++count;
        forward(nx, ny, l, residual.data(), forward_values.data());
        backward(nx, ny, n, u, forward_values.data(), correction.data(), t.data());
        const double norm = fast_residual(nx, n, c, b.data(), t.data(), residual.data());
        if (count == max_inner_iterations) break;
        if (!(norm > threshold)) break;
    }
}

}  // namespace placatermo
