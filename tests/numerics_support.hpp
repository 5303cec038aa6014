// Systems for the numerical tests: the plate's five-point system on a small
// grid, random tables, and a dense direct solve to compare with.
#pragma once

#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "grid/grid.hpp"
#include "grid/linear_system.hpp"
#include "input/input.hpp"
#include "test_support.hpp"

namespace placatermo::testing {

// The five coefficients that every real volume of an nx x ny table has, bit
// for bit (-0.0 differs from 0.0), if they do and none is a NaN; none for
// tables without a real volume.
inline std::optional<Stencil> find_uniform_interior(std::int32_t nx_, std::int32_t ny_, std::span<const double> a)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    if (nx < 3 || ny < 3) return std::nullopt;
    const std::int64_t n = nx * ny;
    const std::int64_t first = volume_number(2, 2, nx) - 1;
    double value[5];
    for (int c = 0; c < 5; ++c) {
        value[c] = a[static_cast<std::size_t>(c * n + first)];
        if (std::isnan(value[c])) return std::nullopt;
        const auto bits = std::bit_cast<std::uint64_t>(value[c]);
        for (std::int64_t j = 2; j <= ny - 1; ++j)
            for (std::int64_t i = 2; i <= nx - 1; ++i)
                if (std::bit_cast<std::uint64_t>(a[static_cast<std::size_t>(c * n + volume_number(i, j, nx) - 1)]) !=
                    bits)
                    return std::nullopt;
    }
    return Stencil{value[0], value[1], value[2], value[3], value[4]};
}

// A table and right-hand side that tests may change entry by entry, handed
// to the kernels as a grid's system in either form.
struct System {
    InputParameters input;
    CurrentGrid grid;
    std::vector<double> a, b;
    std::size_t n() const { return static_cast<std::size_t>(grid.volume_count); }

    CoefficientTable table() const
    {
        CoefficientTable system(grid.nx, grid.ny);
        std::copy(a.begin(), a.end(), system.a.begin());
        std::copy(b.begin(), b.end(), system.b.begin());
        return system;
    }

    // The same system as a uniform stencil, when its real volumes share their
    // coefficients and the grid is a stencil's size. The real volumes'
    // entries of its table are NaN: a kernel that reads them gives itself
    // away.
    std::optional<UniformStencil> stencil() const
    {
        const std::optional<Stencil> interior = find_uniform_interior(grid.nx, grid.ny, a);
        if (!interior || grid.nx < 4 || grid.ny < 3) return std::nullopt;
        UniformStencil system(grid.nx, grid.ny, *interior);
        std::copy(a.begin(), a.end(), system.a.begin());
        std::copy(b.begin(), b.end(), system.b.begin());
        const std::int64_t nx = grid.nx;
        for (int c = 0; c < 5; ++c)
            for (std::int64_t j = 2; j <= grid.ny - 1; ++j)
                for (std::int64_t i = 2; i <= nx - 1; ++i)
                    system.a[static_cast<std::size_t>(c * grid.volume_count + volume_number(i, j, nx) - 1)] =
                        std::numeric_limits<double>::quiet_NaN();
        return system;
    }

    // The same stencil without a table, as the point iterations get it: the
    // ghost entries come from GhostCoefficients, not from `a`.
    std::optional<UniformStencil> stencil_without_table() const
    {
        const std::optional<Stencil> interior = find_uniform_interior(grid.nx, grid.ny, a);
        if (!interior || grid.nx < 4 || grid.ny < 3) return std::nullopt;
        UniformStencil system(grid.nx, grid.ny, *interior, TableKept::no);
        std::copy(b.begin(), b.end(), system.b.begin());
        return system;
    }

    // The same stencil without a table, saying its real volumes' b is +0.0,
    // when it is: those entries are set to NaN, so that a kernel that reads
    // them gives itself away.
    std::optional<UniformStencil> stencil_with_zero_rhs() const
    {
        std::optional<UniformStencil> system = stencil_without_table();
        if (!system) return std::nullopt;
        const std::int64_t nx = grid.nx;
        for (std::int64_t j = 2; j <= grid.ny - 1; ++j)
            for (std::int64_t i = 2; i <= nx - 1; ++i) {
                double& entry = system->b[static_cast<std::size_t>(volume_number(i, j, nx) - 1)];
                if (std::bit_cast<std::uint64_t>(entry) != 0) return std::nullopt;
                entry = std::numeric_limits<double>::quiet_NaN();
            }
        system->rhs_inside = RhsInside::zero;
        return system;
    }

    // The same, keeping b of the ghost volumes alone (RhsKept::ghosts).
    std::optional<UniformStencil> stencil_with_ghost_rhs() const
    {
        if (!stencil_with_zero_rhs()) return std::nullopt;
        UniformStencil system(grid.nx, grid.ny, *find_uniform_interior(grid.nx, grid.ny, a), TableKept::no, {},
                              RhsKept::ghosts);
        for (std::int64_t p = 1; p <= grid.volume_count; ++p) {
            const std::int64_t i = (p - 1) % grid.nx + 1, j = (p - 1) / grid.nx + 1;
            if (i == 1 || i == grid.nx || j == 1 || j == grid.ny)
                system.ghost_b[static_cast<std::size_t>(ghost_rhs_slot(p, grid.nx, grid.ny))] =
                    b[static_cast<std::size_t>(p - 1)];
        }
        system.rhs_inside = RhsInside::zero;
        return system;
    }

    // The stencil when there is one, else the table: the form the program
    // would give the kernels.
    LinearSystem linear() const
    {
        if (std::optional<UniformStencil> s = stencil()) return std::move(*s);
        return table();
    }
};

inline System plate_system(int nx, int ny, int bc_kind = 1, double lx = 1.0, double ly = 1.0)
{
    InputRecords r;
    r.nx = std::to_string(nx);
    r.ny = std::to_string(ny);
    r.bc_kind = std::to_string(bc_kind);
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", lx);
    r.lx = text;
    std::snprintf(text, sizeof text, "%.17g", ly);
    r.ly = text;
    System s;
    s.input = r.parse();
    enter_grid(s.grid, s.input.plate(), s.input.grids, 1);
    s.a.assign(5 * s.n(), 0.0);
    s.b.assign(s.n(), 0.0);
    build_coefficients(s.grid, s.input.plate(), s.a, s.b);
    return s;
}

// A diagonally dominant table with every coefficient non-zero, including
// those that cross row ends and those that point outside the grid.
inline void randomize(System& s, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> off(-1.0, 1.0);
    const std::size_t n = s.n();
    for (std::size_t k = 0; k < n; ++k) {
        for (int c : {0, 1, 3, 4}) s.a[c * n + k] = off(random);
        s.a[2 * n + k] = 5.0 + off(random);
        s.b[k] = 10.0 * off(random);
    }
}

// a t for every row, leaving out neighbours outside 1 ... n.
inline std::vector<double> apply(const System& s, std::span<const double> t)
{
    const auto n = static_cast<std::int64_t>(s.n());
    const std::int64_t nx = s.grid.nx;
    std::vector<double> y(s.n(), 0.0);
    for (std::int64_t k = 1; k <= n; ++k) {
        double sum = s.a[2 * n + k - 1] * t[k - 1];
        if (k - nx >= 1) sum += s.a[k - 1] * t[k - nx - 1];
        if (k - 1 >= 1) sum += s.a[n + k - 1] * t[k - 2];
        if (k + 1 <= n) sum += s.a[3 * n + k - 1] * t[k];
        if (k + nx <= n) sum += s.a[4 * n + k - 1] * t[k + nx - 1];
        y[k - 1] = sum;
    }
    return y;
}

// The solution of a t = b by Gaussian elimination with partial pivoting.
inline std::vector<double> direct_solve(const System& s)
{
    const auto n = s.n();
    const std::int64_t nx = s.grid.nx;
    std::vector<double> m(n * n, 0.0), x = s.b;
    const int offsets[5] = {static_cast<int>(-nx), -1, 0, 1, static_cast<int>(nx)};
    for (std::size_t k = 0; k < n; ++k)
        for (int c = 0; c < 5; ++c) {
            const auto col = static_cast<std::int64_t>(k) + offsets[c];
            if (col >= 0 && col < static_cast<std::int64_t>(n))
                m[k * n + static_cast<std::size_t>(col)] = s.a[c * n + k];
        }
    for (std::size_t p = 0; p < n; ++p) {
        std::size_t best = p;
        for (std::size_t r = p + 1; r < n; ++r)
            if (std::fabs(m[r * n + p]) > std::fabs(m[best * n + p])) best = r;
        for (std::size_t c = 0; c < n; ++c) std::swap(m[p * n + c], m[best * n + c]);
        std::swap(x[p], x[best]);
        for (std::size_t r = p + 1; r < n; ++r) {
            const double f = m[r * n + p] / m[p * n + p];
            for (std::size_t c = p; c < n; ++c) m[r * n + c] -= f * m[p * n + c];
            x[r] -= f * x[p];
        }
    }
    for (std::size_t p = n; p-- > 0;) {
        double sum = x[p];
        for (std::size_t c = p + 1; c < n; ++c) sum -= m[p * n + c] * x[c];
        x[p] = sum / m[p * n + p];
    }
    return x;
}

}  // namespace placatermo::testing
