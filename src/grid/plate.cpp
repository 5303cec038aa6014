// The only file of the program that calls sin, sinh, cosh and tanh.
#include "grid/plate.hpp"

#include <cmath>

namespace placatermo {

namespace {

constexpr double pi_squared = 9.869604401089358;

}  // namespace

BoundaryKind boundary_kind_from_input(std::int32_t bc_kind)
{
    return bc_kind == 1 ? BoundaryKind::linear : BoundaryKind::sinusoidal;
}

std::string_view boundary_name(BoundaryKind kind) { return kind == BoundaryKind::linear ? "linear" : "senoidal"; }

double Plate::east_ghost_value(double y) const { return boundary == BoundaryKind::linear ? (y * 200.0) * lx : 0.0; }

double Plate::north_ghost_value(double x) const
{
    return boundary == BoundaryKind::linear ? (x * 200.0) * ly : std::sin((x * pi) / lx) * 2.0;
}

double Plate::east_temperature(double y) const { return boundary == BoundaryKind::linear ? (y * 100.0) * lx : 0.0; }

double Plate::north_temperature(double x) const
{
    return boundary == BoundaryKind::linear ? (x * 100.0) * ly : std::sin((x * pi) / lx);
}

double Plate::analytical_at_mid_height(double x) const
{
    if (boundary == BoundaryKind::linear) return ((x * 100.0) * ly) * 0.5;
    return (std::sin((x * pi) / lx) * std::sinh((ly * pi) / (lx * 2.0))) / std::sinh((ly * pi) / lx);
}

double Plate::analytical_at_mid_width(double y) const
{
    if (boundary == BoundaryKind::linear) return ((y * 100.0) * lx) * 0.5;
    return std::sinh((y * pi) / lx) / std::sinh((ly * pi) / lx);
}

double Plate::analytical_temperature(double x, double y) const
{
    if (boundary == BoundaryKind::linear) return (x * 100.0) * y;
    return std::sin((x * pi) / lx) * (std::sinh((y * pi) / lx) / std::sinh((ly * pi) / lx));
}

double Plate::analytical_mean_temperature() const
{
    if (boundary == BoundaryKind::linear) return (lx * 25.0) * ly;
    const double a = (ly * pi) / lx;
    const double c = (2.0 * lx) / (std::sinh(a) * (ly * pi_squared));
    return (std::cosh(a) - 1.0) * c;
}

double Plate::analytical_north_heat_rate() const
{
    if (boundary == BoundaryKind::linear) return -((lx * lx) * 50.0);
    return -(2.0 / std::tanh((ly * pi) / lx));
}

}  // namespace placatermo
