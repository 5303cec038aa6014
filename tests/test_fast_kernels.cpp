// The fast kernels against the plain loops, bit for bit: random fields and
// tables, our own tables (uniform interior), signed zeros, and NaN and
// infinity spreading through the field.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "drivers/drivers.hpp"
#include "numerics_support.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {
namespace {

using testing::plate_system;
using testing::System;

enum class Field { random, zeros, with_nan, with_infinity, with_overflow };

struct KernelCase {
    int nx, ny;
    bool random_table;
    Field field;
};

std::vector<double> make_field(const System& s, Field kind, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(-50.0, 50.0);
    std::vector<double> t(s.n());
    for (auto& x : t) x = value(random);
    if (kind == Field::zeros) {
        for (std::size_t k = 0; k < t.size(); ++k) t[k] = (k % 3 == 0) ? -0.0 : 0.0;
    } else if (kind == Field::with_nan) {
        t[t.size() / 2] = std::numeric_limits<double>::quiet_NaN();
    } else if (kind == Field::with_infinity) {
        t[static_cast<std::size_t>(s.grid.nx)] = -std::numeric_limits<double>::infinity();         // first of row 2
        t[static_cast<std::size_t>(2 * s.grid.nx - 1)] = std::numeric_limits<double>::infinity();  // last of row 2
    } else if (kind == Field::with_overflow) {
        // finite, but the residual at the end of row 2 overflows: the next
        // row's first volume meets an infinity through a zero coefficient
        t[static_cast<std::size_t>(2 * s.grid.nx - 2)] = 1e308;
        t[static_cast<std::size_t>(2 * s.grid.nx - 1)] = 1e308;
    }
    return t;
}

System make_system(const KernelCase& c, unsigned seed)
{
    System s = plate_system(c.nx, c.ny, 2, 1.0, 0.7);
    if (c.random_table) testing::randomize(s, seed);
    if (c.field == Field::zeros) {
        // zero right-hand sides of both signs, as multigrid residuals have
        for (std::size_t k = 0; k < s.n(); ++k) s.b[k] = (k % 2 == 0) ? -0.0 : 0.0;
    }
    return s;
}

bool same_bits(const std::vector<double>& x, const std::vector<double>& y)
{
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

class FastKernel : public ::testing::TestWithParam<KernelCase> {};

TEST_P(FastKernel, PointSolversGiveThePlainBits)
{
    const auto& c = GetParam();
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const System s = make_system(c, seed);
        const std::vector<double> start = make_field(s, c.field, seed);
        for (const int inner : {1, 2, 5}) {
            auto fast = start, plain = start;
            solve_gauss_seidel(s.linear(), inner, fast);
            plain::solve_gauss_seidel(s.linear(), inner, plain);
            EXPECT_TRUE(same_bits(fast, plain)) << "Gauss-Seidel, " << inner << " inner";
            fast = start, plain = start;
            solve_jacobi(s.linear(), inner, fast);
            plain::solve_jacobi(s.linear(), inner, plain);
            EXPECT_TRUE(same_bits(fast, plain)) << "Jacobi, " << inner << " inner";
            fast = start, plain = start;
            solve_sor(s.linear(), inner, 1.37, fast);
            plain::solve_sor(s.linear(), inner, 1.37, plain);
            EXPECT_TRUE(same_bits(fast, plain)) << "SOR, " << inner << " inner";
        }
    }
}

TEST_P(FastKernel, AdiGivesThePlainBits)
{
    const auto& c = GetParam();
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const System s = make_system(c, seed);
        const std::vector<double> start = make_field(s, c.field, seed);
        for (const int inner : {1, 2}) {
            auto fast = start, plain = start;
            solve_adi(s.linear(), inner, fast);
            plain::solve_adi(s.linear(), inner, plain);
            EXPECT_TRUE(same_bits(fast, plain)) << "ADI, " << inner << " inner";
        }
    }
}

TEST_P(FastKernel, MsiGivesThePlainBits)
{
    const auto& c = GetParam();
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const System s = make_system(c, seed);
        std::vector<double> lower(4 * s.n()), upper(3 * s.n());
        factorize_msi(s.linear(), lower, upper);
        std::vector<double> plain_lower(4 * s.n()), plain_upper(3 * s.n());
        plain::factorize_msi(s.linear(), plain_lower, plain_upper);
        EXPECT_TRUE(same_bits(lower, plain_lower) && same_bits(upper, plain_upper)) << "factorisation";
        const std::vector<double> start = make_field(s, c.field, seed);
        // at most one correction (no residual after it), two and three (the
        // residual computed with the next forward substitution); a tolerance
        // that stops after the first correction, and one that hardly stops
        for (const double tolerance : {0.9, 1e-3})
            for (const int inner : {1, 2, 3}) {
                auto fast = start, plain = start;
                solve_msi(s.linear(), lower, upper, tolerance, inner, fast);
                plain::solve_msi(s.linear(), lower, upper, tolerance, inner, plain);
                EXPECT_TRUE(same_bits(fast, plain)) << "MSI, " << inner << " corrections, tolerance " << tolerance;
            }
    }
}

TEST_P(FastKernel, ResidualNormGivesThePlainBits)
{
    const auto& c = GetParam();
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const System s = make_system(c, seed);
        const std::vector<double> t = make_field(s, c.field, seed);
        double fast = 1.0, plain = 2.0;
        compute_residual_norm(s.linear(), t, fast);
        plain::compute_residual_norm(s.linear(), t, plain);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(fast), std::bit_cast<std::uint64_t>(plain));
        // the multigrid's stored residual; ghost entries keep what they held
        std::vector<double> stored(s.n(), 7.5), plain_stored(s.n(), 7.5);
        store_residual(s.linear(), t, stored);
        plain::store_residual(s.linear(), t, plain_stored);
        EXPECT_TRUE(same_bits(stored, plain_stored)) << "stored residual";
    }
}

std::vector<KernelCase> kernel_cases()
{
    std::vector<KernelCase> cases;
    const int sizes[][2] = {{3, 3}, {4, 3}, {5, 4}, {4, 12}, {12, 4}, {9, 10}, {37, 29}, {66, 19}, {130, 131}};
    for (const auto& size : sizes)
        for (const bool random_table : {false, true})
            for (const Field field :
                 {Field::random, Field::zeros, Field::with_nan, Field::with_infinity, Field::with_overflow})
                cases.push_back({size[0], size[1], random_table, field});
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<KernelCase>& info)
{
    constexpr const char* fields[] = {"Random", "Zeros", "NaN", "Infinity", "Overflow"};
    return std::to_string(info.param.nx) + "x" + std::to_string(info.param.ny) +
           (info.param.random_table ? "RandomTable" : "PlateTable") + fields[static_cast<int>(info.param.field)];
}

INSTANTIATE_TEST_SUITE_P(Grids, FastKernel, ::testing::ValuesIn(kernel_cases()), case_name);

// Where two NaNs of different signs meet in a product, which one comes out
// is the compiler's choice of operand order, in the plain loop too: for
// tables that make such NaNs, equal means the same bits or NaN in both.
bool same_bits_or_both_nan(const std::vector<double>& x, const std::vector<double>& y)
{
    if (x.size() != y.size()) return false;
    for (std::size_t k = 0; k < x.size(); ++k)
        if (std::bit_cast<std::uint64_t>(x[k]) != std::bit_cast<std::uint64_t>(y[k]) &&
            !(std::isnan(x[k]) && std::isnan(y[k])))
            return false;
    return true;
}

// Tables whose row ends carry what the early rows of the factorisation
// assume away: a zero of the other sign, non-zeros, an infinity, a NaN.
TEST(FastKernel, FactorisationOfOddRowEndsGivesThePlainBits)
{
    const double odd[] = {
        -0.0, 0.25, -3.0, 1e300, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
    for (const double value : odd)
        for (const int column : {0, 1, 2, 3, 4})
            for (const int row : {2, 3, 6}) {
                System s = plate_system(40, 17, 2, 1.0, 0.7);
                const auto n = s.n();
                // the last volume of the row, or the first
                const std::size_t q = static_cast<std::size_t>(row * 40 - (column % 2 == 0 ? 1 : 40));
                s.a[static_cast<std::size_t>(column) * n + q] = value;
                std::vector<double> lower(4 * n), upper(3 * n), plain_lower(4 * n), plain_upper(3 * n);
                factorize_msi(s.linear(), lower, upper);
                plain::factorize_msi(s.linear(), plain_lower, plain_upper);
                if (std::isfinite(value))
                    EXPECT_TRUE(same_bits(lower, plain_lower) && same_bits(upper, plain_upper))
                        << value << " in column " << column << " of row " << row;
                else
                    EXPECT_TRUE(same_bits_or_both_nan(lower, plain_lower) && same_bits_or_both_nan(upper, plain_upper))
                        << value << " in column " << column << " of row " << row;
            }
}

// Large enough for the two-thread sweeps, and the same grids on one thread;
// ADI and MSI on long rows too.
TEST(FastKernel, TwoThreadSweepsGiveThePlainBits)
{
    for (const bool threads : {true, false}) {
        set_parallel_sweeps(threads);
        for (const auto& c :
             {KernelCase{1000, 77, false, Field::random}, KernelCase{1013, 70, true, Field::random},
              KernelCase{1000, 77, false, Field::with_nan}, KernelCase{1030, 43, true, Field::zeros},
              KernelCase{1002, 45, false, Field::zeros}, KernelCase{1001, 38, false, Field::with_infinity}}) {
            const System s = make_system(c, 5);
            const std::vector<double> start = make_field(s, c.field, 5);
            auto fast = start, plain = start;
            solve_gauss_seidel(s.linear(), 3, fast);
            plain::solve_gauss_seidel(s.linear(), 3, plain);
            EXPECT_TRUE(same_bits(fast, plain)) << "Gauss-Seidel " << c.nx << "x" << c.ny << " threads " << threads;
            fast = start, plain = start;
            solve_sor(s.linear(), 2, 1.7, fast);
            plain::solve_sor(s.linear(), 2, 1.7, plain);
            EXPECT_TRUE(same_bits(fast, plain)) << "SOR " << c.nx << "x" << c.ny << " threads " << threads;
            for (const int inner : {1, 2}) {
                fast = start, plain = start;
                solve_adi(s.linear(), inner, fast);
                plain::solve_adi(s.linear(), inner, plain);
                EXPECT_TRUE(same_bits(fast, plain))
                    << "ADI " << inner << " " << c.nx << "x" << c.ny << " threads " << threads;
            }
            std::vector<double> lower(4 * s.n()), upper(3 * s.n());
            plain::factorize_msi(s.linear(), lower, upper);
            for (const int inner : {1, 3}) {
                fast = start, plain = start;
                solve_msi(s.linear(), lower, upper, 1e-9, inner, fast);
                plain::solve_msi(s.linear(), lower, upper, 1e-9, inner, plain);
                EXPECT_TRUE(same_bits(fast, plain))
                    << "MSI " << inner << " " << c.nx << "x" << c.ny << " threads " << threads;
            }
        }
    }
    set_parallel_sweeps(true);
}

// MSI on rows of 500 volumes and more: the helper thread makes the residual
// rows ahead of the forward substitution and adds the corrections to t
// behind the backward one.
TEST(FastKernel, MsiOnTwoThreadsGivesThePlainBits)
{
    for (const bool threads : {true, false}) {
        set_parallel_sweeps(threads);
        for (const auto& c : {KernelCase{1020, 73, false, Field::random}, KernelCase{1001, 66, true, Field::random},
                              KernelCase{1012, 69, false, Field::with_nan},
                              KernelCase{1007, 64, false, Field::with_infinity},
                              KernelCase{1000, 71, false, Field::with_overflow},
                              KernelCase{600, 67, false, Field::zeros}}) {
            const System s = make_system(c, 7);
            const std::vector<double> start = make_field(s, c.field, 7);
            std::vector<double> lower(4 * s.n()), upper(3 * s.n());
            factorize_msi(s.linear(), lower, upper);
            for (const double tolerance : {0.9, 1e-9})
                for (const int inner : {1, 2}) {
                    auto fast = start, plain = start;
                    solve_msi(s.linear(), lower, upper, tolerance, inner, fast);
                    plain::solve_msi(s.linear(), lower, upper, tolerance, inner, plain);
                    EXPECT_TRUE(same_bits(fast, plain)) << "MSI " << inner << " " << c.nx << "x" << c.ny << " tolerance "
                                                        << tolerance << " threads " << threads;
                }
        }
    }
    set_parallel_sweeps(true);
}

TEST(UniformInterior, FoundOnThePlateTableOnly)
{
    System s = plate_system(8, 7, 1, 2.0, 1.0);
    const UniformInterior u = find_uniform_interior(8, 7, s.a);
    ASSERT_TRUE(u.uniform);
    // dx = 1/3, dy = 1/5
    EXPECT_DOUBLE_EQ(u.ap, 4.533333333333333);
    EXPECT_DOUBLE_EQ(u.aw, -0.6);
    EXPECT_DOUBLE_EQ(u.ae, -0.6);
    EXPECT_DOUBLE_EQ(u.as, -1.6666666666666667);
    EXPECT_DOUBLE_EQ(u.an, -1.6666666666666667);
    s.a[2 * s.n() + static_cast<std::size_t>(volume_number(7, 6, 8) - 1)] += 1e-15;
    EXPECT_FALSE(find_uniform_interior(8, 7, s.a).uniform);
    System z = plate_system(8, 7);
    z.a[static_cast<std::size_t>(volume_number(3, 3, 8) - 1)] = -0.0;
    z.a[static_cast<std::size_t>(volume_number(4, 3, 8) - 1)] = 0.0;
    EXPECT_FALSE(find_uniform_interior(8, 7, z.a).uniform);
    EXPECT_FALSE(find_uniform_interior(2, 7, z.a).uniform);
}

// build() takes the interior from the first real volume instead of reading
// the table through: it must find what the scan finds.
TEST(UniformInterior, BuildFindsWhatTheScanFinds)
{
    const struct {
        int nx, ny, bc_kind;
        double lx, ly;
    } grids[] = {{3, 3, 1, 1.0, 1.0},    {4, 3, 2, 1.0, 1.0}, {8, 7, 1, 2.0, 1.0}, {37, 29, 2, 0.3, 7.0},
                 {66, 19, 2, 1e-3, 1e3}, {3, 9, 1, 1.0, 1.0}, {9, 3, 2, 1.0, 1.0}};
    for (const auto& g : grids) {
        const System s = plate_system(g.nx, g.ny, g.bc_kind, g.lx, g.ly);
        LinearSystem built(g.nx, g.ny);
        built.build(s.grid, s.input.plate());
        const UniformInterior scanned = find_uniform_interior(g.nx, g.ny, built.a);
        const UniformInterior& u = built.uniform;
        EXPECT_EQ(u.uniform, scanned.uniform) << g.nx << "x" << g.ny;
        const double got[] = {u.as, u.aw, u.ap, u.ae, u.an};
        const double want[] = {scanned.as, scanned.aw, scanned.ap, scanned.ae, scanned.an};
        EXPECT_EQ(0, std::memcmp(got, want, sizeof got)) << g.nx << "x" << g.ny;
    }
}

}  // namespace
}  // namespace placatermo
