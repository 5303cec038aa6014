// Gauss-Seidel in red-black order, the textbook multigrid cycle's smoother.
// A sweep updates every red unknown (column and row numbers of even sum),
// then every black one, each by the point update from its neighbours' values
// at that moment. No two unknowns of one colour are neighbours, so within a
// colour the updates do not depend on each other: the rows split into bands
// that threads sweep side by side, and the field has the same bits for any
// number of bands, any rows each, and any order in which they run. On two
// threads each takes the rows its core is measured to sweep in the time the
// other takes for the rest (BandSplit).
//
// The fast kernel sweeps each band once per sweep: the red row j, then the
// black row j - 1, which by then has new red neighbours on both sides; the
// red first and last rows of every band are done before any band starts, so
// that no band reads a row its neighbour band writes in the meantime.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <type_traits>
#include <variant>
#include <vector>

#include "base/pairs.hpp"
#include "base/second_thread.hpp"
#include "grid/arrays.hpp"
#include "solvers/point_update.hpp"
#include "solvers/solvers.hpp"
#include "solvers/sweep_helper.hpp"

namespace placatermo {

namespace {

using detail::interior_value;
using detail::on_side;
using detail::point_value;
using Table = Coefficients<const double>;

enum class Colour { red = 0, black = 1 };

// The update of unknown k in column i of row j from its neighbours on the
// grid: none beyond the sides, so that no term crosses a row end (the point
// sweep's order gives the ghost columns one, with a zero coefficient in the
// plate's tables; here it would join two unknowns of one colour).
template <typename C, typename B>
double update_at(const C& c, const B& b, From1<const double> v, std::int64_t k, std::int64_t nx, std::int64_t i,
                 std::int64_t j, std::int64_t ny)
{
    if (j == 1) {
        if (i == 1) return point_value<false, false, true, true>(c, b, v, k, nx);
        if (i == nx) return point_value<false, true, false, true>(c, b, v, k, nx);
        return point_value<false, true, true, true>(c, b, v, k, nx);
    }
    if (j == ny) {
        if (i == 1) return point_value<true, false, true, false>(c, b, v, k, nx);
        if (i == nx) return point_value<true, true, false, false>(c, b, v, k, nx);
        return point_value<true, true, true, false>(c, b, v, k, nx);
    }
    if (i == 1) return point_value<true, false, true, true>(c, b, v, k, nx);
    if (i == nx) return point_value<true, true, false, true>(c, b, v, k, nx);
    return point_value<true, true, true, true>(c, b, v, k, nx);
}

// The first column of row j of this colour.
std::int64_t first_column(std::int64_t j, Colour colour)
{
    return (1 + j) % 2 == static_cast<std::int64_t>(colour) ? 1 : 2;
}

// In WebAssembly the compiler's vector loop over every second entry costs
// more than two updates written out as a pair (the same operations, lane by
// lane); natively the compiler's loop is the faster one.
#if defined(__EMSCRIPTEN__)
constexpr bool pairs_written_out = true;
#else
constexpr bool pairs_written_out = false;
#endif

// x / ap, lane by lane, as the stencil's point does it.
inline Pair over_ap(const detail::TimesReciprocal& over, Pair x) { return x * pair_of(over.reciprocal); }
inline Pair over_ap(const detail::DivideByAp& over, Pair x) { return x / pair_of(over.ap); }

// Entries p[0] and p[2].
inline Pair every_second(const double* p) { return first_lanes(load_pair(p), load_pair(p + 2)); }

// The real volumes at entries q, q + 2, ... of a row, in pairs, while both
// of a pair are at most `last`; returns the first entry left.
template <typename P>
std::int64_t uniform_pairs(const P& u, const double* b, double* t, std::int64_t q, std::int64_t last, std::int64_t nx)
{
    const Pair as = pair_of(u.as), aw = pair_of(u.aw), ae = pair_of(u.ae), an = pair_of(u.an);
    // entries q and q + 2 from their neighbours
    const auto update = [&](std::int64_t q, Pair west, Pair east) {
        const Pair south = every_second(t + q - nx), north = every_second(t + q + nx);
        const Pair rhs = {u.rhs(b, q), u.rhs(b, q + 2)};
        const Pair value = over_ap(u.over, rhs - (((as * south + aw * west) + ae * east) + an * north));
        t[q] = value[0];
        t[q + 2] = value[1];
    };
    // four at a time, the entries between them loaded once
    for (; q + 6 <= last; q += 8) {
        const Pair m0 = load_pair(t + q - 1), m1 = load_pair(t + q + 1), m2 = load_pair(t + q + 3);
        const Pair m3 = load_pair(t + q + 5), m4 = load_pair(t + q + 7);
        update(q, first_lanes(m0, m1), first_lanes(m1, m2));
        update(q + 4, first_lanes(m2, m3), first_lanes(m3, m4));
    }
    for (; q + 2 <= last; q += 4) {
        const Pair middle = load_pair(t + q + 1);  // entries q + 1, q + 2
        update(q, first_lanes(load_pair(t + q - 1), middle), first_lanes(middle, load_pair(t + q + 3)));
    }
    return q;
}

#if defined(__x86_64__) && defined(__GNUC__) && defined(__linux__)
#define PLACATERMO_QUADS 1
// With AVX2, four entries at a time from entry q, one of this colour: every
// entry of the four gets the update (each lane the operations of the scalar
// one, in its order), and those of this colour, the first and third, are
// blended into the four as loaded, the others going back unchanged. So the
// neighbours are plain loads instead of every second entry gathered in
// pairs. Writing the other colour's entries, even with their own values,
// is only for rows that no other thread reads meanwhile. Returns the first
// entry left, as uniform_pairs. Linux only: MinGW keeps the stack aligned to
// 16 bytes, and the compiler's spills of 32-byte vectors assume 32.
using Quad = double __attribute__((vector_size(32)));
__attribute__((target("avx2"), always_inline)) inline Quad load_quad(const double* p)
{
    Quad v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
__attribute__((target("avx2"), always_inline)) inline Quad quad_of(double x) { return Quad{x, x, x, x}; }

template <typename P>
__attribute__((target("avx2"))) std::int64_t uniform_quads(const P& u, const double* b, double* t, std::int64_t q,
                                                           std::int64_t last, std::int64_t nx)
{
    const Quad as = quad_of(u.as), aw = quad_of(u.aw), ae = quad_of(u.ae), an = quad_of(u.an);
    if (q + 2 > last) return q;
    // the west neighbours from the four entries loaded before (the last one
    // of them) and those loaded here, not from memory just stored to
    Quad before = quad_of(t[q - 1]);
    for (; q + 2 <= last; q += 4) {
        const Quad here = load_quad(t + q);
        Quad rhs = {};
        if constexpr (P::rhs_inside == RhsInside::stored) rhs = load_quad(b + q);
        const Quad west = __builtin_shufflevector(before, here, 3, 4, 5, 6);
        Quad s;
        if constexpr (P::unit)
            s = ((as * load_quad(t + q - nx) - west) - load_quad(t + q + 1)) - load_quad(t + q + nx);
        else
            s = ((as * load_quad(t + q - nx) + aw * west) + ae * load_quad(t + q + 1)) + an * load_quad(t + q + nx);
        Quad value;
        if constexpr (requires { u.over.reciprocal; })
            value = (rhs - s) * quad_of(u.over.reciprocal);
        else
            value = (rhs - s) / quad_of(u.over.ap);
        const Quad blended = __builtin_shufflevector(value, here, 0, 5, 2, 7);
        std::memcpy(t + q, &blended, sizeof blended);
        before = here;
    }
    return q;
}
bool quads_available()
{
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return available;
}
#endif

// Row j's unknowns of one colour, updated in place: the ghost ones with the
// side's coefficients and b as ghost_b gives it, the real ones with the
// table's or the stencil's (u) and b (not read where the stencil's is +0.0).
// row_alone: no other thread reads the row meanwhile.
template <bool Uniform, typename P, typename C>
void sweep_row(std::int64_t nx, std::int64_t ny, std::int64_t j, Colour colour, const C& c, const double* bq,
               const GhostRowRhs& ghost_b, double* t_data, const P& u, [[maybe_unused]] bool row_alone)
{
    const From1<double> t(t_data);
    const From1<const double> v(t_data);
    const std::int64_t i0 = first_column(j, colour);
    const std::int64_t row = (j - 1) * nx;
    const auto west = on_side(c, ghost::west);
    const auto east = on_side(c, ghost::east);
    if (j == 1 || j == ny) {
        const auto side = on_side(c, j == 1 ? ghost::south : ghost::north);
        for (std::int64_t i = i0; i <= nx; i += 2) {
            const std::int64_t k = row + i;
            t(k) = i == 1    ? update_at(west, ghost_b, v, k, nx, i, j, ny)
                   : i == nx ? update_at(east, ghost_b, v, k, nx, i, j, ny)
                             : update_at(side, ghost_b, v, k, nx, i, j, ny);
        }
        return;
    }
    if (i0 == 1) t(row + 1) = point_value<true, false, true, true>(west, ghost_b, v, row + 1, nx);
    // entries from 0: column i is entry row + i - 1
    const std::int64_t last = row + nx - 2;  // column nx - 1
    std::int64_t q = row + (i0 == 1 ? 2 : 1);
    if constexpr (Uniform && pairs_written_out) q = uniform_pairs(u, bq, t_data, q, last, nx);
#if defined(PLACATERMO_QUADS)
    if constexpr (Uniform)
        if (row_alone && quads_available()) q = uniform_quads(u, bq, t_data, q, last, nx);
#endif
    for (; q <= last; q += 2) t_data[q] = interior_value<Uniform>(u, c, bq, t_data, q, nx);
    if ((nx - i0) % 2 == 0) t(row + nx) = point_value<true, true, false, true>(east, ghost_b, v, row + nx, nx);
}

struct Band {
    std::int64_t first, last;  // rows
};

// Rows 1 ... ny in about `count` bands, each but the first from an even row,
// so that the pairs of rows (2c - 2, 2c - 1) that a coarse row covers stay in
// one band.
std::vector<Band> bands_of(std::int64_t ny, int count)
{
    count = static_cast<int>(std::clamp<std::int64_t>(count, 1, ny));
    std::vector<Band> bands;
    std::int64_t first = 1;
    for (int m = 1; m <= count && first <= ny; ++m) {
        std::int64_t next = m == count ? ny + 1 : 1 + m * ny / count;
        next = std::min(next + next % 2, ny + 1);
        if (next <= first) continue;
        bands.push_back({first, next - 1});
        first = next;
    }
    return bands;
}

// Row work of one sweep: before() on every row ahead of this sweep's first
// read of it, after() on every real row once it and its neighbours are final
// (edge rows of a band excepted: the caller does them when all bands are
// done). Either may be empty.
struct SweepWork {
    const RowWork* work = nullptr;
    bool before = false, after = false;
    std::vector<char>* prepared = nullptr;  // rows done by before()

    void prepare(std::int64_t j, std::int64_t ny) const
    {
        if (!before || j < 1 || j > ny || (*prepared)[static_cast<std::size_t>(j)]) return;
        (*prepared)[static_cast<std::size_t>(j)] = 1;
        work->before(j);
    }
    void finish(std::int64_t j, const Band& band) const
    {
        if (after && j > band.first && j < band.last) work->after(j);
    }
};

// One sweep in the bands, the odd ones on the second thread when there is one,
// each thread's part timed for `split` when there is one.
template <typename Row>
void sweep_bands(std::int64_t ny, const std::vector<Band>& bands, SecondThread* thread, Row row,
                 const SweepWork& work, BandSplit* split)
{
    for (const Band& band : bands)
        for (std::int64_t j : {band.first - 1, band.first, band.first + 1, band.last - 1, band.last, band.last + 1})
            work.prepare(j, ny);
    for (const Band& band : bands) {
        row(band.first, Colour::red, true);
        if (band.last > band.first) row(band.last, Colour::red, true);
    }
    // a band's edge rows are read by its neighbour band meanwhile, when the
    // bands run on two threads
    const bool single = thread == nullptr || bands.size() < 2;
    // red row j, then black row j - 1, whose red neighbours are then new on
    // both sides; row j - 2 is then final, and so are its neighbours
    const auto band_sweep = [&](const Band& band) {
        for (std::int64_t j = band.first + 1; j < band.last; ++j) {
            work.prepare(j + 1, ny);
            row(j, Colour::red, true);
            row(j - 1, Colour::black, j - 1 != band.first || single);
            work.finish(j - 2, band);
        }
        for (std::int64_t j = std::max(band.first, band.last - 1); j <= band.last; ++j) {
            row(j, Colour::black, (j != band.first && j != band.last) || single);
            work.finish(j - 1, band);
        }
    };
    const auto some = [&](std::size_t parity) {
        for (std::size_t m = parity; m < bands.size(); m += 2) band_sweep(bands[m]);
    };
    if (thread == nullptr || bands.size() < 2) {
        some(0);
        some(1);
    } else {
        using Clock = std::chrono::steady_clock;
        const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
        Clock::time_point helper_start, helper_end;
        const Clock::time_point start = Clock::now();
        HelperJob odd(*thread, [&] {
            helper_start = Clock::now();
            some(1);
            helper_end = Clock::now();
        });
        some(0);
        const Clock::time_point caller_end = Clock::now();
        odd.join();
        const auto rows = [&](std::size_t parity) {
            std::int64_t count = 0;
            for (std::size_t m = parity; m < bands.size(); m += 2) count += bands[m].last - bands[m].first + 1;
            return count;
        };
        if (split != nullptr)
            split->record(rows(0), seconds(caller_end - start), rows(1), seconds(helper_end - helper_start),
                          seconds(helper_start - start));
    }
    if (!work.after) return;
    for (const Band& band : bands)
        for (std::int64_t j : {band.first, band.last})
            if (j >= 2 && j <= ny - 1 && (j == band.first || band.last > band.first)) work.work->after(j);
}

// Rows 1 ... ny in two bands, the first about `share` of them, the second
// from an even row.
std::vector<Band> two_bands(std::int64_t ny, double share)
{
    std::int64_t next = 1 + static_cast<std::int64_t>(share * static_cast<double>(ny));
    next = std::max<std::int64_t>(std::min(next + next % 2, ny - ny % 2), 2);
    return {{1, next - 1}, {next, ny}};
}

// How a call's rows are laid: in `count` bands of about equal rows, or, with
// `split`, in two as the timings there say.
struct BandLayout {
    int count = 1;
    BandSplit* split = nullptr;

    std::vector<Band> bands(std::int64_t ny) const
    {
        return split != nullptr && ny >= 2 ? two_bands(ny, split->caller_share(ny)) : bands_of(ny, count);
    }
};

template <bool Uniform, typename P, typename C>
void red_black(const SystemArrays& system, const C& c, const P& u, std::int32_t max_inner_iterations,
               std::span<double> t, BandLayout layout, SecondThread* thread, const Execution& execution,
               const RowWork* row_work = nullptr)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const double* b = system.b.data();  // none where only the ghost volumes' entries are kept
    const std::vector<Band> bands = layout.bands(ny);
    std::vector<char> prepared(row_work != nullptr ? static_cast<std::size_t>(ny + 2) : 0, 0);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        const SweepWork work{row_work, row_work != nullptr && iteration == 1,
                             row_work != nullptr && iteration == max_inner_iterations, &prepared};
        sweep_bands(
            ny, bands, thread,
            [&](std::int64_t j, Colour colour, bool alone) {
                sweep_row<Uniform>(nx, ny, j, colour, c, b, GhostRowRhs(system, j), t.data(), u, alone);
            }, work, layout.split);
        execution.stop_point();
    }
}

// The fast kernel on either form: the table's coefficients, or the
// stencil's in registers.
void sweeps(const CoefficientTable& table, std::int32_t max_inner_iterations, std::span<double> t, BandLayout bands,
            SecondThread* thread, const Execution& execution, const RowWork* work)
{
    red_black<false>(table, Table(table.a, table.volume_count), detail::table_only, max_inner_iterations, t, bands,
                     thread, execution, work);
}
void sweeps(const UniformStencil& stencil, std::int32_t max_inner_iterations, std::span<double> t, BandLayout bands,
            SecondThread* thread, const Execution& execution, const RowWork* work)
{
    detail::with_interior_point(stencil, [&](const auto& u) {
        red_black<true>(stencil, GhostCoefficients(stencil.nx, stencil.volume_count), u, max_inner_iterations, t,
                        bands, thread, execution, work);
    });
}

// Two bands on two threads for grids large enough, else one.
SecondThread* thread_for(const SystemArrays& system, const Execution& execution)
{
    return execution.two_threads_for(execution.two_thread_sizes.red_black, system.nx, system.ny)
               ? execution.second_thread
               : nullptr;
}

// The fast kernel, or the plain loop where it must be taken.
bool takes_plain_loop(const SystemArrays& system, const Execution& execution)
{
    return execution.plain() || system.nx < 2 || system.ny < 2;
}

template <typename Form>
void sweeps_on_their_threads(const Form& form, std::int32_t max_inner_iterations, std::span<double> t,
                             const Execution& execution, const RowWork* work = nullptr)
{
    SecondThread* thread = thread_for(form, execution);
    const BandLayout layout{1, thread != nullptr ? &band_split(form.nx, form.ny) : nullptr};
    sweeps(form, max_inner_iterations, t, layout, thread, execution, work);
}

}  // namespace

void solve_gauss_seidel_red_black_plain(const CoefficientTable& system, std::int32_t max_inner_iterations,
                                        std::span<double> t_values, const Execution& execution)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const Table c(system.a, system.volume_count);
    const From1<const double> b(system.b);
    const From1<double> t(t_values);
    for (std::int32_t iteration = 1; iteration <= max_inner_iterations; ++iteration) {
        for (const Colour colour : {Colour::red, Colour::black})
            for (std::int64_t j = 1; j <= ny; ++j)
                for (std::int64_t i = first_column(j, colour); i <= nx; i += 2) {
                    const std::int64_t k = volume_number(i, j, nx);
                    t(k) = update_at(c, b, From1<const double>(t_values.data()), k, nx, i, j, ny);
                }
        execution.stop_point();
    }
}

void solve_gauss_seidel_red_black(const CoefficientTable& system, std::int32_t max_inner_iterations,
                                  std::span<double> t, const Execution& execution)
{
    if (takes_plain_loop(system, execution))
        return solve_gauss_seidel_red_black_plain(system, max_inner_iterations, t, execution);
    sweeps_on_their_threads(system, max_inner_iterations, t, execution);
}

void solve_gauss_seidel_red_black(const UniformStencil& system, std::int32_t max_inner_iterations,
                                  std::span<double> t, const Execution& execution)
{
    sweeps_on_their_threads(system, max_inner_iterations, t, execution);
}

void solve_gauss_seidel_red_black(const LinearSystem& system, std::int32_t max_inner_iterations, std::span<double> t,
                                  const Execution& execution, const RowWork& work)
{
    std::visit(
        [&](const auto& form) {
            if (takes_plain_loop(form, execution) || max_inner_iterations <= 0)
                return work.around(form.ny, [&] {
                    solve_gauss_seidel_red_black(form, max_inner_iterations, t, execution);
                });
            sweeps_on_their_threads(form, max_inner_iterations, t, execution, &work);
        },
        system);
}

void update_ghost_volumes(const LinearSystem& system, std::span<double> u, std::int64_t j)
{
    std::visit(
        [&](const auto& form) {
            const std::int64_t nx = form.nx;
            const std::int64_t ny = form.ny;
            const auto update = [&](const auto& c) {
                const GhostRowRhs b(form, j);
                const From1<double> t(u);
                const From1<const double> v(u.data());
                const std::int64_t row = (j - 1) * nx;
                const auto at = [&](std::int64_t i) {
                    const auto& side = i == 1 ? on_side(c, ghost::west)
                                       : i == nx ? on_side(c, ghost::east)
                                       : on_side(c, j == 1 ? ghost::south : ghost::north);
                    t(row + i) = update_at(side, b, v, row + i, nx, i, j, ny);
                };
                if (j == 1 || j == ny) {
                    for (std::int64_t i = 2; i <= nx - 1; ++i) at(i);
                    at(1);
                    at(nx);
                    return;
                }
                // a ghost column's south and north coefficients are zero: its
                // volumes from their real neighbour alone, so that the rows
                // may come in any order (the folded passes take the edge rows
                // of each band first), an infinity or NaN beside them too
                t(row + 1) = point_value<false, false, true, false>(on_side(c, ghost::west), b, v, row + 1, nx);
                t(row + nx) = point_value<false, true, false, false>(on_side(c, ghost::east), b, v, row + nx, nx);
            };
            if constexpr (std::is_same_v<std::decay_t<decltype(form)>, UniformStencil>)
                update(GhostCoefficients(nx, form.volume_count));
            else
                update(Table(form.a, form.volume_count));
        },
        system);
}

void update_ghost_volumes(const LinearSystem& system, std::span<double> u)
{
    const std::int64_t ny = arrays_of(system).ny;
    for (std::int64_t j = 2; j <= ny - 1; ++j) update_ghost_volumes(system, u, j);
    update_ghost_volumes(system, u, 1);
    update_ghost_volumes(system, u, ny);
}

void solve_gauss_seidel_red_black_in_bands(const UniformStencil& system, std::int32_t max_inner_iterations,
                                           std::span<double> t, int bands, const Execution& execution)
{
    sweeps(system, max_inner_iterations, t, BandLayout{bands}, execution.second_thread, execution, nullptr);
}

}  // namespace placatermo
