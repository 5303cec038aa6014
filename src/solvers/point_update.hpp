// The update of one unknown in the point iterations, shared by the plain
// sweep and the fast kernels: (b - s) / ap, with s the neighbour terms
// present (south, west, east, north) added left to right.
#pragma once

#include <cstdint>

#include "grid/grid.hpp"

namespace placatermo::detail {

// C is a Coefficients table or, on ghost volumes, GhostCoefficients.
template <bool S, bool W, bool E, bool N, typename C>
inline double point_value(const C& c, From1<const double> b, From1<const double> v, std::int64_t k, std::int64_t nx)
{
    double s;
    if constexpr (S) {
        s = c.as(k) * v(k - nx);
        if constexpr (W) s = s + c.aw(k) * v(k - 1);
        if constexpr (E) s = s + c.ae(k) * v(k + 1);
        if constexpr (N) s = s + c.an(k) * v(k + nx);
    } else if constexpr (W) {
        s = c.aw(k) * v(k - 1);
        if constexpr (E) s = s + c.ae(k) * v(k + 1);
        if constexpr (N) s = s + c.an(k) * v(k + nx);
    } else {
        s = c.ae(k) * v(k + 1);
        if constexpr (N) s = s + c.an(k) * v(k + nx);
    }
    return (b(k) - s) / c.ap(k);
}

}  // namespace placatermo::detail
