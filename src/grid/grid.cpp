#include "grid/grid.hpp"

#include <cmath>

#include "run/input.hpp"

namespace placatermo {

void enter_grid(CurrentGrid& grid, const InputParameters& input, int k, bool set_center)
{
    grid.nx = input.nx_of(k);
    grid.ny = input.ny_of(k);
    grid.volume_count = grid.nx * grid.ny;
    if (set_center) grid.center_index = (grid.ny / 2) * grid.nx + grid.nx / 2 + 1;
    grid.dx = input.lx / static_cast<double>(grid.nx - 2);
    grid.dy = input.ly / static_cast<double>(grid.ny - 2);
}

namespace {

void set_row(Coefficients<double>& c, From1<double>& b, std::int64_t p, double as, double aw, double ap,
             double ae, double an, double rhs)
{
    c.as(p) = as;
    c.aw(p) = aw;
    c.ap(p) = ap;
    c.ae(p) = ae;
    c.an(p) = an;
    b(p) = rhs;
}

}  // namespace

void set_ghost_rows(const CurrentGrid& grid, const InputParameters& input, std::span<double> a,
                    std::span<double> b_values)
{
    const std::int64_t nx = grid.nx;
    const std::int64_t ny = grid.ny;
    Coefficients<double> c(a, grid.volume_count);
    From1<double> b(b_values);
    const bool linear = input.bc_kind == 1;

    for (std::int64_t j = 1; j <= ny; ++j)  // west
        set_row(c, b, volume_number(1, j, nx), 0.0, 0.0, 1.0, 1.0, 0.0, 0.0);

    double j_minus_2 = -1.0;  // east, y from -dy/2 to ly + dy/2
    for (std::int64_t j = 1; j <= ny; ++j) {
        const double y = j_minus_2 * grid.dy + 0.5 * grid.dy;
        const double rhs = linear ? (y * 200.0) * input.lx : 0.0;
        set_row(c, b, volume_number(nx, j, nx), 0.0, 1.0, 1.0, 0.0, 0.0, rhs);
        j_minus_2 += 1.0;
    }

    for (std::int64_t i = 2; i <= nx - 1; ++i)  // south
        set_row(c, b, volume_number(i, 1, nx), 0.0, 0.0, 1.0, 0.0, 1.0, 0.0);

    double i_minus_2 = 0.0;  // north, x from dx/2 to lx - dx/2
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        const double x = i_minus_2 * grid.dx + 0.5 * grid.dx;
        const double rhs = linear ? (x * 200.0) * input.ly : std::sin((x * pi) / input.lx) * 2.0;
        set_row(c, b, volume_number(i, ny, nx), 1.0, 0.0, 1.0, 0.0, 0.0, rhs);
        i_minus_2 += 1.0;
    }
}

void build_coefficients(const CurrentGrid& grid, const InputParameters& input, std::span<double> a,
                        std::span<double> b_values)
{
    set_ghost_rows(grid, input, a, b_values);
    const std::int64_t nx = grid.nx;
    const std::int64_t ny = grid.ny;
    Coefficients<double> c(a, grid.volume_count);
    From1<double> b(b_values);
    const double dx = grid.dx;
    const double dy = grid.dy;
    const double ap = (dy * 2.0) / dx + (dx * 2.0) / dy;
    const double aew = -(dy / dx);
    const double asn = -(dx / dy);
    for (std::int64_t i = 2; i <= nx - 1; ++i)
        for (std::int64_t j = 2; j <= ny - 1; ++j)
            set_row(c, b, volume_number(i, j, nx), asn, aew, ap, aew, asn, 0.0);
}

void compute_residual_norm(std::int32_t nx_, std::int32_t ny_, std::int32_t volume_count,
                           std::span<const double> a, std::span<const double> b_values,
                           std::span<const double> t_values, double& norm)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    const Coefficients<const double> c(a, volume_count);
    const From1<const double> b(b_values);
    const From1<const double> t(t_values);
    norm = 0.0;
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            const std::int64_t p = volume_number(i, j, nx);
            const double r = c.as(p) * t(p - nx) + c.ap(p) * t(p) + c.aw(p) * t(p - 1) +
                             c.ae(p) * t(p + 1) + c.an(p) * t(p + nx) - b(p);
            norm = norm + std::fabs(r);
        }
    }
}

}  // namespace placatermo
