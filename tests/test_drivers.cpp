// The single-grid driver and the multigrid cycle.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <variant>

#include "base/execution.hpp"
#include "numerics_support.hpp"
#include "run_support.hpp"
#include "solvers/smoother.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {
namespace {

using testing::DriverRun;
using testing::history_lines;
using testing::InputRecords;

int history_count(const std::string& history)
{
    int lines = 0;
    for (std::size_t p = 0; (p = history.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
    return lines;
}

// The ratio of the last history line.
double last_ratio(const std::string& history)
{
    const auto end = history.rfind("\r\n");
    const auto start = history.rfind("\r\n", end - 1);
    return std::stod(history.substr(start == std::string::npos ? 0 : start + 2, end).substr(10));
}

struct DriverCase {
    const char* name;
    const char* grid_count;
    const char* max_outer;
    const char* tolerance;
    const char* solver_kind;
    std::string history;
};

class DriverHistory : public ::testing::TestWithParam<DriverCase> {};

TEST_P(DriverHistory, Lines)
{
    const auto& c = GetParam();
    InputRecords r;
    r.grid_count = c.grid_count;
    r.max_outer_iterations = c.max_outer;
    r.tolerance = c.tolerance;
    r.solver_kind = c.solver_kind;
    DriverRun d(r);
    d.solve();
    if (c.history.empty())
        EXPECT_EQ(d.results.substr(0, 46), "\r\n\r\n                              TEMPERATURAS");
    else
        EXPECT_EQ(d.history(), c.history);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, DriverHistory,
    ::testing::Values(DriverCase{"SingleNoOuterIteration", "1", "0", "1e-6", "2", ""},
                      DriverCase{"SingleToleranceOne", "1", "50", "1.0", "2", history_lines({{1, "1.000000E+00"}})},
                      DriverCase{"SingleNoSolver", "1", "3", "1e-6", "7",
                                 history_lines({{1, "NaN"}, {2, "NaN"}, {3, "NaN"}})},
                      DriverCase{"MultiOneOuterIteration", "3", "1", "1e-6", "2", history_lines({{1, "1.000000E+00"}})},
                      DriverCase{"MultiNoOuterIteration", "3", "-5", "1e-6", "2", history_lines({{1, "1.000000E+00"}})},
                      DriverCase{"MultiNoSolver", "2", "3", "1e-6", "0",
                                 history_lines({{1, "1.000000E+00"}, {2, "NaN"}, {3, "NaN"}})}),
    [](const auto& info) { return info.param.name; });

TEST(Multigrid, ToleranceOneStopsAfterTheSecondIteration)
{
    InputRecords r;
    r.grid_count = "3";
    r.tolerance = "1.0";
    DriverRun d(r);
    d.solve();
    EXPECT_EQ(history_count(d.history()), 2);
    EXPECT_EQ(d.history().substr(0, 27), history_lines({{1, "1.000000E+00"}}));
}

TEST(Multigrid, CenterIndexAndGridValuesAreThoseOfTheFinestGrid)
{
    InputRecords r;
    r.grid_count = "2";
    r.nx = "7";
    r.ny = "7";
    r.max_outer_iterations = "3";
    DriverRun d(r);
    d.solve();
    EXPECT_EQ(d.run.outcome.grid.nx, 12);
    EXPECT_EQ(d.run.outcome.grid.center_index, 79);
    EXPECT_EQ(d.run.outcome.grid.dx, 1.0 / 10.0);
    EXPECT_EQ(d.run.outcome.t.size(), 144u);
}

TEST(Multigrid, HierarchyOffsetsAndTransfers)
{
    InputRecords r;
    r.grid_count = "3";
    r.nx = "4";
    r.ny = "4";
    const InputParameters in = r.parse();
    EXPECT_EQ(in.grids.volume_count, (std::vector<std::int32_t>{16, 36, 100}));
    EXPECT_EQ(in.grids.total_volume_count, 152);

    // grid 2 (6 x 6) to grid 1 (4 x 4): the residual of fine volume P is P;
    // coarse volume (i, j) takes fine volume (2i - 1, 2j - 1)
    const auto at = [](const std::vector<double>& v, int i, int j, int nx) {
        return v[static_cast<std::size_t>(volume_number(i, j, nx) - 1)];
    };
    std::vector<double> fine(36), b(16, 7.0);
    for (int p = 1; p <= 36; ++p) fine[static_cast<std::size_t>(p - 1)] = p;
    restrict_residual(4, 4, 6, fine, b);
    const double injected[4][4] = {{0, 0, 0, 0}, {0, 15, 17, 0}, {0, 27, 29, 0}, {0, 0, 0, 0}};
    for (int j = 1; j <= 4; ++j)
        for (int i = 1; i <= 4; ++i) EXPECT_EQ(at(b, i, j, 4), injected[j - 1][i - 1]) << i << ", " << j;

    // grid 1 to grid 2: coarse correction of Q is 2^Q, so every mean is exact;
    // rows 2 ... 5, columns 2 ... 5 of the fine grid
    std::vector<double> c(16), f(36, 0.0);
    for (int q = 1; q <= 16; ++q) c[static_cast<std::size_t>(q - 1)] = std::ldexp(1.0, q);
    prolongate_correction(6, 6, 4, 4, c, f);
    const double interpolated[4][4] = {
        {25.5, 34, 51, 68}, {48, 64, 96, 128}, {408, 544, 816, 1088}, {768, 1024, 1536, 2048}};
    for (int j = 2; j <= 5; ++j)
        for (int i = 2; i <= 5; ++i) EXPECT_EQ(at(f, i, j, 6), interpolated[j - 2][i - 2]) << i << ", " << j;
    EXPECT_EQ(at(f, 1, 3, 6), 0.0);
    EXPECT_EQ(at(f, 6, 6, 6), 0.0);
    // it adds to what the fine store holds
    prolongate_correction(6, 6, 4, 4, c, f);
    EXPECT_EQ(at(f, 3, 3, 6), 128.0);
}

// The direct solution of the system of a run's finest grid.
std::vector<double> direct_solution_of(const DriverRun& d, int boundary, double lx = 1.0, double ly = 1.0)
{
    const int finest = d.run.input.grid_count;
    return testing::direct_solve(
        testing::plate_system(d.run.input.grids.nx_of(finest), d.run.input.grids.ny_of(finest), boundary, lx, ly));
}

// The entry P - 1 of every real volume of a run's finest grid.
std::vector<std::size_t> real_entries(const DriverRun& d)
{
    std::vector<std::size_t> entries;
    const CurrentGrid& g = d.run.outcome.grid;
    for (std::int64_t i = 2; i < g.nx; ++i)
        for (std::int64_t j = 2; j < g.ny; ++j)
            entries.push_back(static_cast<std::size_t>(volume_number(i, j, g.nx) - 1));
    return entries;
}

// A test name from the input's solver number: "GaussSeidel".
std::string solver_identifier(const char* number)
{
    return testing::test_identifier(solver_name(solver_kind_from_input(std::stoi(number))));
}

struct SolverKindCase {
    const char* kind;
    const char* grid_count;
};

class ConvergedRun : public ::testing::TestWithParam<SolverKindCase> {};

// A converged run holds the solution of the finest grid's discrete system.
TEST_P(ConvergedRun, MatchesTheDirectSolution)
{
    InputRecords r;
    r.solver_kind = GetParam().kind;
    r.grid_count = GetParam().grid_count;
    const bool single = std::string(GetParam().grid_count) == "1";
    r.nx = single ? "7" : "4";
    r.ny = single ? "6" : "4";
    r.bc_kind = "2";
    r.tolerance = "1e-12";
    r.max_outer_iterations = "20000";
    r.sor_relaxation = "1.3";
    r.msi_tolerance = "1e-2";
    DriverRun d(r);
    d.solve();
    EXPECT_LE(last_ratio(d.history()), 1e-12);
    const auto exact = direct_solution_of(d, 2);
    for (const std::size_t k : real_entries(d)) EXPECT_NEAR(d.run.outcome.t[k], exact[k], 1e-10) << k + 1;
}

INSTANTIATE_TEST_SUITE_P(Kinds, ConvergedRun,
                         ::testing::Values(SolverKindCase{"1", "1"}, SolverKindCase{"2", "1"}, SolverKindCase{"3", "1"},
                                           SolverKindCase{"4", "1"}, SolverKindCase{"5", "1"}, SolverKindCase{"1", "3"},
                                           SolverKindCase{"2", "3"}, SolverKindCase{"3", "3"}, SolverKindCase{"4", "3"},
                                           SolverKindCase{"5", "3"}, SolverKindCase{"2", "2"}),
                         [](const auto& info) {
                             return solver_identifier(info.param.kind) + "Grids" + info.param.grid_count;
                         });

TEST(Multigrid, NeedsFarFewerIterationsThanOneGrid)
{
    InputRecords r;
    r.nx = "4";
    r.ny = "4";
    r.grid_count = "6";
    r.tolerance = "1e-6";
    r.max_outer_iterations = "100000";
    DriverRun multi(r);
    multi.solve();
    r.nx = "66";
    r.ny = "66";
    r.grid_count = "1";
    DriverRun single(r);
    single.solve();
    const int m = history_count(multi.history());
    const int s = history_count(single.history());
    EXPECT_LT(m * 3, s) << m << " multigrid cycles, " << s << " single-grid iterations";
}

// Every smoother gets its grid's system as a uniform stencil once the grid
// has two real columns (the MSI one after factorising the whole table), so
// the drivers run the kernels that the stencil tests of the fast kernels
// check with NaN in the table's real entries; narrower grids, and the plain
// loops, get the table.
TEST(Drivers, SmoothersGetTheStencilOfTheirGrid)
{
    InputRecords r;
    r.nx = "3";
    r.ny = "5";
    r.grid_count = "3";
    const InputParameters in = r.parse();
    for (const Kernels kernels : {Kernels::fast, Kernels::plain})
        for (const SolverKind kind : all_solver_kinds)
            for (int k = 1; k <= 3; ++k) {
                CurrentGrid grid;
                enter_grid(grid, in.plate(), in.grids, k);
                Smoother smoother({kind, 1, 0.1, 1.2}, Execution{kernels});
                const LinearSystem system = smoother.make_system(grid, in.plate());
                const bool stencil = kernels == Kernels::fast && k > 1;
                EXPECT_EQ(std::holds_alternative<UniformStencil>(system), stencil)
                    << solver_name(kind) << ", grid " << k << " (" << grid.nx << " x " << grid.ny << ")";
            }
}

// The plain loops, the fast kernels on one thread, and the fast kernels with
// a second thread taking every pass it can (two-thread sizes down to the
// smallest grid) write the same results, for every solver on one grid and
// in both cycles.
TEST(Drivers, EveryExecutionWritesTheSameResults)
{
    Execution two{Kernels::fast};
    two.second_thread = sweep_helper();
    two.timed_point_sweeps = false;
    two.two_thread_sizes = {{4, 3}, {4, 3}, {4, 3}, {4, 3}, 1, {4, 3}};
    const struct {
        const char* solver;
        const char* grid_count;
        MultigridCycle cycle;
    } cases[] = {{"1", "1", MultigridCycle::specified}, {"2", "1", MultigridCycle::specified},
                 {"3", "1", MultigridCycle::specified}, {"4", "1", MultigridCycle::specified},
                 {"5", "1", MultigridCycle::specified}, {"2", "3", MultigridCycle::specified},
                 {"4", "3", MultigridCycle::textbook},  {"5", "3", MultigridCycle::textbook},
                 {"3", "3", MultigridCycle::textbook},  {"2", "3", MultigridCycle::textbook},
                 {"2", "3", MultigridCycle::fast},      {"4", "3", MultigridCycle::fast}};
    for (const auto& c : cases) {
        InputRecords r;
        r.solver_kind = c.solver;
        r.grid_count = c.grid_count;
        r.nx = "26";
        r.ny = "19";
        r.max_outer_iterations = "12";
        const auto results = [&](const Execution& execution) {
            DriverRun run(r);
            run.run.options.cycle = c.cycle;
            run.run.execution = execution;
            run.solve();
            return run.results;
        };
        const std::string plain = results(plain_execution);
        const std::string what = std::string("solver ") + c.solver + ", grids " + c.grid_count;
        EXPECT_EQ(results(Execution{Kernels::fast}), plain) << what;
        if (two.second_thread != nullptr) {
            EXPECT_EQ(results(two), plain) << what << ", two threads";
        }
    }
}

// The textbook cycle's transfers on grids 1 (4 x 4) and 2 (6 x 6).
TEST(TextbookCycle, Transfers)
{
    const auto at = [](const std::vector<double>& v, int i, int j, int nx) {
        return v[static_cast<std::size_t>(volume_number(i, j, nx) - 1)];
    };
    // the residual of fine volume P is P: each coarse volume sums the four it covers
    std::vector<double> fine(36), b(16, 7.0);
    for (int p = 1; p <= 36; ++p) fine[static_cast<std::size_t>(p - 1)] = p;
    restrict_residual_sum(4, 4, 6, fine, b);
    EXPECT_EQ(at(b, 2, 2, 4), 8.0 + 9.0 + 14.0 + 15.0);
    EXPECT_EQ(at(b, 3, 2, 4), 10.0 + 11.0 + 16.0 + 17.0);
    EXPECT_EQ(at(b, 2, 3, 4), 20.0 + 21.0 + 26.0 + 27.0);
    EXPECT_EQ(at(b, 3, 3, 4), 22.0 + 23.0 + 28.0 + 29.0);
    for (const auto& [i, j] : {std::pair{1, 1}, std::pair{4, 2}, std::pair{2, 4}, std::pair{4, 4}})
        EXPECT_EQ(at(b, i, j, 4), 0.0);

    // one coarse correction of 16 at (2, 2), ghost entries that must not be read
    std::vector<double> c(16, 1e300), f(36, 0.0);
    for (int i = 2; i <= 3; ++i)
        for (int j = 2; j <= 3; ++j) c[static_cast<std::size_t>(volume_number(i, j, 4) - 1)] = 0.0;
    c[static_cast<std::size_t>(volume_number(2, 2, 4) - 1)] = 16.0;
    prolongate_correction_bilinear(6, 6, 4, 4, c, f);
    // next to the walls the mirror images (-16 beside, +16 across the corner)
    // pull the value towards zero on the sides
    const double expected[4][4] = {
        {4.0, 6.0, 2.0, 0.0}, {6.0, 9.0, 3.0, 0.0}, {2.0, 3.0, 1.0, 0.0}, {0.0, 0.0, 0.0, 0.0}};
    for (int j = 2; j <= 5; ++j)
        for (int i = 2; i <= 5; ++i) EXPECT_EQ(at(f, i, j, 6), expected[j - 2][i - 2]) << i << ", " << j;
    EXPECT_EQ(at(f, 1, 1, 6), 0.0);
    EXPECT_EQ(at(f, 6, 3, 6), 0.0);
    // a constant coarse correction: the interior of the fine grid keeps it
    std::vector<double> flat(100, 0.0), coarse_flat(36, 0.0);
    for (int i = 2; i <= 5; ++i)
        for (int j = 2; j <= 5; ++j) coarse_flat[static_cast<std::size_t>(volume_number(i, j, 6) - 1)] = 2.0;
    prolongate_correction_bilinear(10, 10, 6, 6, coarse_flat, flat);
    for (int i = 4; i <= 7; ++i)
        for (int j = 4; j <= 7; ++j) EXPECT_EQ(at(flat, i, j, 10), 2.0);
    EXPECT_EQ(at(flat, 2, 5, 10), 1.0);  // a quarter of a coarse volume from the wall: half
}

// The finest grid's interpolation goes straight into t: the bits of a
// zeroed correction interpolated into and then added to t, signed zeros
// included (-0 + 0 is +0 on the ghost volumes, 0 + -0 is +0 in a zeroed
// correction), for both cycles' interpolations.
TEST(Transfers, InterpolationIntoTheFieldGivesTheTwoStepBits)
{
    using Prolongation =
        void (*)(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::span<const double>, std::span<double>);
    const struct {
        const char* name;
        Prolongation to_correction, to_field;
    } kinds[] = {
        {"injection", prolongate_correction, prolongate_correction_to_field},
        {"bilinear",
         [](std::int32_t fnx, std::int32_t fny, std::int32_t cnx, std::int32_t cny, std::span<const double> coarse,
            std::span<double> fine) { prolongate_correction_bilinear(fnx, fny, cnx, cny, coarse, fine); },
         [](std::int32_t fnx, std::int32_t fny, std::int32_t cnx, std::int32_t cny, std::span<const double> coarse,
            std::span<double> t) { prolongate_correction_bilinear_to_field(fnx, fny, cnx, cny, coarse, t); }}};
    const int sizes[][4] = {{6, 6, 4, 4}, {10, 6, 6, 4}, {18, 34, 10, 18}};
    for (const auto& kind : kinds)
        for (const auto& size : sizes)
            for (unsigned seed = 1; seed <= 3; ++seed) {
                const auto fine_n = static_cast<std::size_t>(size[0] * size[1]);
                const auto coarse_n = static_cast<std::size_t>(size[2] * size[3]);
                std::mt19937 random(seed);
                std::uniform_int_distribution<int> pick(0, 5);
                const double values[] = {0.0, -0.0, 1.5, -2.25, 1e-310, -1e300};
                std::vector<double> coarse(coarse_n), t(fine_n);
                for (auto& x : coarse) x = values[pick(random)];
                for (auto& x : t) x = values[pick(random)];
                std::vector<double> correction(fine_n, 0.0), two_steps = t, folded = t;
                kind.to_correction(size[0], size[1], size[2], size[3], coarse, correction);
                for (std::size_t p = 0; p < fine_n; ++p) two_steps[p] = two_steps[p] + correction[p];
                kind.to_field(size[0], size[1], size[2], size[3], coarse, folded);
                EXPECT_EQ(std::memcmp(two_steps.data(), folded.data(), fine_n * sizeof(double)), 0)
                    << kind.name << " " << size[0] << " x " << size[1] << ", seed " << seed;
            }
}

// The bilinear interpolation against its plain loop, bit for bit: grids of
// the hierarchy and odd shapes, with signed zeros, NaN and infinities among
// the coarse corrections, into a correction and into t.
TEST(Transfers, BilinearInterpolationGivesThePlainBits)
{
    const int sizes[][4] = {{6, 6, 4, 4},     {8, 10, 5, 6}, {18, 10, 10, 6},
                            {66, 34, 34, 18}, {7, 9, 5, 6},  {10, 4, 6, 3}};
    const double specials[] = {0.0,
                               -0.0,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               1e308};
    for (const auto& size : sizes)
        for (unsigned seed = 1; seed <= 4; ++seed) {
            std::mt19937 random(seed);
            std::uniform_real_distribution<double> value(-3.0, 3.0);
            std::vector<double> coarse(static_cast<std::size_t>(size[2] * size[3]));
            std::vector<double> fine(static_cast<std::size_t>(size[0] * size[1]));
            for (auto& x : coarse) x = value(random);
            for (auto& x : fine) x = value(random);
            // seed 1: random values only; later seeds: one special value each
            if (seed > 1) coarse[random() % coarse.size()] = specials[random() % 6];
            if (seed > 2) fine[random() % fine.size()] = -0.0;
            auto fast = fine, plain = fine;
            prolongate_correction_bilinear(size[0], size[1], size[2], size[3], coarse, fast);
            prolongate_correction_bilinear(size[0], size[1], size[2], size[3], coarse, plain, plain_execution);
            EXPECT_EQ(std::memcmp(fast.data(), plain.data(), fast.size() * sizeof(double)), 0)
                << size[0] << " x " << size[1] << ", seed " << seed;
        }
}

struct CycleCase {
    const char* solver;
    const char* grid_count;
    const char* boundary;
    const char* inner = nullptr;  // the input's default when none
};

class TextbookCycleRun : public ::testing::TestWithParam<CycleCase> {};

// Converged, the textbook cycle holds the discrete solution: the direct one
// and the specified cycle's.
TEST_P(TextbookCycleRun, ConvergesToTheDirectSolution)
{
    InputRecords r;
    r.solver_kind = GetParam().solver;
    r.grid_count = GetParam().grid_count;
    r.bc_kind = GetParam().boundary;
    r.nx = "4";
    r.ny = "5";
    r.lx = "1.0";
    r.ly = "1.5";
    r.tolerance = "1e-13";
    r.max_outer_iterations = "20000";
    r.sor_relaxation = "1.2";
    r.msi_tolerance = "1e-2";
    if (GetParam().inner != nullptr) r.max_inner_iterations = GetParam().inner;
    DriverRun specified(r);
    specified.solve();
    for (const MultigridCycle cycle : {MultigridCycle::textbook, MultigridCycle::fast}) {
        DriverRun textbook(r);
        textbook.run.options.cycle = cycle;
        textbook.solve();
        const std::string_view name = cycle_name(cycle);
        EXPECT_LE(last_ratio(textbook.history()), 1e-13) << name;
        const auto exact = direct_solution_of(textbook, std::stoi(GetParam().boundary), 1.0, 1.5);
        for (const std::size_t k : real_entries(textbook)) {
            EXPECT_NEAR(textbook.run.outcome.t[k], exact[k], 1e-10) << name << ", " << k + 1;
            EXPECT_NEAR(textbook.run.outcome.t[k], specified.run.outcome.t[k], 1e-10) << name << ", " << k + 1;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, TextbookCycleRun,
                         ::testing::Values(CycleCase{"1", "2", "1"}, CycleCase{"2", "2", "2"}, CycleCase{"3", "3", "1"},
                                           CycleCase{"4", "3", "2"}, CycleCase{"5", "3", "1"},
                                           CycleCase{"2", "4", "2"}, CycleCase{"1", "3", "1", "1"}),
                         [](const auto& info) {
                             return solver_identifier(info.param.solver) + "Grids" + info.param.grid_count +
                                    (std::string(info.param.boundary) == "1" ? "Linear" : "Sinusoidal") +
                                    (info.param.inner != nullptr ? std::string("Inner") + info.param.inner : "");
                         });

// Every cycle after the first cuts the residual by a factor that does not
// grow with the grid: the textbook cycle with Gauss-Seidel and five inner
// iterations at least five times, the fast one with one red-black sweep a
// visit at least twice (without its update of the ghost volumes the cycles
// hardly cut it at all on the larger grids).
TEST(TextbookCycle, ReducesTheResidualByAGridIndependentFactor)
{
    const struct {
        MultigridCycle cycle;
        const char* inner;
        double factor;
        std::size_t most_lines;
    } cases[] = {{MultigridCycle::textbook, "5", 0.2, 12}, {MultigridCycle::fast, "1", 0.5, 30}};
    for (const auto& c : cases)
        for (const char* grids : {"5", "6", "7"}) {  // 34, 66 and 130 volumes a side
            InputRecords r;
            r.nx = "4";
            r.ny = "4";
            r.grid_count = grids;
            r.max_inner_iterations = c.inner;
            r.tolerance = "1e-9";
            r.max_outer_iterations = "50";
            DriverRun d(r);
            d.run.options.cycle = c.cycle;
            d.solve();
            std::vector<double> ratios;
            const std::string history = d.history();
            for (std::size_t p = 0; p + 27 <= history.size(); p += 27)
                ratios.push_back(std::stod(history.substr(p + 10, 15)));
            const std::string what = std::string(cycle_name(c.cycle)) + ", grids " + grids;
            ASSERT_GE(ratios.size(), 4u) << what;
            EXPECT_LE(ratios.size(), c.most_lines) << what;
            for (std::size_t n = 2; n < ratios.size(); ++n)
                EXPECT_LT(ratios[n] / ratios[n - 1], c.factor) << what << ": " << n;
        }
}

// The residual norm of each grid after its smoothing, cycle by cycle, read
// from the cycle's arrays only with --graficos: a small case of each cycle
// as literal values; the finest grid's are the history's norms, and the
// field is the same to the last bit as without them.
struct LevelCase {
    std::optional<MultigridCycle> cycle;
    // grid 1, 2, 3: (iteration, norm) in the order of the cycle
    std::vector<std::vector<std::pair<std::int32_t, double>>> norms;
};

class LevelNormsOfASmallCase : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LevelNormsOfASmallCase, Table)
{
    const LevelCase& c = GetParam();
    InputRecords r;
    r.grid_count = "3";
    r.nx = "4";
    r.ny = "4";
    r.max_outer_iterations = "3";
    DriverRun with(r);
    with.run.options.pictures = true;
    with.run.options.cycle = c.cycle;
    with.solve();
    ASSERT_EQ(with.run.outcome.level_norms.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        const LevelNorms& level = with.run.outcome.level_norms[k];
        std::vector<std::pair<std::int32_t, double>> got;
        for (std::size_t n = 0; n < level.norms.size(); ++n) {
            got.emplace_back(level.iterations[n], level.norms[n]);
        }
        EXPECT_EQ(got, c.norms[k]) << "malha " << k + 1;
    }
    EXPECT_EQ(with.run.outcome.level_norms[0].nx, 4);
    EXPECT_EQ(with.run.outcome.level_norms[2].nx, 10);
    // the finest grid's norms over the first are the history ratios
    const LevelNorms& finest = with.run.outcome.level_norms[2];
    ASSERT_EQ(finest.norms.size(), with.run.outcome.history.size());
    for (std::size_t n = 0; n < finest.norms.size(); ++n)
        EXPECT_EQ(finest.norms[n] / finest.norms[0], with.run.outcome.history[n]) << n;
    DriverRun without(r);
    without.run.options.cycle = c.cycle;
    without.solve();
    EXPECT_TRUE(without.run.outcome.level_norms.empty());
    EXPECT_EQ(without.results, with.results);
    ASSERT_EQ(without.run.outcome.t.size(), with.run.outcome.t.size());
    EXPECT_EQ(std::memcmp(without.run.outcome.t.data(), with.run.outcome.t.data(),
                          with.run.outcome.t.size() * sizeof(double)),
              0);
}

INSTANTIATE_TEST_SUITE_P(
    Cycles, LevelNormsOfASmallCase,
    ::testing::Values(LevelCase{std::nullopt,
                                {{{2, 0.019821499193414693}, {3, 0.0049316812945620157}},
                                 {{2, 5.4209201752854597}, {3, 0.93370873121604048}},
                                 {{1, 272.61312529444695}, {2, 95.321196846161044}, {3, 48.384277163844935}}}},
                      LevelCase{MultigridCycle::textbook,
                                {{{2, 0.029818800371472776}, {3, 0.00069207640651074848}},
                                 {{2, 4.2908682642519125}, {3, 0.10563610177239571}},
                                 {{1, 169.0953254699707}, {2, 3.8823509378743708}, {3, 0.087342392711898587}}}}));

}  // namespace
}  // namespace placatermo
