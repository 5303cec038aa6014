// Coefficients, ghost rows, the residual norm and the arrays' heap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "grid/arrays.hpp"
#include "numerics_support.hpp"
#include "platform/platform.hpp"

namespace placatermo {
namespace {

using testing::plate_system;

double coef(const testing::System& s, int column, int i, int j)
{
    return s.a[static_cast<std::size_t>(column) * s.n() + static_cast<std::size_t>(volume_number(i, j, s.grid.nx) - 1)];
}
double rhs(const testing::System& s, int i, int j)
{
    return s.b[static_cast<std::size_t>(volume_number(i, j, s.grid.nx) - 1)];
}
enum { AS, AW, AP, AE, AN };

TEST(Grid, CurrentGridValues)
{
    const auto s = plate_system(12, 12);
    EXPECT_EQ(s.grid.volume_count, 144);
    EXPECT_EQ(s.grid.center_index, 79);
    EXPECT_EQ(s.grid.dx, 1.0 / 10.0);
    const auto r = plate_system(7, 5, 1, 2.0, 3.0);
    EXPECT_EQ(r.grid.center_index, (5 / 2) * 7 + 7 / 2 + 1);
    EXPECT_EQ(r.grid.dy, 3.0 / 3.0);
}

TEST(Grid, OneRealVolume)
{
    // dx = 2, dy = 1
    const auto s = plate_system(3, 3, 1, 2.0, 1.0);
    EXPECT_EQ(coef(s, AP, 2, 2), 5.0);
    EXPECT_EQ(coef(s, AW, 2, 2), -0.5);
    EXPECT_EQ(coef(s, AE, 2, 2), -0.5);
    EXPECT_EQ(coef(s, AS, 2, 2), -2.0);
    EXPECT_EQ(coef(s, AN, 2, 2), -2.0);
    EXPECT_EQ(rhs(s, 2, 2), 0.0);
}

TEST(Grid, SquareGridAndGhostRows)
{
    const auto s = plate_system(6, 6);
    for (int i = 2; i <= 5; ++i)
        for (int j = 2; j <= 5; ++j) {
            EXPECT_EQ(coef(s, AP, i, j), 4.0);
            for (int c : {AS, AW, AE, AN}) EXPECT_EQ(coef(s, c, i, j), -1.0);
        }
    const double ghosts[4][5] = {{0, 0, 1, 1, 0}, {0, 1, 1, 0, 0}, {0, 0, 1, 0, 1}, {1, 0, 1, 0, 0}};
    for (int j = 1; j <= 6; ++j)
        for (int c = 0; c < 5; ++c) {
            EXPECT_EQ(coef(s, c, 1, j), ghosts[0][c]);
            EXPECT_EQ(coef(s, c, 6, j), ghosts[1][c]);
        }
    for (int i = 2; i <= 5; ++i)
        for (int c = 0; c < 5; ++c) {
            EXPECT_EQ(coef(s, c, i, 1), ghosts[2][c]);
            EXPECT_EQ(coef(s, c, i, 6), ghosts[3][c]);
        }
}

// What the point iterations compute for the ghost volumes of a stencil is
// what the table holds, on every ghost volume (corners included), on grids
// of every shape that has a stencil.
TEST(Grid, GhostCoefficientsAreTheTablesGhostEntries)
{
    for (const auto& [nx, ny] :
         {std::pair{4, 3}, std::pair{4, 4}, std::pair{5, 9}, std::pair{17, 4}, std::pair{66, 34}}) {
        const auto s = plate_system(nx, ny, 2, 1.3, 0.4);
        const GhostCoefficients ghost(nx, s.grid.volume_count);
        const GhostCoefficients::Column* column[5] = {&ghost.as, &ghost.aw, &ghost.ap, &ghost.ae, &ghost.an};
        int checked = 0;
        for (int j = 1; j <= ny; ++j)
            for (int i = 1; i <= nx; ++i) {
                if (i != 1 && i != nx && j != 1 && j != ny) continue;
                ++checked;
                for (int c = 0; c < 5; ++c)
                    EXPECT_EQ((*column[c])(volume_number(i, j, nx)), coef(s, c, i, j))
                        << nx << " x " << ny << ", volume (" << i << ", " << j << "), column " << c;
            }
        EXPECT_EQ(checked, 2 * nx + 2 * ny - 4);
    }
}

// A stencil for the point iterations holds no table; its b is the table's.
TEST(Grid, StencilWithoutATableHoldsB)
{
    const auto s = plate_system(9, 7, 2, 1.0, 1.0);
    const LinearSystem kept = build_system(s.grid, s.input.plate(), TableKept::yes);
    const LinearSystem bare = build_system(s.grid, s.input.plate(), TableKept::no);
    EXPECT_EQ(arrays_of(kept).a.size(), 5 * s.n());
    EXPECT_EQ(arrays_of(bare).a.size(), 0u);
    const auto& b = arrays_of(bare).b;
    EXPECT_TRUE(std::equal(b.data(), b.data() + b.size(), s.b.begin(), s.b.end()));
}

TEST(Grid, LinearBoundaryValues)
{
    // lx = 2, ly = 1, dx = 0.5, dy = 0.25: twice 100 x y at the ghost centres
    const auto s = plate_system(6, 6, 1, 2.0, 1.0);
    // the north-east corner belongs to the east column: y = 1.125
    EXPECT_EQ(rhs(s, 6, 6), 450.0);
    EXPECT_EQ(rhs(s, 6, 1), -50.0);
    EXPECT_EQ(rhs(s, 6, 3), 150.0);
    EXPECT_EQ(rhs(s, 3, 6), 150.0);
    EXPECT_EQ(rhs(s, 5, 6), 350.0);
    EXPECT_EQ(rhs(s, 1, 4), 0.0);
    EXPECT_EQ(rhs(s, 3, 1), 0.0);
}

TEST(Grid, SinusoidalBoundaryIsSymmetricAndKindThreeActsLikeTwo)
{
    const auto s = plate_system(9, 5, 2);
    const auto t = plate_system(9, 5, 3);
    EXPECT_EQ(s.b, t.b);
    EXPECT_EQ(s.a, t.a);
    for (int j = 1; j <= 5; ++j) EXPECT_EQ(rhs(s, 9, j), 0.0);
    // twice sin(pi x) at x = 1/14, 3/14, ... 13/14
    const double north[] = {0.4450418679126288, 1.246979603717467,  1.801937735804838, 2.0,
                            1.8019377358048383, 1.2469796037174679, 0.4450418679126299};
    for (int i = 2; i <= 8; ++i) EXPECT_DOUBLE_EQ(rhs(s, i, 5), north[i - 2]) << i;
}

TEST(Grid, ResidualNorm)
{
    auto s = plate_system(7, 6, 1, 1.0, 2.0);
    std::vector<double> zero(s.n(), 0.0);
    EXPECT_EQ(compute_residual_norm(s.table(), zero), 0.0);
    const auto exact = testing::direct_solve(s);
    EXPECT_LT(compute_residual_norm(s.table(), exact), 1e-11);
    // one unit in the south-west real volume: its own row and those of its
    // real east and north neighbours
    std::vector<double> spike(s.n(), 0.0);
    spike[static_cast<std::size_t>(volume_number(2, 2, 7) - 1)] = 1.0;
    const double norm = compute_residual_norm(s.table(), spike);
    const double ap = coef(s, AP, 2, 2);
    EXPECT_DOUBLE_EQ(norm, ap + std::fabs(coef(s, AS, 2, 3)) + std::fabs(coef(s, AW, 3, 2)));
}

// Laying the heap on large pages lays no block below 8 MiB (nor for a size
// that is no number), the size asked from there, and at most 1.5 GiB; where
// the system has no such request, nothing.
TEST(LayHeapOnLargePages, LaysTheSizeAskedWithinItsBounds)
{
    constexpr double mib = 1024.0 * 1024.0;
    const struct {
        double asked;
        std::size_t laid;
    } cases[] = {{-1.0, 0},
                 {0.0, 0},
                 {1.0, 0},
                 {7.9 * mib, 0},
                 {std::numeric_limits<double>::quiet_NaN(), 0},
                 {8.0 * mib, std::size_t{8} << 20},
                 {64.5 * mib, static_cast<std::size_t>(64.5 * mib)},
                 {1e30, std::size_t{1536} << 20},
                 {std::numeric_limits<double>::infinity(), std::size_t{1536} << 20}};
#if defined(__GLIBC__) && defined(__linux__)
    const bool lays = true;
#else
    const bool lays = false;
#endif
    for (const auto& c : cases) EXPECT_EQ(lay_heap_on_large_pages(c.asked), lays ? c.laid : 0) << c.asked;
}

#if defined(__GLIBC__) && defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Whether the mapping that holds `address` is asked for large pages; nullopt
// where the system does not say.
std::optional<bool> asked_for_large_pages(const void* address)
{
    std::ifstream maps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(maps, line);) {
        std::uintptr_t first = 0, end = 0;
        if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " ", &first, &end) == 2 && line.find(':') > line.find(' '))
            inside = first <= at && at < end;
        else if (inside && line.rfind("VmFlags:", 0) == 0)
            return line.find(" hg") != std::string::npos;
    }
    return std::nullopt;
}

// An array made right after the heap is laid lies on large pages from its
// second small page to its end, wherever the heap ended: the stretch below
// the first boundary, and the last span, were up to 512 small faults each.
// In a child process, which keeps the heap's settings to itself.
TEST(LayHeapOnLargePages, TheNextArrayLiesOnLargePagesToItsEnd)
{
    const int somewhere = 0;
    if (!asked_for_large_pages(&somewhere).has_value()) GTEST_SKIP() << "the system does not list its mappings' flags";
    const auto next_array = [] {
        keep_released_memory();
        constexpr std::size_t bytes = std::size_t{40} << 20;
        lay_heap_on_large_pages(static_cast<double>(bytes));
        auto* const array = static_cast<char*>(std::malloc(bytes));
        std::exit(asked_for_large_pages(array + 4096) == true && asked_for_large_pages(array + bytes - 1) == true ? 0 : 1);
    };
    EXPECT_EXIT(next_array(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace placatermo
