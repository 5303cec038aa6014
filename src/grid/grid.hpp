// The grids of the plate and the five-point coefficient system of one grid.
//
// Volume (i, j), i = 1 ... nx west to east and j = 1 ... ny south to north,
// ghost volumes included, has the number P = i + (j - 1) nx, from 1. Tables of
// several columns are stored column by column with volume_count as the
// leading dimension; the coefficient table `a` has the columns as, aw, ap, ae,
// an (south, west, the volume itself, east, north), with their signs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "grid/plate.hpp"

namespace placatermo {

// Number of volume (i, j) on a grid of nx columns, from 1.
constexpr std::int64_t volume_number(std::int64_t i, std::int64_t j, std::int64_t nx) { return i + (j - 1) * nx; }

// A read-only or writable view of an array indexed from 1, as the volumes are
// numbered.
template <typename T>
class From1 {
public:
    From1(std::span<T> values) : data_(values.data()) {}
    From1(T* data) : data_(data) {}
    T& operator()(std::int64_t k) const { return data_[k - 1]; }

private:
    T* data_;
};

// The five columns of a coefficient table of n rows.
template <typename T>
struct Coefficients {
    From1<T> as, aw, ap, ae, an;
    Coefficients(std::span<T> a, std::int64_t n)
        : as(a.data()), aw(a.data() + n), ap(a.data() + 2 * n), ae(a.data() + 3 * n), an(a.data() + 4 * n)
    {
    }
};

// The sizes of every grid, entry k - 1 for grid k (1 coarsest ... count()
// finest), ghost volumes included; each grid halves the volumes of the next
// coarser one.
struct GridHierarchy {
    std::vector<std::int32_t> nx, ny, volume_count;
    std::int32_t total_volume_count = 0;  // of all grids together

    int count() const { return static_cast<int>(nx.size()); }
    std::int32_t nx_of(int k) const { return nx[static_cast<std::size_t>(k - 1)]; }
    std::int32_t ny_of(int k) const { return ny[static_cast<std::size_t>(k - 1)]; }
    std::int32_t volume_count_of(int k) const { return volume_count[static_cast<std::size_t>(k - 1)]; }
};

// The grid being worked on.
struct CurrentGrid {
    std::int32_t nx = 0;
    std::int32_t ny = 0;
    std::int32_t volume_count = 0;
    double dx = 0.0;
    double dy = 0.0;
    std::int32_t center_index = 0;  // set on the finest grid only
};

// Where the value of column or row m (1 ... count) stands along a side of
// `length`: the boundary at both ends, the volume centre in between.
inline double node_position(std::int64_t m, std::int64_t count, double length, double spacing)
{
    if (m == 1) return 0.0;
    if (m == count) return length;
    return static_cast<double>(m - 2) * spacing + 0.5 * spacing;
}

// Makes grid k of the hierarchy the current grid: nx, ny, volume_count, dx and
// dy, and center_index when k is the finest grid.
void enter_grid(CurrentGrid& grid, const Plate& plate, const GridHierarchy& grids, int k);

// Fills a (5 volume_count) and b (volume_count) for the current grid: the
// ghost rows first, then the rows of the real volumes.
void build_coefficients(const CurrentGrid& grid, const Plate& plate, std::span<double> a, std::span<double> b);

// as, aw, ap, ae, an: what every real volume of the current grid gets.
std::array<double, 5> interior_coefficients(const CurrentGrid& grid);

// build_coefficients but for the real volumes' entries of a, which are not
// written: the ghost rows, and b of the real volumes (zero). With an empty
// `a`, b alone.
void build_boundary_coefficients(const CurrentGrid& grid, const Plate& plate, std::span<double> a, std::span<double> b);

// The coefficients (as, aw, ap, ae, an) of the ghost volumes, the same on
// every grid and plate: the west column (corners included) takes the east
// neighbour's value, the east column (corners included) the west one's, the
// south row the north one's and the north row the south one's.
namespace ghost {
inline constexpr std::array<double, 5> west{0.0, 0.0, 1.0, 1.0, 0.0};
inline constexpr std::array<double, 5> east{0.0, 1.0, 1.0, 0.0, 0.0};
inline constexpr std::array<double, 5> south{0.0, 0.0, 1.0, 0.0, 1.0};
inline constexpr std::array<double, 5> north{1.0, 0.0, 1.0, 0.0, 0.0};
}  // namespace ghost

// The table's columns on the ghost volumes only, computed from the volume
// number instead of read: what a kernel that keeps the real volumes'
// coefficients in registers reads of the table, without the table. Read on a
// real volume it gives a meaningless value.
class GhostCoefficients {
public:
    class Column {
    public:
        Column(std::int64_t nx, std::int64_t n, int m) : nx_(nx), n_(n), m_(m) {}
        double operator()(std::int64_t k) const { return side(k)[static_cast<std::size_t>(m_)]; }

    private:
        const std::array<double, 5>& side(std::int64_t k) const
        {
            if (k <= nx_) return k == 1 ? ghost::west : k == nx_ ? ghost::east : ghost::south;
            if (k > n_ - nx_) return k == n_ - nx_ + 1 ? ghost::west : k == n_ ? ghost::east : ghost::north;
            return (k - 1) % nx_ == 0 ? ghost::west : ghost::east;
        }
        std::int64_t nx_, n_;
        int m_;
    };
    GhostCoefficients(std::int64_t nx, std::int64_t n)
        : as(nx, n, 0), aw(nx, n, 1), ap(nx, n, 2), ae(nx, n, 3), an(nx, n, 4)
    {
    }
    Column as, aw, ap, ae, an;
};

// The coefficients of one side's ghost volumes, where a kernel knows the
// side: the same values as GhostCoefficients, without finding the side.
struct SideCoefficients {
    struct Column {
        double value;
        double operator()(std::int64_t) const { return value; }
    };
    explicit SideCoefficients(const std::array<double, 5>& side)
        : as{side[0]}, aw{side[1]}, ap{side[2]}, ae{side[3]}, an{side[4]}
    {
    }
    Column as, aw, ap, ae, an;
};

// The ghost rows: west column, east column, south row, north row.
void set_ghost_rows(const CurrentGrid& grid, const Plate& plate, std::span<double> a, std::span<double> b);

// b of the ghost volumes alone, for a grid whose real volumes' b is +0.0:
// rows 1 and ny whole, then the first and the last entry of each row
// between, ghost_rhs_count() values; entry ghost_rhs_slot(p) (from 0) for
// ghost volume p (from 1).
inline std::int64_t ghost_rhs_count(std::int64_t nx, std::int64_t ny) { return 2 * nx + 2 * (ny - 2); }
// The slot of row j's first entry.
inline std::int64_t ghost_rhs_row_start(std::int64_t j, std::int64_t nx, std::int64_t ny)
{
    if (j == 1) return 0;
    if (j == ny) return nx;
    return 2 * nx + 2 * (j - 2);
}
inline std::int64_t ghost_rhs_slot(std::int64_t p, std::int64_t nx, std::int64_t ny)
{
    const std::int64_t j = (p - 1) / nx + 1;
    const std::int64_t i = p - (j - 1) * nx;
    const std::int64_t start = ghost_rhs_row_start(j, nx, ny);
    if (j == 1 || j == ny) return start + i - 1;
    return start + (i == 1 ? 0 : 1);
}
// The ghost rows as build_boundary_coefficients() sets them, b's in that
// layout.
void build_ghost_rhs(const CurrentGrid& grid, const Plate& plate, std::span<double> a, std::span<double> ghost_b);

}  // namespace placatermo
