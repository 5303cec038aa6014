#include "grid/linear_system.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace placatermo {

namespace {

// The coefficients of volume (2, 2) as the uniform interior, unless there is
// no real volume or one of them is a NaN.
UniformInterior first_real_volume(std::int32_t nx, std::int32_t ny, std::span<const double> a)
{
    UniformInterior u;
    if (nx < 3 || ny < 3) return u;
    const std::int64_t n = static_cast<std::int64_t>(nx) * ny;
    const std::int64_t first = volume_number(2, 2, nx) - 1;
    double value[5];
    for (int c = 0; c < 5; ++c) {
        value[c] = a[static_cast<std::size_t>(c * n + first)];
        if (std::isnan(value[c])) return u;
    }
    return {true, value[0], value[1], value[2], value[3], value[4]};
}

}  // namespace

LinearSystem::LinearSystem(std::int32_t nx_, std::int32_t ny_)
    : nx(nx_),
      ny(ny_),
      volume_count(nx_ * ny_),
      a("a", 5 * static_cast<std::size_t>(volume_count)),
      b("b", static_cast<std::size_t>(volume_count))
{
}

namespace {
SkippedCoefficients skipped_coefficients = SkippedCoefficients::left;
}  // namespace

void set_skipped_coefficients(SkippedCoefficients what) { skipped_coefficients = what; }

void LinearSystem::build(const CurrentGrid& grid, const Plate& plate, bool with_interior)
{
    // every real volume gets the same five values
    const std::array<double, 5> value = interior_coefficients(grid);
    const bool any_nan = std::any_of(value.begin(), value.end(), [](double v) { return std::isnan(v); });
    uniform = any_nan || nx < 3 || ny < 3 ? UniformInterior() : UniformInterior{true, value[0], value[1], value[2],
                                                                                  value[3], value[4]};
    if (with_interior || !uniform.uniform || skipped_coefficients == SkippedCoefficients::built) {
        build_coefficients(grid, plate, a, b);
        return;
    }
    build_boundary_coefficients(grid, plate, a, b);
    if (skipped_coefficients == SkippedCoefficients::poisoned) {
        const std::int64_t n = volume_count;
        for (int c = 0; c < 5; ++c)
            for (std::int64_t j = 2; j <= ny - 1; ++j) {
                double* row = a.data() + c * n + (volume_number(2, j, nx) - 1);
                std::fill(row, row + (nx - 2), std::numeric_limits<double>::quiet_NaN());
            }
    }
}

UniformInterior find_uniform_interior(std::int32_t nx_, std::int32_t ny_, std::span<const double> a)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    UniformInterior u = first_real_volume(nx_, ny_, a);
    if (!u.uniform) return u;
    const std::int64_t n = nx * ny;
    const double* column[5];
    for (int c = 0; c < 5; ++c) column[c] = a.data() + c * n;
    const double value[5] = {u.as, u.aw, u.ap, u.ae, u.an};
    u = UniformInterior();
    for (int c = 0; c < 5; ++c) {
        // compare bit patterns: -0.0 differs from 0.0
        const auto bits = std::bit_cast<std::uint64_t>(value[c]);
        for (std::int64_t j = 2; j <= ny - 1; ++j) {
            const double* row = column[c] + (volume_number(2, j, nx) - 1);
            std::uint64_t differ = 0;
            for (std::int64_t i = 0; i < nx - 2; ++i) differ |= std::bit_cast<std::uint64_t>(row[i]) ^ bits;
            if (differ != 0) return u;
        }
    }
    return {true, value[0], value[1], value[2], value[3], value[4]};
}

}  // namespace placatermo
