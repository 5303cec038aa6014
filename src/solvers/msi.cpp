// MSI: incomplete L U factorisation with partial cancellation, and residual
// correction with it.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/bits.hpp"
#include "grid/arrays.hpp"
#include "solvers/solvers.hpp"
#include "solvers/sweep_helper.hpp"

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

namespace {

// Rows first ... last of the factorisation, in the natural order.
void factorize_rows(const SystemArrays& system, std::span<double> msi_lower, std::span<double> msi_upper,
                    std::int64_t first, std::int64_t last)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const Table c(system.a, system.volume_count);
    Lower l(msi_lower, system.volume_count);
    Upper u(msi_upper, system.volume_count);
    for (std::int64_t j = first; j <= last; ++j) {
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

}  // namespace

void factorize_msi_plain(const CoefficientTable& system, std::span<double> msi_lower, std::span<double> msi_upper)
{
    factorize_rows(system, msi_lower, msi_upper, 1, system.ny);
}

namespace {

// One volume's factors.
struct Factors {
    double ls, lse, lw, lp, ue, unw, un;
};

// The factorisation of a table, rows after the first: every volume from its
// west neighbour's ue, unw, un (passed in) and the row below's (read).
class FastFactorization {
public:
    FastFactorization(const SystemArrays& system, std::span<double> lower, std::span<double> upper)
        : system_(system), lower_(lower), upper_(upper), nx_(system.nx), ny_(system.ny)
    {
        const std::int64_t n = system.volume_count;
        const double* a = system.a.data();
        as_ = a, aw_ = a + n, ap_ = a + 2 * n, ae_ = a + 3 * n, an_ = a + 4 * n;
        lp_ = lower.data(), lw_ = lp_ + n, lse_ = lw_ + n, ls_ = lse_ + n;
        ue_ = upper.data(), unw_ = ue_ + n, un_ = unw_ + n;
    }

    // Volume q (from 0) in column i and row j (from 1), west values given.
    Factors at(std::int64_t q, double alpha, double west_ue, double west_unw, double west_un) const
    {
        const std::int64_t nx = nx_;
        const double alpha2 = 2.0 * alpha;
        const double ue0 = ue_[q - nx];
        const double ue1 = ue_[q - nx + 1];
        Factors f;
        f.ls = as_[q] / (1.0 - alpha * ue0 * ue1);
        f.lse = -f.ls * ue0;
        f.lw = (aw_[q] - f.ls * unw_[q - nx]) / (1.0 + alpha2 * west_unw);
        f.lp = ap_[q] - f.ls * un_[q - nx] - f.lse * unw_[q - nx + 1] - f.lw * west_ue +
               alpha2 * (f.lse * ue1 + f.lw * west_unw);
        f.ue = (ae_[q] - f.lse * un_[q - nx + 1] - alpha2 * f.lse * ue1) / f.lp;
        f.unw = -f.lw * west_un / f.lp;
        f.un = (an_[q] - alpha * f.lw * west_unw) / f.lp;
        return f;
    }

    void store(std::int64_t q, const Factors& f)
    {
        ls_[q] = f.ls, lse_[q] = f.lse, lw_[q] = f.lw, lp_[q] = f.lp;
        ue_[q] = f.ue, unw_[q] = f.unw, un_[q] = f.un;
    }

    Factors stored(std::int64_t q) const { return {ls_[q], lse_[q], lw_[q], lp_[q], ue_[q], unw_[q], un_[q]}; }

    double alpha(std::int64_t i, std::int64_t j) const { return alpha_of(i, j, nx_, ny_); }

    // Rows j ... j + rows - 1, row m at column s - 2 m + 1 in step s. A row
    // after the group's first starts before the row below has reached its
    // end, with that row's west values taken from the end of row j - 1; once
    // the true ones are known, its first volume is factorised again with
    // them, and if any of the seven factors differs in any bit the rows from
    // there are done again in the natural order.
    template <std::int64_t rows>
    void group(std::int64_t j)
    {
        const std::int64_t nx = nx_;
        const std::int64_t before = (j - 1) * nx - 1;  // end of row j - 1
        double wue[rows], wunw[rows], wun[rows];
        for (std::int64_t m = 0; m < rows; ++m) wue[m] = ue_[before], wunw[m] = unw_[before], wun[m] = un_[before];
        const auto update = [&](std::int64_t m, std::int64_t i) {
            const std::int64_t q = (j + m - 1) * nx + i - 1;
            const Factors f = at(q, alpha(i, j + m), wue[m], wunw[m], wun[m]);
            store(q, f);
            wue[m] = f.ue, wunw[m] = f.unw, wun[m] = f.un;
        };
        for (std::int64_t s = 0; s < 2 * rows - 1; ++s)
            for (std::int64_t m = 0; m <= std::min(rows - 1, s / 2); ++m) update(m, s - 2 * m + 1);
        // every row between its second and its next-to-last column
        double alpha_row[rows];
        for (std::int64_t m = 0; m < rows; ++m) alpha_row[m] = alpha(2, j + m);
        for (std::int64_t s = 2 * rows - 1; s < nx - 1; ++s) {
#pragma GCC unroll 8
            for (std::int64_t m = 0; m < rows; ++m) {
                const std::int64_t q = (j + m - 1) * nx + s - 2 * m;
                const Factors f = at(q, alpha_row[m], wue[m], wunw[m], wun[m]);
                store(q, f);
                wue[m] = f.ue, wunw[m] = f.unw, wun[m] = f.un;
            }
        }
        for (std::int64_t s = nx - 1; s < nx - 1 + 2 * rows - 1; ++s)
            for (std::int64_t m = (s - nx + 2) / 2; m < rows; ++m) update(m, s - 2 * m + 1);
        for (std::int64_t m = 1; m < rows; ++m) {
            const std::int64_t q = (j + m - 1) * nx;
            const Factors exact = at(q, alpha(1, j + m), ue_[q - 1], unw_[q - 1], un_[q - 1]);
            const Factors kept = stored(q);
            if (std::memcmp(&exact, &kept, sizeof exact) == 0) continue;
            factorize_rows(system_, lower_, upper_, j + m, j + rows - 1);
            break;
        }
    }

private:
    const SystemArrays& system_;
    std::span<double> lower_, upper_;
    std::int64_t nx_, ny_;
    const double *as_, *aw_, *ap_, *ae_, *an_;
    double *lp_, *lw_, *lse_, *ls_, *ue_, *unw_, *un_;
};

// The fast factorisation, a function of its own: the execution, which only
// chooses it, would otherwise take a register from its loops.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void factorize_fast(const CoefficientTable& system, std::span<double> msi_lower, std::span<double> msi_upper)
{
    constexpr std::int64_t rows = 4;
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    if (nx < 2 * rows + 2 || ny < 3) return factorize_msi_plain(system, msi_lower, msi_upper);
    factorize_rows(system, msi_lower, msi_upper, 1, 1);
    FastFactorization f(system, msi_lower, msi_upper);
    std::int64_t j = 2;
    for (; j + rows - 1 <= ny; j += rows) f.group<rows>(j);
    factorize_rows(system, msi_lower, msi_upper, j, ny);
}

}  // namespace

void factorize_msi(const CoefficientTable& system, std::span<double> msi_lower, std::span<double> msi_upper,
                   const Execution& execution)
{
    if (execution.plain()) return factorize_msi_plain(system, msi_lower, msi_upper);
    factorize_fast(system, msi_lower, msi_upper);
}

void solve_msi_plain(const CoefficientTable& system, std::span<const double> msi_lower,
                     std::span<const double> msi_upper, double msi_tolerance, std::int32_t max_inner_iterations,
                     std::span<double> t_values, const Execution& execution)
{
    const std::int64_t nx = system.nx;
    const std::int64_t n = system.volume_count;
    const auto size = static_cast<std::size_t>(n);
    std::vector<double> residual_values = create_array(execution, "msi_residual", size);
    std::vector<double> forward_values = create_array(execution, "msi_forward", size);
    std::vector<double> correction_values = create_array(execution, "msi_correction", size);
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
        execution.stop_point();
        const double norm = residual(nx, n, c, b, t_values.data(), r);
        if (count == max_inner_iterations) break;
        if (!(norm > threshold)) break;
    }
}

namespace {

// Rows in flight in the substitution wavefronts.
constexpr std::int64_t msi_rows = 4;

bool is_negative_zero(double x) { return bits_as<std::uint64_t>(x) == bits_as<std::uint64_t>(-0.0); }

// The fast correction keeps one array x: the forward values, turned in place
// into the corrections. The forward substitution computes the residual of t
// itself, a block of rows at a time just before it needs them, and sums its
// squares in index order on the way: the residual norm of the plain loop.
//
// Rows are solved several at a time in a wavefront, each two columns behind
// the row it depends on. The first volume of a row depends on the last
// volume of the row before only through one term (lw f(k - 1) forward,
// ue delta(k + 1) backward); where that coefficient is a zero, the other
// factor finite and the value it is subtracted from not a negative zero, the
// term changes nothing, so the row may start early. Whether the other factor
// came out finite is checked once it is known; if not, the group's input rows
// (kept aside) are solved again in the natural order.
class FastMsi {
public:
    FastMsi(const SystemArrays& system, const Stencil* interior, std::span<const double> lower,
            std::span<const double> upper, double* x, double* t, const Execution& execution)
        : nx_(system.nx),
          ny_(system.ny),
          n_(system.volume_count),
          b_(system.b.data()),
          uniform_(interior != nullptr),
          u_(interior != nullptr ? *interior : Stencil()),
          x_(x),
          t_(t),
          save_(static_cast<std::size_t>(msi_rows * nx_)),
          helper_(execution.two_threads_for(execution.two_thread_sizes.msi, nx_, ny_) ? execution.second_thread
                                                                                      : nullptr)
    {
        for (int m = 0; m < 5; ++m) a_[m] = system.a.data() + m * n_;
        lp_ = lower.data(), lw_ = lp_ + n_, lse_ = lw_ + n_, ls_ = lse_ + n_;
        ue_ = upper.data(), unw_ = ue_ + n_, un_ = unw_ + n_;
    }

    // L f = r with r the residual b - a t, x from anything to f; returns the
    // sum of the squares of r in index order.
    double forward()
    {
        if (helper_ != nullptr) return forward_on_two_threads(*helper_);
        double* x = x_;
        double sum = 0.0;
        residual_row(0, x);
        for (std::int64_t q = 0; q < nx_; ++q) sum = sum + x[q] * x[q];
        forward_first_row();
        for (std::int64_t j = 1; j < ny_; j += msi_rows) {
            const std::int64_t rows = std::min(msi_rows, ny_ - j);
            double* save = save_.data();
            for (std::int64_t m = 0; m < rows; ++m) residual_row(j + m, save + m * nx_);
            if (rows == msi_rows && forward_may_start(j, save)) {
                forward_group<false>(j, &sum);
            } else {
                for (std::int64_t q = 0; q < rows * nx_; ++q) sum = sum + save[q] * save[q];
                std::copy(save, save + rows * nx_, x + j * nx_);
                for (std::int64_t m = 0; m < rows; ++m) forward_row(j + m);
            }
        }
        return sum;
    }

    // U delta = f, x from f to delta, each row's delta added to t once the
    // row is final.
    void backward()
    {
        double* x = x_;
        const std::int64_t top = (ny_ - 1) * nx_;
        for (std::int64_t q = n_ - 2; q >= top; --q) {
            double s = x[q] - ue_[q] * x[q + 1];
            if (q == top) s = s - unw_[q] * x[n_ - 1];
            x[q] = s;
        }
        // on two threads the helper adds each row's delta to t once the row
        // is final, following the substitution down
        if (helper_ != nullptr) {
            final_from_row_.store(ny_ - 1, std::memory_order_release);
            helper_->start([this] { add_final_rows_to_t(); });
        } else {
            add_to_t(ny_ - 1, ny_);
        }
        for (std::int64_t j = ny_ - 2; j >= 0;) {
            std::int64_t bottom = j;
            if (j + 1 >= msi_rows && backward_may_start(j)) {
                backward_group(j);
                bottom = j - msi_rows + 1;
            } else {
                backward_row(j);
            }
            if (helper_ != nullptr)
                final_from_row_.store(bottom, std::memory_order_release);
            else
                add_to_t(bottom, j + 1);
            j = bottom - 1;
        }
        if (helper_ != nullptr) helper_->wait();
    }

private:
    // Row 0 of L f = r, its residual in place.
    void forward_first_row()
    {
        double* x = x_;
        x[0] = x[0] / lp_[0];
        for (std::int64_t q = 1; q < nx_; ++q) {
            double s = x[q] - lw_[q] * x[q - 1];
            if (q == nx_ - 1) s = s - lse_[q] * x[0];
            x[q] = s / lp_[q];
        }
    }

    // forward() on two threads: the helper thread makes the residual rows in
    // place in x and sums their squares in index order, a block of rows ahead
    // of the substitution (t does not change meanwhile), which solves each
    // group of rows once its residual is there.
    double forward_on_two_threads(SecondThread& helper)
    {
        ready_rows_.store(0, std::memory_order_relaxed);
        double sum = 0.0;
        helper.start([this, &sum] { sum = residual_rows_ahead(); });
        wait_for_rows(1);
        forward_first_row();
        for (std::int64_t j = 1; j < ny_; j += msi_rows) {
            const std::int64_t rows = std::min(msi_rows, ny_ - j);
            wait_for_rows(j + rows);
            if (rows == msi_rows && forward_may_start(j, x_ + j * nx_))
                forward_group<true>(j, nullptr);
            else
                for (std::int64_t m = 0; m < rows; ++m) forward_row(j + m);
        }
        helper.wait();
        return sum;
    }

    // The helper's part: every residual row into x and the sum of the
    // squares, block by block, each block published once it is summed.
    double residual_rows_ahead()
    {
        constexpr std::int64_t block = 8;
        double* x = x_;
        double total = 0.0;
        for (std::int64_t j = 0; j < ny_; j += block) {
            const std::int64_t last = std::min(ny_, j + block);
            for (std::int64_t row = j; row < last; ++row) residual_row(row, x + row * nx_);
            for (std::int64_t q = j * nx_; q < last * nx_; ++q) total = total + x[q] * x[q];
            ready_rows_.store(last, std::memory_order_release);
        }
        return total;
    }

    // The helper's part of backward(): rows ny - 1 down to 0 added to t, a
    // group at a time as they become final.
    void add_final_rows_to_t()
    {
        for (std::int64_t done = ny_; done > 0;) {  // rows done ... ny - 1 are added
            std::int64_t final_from = done;
            spin_until([&] { return (final_from = final_from_row_.load(std::memory_order_acquire)) < done; });
            add_to_t(final_from, done);
            done = final_from;
        }
    }

    void wait_for_rows(std::int64_t rows) const
    {
        spin_until([&] { return ready_rows_.load(std::memory_order_acquire) >= rows; });
    }

    double residual_at(std::int64_t q) const
    {
        const double* t = t_;
        double s;
        bool any = false;
        if (q >= nx_) {
            s = a_[0][q] * t[q - nx_];
            any = true;
        }
        if (q >= 1) {
            const double term = a_[1][q] * t[q - 1];
            s = any ? s + term : term;
            any = true;
        }
        s = any ? s + a_[2][q] * t[q] : a_[2][q] * t[q];
        if (q < n_ - 1) s = s + a_[3][q] * t[q + 1];
        if (q < n_ - nx_) s = s + a_[4][q] * t[q + nx_];
        return b_[q] - s;
    }

    // The residual of row j into out[0 ... nx - 1].
    void residual_row(std::int64_t j, double* out) const
    {
        const std::int64_t q0 = j * nx_;
        const std::int64_t q1 = q0 + nx_;
        if (j == 0 || j == ny_ - 1 || nx_ < 3) {
            for (std::int64_t q = q0; q < q1; ++q) out[q - q0] = residual_at(q);
            return;
        }
        // every term present: the table, or its shared interior values
        const double* t = t_;
        const double* b = b_;
        double* x = out - q0;
        const std::int64_t nx = nx_;
        x[q0] = residual_at(q0);
        if (uniform_) {
            const Stencil u = u_;
            for (std::int64_t q = q0 + 1; q < q1 - 1; ++q)
                x[q] = b[q] -
                       ((((u.as * t[q - nx] + u.aw * t[q - 1]) + u.ap * t[q]) + u.ae * t[q + 1]) + u.an * t[q + nx]);
        } else {
            const double *as = a_[0], *aw = a_[1], *ap = a_[2], *ae = a_[3], *an = a_[4];
            for (std::int64_t q = q0 + 1; q < q1 - 1; ++q)
                x[q] = b[q] - ((((as[q] * t[q - nx] + aw[q] * t[q - 1]) + ap[q] * t[q]) + ae[q] * t[q + 1]) +
                               an[q] * t[q + nx]);
        }
        x[q1 - 1] = residual_at(q1 - 1);
    }

    void add_to_t(std::int64_t j0, std::int64_t j1)
    {
        for (std::int64_t q = j0 * nx_; q < j1 * nx_; ++q) t_[q] = t_[q] + x_[q];
    }

    // One row of L f = r in the natural order (rows after the first).
    void forward_row(std::int64_t j)
    {
        double* x = x_;
        const std::int64_t nx = nx_;
        for (std::int64_t q = j * nx; q < (j + 1) * nx; ++q)
            x[q] = (((x[q] - lw_[q] * x[q - 1]) - lse_[q] * x[q - nx + 1]) - ls_[q] * x[q - nx]) / lp_[q];
    }

    // Whether the rows after the first of the block whose residual is in
    // the saved rows may start early.
    bool forward_may_start(std::int64_t j, const double* r) const
    {
        if (nx_ < 2 * msi_rows) return false;
        for (std::int64_t m = 1; m < msi_rows; ++m)
            if (!(lw_[(j + m) * nx_] == 0.0) || is_negative_zero(r[m * nx_])) return false;
        return true;
    }

    // Rows j ... j + msi_rows - 1 of L f = r, row m at column s - 2 m in step
    // s; r in the saved rows, or with InPlace in x itself (each value read
    // just before its place is written). Without InPlace the squares of r are
    // added to *sum in index order along the way, msi_rows of them a step:
    // that chain of additions then waits on nothing but itself.
    template <bool InPlace>
    void forward_group(std::int64_t j, double* sum)
    {
        constexpr std::int64_t rows = msi_rows;
        const std::int64_t nx = nx_;
        double* x = x_;
        const double* save = InPlace ? x + j * nx : save_.data();
        double total = InPlace ? 0.0 : *sum;
        double w[rows];
        const auto update = [&](std::int64_t m, std::int64_t i) {
            const std::int64_t q = (j + m) * nx + i;
            const double r = save[m * nx + i];
            double s;
            if (i == 0)
                s = m == 0 ? r - lw_[q] * x[q - 1] : r;
            else
                s = r - lw_[q] * w[m];
            s = (s - lse_[q] * x[q - nx + 1]) - ls_[q] * x[q - nx];
            w[m] = s / lp_[q];
            x[q] = w[m];
        };
        for (std::int64_t s = 0; s < 2 * rows - 1; ++s)
            for (std::int64_t m = 0; m <= std::min(rows - 1, s / 2); ++m) update(m, s - 2 * m);
        std::int64_t offset[rows];
        for (std::int64_t m = 0; m < rows; ++m) offset[m] = (j + m) * nx - 2 * m;
        const double *lp = lp_, *lw = lw_, *lse = lse_, *ls = ls_;
        const double* squares = save;
        for (std::int64_t s = 2 * rows - 1; s < nx; ++s) {
#pragma GCC unroll 16
            for (std::int64_t m = 0; m < rows; ++m) {
                const std::int64_t q = offset[m] + s;
                const double r = save[m * nx + s - 2 * m];
                w[m] = (((r - lw[q] * w[m]) - lse[q] * x[q - nx + 1]) - ls[q] * x[q - nx]) / lp[q];
                x[q] = w[m];
            }
            if constexpr (!InPlace) {
#pragma GCC unroll 16
                for (std::int64_t m = 0; m < rows; ++m) total = total + squares[m] * squares[m];
                squares += rows;
            }
        }
        if constexpr (!InPlace) {
            for (; squares < save + rows * nx; ++squares) total = total + *squares * *squares;
            *sum = total;
        }
        for (std::int64_t s = nx; s < nx + 2 * (rows - 1); ++s)
            for (std::int64_t m = (s - nx) / 2 + 1; m < rows; ++m) update(m, s - 2 * m);
        for (std::int64_t m = 1; m < rows; ++m) {
            if (std::isfinite(x[(j + m) * nx - 1])) continue;
            // t has not changed: the residual rows can be had again
            for (std::int64_t row = j + m; row < j + rows; ++row) {
                if constexpr (InPlace)
                    residual_row(row, x + row * nx);
                else
                    std::copy(save + (row - j) * nx, save + (row - j + 1) * nx, x + row * nx);
                forward_row(row);
            }
            break;
        }
    }

    // One row of U delta = f in the natural order (rows below the top).
    void backward_row(std::int64_t j)
    {
        double* x = x_;
        const std::int64_t nx = nx_;
        for (std::int64_t q = (j + 1) * nx - 1; q >= j * nx; --q)
            x[q] = ((x[q] - ue_[q] * x[q + 1]) - unw_[q] * x[q + nx - 1]) - un_[q] * x[q + nx];
    }

    bool backward_may_start(std::int64_t j) const
    {
        if (nx_ < 2 * msi_rows) return false;
        for (std::int64_t m = 1; m < msi_rows; ++m) {
            const std::int64_t q = (j - m + 1) * nx_ - 1;
            if (!(ue_[q] == 0.0) || is_negative_zero(x_[q])) return false;
        }
        return true;
    }

    // Rows j, j - 1, ..., j - msi_rows + 1 of U delta = f, row m (from the
    // top) at column nx - 1 - (s - 2 m) in step s.
    void backward_group(std::int64_t j)
    {
        constexpr std::int64_t rows = msi_rows;
        const std::int64_t nx = nx_;
        double* x = x_;
        double* save = save_.data();
        double e[rows];
        const auto update = [&](std::int64_t m, std::int64_t i) {
            const std::int64_t q = (j - m) * nx + i;
            const double f = x[q];
            if (m > 0) save[m * nx + i] = f;
            double s;
            if (i == nx - 1)
                s = m == 0 ? f - ue_[q] * x[q + 1] : f;
            else
                s = f - ue_[q] * e[m];
            e[m] = (s - unw_[q] * x[q + nx - 1]) - un_[q] * x[q + nx];
            x[q] = e[m];
        };
        for (std::int64_t s = 0; s < 2 * rows - 1; ++s)
            for (std::int64_t m = 0; m <= std::min(rows - 1, s / 2); ++m) update(m, nx - 1 - (s - 2 * m));
        std::int64_t offset[rows];
        for (std::int64_t m = 0; m < rows; ++m) offset[m] = (j - m) * nx + nx - 1 + 2 * m;
        const double *ue = ue_, *unw = unw_, *un = un_;
        for (std::int64_t s = 2 * rows - 1; s < nx; ++s) {
#pragma GCC unroll 16
            for (std::int64_t m = 0; m < rows; ++m) {
                const std::int64_t q = offset[m] - s;
                const double f = x[q];
                if (m > 0) save[m * nx + nx - 1 + 2 * m - s] = f;
                e[m] = ((f - ue[q] * e[m]) - unw[q] * x[q + nx - 1]) - un[q] * x[q + nx];
                x[q] = e[m];
            }
        }
        for (std::int64_t s = nx; s < nx + 2 * (rows - 1); ++s)
            for (std::int64_t m = (s - nx) / 2 + 1; m < rows; ++m) update(m, nx - 1 - (s - 2 * m));
        for (std::int64_t m = 1; m < rows; ++m) {
            if (std::isfinite(x[(j - m + 1) * nx])) continue;
            for (std::int64_t row = m; row < rows; ++row)
                std::copy(save + row * nx, save + (row + 1) * nx, x + (j - row) * nx);
            for (std::int64_t row = j - m; row > j - rows; --row) backward_row(row);
            break;
        }
    }

    std::int64_t nx_, ny_, n_;
    const double* a_[5];
    const double* b_;
    bool uniform_;  // the real volumes' coefficients are u_, else the table's
    Stencil u_;
    const double *lp_, *lw_, *lse_, *ls_, *ue_, *unw_, *un_;
    double* x_;
    double* t_;
    std::vector<double> save_;
    SecondThread* helper_;  // the second thread of the large grids, or none
    alignas(64) std::atomic<std::int64_t> ready_rows_{0};
    alignas(64) std::atomic<std::int64_t> final_from_row_{0};
};

}  // namespace

namespace {

// With a stencil, the real volumes' coefficients are its values, else the
// table's entries. Needs nx >= 4 and ny >= 3.
void msi(const SystemArrays& system, const Stencil* interior, std::span<const double> msi_lower,
         std::span<const double> msi_upper, double msi_tolerance, std::int32_t max_inner_iterations,
         std::span<double> t, const Execution& execution)
{
    // every entry is written before it is read
    UninitializedArray work(execution, "msi_residual", static_cast<std::size_t>(system.volume_count));
    FastMsi msi(system, interior, msi_lower, msi_upper, work.data(), t.data(), execution);
    const double threshold = std::sqrt(msi.forward()) * msi_tolerance;
    std::int32_t count = 0;
    for (;;) {
        ++count;
        msi.backward();
        execution.stop_point();
        // after the last correction the residual is not looked at
        if (count == max_inner_iterations) break;
        // the next correction's forward substitution gives the norm of the
        // new residual; when the norm says stop, its work is dropped
        if (!(std::sqrt(msi.forward()) > threshold)) break;
    }
}

}  // namespace

void solve_msi(const CoefficientTable& system, std::span<const double> msi_lower, std::span<const double> msi_upper,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<double> t, const Execution& execution)
{
    if (execution.plain() || system.nx < 4 || system.ny < 3)
        return solve_msi_plain(system, msi_lower, msi_upper, msi_tolerance, max_inner_iterations, t, execution);
    msi(system, nullptr, msi_lower, msi_upper, msi_tolerance, max_inner_iterations, t, execution);
}

void solve_msi(const UniformStencil& system, std::span<const double> msi_lower, std::span<const double> msi_upper,
               double msi_tolerance, std::int32_t max_inner_iterations, std::span<double> t, const Execution& execution)
{
    msi(system, &system.interior, msi_lower, msi_upper, msi_tolerance, max_inner_iterations, t, execution);
}

}  // namespace placatermo
