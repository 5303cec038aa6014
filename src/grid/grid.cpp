#include "grid/grid.hpp"

#include <algorithm>

namespace placatermo {

void enter_grid(CurrentGrid& grid, const Plate& plate, const GridHierarchy& grids, int k)
{
    grid.nx = grids.nx_of(k);
    grid.ny = grids.ny_of(k);
    grid.volume_count = grid.nx * grid.ny;
    if (k == grids.count()) grid.center_index = (grid.ny / 2) * grid.nx + grid.nx / 2 + 1;
    grid.dx = plate.lx / static_cast<double>(grid.nx - 2);
    grid.dy = plate.ly / static_cast<double>(grid.ny - 2);
}

namespace {

// The ghost rows of b (b(p) its entry for volume p), and of the table when
// `a` is not empty.
template <typename B>
void set_ghost_entries(const CurrentGrid& grid, const Plate& plate, std::span<double> a, B b)
{
    const std::int64_t nx = grid.nx;
    const std::int64_t ny = grid.ny;
    const bool table = !a.empty();
    double* column[5] = {};
    if (table)
        for (int m = 0; m < 5; ++m) column[m] = a.data() + m * std::int64_t{grid.volume_count};
    const auto set_row = [&](std::int64_t p, const std::array<double, 5>& side, double rhs) {
        if (table)
            for (int m = 0; m < 5; ++m) column[m][p - 1] = side[static_cast<std::size_t>(m)];
        b(p) = rhs;
    };

    for (std::int64_t j = 1; j <= ny; ++j)  // west
        set_row(volume_number(1, j, nx), ghost::west, 0.0);

    double j_minus_2 = -1.0;  // east, y from -dy/2 to ly + dy/2
    for (std::int64_t j = 1; j <= ny; ++j) {
        const double y = j_minus_2 * grid.dy + 0.5 * grid.dy;
        set_row(volume_number(nx, j, nx), ghost::east, plate.east_ghost_value(y));
        j_minus_2 += 1.0;
    }

    for (std::int64_t i = 2; i <= nx - 1; ++i)  // south
        set_row(volume_number(i, 1, nx), ghost::south, 0.0);

    double i_minus_2 = 0.0;  // north, x from dx/2 to lx - dx/2
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        const double x = i_minus_2 * grid.dx + 0.5 * grid.dx;
        set_row(volume_number(i, ny, nx), ghost::north, plate.north_ghost_value(x));
        i_minus_2 += 1.0;
    }
}

}  // namespace

void set_ghost_rows(const CurrentGrid& grid, const Plate& plate, std::span<double> a, std::span<double> b)
{
    set_ghost_entries(grid, plate, a, From1<double>(b));
}

void build_ghost_rhs(const CurrentGrid& grid, const Plate& plate, std::span<double> a, std::span<double> ghost_b)
{
    set_ghost_entries(grid, plate, a, [&](std::int64_t p) -> double& {
        return ghost_b[static_cast<std::size_t>(ghost_rhs_slot(p, grid.nx, grid.ny))];
    });
}

std::array<double, 5> interior_coefficients(const CurrentGrid& grid)
{
    const double dx = grid.dx;
    const double dy = grid.dy;
    const double ap = (dy * 2.0) / dx + (dx * 2.0) / dy;
    const double aew = -(dy / dx);
    const double asn = -(dx / dy);
    return {asn, aew, ap, aew, asn};
}

namespace {

// The ghost rows, then the first `columns` columns of the table (as, aw, ap,
// ae, an, then b) on the rows of the real volumes; an empty `a` is no table.
void build_columns(const CurrentGrid& grid, const Plate& plate, std::span<double> a, std::span<double> b,
                   int first_column)
{
    set_ghost_entries(grid, plate, a, From1<double>(b));
    const std::int64_t nx = grid.nx;
    const std::int64_t ny = grid.ny;
    const std::array<double, 5> interior = interior_coefficients(grid);
    // every row on its own, each column of the table a run of equal values
    const double value[6] = {interior[0], interior[1], interior[2], interior[3], interior[4], 0.0};
    double* column[6] = {};
    if (!a.empty())
        for (int m = 0; m < 5; ++m) column[m] = a.data() + m * std::int64_t{grid.volume_count};
    column[5] = b.data();
    if (a.empty()) first_column = 5;
    for (std::int64_t j = 2; j <= ny - 1; ++j) {
        const std::int64_t first = volume_number(2, j, nx) - 1;
        for (int m = first_column; m < 6; ++m) std::fill(column[m] + first, column[m] + first + (nx - 2), value[m]);
    }
}

}  // namespace

void build_coefficients(const CurrentGrid& grid, const Plate& plate, std::span<double> a, std::span<double> b)
{
    build_columns(grid, plate, a, b, 0);
}

void build_boundary_coefficients(const CurrentGrid& grid, const Plate& plate, std::span<double> a, std::span<double> b)
{
    build_columns(grid, plate, a, b, 5);
}

}  // namespace placatermo
