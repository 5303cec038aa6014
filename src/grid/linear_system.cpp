#include "grid/linear_system.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace placatermo {

SystemArrays::SystemArrays(std::int32_t nx_, std::int32_t ny_, TableKept table, const Execution& execution,
                           RhsKept rhs)
    : nx(nx_),
      ny(ny_),
      volume_count(nx_ * ny_),
      a(table == TableKept::yes ? UninitializedArray(execution, "a", 5 * static_cast<std::size_t>(volume_count))
                                : UninitializedArray()),
      b(rhs == RhsKept::whole ? UninitializedArray(execution, "b", static_cast<std::size_t>(volume_count))
                              : UninitializedArray()),
      ghost_b(rhs == RhsKept::ghosts ? UninitializedArray(execution, "b", static_cast<std::size_t>(
                                                                                  ghost_rhs_count(nx_, ny_)))
                                     : UninitializedArray())
{
}

UniformStencil::UniformStencil(std::int32_t nx_, std::int32_t ny_, const Stencil& interior_, TableKept table,
                               const Execution& execution, RhsKept rhs)
    : SystemArrays(nx_, ny_, table, execution, rhs), interior(interior_)
{
}

std::optional<Stencil> shared_interior(const CurrentGrid& grid, const Execution& execution)
{
    if (!stencil_fits(grid.nx, grid.ny, execution)) return std::nullopt;
    const std::array<double, 5> value = interior_coefficients(grid);
    if (std::any_of(value.begin(), value.end(), [](double v) { return std::isnan(v); })) return std::nullopt;
    return Stencil{value[0], value[1], value[2], value[3], value[4]};
}

LinearSystem build_system(const CurrentGrid& grid, const Plate& plate, TableKept table, const Execution& execution,
                          RhsKept rhs)
{
    if (const std::optional<Stencil> interior = shared_interior(grid, execution)) {
        UniformStencil system(grid.nx, grid.ny, *interior, table, execution, rhs);
        if (rhs == RhsKept::ghosts)
            build_ghost_rhs(grid, plate, system.a, system.ghost_b);
        else
            build_boundary_coefficients(grid, plate, system.a, system.b);
        system.rhs_inside = RhsInside::zero;  // the real volumes' b, set to +0.0 above or not kept
        return system;
    }
    return build_table(grid, plate, execution);
}

CoefficientTable build_table(const CurrentGrid& grid, const Plate& plate, const Execution& execution)
{
    CoefficientTable table(grid.nx, grid.ny, TableKept::yes, execution);
    build_coefficients(grid, plate, table.a, table.b);
    return table;
}

LinearSystem with_shared_interior(CoefficientTable&& table, const CurrentGrid& grid, const Execution& execution)
{
    const std::optional<Stencil> interior = shared_interior(grid, execution);
    if (!interior) return std::move(table);
    UniformStencil system(0, 0, *interior);
    static_cast<SystemArrays&>(system) = std::move(table);
    return system;
}

double compute_residual_norm(const LinearSystem& system, std::span<const double> t, const Execution& execution)
{
    return std::visit([&](const auto& s) { return compute_residual_norm(s, t, execution); }, system);
}

bool unit_neighbours(const Stencil& c)
{
    return c.as == -1.0 && c.aw == -1.0 && c.ae == -1.0 && c.an == -1.0;
}

}  // namespace placatermo
