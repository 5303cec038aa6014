// ADI: line solves along the rows, then along the columns.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/bits.hpp"
#include "grid/arrays.hpp"
#include "solvers/solvers.hpp"
#include "solvers/sweep_helper.hpp"

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

void solve_adi_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                     const Execution& execution)
{
    const auto n = static_cast<std::size_t>(system.volume_count);
    std::vector<double> tdma_p = create_array(execution, "tdma_p", n);
    std::vector<double> tdma_q = create_array(execution, "tdma_q", n);
    const Table c(system.a, system.volume_count);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        x_half_step(system.nx, system.ny, system.volume_count, c, system.b.data(), t, tdma_p.data(), tdma_q.data());
        y_half_step(system.nx, system.ny, system.volume_count, c, system.b.data(), t, tdma_p.data(), tdma_q.data());
        execution.stop_point();
    }
}

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
class XHalfStep {
public:
    XHalfStep(std::int64_t nx, std::int64_t ny, std::int64_t n, const Table& c, const double* b, double* t, double* p,
              double* q, const Stencil* u)
        : nx_(nx), ny_(ny), n_(n), b_(b), t_(t), p_(p), q_(q), uniform_(u != nullptr), u_(u != nullptr ? *u : Stencil())
    {
        as_ = &c.as(1), aw_ = &c.aw(1), ap_ = &c.ap(1), ae_ = &c.ae(1), an_ = &c.an(1);
    }

    struct Five {
        double as, aw, ap, ae, an;
    };
    // The coefficients of volume m: for a real volume of a uniform table the
    // shared ones (its entries in the table need not be built).
    Five coefficients(std::int64_t m) const
    {
        if (uniform_) {
            const std::int64_t i = m % nx_, j = m / nx_;
            if (i >= 1 && i <= nx_ - 2 && j >= 1 && j <= ny_ - 2) return {u_.as, u_.aw, u_.ap, u_.ae, u_.an};
        }
        return {as_[m], aw_[m], ap_[m], ae_[m], an_[m]};
    }

    double rhs(std::int64_t m, const Five& c) const
    {
        double r = b_[m];
        if (m >= nx_) r = r - c.as * t_[m - nx_];
        if (m < n_ - nx_) r = r - c.an * t_[m + nx_];
        return r;
    }

    void exact(std::int64_t m)
    {
        const Five c = coefficients(m);
        const double r = rhs(m, c);
        if (m == 0) {
            const double d = c.ap;
            p_[0] = -c.ae / d;
            q_[0] = r / d;
        } else {
            const double d = c.ap + c.aw * p_[m - 1];
            p_[m] = -c.ae / d;
            q_[m] = (r - c.aw * q_[m - 1]) / d;
        }
    }

    bool may_start_early(std::int64_t j) const
    {
        const std::int64_t m = (j - 1) * nx_;
        const Five c = coefficients(m);
        return c.aw == 0.0 && c.ap != 0.0 && bits_as<std::uint64_t>(rhs(m, c)) != negative_zero;
    }

    // Whether row j came out as in the natural order: row j - 1 ended finite.
    bool row_holds(std::int64_t j) const
    {
        const std::int64_t before = (j - 1) * nx_ - 1;
        return std::isfinite(p_[before]) && std::isfinite(q_[before]);
    }

    // Every volume from row j on, in order.
    void redo_from(std::int64_t j)
    {
        for (std::int64_t m = (j - 1) * nx_; m < n_; ++m) exact(m);
    }

    // The recurrence of rows j_begin ... j_end - 1 (from 1; row 1 is the
    // volumes 0 ... nx - 1 on their own); the first row starts early too
    // when first_early.
    void forward(std::int64_t j_begin, std::int64_t j_end, bool first_early)
    {
        const std::int64_t nx = nx_;
        if (j_begin == 1) {
            for (std::int64_t m = 0; m < nx; ++m) exact(m);
            ++j_begin;
        }
        for (std::int64_t j = j_begin; j < j_end;) {
            std::int64_t rows = 1;
            while (rows < adi_rows && j + rows < j_end && may_start_early(j + rows)) ++rows;
            const std::int64_t first = (j - 1) * nx;
            const bool early = first_early && j == j_begin;
            const auto column = [&](std::int64_t i) {
                for (std::int64_t r = 0; r < rows; ++r) {
                    const std::int64_t m = first + r * nx + i;
                    if (i == 0 && (r > 0 || early)) {
                        const Five c = coefficients(m);
                        const double d = c.ap;
                        p_[m] = -c.ae / d;
                        q_[m] = rhs(m, c) / d;
                    } else {
                        exact(m);
                    }
                }
            };
            if (uniform_ && rows == adi_rows && j + rows - 1 <= ny_ - 1 && nx >= 3) {
                // a full group of rows inside the plate: between the ghost
                // columns every coefficient is the shared one, and each row's
                // p and q pass from one column to the next in registers
                column(0);
                const Stencil u = u_;
                const double* b = b_;
                const double* t = t_;
                double* p = p_;
                double* q = q_;
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
                if (row_holds(j + r)) continue;
                for (std::int64_t m = first + r * nx; m < first + rows * nx; ++m) exact(m);
                break;
            }
            j += rows;
        }
    }

    // Back substitution of rows j_begin ... j_end - 1, rows side by side.
    void back(std::int64_t j_begin, std::int64_t j_end)
    {
        const std::int64_t nx = nx_;
        double* t = t_;
        for (std::int64_t j0 = j_begin; j0 < j_end; j0 += adi_rows) {
            const std::int64_t rows = std::min(adi_rows, j_end - j0);
            for (std::int64_t r = 0; r < rows; ++r) {
                const std::int64_t last = (j0 + r) * nx - 1;
                t[last] = q_[last];
            }
            for (std::int64_t i = nx - 2; i >= 0; --i)
                for (std::int64_t r = 0; r < rows; ++r) {
                    const std::int64_t m = (j0 + r - 1) * nx + i;
                    t[m] = p_[m] * t[m + 1] + q_[m];
                }
        }
    }

private:
    std::int64_t nx_, ny_, n_;
    const double *as_, *aw_, *ap_, *ae_, *an_;
    const double* b_;
    double *t_, *p_, *q_;
    bool uniform_;  // the real volumes' coefficients are u_, else the table's
    Stencil u_;
};

// The y half-step of columns i_begin ... i_end - 1 (from 0), row by row:
// every column is its own recurrence, so the columns advance together, in
// vector lanes (with AVX2 four at a time). Every lane does the operations of
// the scalar loop in its order: the bits are the same on any processor.
#if defined(__x86_64__) && defined(__linux__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void y_forward(std::int64_t nx, std::int64_t n, const Table& c, const double* b, const double* t, double* p, double* q,
               std::int64_t i_begin, std::int64_t i_end, const Stencil* u)
{
    const double *as = &c.as(1), *aw = &c.aw(1), *ap = &c.ap(1), *ae = &c.ae(1), *an = &c.an(1);
    for (std::int64_t m = i_begin; m < i_end; ++m) {
        p[m] = -an[m] / ap[m];
        q[m] = m == 0 ? (b[0] - ae[0] * t[1]) / ap[0] : ((b[m] - aw[m] * t[m - 1]) - ae[m] * t[m + 1]) / ap[m];
    }
    const auto from_table = [&](std::int64_t m) {
        const double d = ap[m] + as[m] * p[m - nx];
        p[m] = -an[m] / d;
        q[m] = (((b[m] - aw[m] * t[m - 1]) - ae[m] * t[m + 1]) - as[m] * q[m - nx]) / d;
    };
    for (std::int64_t row = nx; row < n; row += nx) {
        const std::int64_t end = std::min(row + i_end, n - 1);
        if (u == nullptr || row + nx >= n) {
            // each column's recurrence reads only the row before
#if !defined(__clang__)
#pragma GCC ivdep
#endif
            for (std::int64_t m = row + i_begin; m < end; ++m) from_table(m);
            continue;
        }
        // a row of real volumes: the shared coefficients between the ghost
        // columns, whose entries in the table need not be built
        if (i_begin == 0) from_table(row);
        const double u_as = u->as, u_aw = u->aw, u_ap = u->ap, u_ae = u->ae, u_an = u->an;
        const std::int64_t inner_end = std::min(end, row + nx - 1);
#if !defined(__clang__)
#pragma GCC ivdep
#endif
        for (std::int64_t m = row + std::max<std::int64_t>(i_begin, 1); m < inner_end; ++m) {
            const double d = u_ap + u_as * p[m - nx];
            p[m] = -u_an / d;
            q[m] = (((b[m] - u_aw * t[m - 1]) - u_ae * t[m + 1]) - u_as * q[m - nx]) / d;
        }
        if (end == row + nx) from_table(row + nx - 1);
    }
    if (i_end == nx) {
        const std::int64_t m = n - 1;
        const double d = ap[m] + as[m] * p[m - nx];
        p[m] = -an[m] / d;
        q[m] = ((b[m] - aw[m] * t[m - 1]) - as[m] * q[m - nx]) / d;
    }
}

void y_back(std::int64_t nx, std::int64_t n, double* t, const double* p, const double* q, std::int64_t i_begin,
            std::int64_t i_end)
{
    for (std::int64_t m = n - nx + i_begin; m < n - nx + i_end; ++m) t[m] = q[m];
    for (std::int64_t row = n - 2 * nx; row >= 0; row -= nx)
        for (std::int64_t m = row + i_begin; m < row + i_end; ++m) t[m] = p[m] * t[m + nx] + q[m];
}

// Large grids on two threads: the rows (x) or the columns (y) split in two
// halves, one for the helper thread. A back substitution waits until both
// halves of the recurrence are done: it overwrites the t they read.
template <typename First, typename Second>
void on_two_threads(SecondThread& helper, const First& first, const Second& second)
{
    helper.start(second);
    first();
    helper.wait();
}

void fast_x_half_step(std::int64_t nx, std::int64_t ny, std::int64_t n, const Table& c, const double* b, double* t,
                      double* p, double* q, const Stencil* u, SecondThread* helper)
{
    XHalfStep x(nx, ny, n, c, b, t, p, q, u);
    const std::int64_t middle = (ny + 2) / 2;
    if (helper != nullptr && x.may_start_early(middle)) {
        on_two_threads(
            *helper, [&] { x.forward(1, middle, false); }, [&] { x.forward(middle, ny + 1, true); });
        if (!x.row_holds(middle)) x.redo_from(middle);
        on_two_threads(
            *helper, [&] { x.back(1, middle); }, [&] { x.back(middle, ny + 1); });
    } else {
        x.forward(1, ny + 1, false);
        x.back(1, ny + 1);
    }
}

void fast_y_half_step(std::int64_t nx, std::int64_t n, const Table& c, const double* b, double* t, double* p, double* q,
                      const Stencil* u, SecondThread* helper)
{
    if (helper != nullptr) {
        const std::int64_t half = nx / 2;
        on_two_threads(
            *helper, [&] { y_forward(nx, n, c, b, t, p, q, 0, half, u); },
            [&] { y_forward(nx, n, c, b, t, p, q, half, nx, u); });
        on_two_threads(
            *helper, [&] { y_back(nx, n, t, p, q, 0, half); }, [&] { y_back(nx, n, t, p, q, half, nx); });
    } else {
        y_forward(nx, n, c, b, t, p, q, 0, nx, u);
        y_back(nx, n, t, p, q, 0, nx);
    }
}

}  // namespace

namespace {

// With a stencil, the real volumes' coefficients are its values, else the
// table's entries. Large grids take the execution's second thread.
void adi(const SystemArrays& system, const Stencil* u, std::int32_t max_inner_iterations, std::span<double> t,
         const Execution& execution)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const std::int64_t n = system.volume_count;
    UninitializedArray tdma_p(execution, "tdma_p", static_cast<std::size_t>(n));
    UninitializedArray tdma_q(execution, "tdma_q", static_cast<std::size_t>(n));
    const Table c(system.a, n);
    const double* b = system.b.data();
    SecondThread* helper =
        execution.two_threads_for(execution.two_thread_sizes.adi, nx, ny) ? execution.second_thread : nullptr;
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        fast_x_half_step(nx, ny, n, c, b, t.data(), tdma_p.data(), tdma_q.data(), u, helper);
        fast_y_half_step(nx, n, c, b, t.data(), tdma_p.data(), tdma_q.data(), u, helper);
        execution.stop_point();
    }
}

}  // namespace

void solve_adi(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
               const Execution& execution)
{
    if (execution.plain() || system.nx < 2 || system.ny < 2)
        return solve_adi_plain(system, max_inner_iterations, t, execution);
    adi(system, nullptr, max_inner_iterations, t, execution);
}

void solve_adi(const UniformStencil& system, std::int32_t max_inner_iterations, std::span<double> t,
               const Execution& execution)
{
    adi(system, &system.interior, max_inner_iterations, t, execution);
}

}  // namespace placatermo
