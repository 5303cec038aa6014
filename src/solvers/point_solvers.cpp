// Jacobi, Gauss-Seidel and SOR: first the plain loops in the point sweep's
// order (the definition the fast kernels are tested against), then the fast
// kernels, which visit in a cache-friendly order that gives every update
// exactly the operands of the point sweep, for any coefficient table.
//
// The point sweep climbs the middle rows column by column. Here they are
// visited row by row, several rows at once along an anti-diagonal wavefront
// (row r lags row r - 1 by one column), which keeps each update's west and
// south neighbours new and its east and north neighbours old, and gives the
// processor independent chains of divisions to overlap. The two terms that
// cross row ends fix the place of the ghost columns: the first volume of row
// j + 1 must see the old last volume of row j, and that last volume must see
// the new first volume of row j + 1, so the first volume of the next row is
// updated before the last volume of the current one.
#include <algorithm>
#include <atomic>
#include <thread>

#include "grid/arrays.hpp"
#include "solvers/point_update.hpp"
#include "solvers/solvers.hpp"
#include "solvers/sweep_helper.hpp"

namespace placatermo {

namespace {

using Table = Coefficients<const double>;
using detail::interior_value;
using detail::InteriorPoint;
using detail::on_side;
using detail::point_value;
using detail::table_only;
using detail::with_interior_point;

// ---- The plain loops ----

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

void solve_jacobi_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                        const Execution& execution)
{
    const auto n = static_cast<std::size_t>(system.volume_count);
    std::vector<double> t_old = create_array(execution, "t_old", n);
    const Table c(system.a, system.volume_count);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        std::copy(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(n), t_old.begin());
        point_sweep(system.nx, system.ny, system.volume_count, c, system.b.data(), From1<const double>(t_old.data()),
                    t);
        execution.stop_point();
    }
}

void solve_gauss_seidel_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                              const Execution& execution)
{
    const Table c(system.a, system.volume_count);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        point_sweep(system.nx, system.ny, system.volume_count, c, system.b.data(), From1<const double>(t.data()), t);
        execution.stop_point();
    }
}

void solve_sor_plain(const CoefficientTable& system, std::int32_t max_inner_iterations, double sor_relaxation,
                     std::span<double> t_values, const Execution& execution)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const auto n = static_cast<std::size_t>(system.volume_count);
    std::vector<double> t_old_values = create_array(execution, "t_old", n);
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
        execution.stop_point();
    }
}

// ---- The fast kernels ----

namespace {

// Rows in flight in the wavefront.
constexpr std::int64_t wavefront_rows = 8;
static_assert(TwoThreadSizes{}.point_sweep.ny == 2 + 4 * wavefront_rows);

// One wavefront step s of a group of rows from row j0: row r (0 ... rows - 1)
// updates its real volume in column 2 + s - r, where there is one.
template <bool Uniform, typename P, typename C>
inline void wavefront_step(std::int64_t nx, std::int64_t j0, std::int64_t rows, std::int64_t s, const C& c,
                           const double* b, double* t, const P& u)
{
    const std::int64_t r_first = std::max<std::int64_t>(0, s - (nx - 3));
    const std::int64_t r_last = std::min(rows - 1, s);
    for (std::int64_t r = r_last; r >= r_first; --r) {
        const std::int64_t q = volume_number(2 + s - r, j0 + r, nx) - 1;
        t[q] = interior_value<Uniform>(u, c, b, t, q, nx);
    }
}

// The steps in which all rows of a full group of uniform rows are inside the
// plate. Each row's west value and the south value from the row below are
// the values just computed, so they are passed on in registers instead of
// being read back from memory. Each row is reached through pointers to its
// own start rather than through indices into t and b: where the addressing
// is not folded into the loads (WebAssembly), the index sums cost as much
// as the update itself. A row's north neighbour is the next volume of the
// row above at the same step (that row lags one column), so it is read from
// that row's pointer, at a fixed distance, and not found by adding nx.
template <typename P, typename Sync>
inline void full_steps(std::int64_t nx, std::int64_t j0, std::int64_t s_begin, std::int64_t s_end, const double* b,
                       double* t, const P u, Sync& sync)
{
    constexpr std::int64_t rows = wavefront_rows;
    double* row_t[rows + 1];  // element s: the volume row r updates at step s (row `rows`: the row above)
    const double* row_b[rows];
    double last[rows];
    for (std::int64_t r = 0; r <= rows; ++r) row_t[r] = t + volume_number(2 - r, j0 + r, nx) - 1;
    for (std::int64_t r = 0; r < rows; ++r) {
        row_b[r] = b + (row_t[r] - t);
        last[r] = row_t[r][s_begin - 1];
    }
    const double* below = t + volume_number(2, j0 - 1, nx) - 1;  // element s: the south of row 0 at step s
    for (std::int64_t s = s_begin; s <= s_end; ++s) {
        sync.before(s);
        // unrolled, so that `last` stays in registers
#if defined(__GNUC__)
#pragma GCC unroll 16
#endif
        for (std::int64_t r = rows - 1; r >= 0; --r) {
            double* const at = row_t[r] + s;
            const double south = r == 0 ? below[s] : last[r - 1];
            const double value = u.value(u.rhs(row_b[r], s), south, last[r], at[1], row_t[r + 1][s + 1]);
            *at = value;
            last[r] = value;
        }
        sync.after(s);
    }
}

// Nothing to wait for: one thread sweeps all groups.
struct NoSync {
    void before(std::int64_t) {}
    void after(std::int64_t) {}
};

// Steps of a group of rows from row j0, with the first volume of row j0 + s
// at the start of step s (s = rows: the first row of the next group) and the
// last volume of a row after its real volumes. Needs nx >= 4.
template <bool Uniform, typename P, typename C, typename Sync>
void sweep_group(std::int64_t nx, std::int64_t ny, std::int64_t j0, const C& c, From1<const double> b, double* t_data,
                 const P& u, Sync& sync)
{
    const From1<double> t(t_data);
    const From1<const double> v(t_data);
    const double* bq = &b(1);
    const auto west = on_side(c, ghost::west);
    const auto east = on_side(c, ghost::east);
    const auto edge = [&](std::int64_t i, std::int64_t j) {
        const std::int64_t k = volume_number(i, j, nx);
        t(k) = i == 1 ? point_value<true, true, true, true>(west, b, v, k, nx)
                      : point_value<true, true, true, true>(east, b, v, k, nx);
    };
    const std::int64_t rows = std::min(wavefront_rows, ny - j0);
    const std::int64_t last_step = (nx - 3) + (rows - 1);
    const auto step = [&](std::int64_t s) {
        sync.before(s);
        if (s >= 1 && s <= rows && j0 + s <= ny - 1) edge(1, j0 + s);
        wavefront_step<Uniform>(nx, j0, rows, s, c, bq, t_data, u);
        if (s >= nx - 3 && s - (nx - 3) < rows) edge(nx, j0 + s - (nx - 3));
        sync.after(s);
    };
    std::int64_t s = 0;
    if (Uniform && rows == wavefront_rows && nx - 4 > rows) {
        for (; s <= rows; ++s) step(s);
        full_steps(nx, j0, rows + 1, nx - 4, bq, t_data, u, sync);
        s = nx - 3;
    }
    for (; s <= last_step; ++s) step(s);
}

// Row 1 and row ny, each new value from v into dst (the same array for
// Gauss-Seidel, the other one for Jacobi).
template <typename C>
void sweep_first_row(std::int64_t nx, const C& c, From1<const double> b, From1<const double> v, From1<double> dst)
{
    const auto south = on_side(c, ghost::south);
    dst(1) = point_value<false, false, true, true>(on_side(c, ghost::west), b, v, 1, nx);
    for (std::int64_t k = 2; k <= nx - 1; ++k) dst(k) = point_value<false, true, true, true>(south, b, v, k, nx);
    dst(nx) = point_value<false, true, true, true>(on_side(c, ghost::east), b, v, nx, nx);
}

template <typename C>
void sweep_last_row(std::int64_t nx, std::int64_t ny, std::int64_t n, const C& c, From1<const double> b,
                    From1<const double> v, From1<double> dst)
{
    const auto north = on_side(c, ghost::north);
    const std::int64_t first = (ny - 1) * nx + 1;
    dst(first) = point_value<true, true, true, false>(on_side(c, ghost::west), b, v, first, nx);
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        const std::int64_t k = (ny - 1) * nx + i;
        dst(k) = point_value<true, true, true, false>(north, b, v, k, nx);
    }
    dst(n) = point_value<true, true, false, false>(on_side(c, ghost::east), b, v, n, nx);
}

// The rows before the groups of a Gauss-Seidel sweep: row 1 and the first
// volume of row 2.
template <typename C>
void sweep_first_rows(std::int64_t nx, const C& c, From1<const double> b, double* t)
{
    sweep_first_row(nx, c, b, t, t);
    t[nx] = point_value<true, true, true, true>(on_side(c, ghost::west), b, t, nx + 1, nx);
}

// One Gauss-Seidel sweep in place on one thread, the same field as the point
// sweep. Needs nx >= 4 and ny >= 3.
template <bool Uniform, typename P, typename C>
void wavefront_sweep(std::int64_t nx, std::int64_t ny, std::int64_t n, const C& c, From1<const double> b, double* t,
                     const P& u)
{
    sweep_first_rows(nx, c, b, t);
    NoSync none;
    for (std::int64_t j0 = 2; j0 <= ny - 1; j0 += wavefront_rows) sweep_group<Uniform>(nx, ny, j0, c, b, t, u, none);
    sweep_last_row(nx, ny, n, c, b, t, t);
}

// The same sweep on two threads: this thread takes the groups 0, 2, 4, ...
// and the helper thread the groups 1, 3, 5, .... A group runs one wavefront
// further behind the group below it: its step s waits until the group below
// has finished step s + rows, after which every value it reads from that
// group is new and every value of its own that the group below still reads is
// old, exactly as on one thread.
struct GroupSync {
    std::atomic<std::int64_t>* below;  // steps finished by the group below (nullptr for the first)
    std::atomic<std::int64_t>* mine;
    std::int64_t below_total;  // all steps of the group below
    void before(std::int64_t s)
    {
        if (below == nullptr) return;
        const std::int64_t needed = std::min(s + wavefront_rows + 1, below_total);
        spin_until([&] { return below->load(std::memory_order_acquire) >= needed; });
    }
    // published every few steps and at the end, so that the counter's cache
    // line does not travel between the cores at every step
    std::int64_t mine_total;
    void after(std::int64_t s)
    {
        if ((s + 1) % publish_every == 0 || s + 1 == mine_total) mine->store(s + 1, std::memory_order_release);
    }
    static constexpr std::int64_t publish_every = 128;
};

template <bool Uniform, typename P, typename C>
void parallel_wavefront_sweep(std::int64_t nx, std::int64_t ny, std::int64_t n, const C& c, From1<const double> b,
                              double* t, const P& u, GroupProgress& progress, SecondThread& helper)
{
    sweep_first_rows(nx, c, b, t);
    progress.reset();
    const auto groups = static_cast<std::int64_t>(progress.size());
    const auto total = [&](std::int64_t g) {
        const std::int64_t rows = std::min(wavefront_rows, ny - (2 + g * wavefront_rows));
        return (nx - 3) + (rows - 1) + 1;
    };
    const auto run_groups = [&, groups](std::int64_t parity) {
        for (std::int64_t g = parity; g < groups; g += 2) {
            GroupSync sync{g > 0 ? &progress[static_cast<std::size_t>(g - 1)] : nullptr,
                           &progress[static_cast<std::size_t>(g)], g > 0 ? total(g - 1) : 0, total(g)};
            sweep_group<Uniform>(nx, ny, 2 + g * wavefront_rows, c, b, t, u, sync);
        }
    };
    helper.start([&] { run_groups(1); });
    run_groups(0);
    helper.wait();
    sweep_last_row(nx, ny, n, c, b, t, t);
}

template <bool Uniform, typename P, typename C>
void gauss_seidel_sweep(std::int64_t nx, std::int64_t ny, std::int64_t n, const C& c, From1<const double> b, double* t,
                        const P& u, GroupProgress* progress, const Execution& execution)
{
    run_sweep(execution, progress != nullptr, nx, ny, [&](bool two) {
        if (two)
            parallel_wavefront_sweep<Uniform>(nx, ny, n, c, b, t, u, *progress, *execution.second_thread);
        else
            wavefront_sweep<Uniform>(nx, ny, n, c, b, t, u);
    });
}

// Progress counters for the two-thread sweep of this grid, or none.
GroupProgress* sweep_progress(std::int64_t nx, std::int64_t ny, const Execution& execution)
{
    if (!execution.two_threads_for(execution.two_thread_sizes.point_sweep, nx, ny)) return nullptr;
    const auto groups = static_cast<std::size_t>((ny - 2 + wavefront_rows - 1) / wavefront_rows);
    return &group_progress(groups);
}

// One Jacobi sweep from src into dst, row by row (the order does not matter
// when every value comes from src).
template <bool Uniform, typename P, typename C>
void jacobi_sweep(std::int64_t nx, std::int64_t ny, std::int64_t n, const C& c, From1<const double> b,
                  const double* src, double* dst_data, const P& u)
{
    const From1<double> dst(dst_data);
    const From1<const double> v(src);
    const double* bq = &b(1);
    sweep_first_row(nx, c, b, v, dst);
    for (std::int64_t j = 2; j <= ny - 1; ++j) {
        const std::int64_t first = volume_number(1, j, nx);
        dst(first) = point_value<true, true, true, true>(on_side(c, ghost::west), b, v, first, nx);
        for (std::int64_t q = first; q < first + nx - 2; ++q)
            dst_data[q] = interior_value<Uniform>(u, c, bq, src, q, nx);
        const std::int64_t last = first + nx - 1;
        dst(last) = point_value<true, true, true, true>(on_side(c, ghost::east), b, v, last, nx);
    }
    sweep_last_row(nx, ny, n, c, b, v, dst);
}

// What the kernels read of the table: all of it, or with Uniform the ghost
// volumes' entries only, which are computed (the system may hold no table).
template <bool Uniform>
auto coefficients_of(const SystemArrays& system)
{
    if constexpr (Uniform)
        return GhostCoefficients(system.nx, system.volume_count);
    else
        return Table(system.a, system.volume_count);
}

// The kernels on either form: with Uniform, the real volumes' coefficients
// are u, else the table's entries. Need nx >= 4 and ny >= 3.
template <bool Uniform, typename P>
void gauss_seidel(const SystemArrays& system, const P& u, std::int32_t max_inner_iterations, std::span<double> t,
                  const Execution& execution)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const auto c = coefficients_of<Uniform>(system);
    const auto progress = sweep_progress(nx, ny, execution);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        gauss_seidel_sweep<Uniform>(nx, ny, system.volume_count, c, system.b.data(), t.data(), u, progress, execution);
        execution.stop_point();
    }
}

// The work array of one call: `work` when it is large enough, else one
// created for the call.
class WorkArray {
public:
    WorkArray(const Execution& execution, std::span<double> work, std::size_t n)
        : own_(work.size() >= n ? UninitializedArray() : UninitializedArray(execution, "t_old", n)),
          data_(work.size() >= n ? work.data() : own_.data()),
          size_(n)
    {
    }
    double* data() { return data_; }
    double* begin() { return data_; }
    double* end() { return data_ + size_; }

private:
    UninitializedArray own_;
    double* data_;
    std::size_t size_;
};

template <bool Uniform, typename P>
void jacobi(const SystemArrays& system, const P& u, std::int32_t max_inner_iterations, std::span<double> t,
            std::span<double> work, const Execution& execution)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const std::int64_t n = system.volume_count;
    WorkArray t_old(execution, work, static_cast<std::size_t>(n));
    const auto c = coefficients_of<Uniform>(system);
    // Alternate between t and the work array instead of copying t every time.
    double* current = t.data();
    double* next = t_old.data();
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        jacobi_sweep<Uniform>(nx, ny, n, c, system.b.data(), current, next, u);
        std::swap(current, next);
        // a stopped solution's field is not used: it may be either array
        execution.stop_point();
    }
    if (current != t.data()) std::copy(t_old.begin(), t_old.end(), t.begin());
}

template <bool Uniform, typename P>
void sor(const SystemArrays& system, const P& u, std::int32_t max_inner_iterations, double sor_relaxation,
         std::span<double> t, std::span<double> work, const Execution& execution)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const auto n = static_cast<std::size_t>(system.volume_count);
    WorkArray t_old(execution, work, n);
    const auto c = coefficients_of<Uniform>(system);
    if (max_inner_iterations >= 1) std::copy(t.begin(), t.end(), t_old.begin());
    const auto progress = sweep_progress(nx, ny, execution);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        gauss_seidel_sweep<Uniform>(nx, ny, system.volume_count, c, system.b.data(), t.data(), u, progress, execution);
        // Relaxation of the whole field; it also leaves the next iteration's
        // copy of the field in t_old.
        double* tq = t.data();
        double* old = t_old.data();
        for (std::size_t q = 0; q < n; ++q) {
            const double relaxed = old[q] + sor_relaxation * (tq[q] - old[q]);
            tq[q] = relaxed;
            old[q] = relaxed;
        }
        execution.stop_point();
    }
}

// Tables too small for the wavefront, and the plain execution, take the
// plain loops.
bool use_plain_loops(const CoefficientTable& system, const Execution& execution)
{
    return execution.plain() || system.nx < 4 || system.ny < 3;
}

}  // namespace

void solve_gauss_seidel(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                        const Execution& execution)
{
    if (use_plain_loops(system, execution)) return solve_gauss_seidel_plain(system, max_inner_iterations, t, execution);
    gauss_seidel<false>(system, table_only, max_inner_iterations, t, execution);
}

void solve_gauss_seidel(const UniformStencil& system, std::int32_t max_inner_iterations, std::span<double> t,
                        const Execution& execution)
{
    with_interior_point(system,
                        [&](const auto& u) { gauss_seidel<true>(system, u, max_inner_iterations, t, execution); });
}

void solve_jacobi(const CoefficientTable& system, std::int32_t max_inner_iterations, std::span<double> t,
                  std::span<double> work, const Execution& execution)
{
    if (use_plain_loops(system, execution)) return solve_jacobi_plain(system, max_inner_iterations, t, execution);
    jacobi<false>(system, table_only, max_inner_iterations, t, work, execution);
}

void solve_jacobi(const UniformStencil& system, std::int32_t max_inner_iterations, std::span<double> t,
                  std::span<double> work, const Execution& execution)
{
    with_interior_point(system,
                        [&](const auto& u) { jacobi<true>(system, u, max_inner_iterations, t, work, execution); });
}

void solve_sor(const CoefficientTable& system, std::int32_t max_inner_iterations, double sor_relaxation,
               std::span<double> t, std::span<double> work, const Execution& execution)
{
    if (use_plain_loops(system, execution))
        return solve_sor_plain(system, max_inner_iterations, sor_relaxation, t, execution);
    sor<false>(system, table_only, max_inner_iterations, sor_relaxation, t, work, execution);
}

void solve_sor(const UniformStencil& system, std::int32_t max_inner_iterations, double sor_relaxation,
               std::span<double> t, std::span<double> work, const Execution& execution)
{
    with_interior_point(
        system, [&](const auto& u) { sor<true>(system, u, max_inner_iterations, sor_relaxation, t, work, execution); });
}

}  // namespace placatermo
