// The five solvers: worked examples, visiting order, exact solutions, the MSI
// factorisation, and convergence to the direct solution.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "numerics_support.hpp"
#include "solvers/smoother.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {
namespace {

using testing::plate_system;
using testing::System;

constexpr std::array<int, 6> real_5x4 = {7, 8, 9, 12, 13, 14};

// The point update of unknown k, written out: neighbours present by their
// index, the terms added south, west, east, north; `column` is the table's
// leading dimension.
void update_in_place(const System& s, std::vector<double>& v, std::int64_t k, std::int64_t nx, std::int64_t n,
                     std::int64_t column)
{
    const auto at = [&](int c) { return s.a[static_cast<std::size_t>(c * column + k - 1)]; };
    double sum = 0.0;
    bool any = false;
    const auto add = [&](double term) {
        sum = any ? sum + term : term;
        any = true;
    };
    if (k - nx >= 1) add(at(0) * v[static_cast<std::size_t>(k - nx - 1)]);
    if (k - 1 >= 1) add(at(1) * v[static_cast<std::size_t>(k - 2)]);
    if (k + 1 <= n) add(at(3) * v[static_cast<std::size_t>(k)]);
    if (k + nx <= n) add(at(4) * v[static_cast<std::size_t>(k + nx - 1)]);
    v[static_cast<std::size_t>(k - 1)] = (s.b[static_cast<std::size_t>(k - 1)] - sum) / at(2);
}

struct Msi {
    std::vector<double> lower, upper;
    explicit Msi(const System& s) : lower(4 * s.n()), upper(3 * s.n()) { factorize_msi(s.table(), lower, upper); }
};

// One call of the solver of `kind`, as the drivers make it.
void run_solver(SolverKind kind, const System& s, std::vector<double>& t, int inner, double omega = 1.5,
                double msi_tolerance = 0.0)
{
    Smoother smoother({kind, inner, msi_tolerance, omega});
    const LinearSystem system = smoother.make_system(s.grid, s.input.plate());
    smoother.smooth(system, t);
}

struct WorkedExample {
    const char* name;
    SolverKind kind;
    int inner;
    std::array<double, 6> expected;
};

class WorkedExamples : public ::testing::TestWithParam<WorkedExample> {};

// 5 x 4 grid, lx = ly = 1, linear boundary, t = 0 at entry.
TEST_P(WorkedExamples, RealVolumesToThePrintedDigits)
{
    const auto& c = GetParam();
    const System s = plate_system(5, 4);
    std::vector<double> t(s.n(), 0.0);
    run_solver(c.kind, s, t, c.inner, 1.5, 1e-30);
    for (std::size_t m = 0; m < real_5x4.size(); ++m)
        EXPECT_NEAR(t[static_cast<std::size_t>(real_5x4[m] - 1)], c.expected[m],
                    5e-7 * std::fabs(c.expected[m]) + 1e-12)
            << "t(" << real_5x4[m] << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, WorkedExamples,
    ::testing::Values(
        WorkedExample{"Jacobi", SolverKind::jacobi, 2, {0, 0, 17.30769, 5.128205, 15.38462, 77.56410}},
        WorkedExample{"GaussSeidel", SolverKind::gauss_seidel, 2, {0, 0, 17.30769, 5.128205, 17.15976, 86.16674}},
        WorkedExample{"Sor", SolverKind::sor, 2, {0, 0, 38.94231, 11.53846, 38.60947, 193.8752}},
        WorkedExample{"Adi", SolverKind::adi, 1, {2.323199, 8.498379, 20.61882, 8.374143, 28.54399, 62.01991}},
        WorkedExample{"MsiOne", SolverKind::msi, 1, {4.522846, 13.33223, 21.78395, 14.10023, 40.80144, 64.66141}},
        WorkedExample{"MsiThree", SolverKind::msi, 3, {4.168787, 12.50535, 20.83807, 12.50865, 37.52467, 62.51396}}),
    [](const auto& info) { return info.param.name; });

// The point sweep's order on 5 x 4, with a table whose row-crossing entries are
// non-zero, against the order written out volume by volume.
TEST(PointSweep, VisitingOrderOnFiveByFour)
{
    System s = plate_system(5, 4);
    testing::randomize(s, 7);
    std::vector<double> t(s.n());
    for (std::size_t k = 0; k < t.size(); ++k) t[k] = 0.1 * static_cast<double>(k);
    std::vector<double> expected = t;
    const int order[] = {1, 2, 3, 4, 5, 6, 11, 7, 12, 8, 13, 9, 14, 10, 15, 16, 17, 18, 19, 20};
    const std::int64_t n = 20, nx = 5;
    for (const int k : order) update_in_place(s, expected, k, nx, n, n);
    solve_gauss_seidel(s.table(), 1, t);
    EXPECT_EQ(std::memcmp(t.data(), expected.data(), t.size() * sizeof(double)), 0);
}

TEST(PointSweep, OnThePlateSystemEqualsTheNaturalOrder)
{
    const System s = plate_system(9, 7, 2);
    std::vector<double> t(s.n(), 1.0), natural(s.n(), 1.0);
    solve_gauss_seidel(s.table(), 3, t);
    const std::int64_t n = 63, nx = 9;
    for (int it = 0; it < 3; ++it)
        for (std::int64_t k = 1; k <= n; ++k) update_in_place(s, natural, k, nx, n, n);
    EXPECT_EQ(std::memcmp(t.data(), natural.data(), t.size() * sizeof(double)), 0);
}

TEST(PointSolvers, JacobiTwiceOnceEqualsTwoInnerIterations)
{
    System s = plate_system(6, 5);
    testing::randomize(s, 3);
    std::vector<double> once(s.n(), 0.5), twice(s.n(), 0.5);
    solve_jacobi(s.table(), 2, once);
    solve_jacobi(s.table(), 1, twice);
    solve_jacobi(s.table(), 1, twice);
    EXPECT_EQ(once, twice);
}

TEST(PointSolvers, SorWithOmegaOneIsGaussSeidelAndZeroKeepsTheField)
{
    const System s = plate_system(6, 5);
    std::vector<double> sor(s.n(), 0.0), gs(s.n(), 0.0), still(s.n(), 3.0);
    solve_sor(s.table(), 4, 1.0, sor);
    solve_gauss_seidel(s.table(), 4, gs);
    for (std::size_t k = 0; k < s.n(); ++k) EXPECT_NEAR(sor[k], gs[k], 1e-12);
    solve_sor(s.table(), 4, 0.0, still);
    EXPECT_EQ(still, std::vector<double>(s.n(), 3.0));
}

TEST(PointSolvers, TwoRowsSweepRowOneThenRowTwo)
{
    System s = plate_system(4, 3);
    s.grid.ny = 2;
    s.grid.volume_count = 8;
    testing::randomize(s, 11);
    std::vector<double> t(8, 0.0), expected(8, 0.0);
    const std::int64_t n = 8, nx = 4;
    for (std::int64_t k = 1; k <= n; ++k) update_in_place(s, expected, k, nx, n, 12);
    // a table of 12 rows read as 8: the columns keep a leading dimension of 8
    CoefficientTable two_rows(4, 2);
    for (int c = 0; c < 5; ++c)
        for (int k = 0; k < 8; ++k)
            two_rows.a[static_cast<std::size_t>(c * 8 + k)] = s.a[static_cast<std::size_t>(c * 12 + k)];
    std::copy(s.b.begin(), s.b.begin() + 8, two_rows.b.begin());
    solve_gauss_seidel(two_rows, 1, t);
    EXPECT_EQ(t, expected);
}

class EverySolver : public ::testing::TestWithParam<SolverKind> {};

TEST_P(EverySolver, NoInnerIterationLeavesTheFieldUnchanged)
{
    if (GetParam() == SolverKind::msi) GTEST_SKIP() << "MSI always makes one correction";
    const System s = plate_system(6, 5);
    std::vector<double> t(s.n(), 2.5);
    run_solver(GetParam(), s, t, 0);
    EXPECT_EQ(t, std::vector<double>(s.n(), 2.5));
    run_solver(GetParam(), s, t, -3);
    EXPECT_EQ(t, std::vector<double>(s.n(), 2.5));
}

TEST_P(EverySolver, ConvergesToTheDirectSolution)
{
    for (int bc : {1, 2}) {
        const System s = plate_system(9, 8, bc, 1.0, 1.3);
        const auto exact = testing::direct_solve(s);
        std::vector<double> t(s.n(), 0.0);
        for (int outer = 0; outer < 400; ++outer) run_solver(GetParam(), s, t, 5, 1.2, 1e-3);
        for (std::size_t k = 0; k < s.n(); ++k) EXPECT_NEAR(t[k], exact[k], 1e-10 * (1.0 + std::fabs(exact[k])));
    }
}

TEST_P(EverySolver, ExactSolutionIsKept)
{
    const System s = plate_system(8, 6, 1);
    const auto exact = testing::direct_solve(s);
    std::vector<double> t = exact;
    run_solver(GetParam(), s, t, 1);
    for (std::size_t k = 0; k < s.n(); ++k) EXPECT_NEAR(t[k], exact[k], 1e-11 * (1.0 + std::fabs(exact[k])));
}

INSTANTIATE_TEST_SUITE_P(Kinds, EverySolver, ::testing::ValuesIn(all_solver_kinds), testing::solver_test_name);

// Row k of L U at the five positions of a.
double lu_entry(const System& s, const Msi& m, std::int64_t k, std::int64_t col)
{
    const auto n = static_cast<std::int64_t>(s.n());
    const std::int64_t nx = s.grid.nx;
    const auto at = [&](const std::vector<double>& table, int c, std::int64_t q) {
        return table[static_cast<std::size_t>(c * n + q - 1)];
    };
    // L row k: lp at k, lw at k-1, lse at k-nx+1, ls at k-nx; U: unit diagonal,
    // ue at +1, unw at +nx-1, un at +nx.
    const std::pair<std::int64_t, double> lower[] = {{k, at(m.lower, 0, k)},
                                                     {k - 1, at(m.lower, 1, k)},
                                                     {k - nx + 1, at(m.lower, 2, k)},
                                                     {k - nx, at(m.lower, 3, k)}};
    double sum = 0.0;
    for (const auto& [q, l] : lower) {
        if (q < 1 || q > n) continue;
        if (q == col) sum += l;
        if (q + 1 == col) sum += l * at(m.upper, 0, q);
        if (q + nx - 1 == col) sum += l * at(m.upper, 1, q);
        if (q + nx == col) sum += l * at(m.upper, 2, q);
    }
    return sum;
}

TEST(Msi, FactorTablesOfTheWorkedExample)
{
    const System s = plate_system(5, 4);
    const Msi m(s);
    const auto row = [&](const std::vector<double>& table, int c) {
        return table[static_cast<std::size_t>(c * 20 + 6)];
    };
    EXPECT_DOUBLE_EQ(row(m.lower, 0), 6.5);
    EXPECT_DOUBLE_EQ(row(m.lower, 1), -1.5);
    EXPECT_DOUBLE_EQ(row(m.lower, 2), 0.0);
    EXPECT_DOUBLE_EQ(row(m.lower, 3), -2.0 / 3.0);
    EXPECT_DOUBLE_EQ(row(m.upper, 0), -3.0 / 13.0);
    EXPECT_DOUBLE_EQ(row(m.upper, 1), 0.0);
    EXPECT_DOUBLE_EQ(row(m.upper, 2), -4.0 / 39.0);
}

TEST(Msi, GhostRowsOfLUEqualA)
{
    for (const int bc : {1, 2}) {
        const System s = plate_system(7, 6, bc, 1.0, 2.0);
        const Msi m(s);
        const std::int64_t nx = 7, ny = 6, n = 42;
        for (std::int64_t k = 1; k <= n; ++k) {
            if (msi_alpha(k, nx, ny) != 0.0) continue;
            const std::int64_t cols[5] = {k - nx, k - 1, k, k + 1, k + nx};
            for (int c = 0; c < 5; ++c) {
                if (cols[c] < 1 || cols[c] > n) continue;
                EXPECT_NEAR(lu_entry(s, m, k, cols[c]), s.a[static_cast<std::size_t>(c * n + k - 1)], 1e-12)
                    << "k " << k << " column " << c;
            }
        }
        for (std::int64_t j = 1; j <= ny; ++j) {
            const auto k = static_cast<std::size_t>(volume_number(1, j, nx) - 1);
            EXPECT_EQ(m.lower[k], 1.0);
            EXPECT_EQ(m.upper[k], 1.0);
            for (const double v :
                 {m.lower[n + k], m.lower[2 * n + k], m.lower[3 * n + k], m.upper[n + k], m.upper[2 * n + k]})
                EXPECT_EQ(v, 0.0);
        }
    }
}

TEST(Msi, AlphaPatternOnSixByFive)
{
    std::vector<int> real;
    for (int k = 1; k <= 30; ++k)
        if (msi_alpha(k, 6, 5) == 0.5)
            real.push_back(k);
        else
            EXPECT_EQ(msi_alpha(k, 6, 5), 0.0);
    EXPECT_EQ(real, (std::vector<int>{8, 9, 10, 11, 14, 15, 16, 17, 20, 21, 22, 23}));
}

TEST(Msi, StoppingRules)
{
    const System s = plate_system(6, 6);
    const Msi m(s);
    // the count limit comes first: with a limit of 1 exactly one correction
    std::vector<double> one(s.n(), 0.0), manual(s.n(), 0.0);
    solve_msi(s.table(), m.lower, m.upper, 0.0, 1, one);
    // a tolerance of 1 stops after the first correction when the norm fell
    std::vector<double> loose(s.n(), 0.0);
    solve_msi(s.table(), m.lower, m.upper, 1.0, 50, loose);
    EXPECT_EQ(one, loose);
    // an exact solution: the correction is 0 and t is unchanged
    std::vector<double> exact = testing::direct_solve(s);
    std::vector<double> t = exact;
    solve_msi(s.table(), m.lower, m.upper, 0.0, 5, t);
    for (std::size_t k = 0; k < s.n(); ++k) EXPECT_NEAR(t[k], exact[k], 1e-12);
    // a NaN norm stops the iteration (and the limit is never reached)
    std::vector<double> nan(s.n(), std::nan(""));
    solve_msi(s.table(), m.lower, m.upper, 1e-3, 1000000000, nan);
    EXPECT_TRUE(std::isnan(nan[10]));
}

}  // namespace
}  // namespace placatermo
