// The plate problem: a rectangle lx by ly, 0 on the west and south sides, and
// on the east and north sides either the linear temperature 100 x y or, on the
// north side alone, sin(pi x / lx). Its boundary temperatures and its
// analytical solution live here, for the coefficient builder and the result
// operations alike.
//
// Each function keeps the order of double operations of its one use: the
// uses differ on purpose (a ghost row carries twice the boundary value, a
// listed boundary value the value itself), and the bytes of the files show it.
#pragma once

#include <cstdint>
#include <string_view>

namespace placatermo {

inline constexpr double pi = 3.141592653589793;

// The boundary condition of the input: 1 linear, any other number sinusoidal.
enum class BoundaryKind { linear, sinusoidal };

BoundaryKind boundary_kind_from_input(std::int32_t bc_kind);
std::string_view boundary_name(BoundaryKind kind);  // "linear", "senoidal"

struct Plate {
    double lx = 0.0;
    double ly = 0.0;
    BoundaryKind boundary = BoundaryKind::linear;

    // Right-hand sides of the ghost rows (twice the boundary temperature): the
    // east side at height y and the north side at x.
    double east_ghost_value(double y) const;
    double north_ghost_value(double x) const;

    // The boundary temperatures: east side at height y, north side at x.
    double east_temperature(double y) const;
    double north_temperature(double x) const;

    // The analytical temperature along y = ly/2 at x, and along x = lx/2 at y.
    double analytical_at_mid_height(double x) const;
    double analytical_at_mid_width(double y) const;

    // The analytical temperature at (x, y).
    double analytical_temperature(double x, double y) const;

    // The analytical mean temperature and heat transfer rate through the
    // north side.
    double analytical_mean_temperature() const;
    double analytical_north_heat_rate() const;
};

}  // namespace placatermo
