// Coefficients, ghost rows, the residual norm and the arrays' heap.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "grid/arrays.hpp"
#include "numerics_support.hpp"

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

// Laying the heap on huge pages is a request to the system that may be
// refused: whatever the size asked, the memory after it is the program's as
// before, and a later array is created, filled and read back whole.
TEST(LayHeapOnHugePages, AnySizeLeavesTheHeapUsable)
{
    for (const double bytes : {-1.0, 0.0, 1.0, 15.9 * 1024 * 1024, 64.0 * 1024 * 1024, 1e30,
                               std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        lay_heap_on_huge_pages(bytes);
        std::vector<double> values(3 * 1024 * 1024 + 7);
        for (std::size_t k = 0; k < values.size(); ++k) values[k] = static_cast<double>(k);
        double sum = 0.0;
        for (const double v : values) sum += v;
        const double n = static_cast<double>(values.size());
        EXPECT_EQ(sum, n * (n - 1) / 2) << bytes;
    }
}

}  // namespace
}  // namespace placatermo
