// ADI: line solves along the rows, then along the columns.
#include "grid/grid.hpp"
#include "run/errors.hpp"
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

void solve_adi(std::int32_t nx, std::int32_t ny, std::int32_t volume_count, std::int32_t max_inner_iterations,
               std::span<const double> a, std::span<const double> b, std::span<double> t)
{
    const auto n = static_cast<std::size_t>(volume_count);
    std::vector<double> tdma_p = create_array("tdma_p", n);
    std::vector<double> tdma_q = create_array("tdma_q", n);
    const Table c(a, volume_count);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        x_half_step(nx, ny, volume_count, c, b, t, tdma_p.data(), tdma_q.data());
        y_half_step(nx, ny, volume_count, c, b, t, tdma_p.data(), tdma_q.data());
    }
}

}  // namespace placatermo
