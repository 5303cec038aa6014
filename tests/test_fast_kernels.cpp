// The fast kernels against the plain loops, bit for bit: random fields and
// tables, our own tables (uniform interior), signed zeros, and NaN and
// infinity spreading through the field.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "base/execution.hpp"
#include "base/second_thread.hpp"
#include "drivers/drivers.hpp"
#include "numerics_support.hpp"
#include "platform/platform.hpp"
#include "solvers/point_update.hpp"
#include "solvers/solvers.hpp"
#include "solvers/sweep_helper.hpp"

namespace placatermo {
namespace {

using testing::plate_system;
using testing::System;

enum class Field { random, zeros, with_nan, with_infinity, with_overflow };

struct KernelCase {
    int nx, ny;
    bool random_table;
    Field field;
    bool square_cells = false;  // dx = dy = 1: ap = 4, a power of two
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
    System s = c.square_cells ? plate_system(c.nx, c.ny, 2, c.nx - 2, c.ny - 2) : plate_system(c.nx, c.ny, 2, 1.0, 0.7);
    if (c.random_table) testing::randomize(s, seed);
    if (c.field == Field::zeros) {
        // zero right-hand sides of both signs, as multigrid residuals have
        for (std::size_t k = 0; k < s.n(); ++k) s.b[k] = (k % 2 == 0) ? -0.0 : 0.0;
    }
    return s;
}

// The system with a different b on every ghost volume, so that a kernel
// that reads another ghost's entry gives itself away.
System with_distinct_ghost_rhs(System s)
{
    const std::int64_t nx = s.grid.nx, ny = s.grid.ny;
    for (std::int64_t p = 1; p <= s.grid.volume_count; ++p) {
        const std::int64_t i = (p - 1) % nx + 1, j = (p - 1) / nx + 1;
        if (i == 1 || i == nx || j == 1 || j == ny) s.b[static_cast<std::size_t>(p - 1)] = 0.25 * static_cast<double>(p);
    }
    return s;
}

bool same_bits(const std::vector<double>& x, const std::vector<double>& y)
{
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

// Runs check(form, name) on the system as a table and, when it has one, as
// a uniform stencil whose real volumes' table entries are NaN: a fast kernel
// that reads what its form does not hold gives itself away.
template <typename Check>
void for_each_form(const System& s, Check check)
{
    check(s.table(), "table");
    if (const std::optional<UniformStencil> stencil = s.stencil()) check(*stencil, "stencil");
}

// The same, the stencil without a table, which the point iterations and the
// residuals get, and on the plate's own right-hand side (+0.0 inside) that
// stencil saying so, as the finest grid's system does.
template <typename Check>
void for_each_point_form(const System& s, Check check)
{
    for_each_form(s, check);
    if (const std::optional<UniformStencil> stencil = s.stencil_without_table())
        check(*stencil, "stencil without a table");
    if (const std::optional<UniformStencil> stencil = s.stencil_with_zero_rhs())
        check(*stencil, "stencil with b known to be +0.0 inside");
}

class FastKernel : public ::testing::TestWithParam<KernelCase> {};

// The plate's table is a stencil on every grid with two real columns, and
// the kernels multiply by 1 / ap exactly where the cells are square.
TEST_P(FastKernel, PlateTablesHaveAStencil)
{
    const auto& c = GetParam();
    const System s = make_system(c, 1);
    const std::optional<UniformStencil> stencil = s.stencil();
    EXPECT_EQ(stencil.has_value(), !c.random_table && c.nx >= 4);
    if (stencil) {
        EXPECT_EQ(detail::exact_reciprocal(stencil->interior.ap).has_value(), c.square_cells);
    }
}

TEST_P(FastKernel, PointSolversGiveThePlainBits)
{
    const auto& c = GetParam();
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const System s = make_system(c, seed);
        const CoefficientTable table = s.table();
        const std::vector<double> start = make_field(s, c.field, seed);
        for_each_point_form(s, [&](const auto& form, const char* name) {
            for (const int inner : {1, 2, 5}) {
                auto fast = start, plain = start;
                solve_gauss_seidel(form, inner, fast);
                solve_gauss_seidel_plain(table, inner, plain);
                EXPECT_TRUE(same_bits(fast, plain)) << "Gauss-Seidel on the " << name << ", " << inner << " inner";
                fast = start, plain = start;
                solve_jacobi(form, inner, fast);
                solve_jacobi_plain(table, inner, plain);
                EXPECT_TRUE(same_bits(fast, plain)) << "Jacobi on the " << name << ", " << inner << " inner";
                fast = start, plain = start;
                solve_gauss_seidel_red_black(form, inner, fast);
                solve_gauss_seidel_red_black_plain(table, inner, plain);
                EXPECT_TRUE(same_bits(fast, plain)) << "red-black Gauss-Seidel on the " << name << ", " << inner;
                fast = start, plain = start;
                solve_sor(form, inner, 1.37, fast);
                solve_sor_plain(table, inner, 1.37, plain);
                EXPECT_TRUE(same_bits(fast, plain)) << "SOR on the " << name << ", " << inner << " inner";
                // a kept work array, with what an earlier call left in it
                std::vector<double> work(s.n(), std::numeric_limits<double>::quiet_NaN());
                for (int call = 1; call <= 2; ++call) {
                    fast = start;
                    solve_jacobi(form, inner, fast, work);
                    plain = start;
                    solve_jacobi_plain(table, inner, plain);
                    EXPECT_TRUE(same_bits(fast, plain)) << "Jacobi, kept work array, call " << call << ", " << name;
                    fast = start;
                    solve_sor(form, inner, 1.37, fast, work);
                    plain = start;
                    solve_sor_plain(table, inner, 1.37, plain);
                    EXPECT_TRUE(same_bits(fast, plain)) << "SOR, kept work array, call " << call << ", " << name;
                }
            }
        });
    }
}

TEST_P(FastKernel, AdiGivesThePlainBits)
{
    const auto& c = GetParam();
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const System s = make_system(c, seed);
        const CoefficientTable table = s.table();
        const std::vector<double> start = make_field(s, c.field, seed);
        for_each_form(s, [&](const auto& form, const char* name) {
            for (const int inner : {1, 2}) {
                auto fast = start, plain = start;
                solve_adi(form, inner, fast);
                solve_adi_plain(table, inner, plain);
                EXPECT_TRUE(same_bits(fast, plain)) << "ADI on the " << name << ", " << inner << " inner";
            }
        });
    }
}

TEST_P(FastKernel, MsiGivesThePlainBits)
{
    const auto& c = GetParam();
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const System s = make_system(c, seed);
        const CoefficientTable table = s.table();
        std::vector<double> lower(4 * s.n()), upper(3 * s.n());
        factorize_msi(table, lower, upper);
        std::vector<double> plain_lower(4 * s.n()), plain_upper(3 * s.n());
        factorize_msi_plain(table, plain_lower, plain_upper);
        EXPECT_TRUE(same_bits(lower, plain_lower) && same_bits(upper, plain_upper)) << "factorisation";
        const std::vector<double> start = make_field(s, c.field, seed);
        // at most one correction (no residual after it), two and three (the
        // residual computed with the next forward substitution); a tolerance
        // that stops after the first correction, and one that hardly stops
        for_each_form(s, [&](const auto& form, const char* name) {
            for (const double tolerance : {0.9, 1e-3})
                for (const int inner : {1, 2, 3}) {
                    auto fast = start, plain = start;
                    solve_msi(form, lower, upper, tolerance, inner, fast);
                    solve_msi_plain(table, lower, upper, tolerance, inner, plain);
                    EXPECT_TRUE(same_bits(fast, plain))
                        << "MSI on the " << name << ", " << inner << " corrections, tolerance " << tolerance;
                }
        });
    }
}

TEST_P(FastKernel, ResidualNormGivesThePlainBits)
{
    const auto& c = GetParam();
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const System s = make_system(c, seed);
        const CoefficientTable table = s.table();
        const std::vector<double> t = make_field(s, c.field, seed);
        for_each_point_form(s, [&](const auto& form, const char* name) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(compute_residual_norm(form, t)),
                      std::bit_cast<std::uint64_t>(compute_residual_norm_plain(table, t)))
                << name;
            // the multigrid's stored residual; ghost entries keep what they held
            std::vector<double> stored(s.n(), 7.5), plain_stored(s.n(), 7.5);
            store_residual(form, t, stored);
            store_residual_plain(table, t, plain_stored);
            EXPECT_TRUE(same_bits(stored, plain_stored)) << "stored residual, " << name;
        });
    }
}

// The textbook restriction straight from the field: the bits of the stored
// residual restricted, on every form, on fine grids of the hierarchy.
TEST(FastKernels, RestrictionFromTheFieldGivesTheStoredResidualsBits)
{
    for (const auto& [nx, ny] : {std::pair{6, 6}, std::pair{10, 18}, std::pair{34, 66}, std::pair{130, 130}})
        for (const bool random_table : {false, true})
            for (const Field field :
                 {Field::random, Field::zeros, Field::with_nan, Field::with_infinity, Field::with_overflow}) {
                const KernelCase c{nx, ny, random_table, field};
                const int coarse_nx = nx / 2 + 1, coarse_ny = ny / 2 + 1;
                const System s = make_system(c, 11);
                const std::vector<double> t = make_field(s, field, 11);
                std::vector<double> residual(s.n(), 0.0);
                store_residual_plain(s.table(), t, residual);
                std::vector<double> expected(static_cast<std::size_t>(coarse_nx * coarse_ny), 5.0);
                restrict_residual_sum(coarse_nx, coarse_ny, nx, residual, expected);
                for_each_point_form(s, [&](const auto& form, const char* name) {
                    std::vector<double> b(expected.size(), 5.0);
                    restrict_residual_sum_of(form, t, coarse_nx, coarse_ny, b);
                    EXPECT_TRUE(same_bits(b, expected))
                        << name << ", " << nx << " x " << ny << ", field " << static_cast<int>(field);
                });
            }
}

// Red-black Gauss-Seidel's rows in any number of bands, the odd ones run
// before, beside or after the even ones, and the fused restriction's norm on
// one thread and on two: the bits of one way.
TEST(FastKernels, RedBlackBandsAndNormsGiveTheSameBitsAnyWay)
{
    struct RunsAtOnce final : SecondThread {
        void start(std::function<void()> job) override { job(); }
        void wait() override {}
    } at_once;
    Execution small_two{Kernels::fast};
    small_two.second_thread = sweep_helper();
    small_two.two_thread_sizes.streaming = {4, 3};
    for (const KernelCase& c : {KernelCase{37, 29, false, Field::random, true}, KernelCase{66, 19, false, Field::with_nan},
                                KernelCase{130, 130, false, Field::zeros, true}, KernelCase{34, 18, false, Field::random},
                                KernelCase{4, 3, false, Field::random}}) {
        const System s = with_distinct_ghost_rhs(make_system(c, 5));
        const std::vector<double> start = make_field(s, c.field, 5);
        std::vector<double> plain = start;
        solve_gauss_seidel_red_black_plain(s.table(), 3, plain);
        for (const auto& stencil : {s.stencil_without_table(), s.stencil_with_zero_rhs(), s.stencil_with_ghost_rhs()}) {
            if (!stencil) continue;
            for (SecondThread* thread : {static_cast<SecondThread*>(nullptr), static_cast<SecondThread*>(&at_once),
                                         sweep_helper()})
                for (int bands = 1; bands <= 5; ++bands) {
                    Execution how{Kernels::fast};
                    how.second_thread = thread;
                    std::vector<double> fast = start;
                    solve_gauss_seidel_red_black_in_bands(*stencil, 3, fast, bands, how);
                    EXPECT_TRUE(same_bits(fast, plain)) << c.nx << " x " << c.ny << ", " << bands << " bands";
                }
        }
        // the norm beside the restriction, from the same residuals, on grids
        // of a hierarchy (an even number of real volumes each way)
        if (c.nx < 6 || c.nx % 2 != 0 || c.ny % 2 != 0) continue;
        const LinearSystem system = s.table();
        const int coarse_nx = c.nx / 2 + 1, coarse_ny = c.ny / 2 + 1;
        std::vector<double> expected(static_cast<std::size_t>(coarse_nx * coarse_ny), 5.0);
        restrict_residual_sum_of(system, plain, coarse_nx, coarse_ny, expected);
        const double column_order = compute_residual_norm_plain(s.table(), plain);
        std::vector<double> b(expected.size(), 5.0), b_two(expected.size(), 5.0);
        const double norm = restrict_residual_sum_and_norm_of(system, plain, coarse_nx, coarse_ny, b);
        EXPECT_TRUE(same_bits(b, expected));
        EXPECT_NEAR(norm, column_order, 1e-13 * column_order) << c.nx << " x " << c.ny;
        const double norm_two = restrict_residual_sum_and_norm_of(system, plain, coarse_nx, coarse_ny, b_two, small_two);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(norm_two), std::bit_cast<std::uint64_t>(norm));
        EXPECT_TRUE(same_bits(b_two, expected));
    }
}

// The fast cycle's ghost volumes, folded into the first red-black sweep row
// by row (in one band or two, each band's edge rows first), against all of
// them updated before the sweep: the same bits, with an infinity in the west
// ghost of one row, which a ghost column's zero coefficients must not spread.
TEST(FastKernels, GhostVolumesFoldedIntoTheSweepGiveTheWholeUpdatesBits)
{
    struct RunsAtOnce final : SecondThread {
        void start(std::function<void()> job) override { job(); }
        void wait() override {}
    } at_once;
    for (const auto& [nx, ny] : {std::pair{6, 6}, std::pair{10, 12}, std::pair{8, 9}})
        for (const int row : {3, ny / 2, ny - 2}) {
            const System s = with_distinct_ghost_rhs(make_system(KernelCase{nx, ny, false, Field::random, true}, 3));
            std::vector<double> start = make_field(s, Field::random, 3);
            start[static_cast<std::size_t>((row - 1) * nx)] = std::numeric_limits<double>::infinity();
            for (const LinearSystem& system : {LinearSystem{s.table()}, LinearSystem{*s.stencil_without_table()},
                                               LinearSystem{*s.stencil_with_ghost_rhs()}}) {
                // b of the ghost volumes alone: the residuals of the whole b
                for (std::int64_t p = nx + 2; p < (ny - 1) * nx; ++p) {
                    if (p % nx < 2) continue;  // a ghost column
                    EXPECT_EQ(std::bit_cast<std::uint64_t>(residual_at(system, start, p)),
                              std::bit_cast<std::uint64_t>(residual_at(s.table(), start, p)));
                }
                std::vector<double> whole = start;
                update_ghost_volumes(system, whole);
                solve_gauss_seidel_red_black_plain(s.table(), 2, whole);
                for (SecondThread* thread : {static_cast<SecondThread*>(nullptr), static_cast<SecondThread*>(&at_once)}) {
                    Execution how{Kernels::fast};
                    how.second_thread = thread;
                    how.two_thread_sizes.red_black = {4, 3};
                    std::vector<double> folded = start;
                    const RowWork work{[&](std::int64_t j) {
                                           if (j == 1) return;
                                           update_ghost_volumes(system, folded, j);
                                           if (j == 2) update_ghost_volumes(system, folded, 1);
                                       },
                                       [](std::int64_t) {}};
                    solve_gauss_seidel_red_black(system, 2, folded, how, work);
                    EXPECT_TRUE(same_bits(folded, whole))
                        << nx << " x " << ny << ", infinity in row " << row << (thread ? ", two bands" : "");
                }
            }
        }
}

std::vector<KernelCase> kernel_cases()
{
    std::vector<KernelCase> cases;
    const int sizes[][2] = {{3, 3},   {4, 3},     {5, 4}, {4, 12},  {12, 4},  {9, 10},   {37, 29},
                            {66, 19}, {130, 131}, {6, 6}, {10, 18}, {34, 66}, {130, 130}};
    for (const auto& size : sizes)
        for (const bool random_table : {false, true})
            for (const Field field :
                 {Field::random, Field::zeros, Field::with_nan, Field::with_infinity, Field::with_overflow}) {
                cases.push_back({size[0], size[1], random_table, field});
                if (!random_table) cases.push_back({size[0], size[1], false, field, true});
            }
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<KernelCase>& info)
{
    constexpr const char* fields[] = {"Random", "Zeros", "NaN", "Infinity", "Overflow"};
    return std::to_string(info.param.nx) + "x" + std::to_string(info.param.ny) +
           (info.param.random_table ? "RandomTable" : info.param.square_cells ? "SquarePlateTable" : "PlateTable") +
           fields[static_cast<int>(info.param.field)];
}

INSTANTIATE_TEST_SUITE_P(Grids, FastKernel, ::testing::ValuesIn(kernel_cases()), case_name);

// Where the kernels multiply instead of dividing: only by the reciprocal of
// a power of two, which is exact.
TEST(ExactReciprocal, OfPowersOfTwoOnly)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    const struct {
        double ap;
        std::optional<double> reciprocal;
    } table[] = {
        {4.0, 0.25},
        {-4.0, -0.25},
        {0.5, 2.0},
        {1.0, 1.0},
        {0x1p1023, 0x1p-1023},            // its reciprocal is subnormal, still exact
        {0x1p-1022, 0x1p1022},            // the smallest normal
        {0x1p-1023, 0x1p1023},            // a subnormal power of two
        {0x1p-1024, std::nullopt},        // 1 / ap overflows
        {0x1p-1074, std::nullopt},        // the smallest subnormal
        {3.0, std::nullopt},
        {std::nextafter(4.0, 5.0), std::nullopt},
        {std::nextafter(4.0, 3.0), std::nullopt},
        {0.0, std::nullopt},
        {-0.0, std::nullopt},
        {inf, std::nullopt},
        {-inf, std::nullopt},
        {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
    };
    for (const auto& row : table) {
        const std::optional<double> got = detail::exact_reciprocal(row.ap);
        EXPECT_EQ(got.has_value(), row.reciprocal.has_value()) << row.ap;
        if (got && row.reciprocal) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(*row.reciprocal)) << row.ap;
        }
    }
}

// x * (1 / ap) is x / ap, bit for bit, for every kind of x: both are the
// same real number correctly rounded.
TEST(ExactReciprocal, MultiplyingGivesTheQuotientsBits)
{
    std::mt19937_64 random(26);
    std::vector<double> xs = {0.0, -0.0, std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
                              -std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                              std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), 0x1.8p-1073,
                              0x1.fffffffffffffp-1022, 3.0 * std::numeric_limits<double>::denorm_min()};
    for (int i = 0; i < 100000; ++i) {
        const double x = std::bit_cast<double>(random());
        if (!std::isnan(x)) xs.push_back(x);
    }
    for (const double constant : {4.0, -4.0, 0.5, 8.0, 0x1p-1000, 0x1p1000, 0x1p1023, 0x1p-1023}) {
        volatile double unknown_to_the_compiler = constant;  // so that x / ap is a division
        const double ap = unknown_to_the_compiler;
        const std::optional<double> reciprocal = detail::exact_reciprocal(ap);
        ASSERT_TRUE(reciprocal.has_value()) << ap;
        int differ = 0;
        for (const double x : xs)
            if (std::bit_cast<std::uint64_t>(x / ap) != std::bit_cast<std::uint64_t>(x * *reciprocal)) ++differ;
        EXPECT_EQ(differ, 0) << "ap = " << ap;
    }
}

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
                factorize_msi(s.table(), lower, upper);
                factorize_msi_plain(s.table(), plain_lower, plain_upper);
                if (std::isfinite(value))
                    EXPECT_TRUE(same_bits(lower, plain_lower) && same_bits(upper, plain_upper))
                        << value << " in column " << column << " of row " << row;
                else
                    EXPECT_TRUE(same_bits_or_both_nan(lower, plain_lower) && same_bits_or_both_nan(upper, plain_upper))
                        << value << " in column " << column << " of row " << row;
            }
}

// The large-grid tests run on one thread, on two, and on whichever has been
// faster (a mix of both from sweep to sweep); the last two are skipped where
// this process may use one core only.
enum class Threads { one, two, faster };

class LargeGrid : public ::testing::TestWithParam<Threads> {
protected:
    void SetUp() override
    {
        if (GetParam() == Threads::one) return;
        if (available_cores() < 2 || sweep_helper() == nullptr)
            GTEST_SKIP() << "this process may use one core only: the two-thread sweeps run on one";
        execution.second_thread = sweep_helper();
        execution.timed_point_sweeps = GetParam() == Threads::faster;
    }
    Execution execution{Kernels::fast};
};

// Large enough for the two-thread sweeps; ADI and MSI on long rows too.
// The passes between the grids of a cycle, which large grids run in two
// halves: the bits of the same passes on one thread.
TEST_P(LargeGrid, TransfersGiveTheOneThreadBits)
{
    for (const Field field : {Field::random, Field::with_nan, Field::zeros}) {
        const KernelCase c{1026, 130, false, field};
        const int coarse_nx = 514, coarse_ny = 66;
        const System s = make_system(c, 9);
        const std::vector<double> t = make_field(s, field, 9);
        const std::vector<double> coarse =
            make_field(make_system(KernelCase{coarse_nx, coarse_ny, false, field}, 9), field, 9);
        const auto coarse_n = static_cast<std::size_t>(coarse_nx * coarse_ny);
        struct Passes {
            std::vector<double> residual, restricted, restricted_from_t, interpolated, field;
        };
        const auto run = [&](const Execution& how, const auto& form) {
            Passes p{std::vector<double>(s.n(), 7.5), std::vector<double>(coarse_n, 5.0),
                     std::vector<double>(coarse_n, 5.0), t, t};
            store_residual(form, t, p.residual, how);
            restrict_residual_sum(coarse_nx, coarse_ny, c.nx, p.residual, p.restricted, how);
            restrict_residual_sum_of(form, t, coarse_nx, coarse_ny, p.restricted_from_t, how);
            prolongate_correction_bilinear(c.nx, c.ny, coarse_nx, coarse_ny, coarse, p.interpolated, how);
            prolongate_correction_bilinear_to_field(c.nx, c.ny, coarse_nx, coarse_ny, coarse, p.field, how);
            return p;
        };
        for_each_point_form(s, [&](const auto& form, const char* name) {
            const Passes one = run(Execution{Kernels::fast}, form);
            const Passes many = run(execution, form);
            const std::string what = std::string(name) + ", field " + std::to_string(static_cast<int>(field));
            EXPECT_TRUE(same_bits(many.residual, one.residual)) << "stored residual, " << what;
            EXPECT_TRUE(same_bits(many.restricted, one.restricted)) << "restriction, " << what;
            EXPECT_TRUE(same_bits(many.restricted_from_t, one.restricted_from_t)) << "restriction from t, " << what;
            EXPECT_TRUE(same_bits(many.interpolated, one.interpolated)) << "interpolation, " << what;
            EXPECT_TRUE(same_bits(many.field, one.field)) << "interpolation into t, " << what;
        });
        std::vector<double> plain = t, fast = t;
        prolongate_correction_bilinear(c.nx, c.ny, coarse_nx, coarse_ny, coarse, plain, plain_execution);
        prolongate_correction_bilinear(c.nx, c.ny, coarse_nx, coarse_ny, coarse, fast, execution);
        EXPECT_TRUE(same_bits(fast, plain)) << "interpolation against its plain loop";
    }
}

TEST_P(LargeGrid, SweepsGiveThePlainBits)
{
    for (const auto& c :
         {KernelCase{1000, 77, false, Field::random}, KernelCase{1013, 70, true, Field::random},
          KernelCase{1000, 77, false, Field::with_nan}, KernelCase{1030, 43, true, Field::zeros},
          KernelCase{1002, 45, false, Field::zeros}, KernelCase{1001, 38, false, Field::with_infinity},
          KernelCase{1000, 77, false, Field::random, true}, KernelCase{1002, 45, false, Field::zeros, true}}) {
        const System s = make_system(c, 5);
        const CoefficientTable table = s.table();
        const LinearSystem system = s.linear();
        const std::vector<double> start = make_field(s, c.field, 5);
        const std::string what = std::to_string(c.nx) + "x" + std::to_string(c.ny);
        if (const std::optional<UniformStencil> bare = s.stencil_without_table()) {
            auto fast = start, plain = start;
            solve_gauss_seidel(*bare, 3, fast, execution);
            solve_gauss_seidel_plain(table, 3, plain);
            EXPECT_TRUE(same_bits(fast, plain)) << "Gauss-Seidel without a table " << what;
            fast = start, plain = start;
            solve_sor(*bare, 2, 1.7, fast, {}, execution);
            solve_sor_plain(table, 2, 1.7, plain);
            EXPECT_TRUE(same_bits(fast, plain)) << "SOR without a table " << what;
        }
        std::visit(
            [&](const auto& form) {
                auto fast = start, plain = start;
                solve_gauss_seidel(form, 3, fast, execution);
                solve_gauss_seidel_plain(table, 3, plain);
                EXPECT_TRUE(same_bits(fast, plain)) << "Gauss-Seidel " << what;
                fast = start, plain = start;
                solve_sor(form, 2, 1.7, fast, {}, execution);
                solve_sor_plain(table, 2, 1.7, plain);
                EXPECT_TRUE(same_bits(fast, plain)) << "SOR " << what;
                for (const int inner : {1, 2}) {
                    fast = start, plain = start;
                    solve_adi(form, inner, fast, execution);
                    solve_adi_plain(table, inner, plain);
                    EXPECT_TRUE(same_bits(fast, plain)) << "ADI " << inner << " " << what;
                }
                std::vector<double> lower(4 * s.n()), upper(3 * s.n());
                factorize_msi_plain(table, lower, upper);
                for (const int inner : {1, 3}) {
                    fast = start, plain = start;
                    solve_msi(form, lower, upper, 1e-9, inner, fast, execution);
                    solve_msi_plain(table, lower, upper, 1e-9, inner, plain);
                    EXPECT_TRUE(same_bits(fast, plain)) << "MSI " << inner << " " << what;
                }
            },
            system);
    }
}

// MSI on rows of 500 volumes and more: the helper thread makes the residual
// rows ahead of the forward substitution and adds the corrections to t
// behind the backward one.
TEST_P(LargeGrid, MsiGivesThePlainBits)
{
    for (const auto& c :
         {KernelCase{1020, 73, false, Field::random}, KernelCase{1001, 66, true, Field::random},
          KernelCase{1012, 69, false, Field::with_nan}, KernelCase{1007, 64, false, Field::with_infinity},
          KernelCase{1000, 71, false, Field::with_overflow}, KernelCase{600, 67, false, Field::zeros}}) {
        const System s = make_system(c, 7);
        const CoefficientTable table = s.table();
        const LinearSystem system = s.linear();
        const std::vector<double> start = make_field(s, c.field, 7);
        std::vector<double> lower(4 * s.n()), upper(3 * s.n());
        factorize_msi(table, lower, upper, execution);
        for (const double tolerance : {0.9, 1e-9})
            for (const int inner : {1, 2}) {
                auto fast = start, plain = start;
                std::visit([&](const auto& form) { solve_msi(form, lower, upper, tolerance, inner, fast, execution); },
                           system);
                solve_msi_plain(table, lower, upper, tolerance, inner, plain);
                EXPECT_TRUE(same_bits(fast, plain))
                    << "MSI " << inner << " " << c.nx << "x" << c.ny << " tolerance " << tolerance;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, LargeGrid, ::testing::Values(Threads::one, Threads::two, Threads::faster),
                         [](const auto& info) {
                             return info.param == Threads::one   ? "OneThread"
                                    : info.param == Threads::two ? "TwoThreads"
                                                                 : "FasterOfBoth";
                         });

// The ways ThreadChoice takes (T two threads, O one) for sweeps whose
// seconds on one and on two threads are given from sweep to sweep.
struct ChoiceCase {
    const char* what;
    double (*one)(int sweep);
    double (*two)(int sweep);
    const char* ways;
};

TEST(ThreadChoice, TakesTheFasterWayAndTriesTheOtherAgain)
{
    const ChoiceCase cases[] = {
        {"two threads twice as slow", [](int) { return 1.0; }, [](int) { return 2.0; },
         "TOOOOOOOOOOOOOOTOOOOOOOOOOOOOOOTOO"},
        {"two threads twice as fast", [](int) { return 2.0; }, [](int) { return 1.0; },
         "TOTTTTTTTTTTTTTOTTTTTTTTTTTTTTTOTT"},
        {"a tie goes to two threads", [](int) { return 1.0; }, [](int) { return 1.0; },
         "TOTTTTTTTTTTTTTOTTTTTTTTTTTTTTTOTT"},
        // slow until sweep 20, then fast: found at the retry after the one
        // that saw it first, since a mean leans on its sweeps before
        {"the second core freed during the run", [](int) { return 1.0; },
         [](int sweep) { return sweep < 20 ? 2.0 : 0.5; },
         "TOOOOOOOOOOOOOOTOOOOOOOOOOOOOOOTOOOOOOOOOOOOOOOTTTTTTTTTTTTTTTTO"},
    };
    for (const ChoiceCase& c : cases) {
        ThreadChoice choice;
        std::string ways;
        for (int sweep = 0; sweep < static_cast<int>(std::strlen(c.ways)); ++sweep) {
            const bool two = choice.two_threads();
            ways += two ? 'T' : 'O';
            choice.record(two, two ? c.two(sweep) : c.one(sweep));
        }
        EXPECT_EQ(ways, c.ways) << c.what;
    }
}

// The caller's share of the rows after sweeps timed as given (rows and
// seconds of the caller, of the helper, the helper's start delay).
TEST(BandSplit, GivesTheCallerTheRowsThatHaveBothThreadsFinishTogether)
{
    struct Sweep {
        std::int64_t caller_rows;
        double caller_seconds;
        std::int64_t helper_rows;
        double helper_seconds, delay;
    };
    const struct {
        const char* what;
        std::vector<Sweep> sweeps;
        double share;
    } cases[] = {
        {"not timed yet", {}, 0.5},
        {"equal cores", {{500, 1.0, 500, 1.0, 0.0}}, 0.5},
        {"the helper's core half as fast", {{500, 1.0, 500, 2.0, 0.0}}, 2.0 / 3.0},
        {"the helper starting 100 rows late", {{500, 1.0, 500, 1.0, 0.2}}, 0.55},
        {"the last sweeps weigh most", {{500, 1.0, 500, 2.0, 0.0}, {500, 1.0, 500, 1.0, 0.0}}, 0.6},
        {"the helper's core all but stopped", {{500, 1.0, 500, 100.0, 0.0}}, 0.875},
        {"the caller's core all but stopped", {{500, 100.0, 500, 1.0, 0.0}}, 0.125},
        {"a sweep too short for the clock", {{500, 0.0, 500, 1.0, 0.0}}, 0.5},
    };
    for (const auto& c : cases) {
        BandSplit split;
        for (const Sweep& s : c.sweeps)
            split.record(s.caller_rows, s.caller_seconds, s.helper_rows, s.helper_seconds, s.delay);
        EXPECT_NEAR(split.caller_share(1000), c.share, 1e-12) << c.what;
    }
}

// The helper watches for its next job for a while after each one, then
// sleeps: jobs that come at once, within the watch and after it each run
// once, their writes seen by the caller after join(), a failure too.
TEST(SweepHelper, RunsEachJobOnceWhetherItWatchedOrSlept)
{
    SecondThread* const helper = sweep_helper();
    if (helper == nullptr) GTEST_SKIP() << "no thread could be started";
    for (const int gap_us : {0, 300, 3000}) {
        std::vector<int> written(64, 0);
        for (int n = 0; n < 64; ++n) {
            HelperJob job(*helper, [&written, n] { written[static_cast<std::size_t>(n)] += n + 1; });
            job.join();
            std::this_thread::sleep_for(std::chrono::microseconds(gap_us));
        }
        for (int n = 0; n < 64; ++n) EXPECT_EQ(written[static_cast<std::size_t>(n)], n + 1) << gap_us << " us apart";
        HelperJob failing(*helper, [] { throw std::runtime_error("falhou"); });
        EXPECT_THROW(failing.join(), std::runtime_error) << gap_us << " us apart";
    }
}

// Red-black sweeps on two threads split as lopsided as the timings may make
// them: the bits of the plain loop.
TEST(BandSplit, AnySplitGivesTheBitsOfThePlainLoop)
{
    const KernelCase c{70, 66, false, Field::random};
    const System s = make_system(c, 9);
    const std::vector<double> start = make_field(s, c.field, 9);
    std::vector<double> plain = start;
    solve_gauss_seidel_red_black_plain(s.table(), 3, plain);
    Execution two{Kernels::fast};
    two.second_thread = sweep_helper();
    two.two_thread_sizes.red_black = {4, 3};
    for (const double helper_seconds : {100.0, 0.01, 1.0}) {
        band_split(c.nx, c.ny).record(33, 1.0, 33, helper_seconds, 0.0);
        std::vector<double> fast = start;
        solve_gauss_seidel_red_black(*s.stencil_without_table(), 3, fast, two);
        EXPECT_TRUE(same_bits(fast, plain)) << helper_seconds;
    }
}

// The stencil of a plate grid is the five values every real volume of its
// table has: bit for bit what a scan of the whole table finds.
TEST(UniformStencil, HoldsWhatTheTableHas)
{
    const struct {
        int nx, ny, bc_kind;
        double lx, ly;
    } grids[] = {{4, 3, 2, 1.0, 1.0},    {8, 7, 1, 2.0, 1.0}, {37, 29, 2, 0.3, 7.0},
                 {66, 19, 2, 1e-3, 1e3}, {4, 9, 1, 1.0, 1.0}, {9, 3, 2, 1.0, 1.0}};
    for (const auto& g : grids) {
        const System s = plate_system(g.nx, g.ny, g.bc_kind, g.lx, g.ly);
        const std::string what = std::to_string(g.nx) + "x" + std::to_string(g.ny);
        // the plain loops read tables only
        EXPECT_TRUE(std::holds_alternative<CoefficientTable>(
            build_system(s.grid, s.input.plate(), TableKept::yes, plain_execution)))
            << what;
        const LinearSystem built = build_system(s.grid, s.input.plate());
        ASSERT_TRUE(std::holds_alternative<UniformStencil>(built)) << what;
        const UniformStencil& stencil = std::get<UniformStencil>(built);
        const std::optional<Stencil> scanned = testing::find_uniform_interior(g.nx, g.ny, s.a);
        ASSERT_TRUE(scanned.has_value()) << what;
        const Stencil& u = stencil.interior;
        const double got[] = {u.as, u.aw, u.ap, u.ae, u.an};
        const double want[] = {scanned->as, scanned->aw, scanned->ap, scanned->ae, scanned->an};
        EXPECT_EQ(0, std::memcmp(got, want, sizeof got)) << what;
        // the ghost rows and b as in the table
        for (std::int64_t j = 1; j <= g.ny; ++j)
            for (std::int64_t i = 1; i <= g.nx; ++i) {
                if (i > 1 && i < g.nx && j > 1 && j < g.ny) continue;
                const auto q = static_cast<std::size_t>(volume_number(i, j, g.nx) - 1);
                for (std::size_t c = 0; c < 5; ++c)
                    EXPECT_EQ(std::bit_cast<std::uint64_t>(stencil.a[c * s.n() + q]),
                              std::bit_cast<std::uint64_t>(s.a[c * s.n() + q]))
                        << what << " volume " << q + 1;
                EXPECT_EQ(stencil.b[q], s.b[q]) << what << " volume " << q + 1;
            }
    }
    // grids below a stencil's size, and the MSI solver's whole table, are
    // tables
    const System narrow = plate_system(3, 9);
    EXPECT_TRUE(std::holds_alternative<CoefficientTable>(build_system(narrow.grid, narrow.input.plate())));
    EXPECT_EQ(with_shared_interior(build_table(narrow.grid, narrow.input.plate()), narrow.grid).index(), 1u);
}

// The test support's scan, which the stencil tests rely on.
TEST(UniformStencil, ScanFindsThePlateTableOnly)
{
    System s = plate_system(8, 7, 1, 2.0, 1.0);
    const std::optional<Stencil> u = testing::find_uniform_interior(8, 7, s.a);
    ASSERT_TRUE(u.has_value());
    // dx = 1/3, dy = 1/5
    EXPECT_DOUBLE_EQ(u->ap, 4.533333333333333);
    EXPECT_DOUBLE_EQ(u->aw, -0.6);
    EXPECT_DOUBLE_EQ(u->ae, -0.6);
    EXPECT_DOUBLE_EQ(u->as, -1.6666666666666667);
    EXPECT_DOUBLE_EQ(u->an, -1.6666666666666667);
    s.a[2 * s.n() + static_cast<std::size_t>(volume_number(7, 6, 8) - 1)] += 1e-15;
    EXPECT_FALSE(testing::find_uniform_interior(8, 7, s.a).has_value());
    System z = plate_system(8, 7);
    z.a[static_cast<std::size_t>(volume_number(3, 3, 8) - 1)] = -0.0;
    z.a[static_cast<std::size_t>(volume_number(4, 3, 8) - 1)] = 0.0;
    EXPECT_FALSE(testing::find_uniform_interior(8, 7, z.a).has_value());
    EXPECT_FALSE(testing::find_uniform_interior(2, 7, z.a).has_value());
}

}  // namespace
}  // namespace placatermo
