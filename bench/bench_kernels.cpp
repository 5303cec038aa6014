// Kernel benchmarks: one inner iteration of every solver, the residual norm,
// the machine's streaming bound, the coefficient build, the MSI
// factorisation, one multigrid V-cycle, the field listing and the first touch
// of fresh memory.
#include <benchmark/benchmark.h>

#include <unistd.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <variant>
#include <vector>

#include "drivers/drivers.hpp"
#include "grid/grid.hpp"
#include "input/input.hpp"
#include "platform/output_file.hpp"
#include "platform/platform.hpp"
#include "results/results.hpp"
#include "run/execution.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {
namespace {

// As the program runs: the fast kernels, a second thread when this process
// may use two cores, large pages (set by main).
Execution execution;

std::string input_text(int nx, int grids, int solver, int max_outer = 2)
{
    const std::string values[] = {"b.res",
                                  "b.dis",
                                  "b.ite",
                                  "1.0",
                                  "1.0",
                                  std::to_string(grids),
                                  std::to_string(nx),
                                  std::to_string(nx),
                                  "1e-12",
                                  std::to_string(max_outer),
                                  std::to_string(solver),
                                  "1e-30",
                                  "1",
                                  "1.5",
                                  "2",
                                  "bench"};
    std::string text;
    for (const auto& v : values) text += v + "\n";
    return text;
}

CurrentGrid grid_of(const InputParameters& input)
{
    CurrentGrid grid;
    enter_grid(grid, input.plate(), input.grids, 1);
    return grid;
}
CoefficientTable entered(const InputParameters& input) { return build_table(grid_of(input), input.plate(), execution); }
UniformStencil stencil(const InputParameters& input)
{
    return std::get<UniformStencil>(build_system(grid_of(input), input.plate(), TableKept::yes, execution));
}

// The plate's system on one grid, as a table and as a stencil, with a random
// field.
struct PlateGrid {
    InputParameters input;
    CurrentGrid grid;
    CoefficientTable table;  // what the plain loops read
    UniformStencil system;   // what the fast kernels read
    std::vector<double> t, lower, upper;
    explicit PlateGrid(int nx)
        : input(parse_input_data(input_text(nx, 1, 2))), table(entered(input)), system(stencil(input))
    {
        enter_grid(grid, input.plate(), input.grids, 1);
        const auto n = static_cast<std::size_t>(grid.volume_count);
        t.resize(n);
        std::mt19937 random(1);
        std::uniform_real_distribution<double> value(0.0, 1.0);
        for (auto& x : t) x = value(random);
    }
    std::size_t n() const { return t.size(); }
};

PlateGrid& plate(int nx)
{
    static std::vector<std::unique_ptr<PlateGrid>> plates;
    for (auto& p : plates)
        if (p->grid.nx == nx) return *p;
    plates.push_back(std::make_unique<PlateGrid>(nx));
    return *plates.back();
}

void per_unknown(benchmark::State& state, std::size_t n, double bytes_per_unknown)
{
    state.counters["ns_per_unknown"] = benchmark::Counter(
        static_cast<double>(n) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["bytes_per_unknown"] = bytes_per_unknown;
}

// The bound: a streaming triad over arrays of the grid's size, 24 bytes an
// element read and written.
void BM_Triad(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0) * state.range(0));
    std::vector<double> x(n, 1.0), y(n, 2.0), z(n, 0.0);
    for (auto _ : state) {
        for (std::size_t i = 0; i < n; ++i) z[i] = x[i] + 0.5 * y[i];
        benchmark::DoNotOptimize(z.data());
        benchmark::ClobberMemory();
    }
    state.counters["GB_per_s"] =
        benchmark::Counter(24.0 * static_cast<double>(n) * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
    per_unknown(state, n, 24.0);
}

// One red-black sweep of the plate's stencil in `Bands` bands (two run on
// the second thread as well, when there is one).
template <int Bands>
void BM_RedBlack(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        solve_gauss_seidel_red_black_in_bands(p.system, 1, p.t, Bands, execution);
        benchmark::ClobberMemory();
    }
    per_unknown(state, p.n(), 16.0);
}

template <bool Fast>
void BM_GaussSeidel(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (Fast)
            solve_gauss_seidel(p.system, 1, p.t, execution);
        else
            solve_gauss_seidel_plain(p.table, 1, p.t, execution);
        benchmark::ClobberMemory();
    }
    per_unknown(state, p.n(), Fast ? 24.0 : 64.0);
}

template <bool Fast>
void BM_Jacobi(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    // Five inner iterations a call, as the default input has, reported per iteration.
    for (auto _ : state) {
        if (Fast)
            solve_jacobi(p.system, 5, p.t, {}, execution);
        else
            solve_jacobi_plain(p.table, 5, p.t, execution);
        benchmark::ClobberMemory();
    }
    per_unknown(state, 5 * p.n(), Fast ? 24.0 : 80.0);
}

template <bool Fast>
void BM_Sor(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (Fast)
            solve_sor(p.system, 5, 1.5, p.t, {}, execution);
        else
            solve_sor_plain(p.table, 5, 1.5, p.t, execution);
        benchmark::ClobberMemory();
    }
    per_unknown(state, 5 * p.n(), Fast ? 56.0 : 104.0);
}

template <bool Fast>
void BM_Adi(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (Fast)
            solve_adi(p.system, 1, p.t, execution);
        else
            solve_adi_plain(p.table, 1, p.t, execution);
        benchmark::ClobberMemory();
    }
    // the plain half-steps read the five coefficient columns in both; the
    // fast ones keep the shared ones of the real volumes in registers: each
    // reads b and t, writes tdma_p and tdma_q and reads them back, writes t
    // (56 + 64, the y half-step reading t once more)
    per_unknown(state, p.n(), Fast ? 120.0 : 208.0);
}

template <bool Fast>
void BM_MsiCorrection(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    p.lower.resize(4 * p.n());
    p.upper.resize(3 * p.n());
    factorize_msi(p.table, p.lower, p.upper, execution);
    for (auto _ : state) {
        if (Fast)
            solve_msi(p.system, p.lower, p.upper, 1e-30, 1, p.t, execution);
        else
            solve_msi_plain(p.table, p.lower, p.upper, 1e-30, 1, p.t, execution);
        benchmark::ClobberMemory();
    }
    // the forward substitution computing the residual as it goes (b and t
    // read, four L columns, the work array written), the backward one (work
    // array and t read and written, three U columns); the plain loops make
    // two residual passes besides (232 bytes)
    per_unknown(state, p.n(), Fast ? 56.0 + 56.0 : 232.0);
}

void BM_FactorizeMsi(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    p.lower.resize(4 * p.n());
    p.upper.resize(3 * p.n());
    for (auto _ : state) {
        factorize_msi(p.table, p.lower, p.upper, execution);
        benchmark::ClobberMemory();
    }
    per_unknown(state, p.n(), 96.0);
}

// The textbook restriction from the field of the finest grid: the four fine
// residuals of each coarse volume summed.
void BM_RestrictionFromField(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    const std::int32_t coarse_nx = p.grid.nx / 2 + 1, coarse_ny = p.grid.ny / 2 + 1;
    std::vector<double> coarse_b(static_cast<std::size_t>(coarse_nx) * static_cast<std::size_t>(coarse_ny));
    for (auto _ : state) {
        restrict_residual_sum_of(p.system, p.t, coarse_nx, coarse_ny, coarse_b, execution);
        benchmark::ClobberMemory();
    }
    per_unknown(state, p.n(), 18.0);
}

template <bool Fast>
void BM_ResidualNorm(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    double norm = 0.0;
    for (auto _ : state) {
        if (Fast)
            norm = compute_residual_norm(p.system, p.t, execution);
        else
            norm = compute_residual_norm_plain(p.table, p.t);
        benchmark::DoNotOptimize(norm);
    }
    per_unknown(state, p.n(), Fast ? 16.0 : 56.0);
}

template <bool Fast>
void BM_StoreResidual(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    std::vector<double> residual(p.n());
    for (auto _ : state) {
        if (Fast)
            store_residual(p.system, p.t, residual, execution);
        else
            store_residual_plain(p.table, p.t, residual);
        benchmark::ClobberMemory();
    }
    per_unknown(state, p.n(), Fast ? 24.0 : 64.0);
}

void BM_BuildCoefficients(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        build_coefficients(p.grid, p.input.plate(), p.table.a, p.table.b);
        benchmark::ClobberMemory();
    }
    per_unknown(state, p.n(), 48.0);
}

// One V-cycle of six grids up to the given size, Gauss-Seidel with one inner
// iteration: a run of two outer iterations less a run of one (both with the
// same result writing).
void BM_MultigridCycle(benchmark::State& state)
{
    const int finest = static_cast<int>(state.range(0));
    const int coarsest = (finest - 2) / 32 + 2;
    std::string folder = (std::filesystem::temp_directory_path() / "placatermo-bench-XXXXXX").string();
    const std::string dir = mkdtemp(folder.data());
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    const auto run_once = [&](int outer) {
        const InputParameters input = parse_input_data(input_text(coarsest, 6, 2, outer));
        SolutionObserver nobody;
        SolutionControl control(nobody, [] { return 0.0; });
        Solution solution;
        const auto start = std::chrono::steady_clock::now();
        SolutionProblem problem = input.solution_problem();
        problem.execution = execution;
        solve_multigrid(problem, control, solution);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    for (auto _ : state) {
        const double one = run_once(1);
        const double two = run_once(2);
        state.SetIterationTime(std::max(two - one, 1e-9));
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
    // What a cycle must read and write, per volume of each grid visit (the
    // grids' systems are built once, before the first cycle): descent: the
    // paired fine residual read (16) and the right-hand side written (8),
    // the correction zeroed (8), one sweep (24), the residual stored (24);
    // ascent: the correction interpolated (18), the right-hand side from
    // the residual (16), one sweep (24); finest: the correction zeroed,
    // interpolated and added to t (8 + 18 + 24), one sweep (24), the norm
    // (16), the residual stored (24).
    double bytes = 0.0;
    for (int level = 1; level <= 6; ++level) {
        const double nx = static_cast<double>(((coarsest - 2) << (level - 1)) + 2);
        const double volumes = nx * nx;
        if (level == 6)
            bytes += 114.0 * volumes;
        else
            bytes += (level > 1 ? 80.0 + 58.0 : 80.0) * volumes;
    }
    state.counters["bytes_per_cycle"] = bytes;
}

template <bool Fast>
void BM_RealField(benchmark::State& state)
{
    std::mt19937_64 random(3);
    std::vector<double> values(1 << 16);
    for (auto& v : values) v = std::ldexp(static_cast<double>(random() >> 11), -40) - 2000.0;
    char field[16];
    std::size_t m = 0;
    for (auto _ : state) {
        if (Fast)
            format_real(field, 15, 6, values[m]);
        else
            format_real_printf(field, 15, 6, values[m]);
        benchmark::DoNotOptimize(field);
        m = (m + 1) & (values.size() - 1);
    }
    state.counters["values_per_s"] = benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
}

// The field listing of a grid, written to /dev/null, in values per second.
void BM_FieldListing(benchmark::State& state)
{
    PlateGrid& p = plate(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        OutputFile file("/dev/null");
        write_temperature_field(file, p.t, p.grid.nx, p.grid.ny, execution);
        file.close();
    }
    state.counters["values_per_s"] =
        benchmark::Counter(static_cast<double>(p.n()), benchmark::Counter::kIsIterationInvariantRate);
}

#if defined(__linux__)
// The first touch of fresh memory, per size: an array mapped anew, written
// once, on small pages or (Huge) asking for 2 MiB pages before the touch, as
// a run lays its heap. Reported per MiB.
template <bool Huge>
void BM_FirstTouch(benchmark::State& state)
{
    const auto bytes = static_cast<std::size_t>(state.range(0)) << 10;
    constexpr std::size_t huge = std::size_t{2} << 20;
    for (auto _ : state) {
        const std::size_t mapped = bytes + huge;
        void* region = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (region == MAP_FAILED) {
            state.SkipWithError("mmap");
            return;
        }
        auto* data = reinterpret_cast<double*>((reinterpret_cast<std::uintptr_t>(region) + huge - 1) & ~(huge - 1));
        if (Huge) madvise(data, (bytes + huge - 1) & ~(huge - 1), MADV_HUGEPAGE);
        std::fill(data, data + bytes / sizeof(double), 1.0);
        benchmark::DoNotOptimize(data);
        benchmark::ClobberMemory();
        munmap(region, mapped);
    }
    state.counters["ms_per_MiB"] =
        benchmark::Counter(static_cast<double>(bytes) / (1 << 20) * 1e-3,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
#define TOUCH_SIZES ->Arg(512)->Arg(2048)->Arg(8192)->Arg(32768)->Arg(131072)->Unit(benchmark::kMillisecond)
BENCHMARK_TEMPLATE(BM_FirstTouch, false) TOUCH_SIZES;
BENCHMARK_TEMPLATE(BM_FirstTouch, true) TOUCH_SIZES;
#endif

#define SIZES ->Arg(258)->Arg(1026)->Arg(2050)->Unit(benchmark::kMillisecond)

BENCHMARK(BM_Triad) SIZES;
BENCHMARK_TEMPLATE(BM_GaussSeidel, false) SIZES;
BENCHMARK_TEMPLATE(BM_GaussSeidel, true) SIZES;
BENCHMARK_TEMPLATE(BM_RedBlack, 1) SIZES;
BENCHMARK_TEMPLATE(BM_RedBlack, 2) SIZES;
BENCHMARK_TEMPLATE(BM_Jacobi, false) SIZES;
BENCHMARK_TEMPLATE(BM_Jacobi, true) SIZES;
BENCHMARK_TEMPLATE(BM_Sor, false) SIZES;
BENCHMARK_TEMPLATE(BM_Sor, true) SIZES;
BENCHMARK_TEMPLATE(BM_Adi, false) SIZES;
BENCHMARK_TEMPLATE(BM_Adi, true) SIZES;
BENCHMARK_TEMPLATE(BM_MsiCorrection, false) SIZES;
BENCHMARK_TEMPLATE(BM_MsiCorrection, true) SIZES;
BENCHMARK_TEMPLATE(BM_ResidualNorm, false) SIZES;
BENCHMARK_TEMPLATE(BM_ResidualNorm, true) SIZES;
BENCHMARK(BM_RestrictionFromField) SIZES;
BENCHMARK_TEMPLATE(BM_StoreResidual, false) SIZES;
BENCHMARK_TEMPLATE(BM_StoreResidual, true) SIZES;
BENCHMARK(BM_BuildCoefficients) SIZES;
BENCHMARK(BM_FactorizeMsi) SIZES;
// the difference of two runs is noisy: the median of five
BENCHMARK(BM_MultigridCycle)
    ->Arg(1026)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseManualTime();
BENCHMARK_TEMPLATE(BM_RealField, false);
BENCHMARK_TEMPLATE(BM_RealField, true);
BENCHMARK(BM_FieldListing)->Arg(2050)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace placatermo

int main(int argc, char** argv)
{
    placatermo::execution =
        placatermo::start_execution(placatermo::ExecutionThreads::two_when_free, placatermo::Kernels::fast);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
