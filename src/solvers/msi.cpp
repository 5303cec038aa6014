// MSI: incomplete L U factorisation with partial cancellation, and residual
// correction with it.
#include <cmath>

#include "grid/grid.hpp"
#include "run/errors.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

using Table = Coefficients<const double>;

struct Lower {
    From1<double> lp, lw, lse, ls;
    Lower(std::span<double> m, std::int64_t n) : lp(m.data()), lw(m.data() + n), lse(m.data() + 2 * n), ls(m.data() + 3 * n) {}
};
struct Upper {
    From1<double> ue, unw, un;
    Upper(std::span<double> m, std::int64_t n) : ue(m.data()), unw(m.data() + n), un(m.data() + 2 * n) {}
};
struct ConstLower {
    From1<const double> lp, lw, lse, ls;
    ConstLower(std::span<const double> m, std::int64_t n)
        : lp(m.data()), lw(m.data() + n), lse(m.data() + 2 * n), ls(m.data() + 3 * n) {}
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

double msi_alpha(std::int64_t k, std::int64_t nx, std::int64_t ny)
{
    const std::int64_t i = (k - 1) % nx + 1;
    const std::int64_t j = (k - 1) / nx + 1;
    return (i >= 2 && i <= nx - 1 && j >= 2 && j <= ny - 1) ? 0.5 : 0.0;
}

void factorize_msi(std::span<const double> a, std::span<double> msi_lower, std::span<double> msi_upper,
                   std::int32_t volume_count, std::int32_t nx_, std::int32_t ny_)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    const Table c(a, volume_count);
    Lower l(msi_lower, volume_count);
    Upper u(msi_upper, volume_count);
    for (std::int64_t j = 1; j <= ny; ++j) {
        for (std::int64_t i = 1; i <= nx; ++i) {
            const std::int64_t k = volume_number(i, j, nx);
            const double alpha = (i >= 2 && i <= nx - 1 && j >= 2 && j <= ny - 1) ? 0.5 : 0.0;
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

void solve_msi(std::span<const double> a, std::span<const double> msi_lower, std::span<const double> msi_upper,
               std::int32_t ny_, std::int32_t nx_, std::int32_t volume_count, std::span<double> t_values,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<const double> b_values)
{
    (void)ny_;
    const std::int64_t nx = nx_;
    const std::int64_t n = volume_count;
    const auto size = static_cast<std::size_t>(volume_count);
    std::vector<double> residual_values = create_array("msi_residual", size);
    std::vector<double> forward_values = create_array("msi_forward", size);
    std::vector<double> correction_values = create_array("msi_correction", size);
    const Table c(a, volume_count);
    const ConstLower l(msi_lower, volume_count);
    const ConstUpper u(msi_upper, volume_count);
    const From1<const double> b(b_values);
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

}  // namespace placatermo
