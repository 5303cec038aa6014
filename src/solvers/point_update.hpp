// The update of one unknown in the point iterations, shared by the plain
// sweep and the fast kernels: (b - s) / ap, with s the neighbour terms
// present (south, west, east, north) added left to right.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

#include "grid/grid.hpp"
#include "grid/linear_system.hpp"

namespace placatermo::detail {

// C is a Coefficients table or, on ghost volumes, GhostCoefficients; B gives
// b's entry k (From1, or GhostRowRhs on ghost volumes).
template <bool S, bool W, bool E, bool N, typename C, typename B = From1<const double>>
inline double point_value(const C& c, const B& b, From1<const double> v, std::int64_t k, std::int64_t nx)
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

// What a kernel reads for the ghost volumes of one side: the table, or for
// a system without one the side's constant coefficients.
template <typename C>
const C& on_side(const C& c, const std::array<double, 5>&)
{
    return c;
}
inline SideCoefficients on_side(const GhostCoefficients&, const std::array<double, 5>& side)
{
    return SideCoefficients(side);
}

// A real volume, all four neighbours from v: the table's coefficients, or the
// uniform ones held in registers (u, an InteriorPoint).
template <bool Uniform, typename P, typename C>
inline double interior_value(const P& u, const C& c, const double* b, const double* v, std::int64_t q, std::int64_t nx)
{
    const std::int64_t k = q + 1;
    if constexpr (Uniform)
        return u.value(u.rhs(b, q), v[q - nx], v[q - 1], v[q + 1], v[q + nx]);
    else
        return (b[q] - (((c.as(k) * v[q - nx] + c.aw(k) * v[q - 1]) + c.ae(k) * v[q + 1]) + c.an(k) * v[q + nx])) /
               c.ap(k);
}

// The last operation of an update, (b - s) / ap, on the real volumes of a
// uniform stencil. Where ap is a power of two its reciprocal is exact, and
// x * (1 / ap) is then the same correctly rounded value of the same real
// number as x / ap, for every x (zeros, subnormals, infinities and NaN
// included): the kernels multiply, which the processor does several times
// faster than it divides.
struct DivideByAp {
    double ap;
    double operator()(double x) const { return x / ap; }
};
struct TimesReciprocal {
    double reciprocal;
    double operator()(double x) const { return x * reciprocal; }
};

// 1 / ap when ap is a power of two (of either sign) whose reciprocal is a
// finite double; none for any other value.
inline std::optional<double> exact_reciprocal(double ap)
{
    if (!std::isfinite(ap) || ap == 0.0) return std::nullopt;
    int exponent = 0;
    if (std::fabs(std::frexp(ap, &exponent)) != 0.5) return std::nullopt;
    const double reciprocal = 1.0 / ap;  // exact, unless it overflows
    if (!std::isfinite(reciprocal)) return std::nullopt;
    return reciprocal;
}

// The real volumes' coefficients as the fast kernels use them, and how they
// find b there. Unit: the four neighbours' coefficients are -1, as on square
// cells, and the neighbours after the first are subtracted instead of
// multiplied by -1 and added. x + (-1) * y is x - y for every y: the product
// is -y exactly, and a NaN y comes out of both as y made quiet, its sign
// kept. The same bits, three multiplications fewer.
template <typename Over, RhsInside R = RhsInside::stored, bool Unit = false>
struct InteriorPoint {
    static constexpr RhsInside rhs_inside = R;
    static constexpr bool unit = Unit;
    double as, aw, ae, an;
    Over over;
    static double rhs(const double* b, std::int64_t q) { return rhs_at<R>(b, q); }
    double value(double b, double south, double west, double east, double north) const
    {
        if constexpr (Unit)
            return over(b - (((as * south - west) - east) - north));
        else
            return over(b - (((as * south + aw * west) + ae * east) + an * north));
    }
};

// What the kernels on a table get for the uniform coefficients they do not
// read.
inline constexpr InteriorPoint<DivideByAp> table_only{};

// Calls f with the kernels' form of a stencil's real volumes: multiplying
// where that gives the division's bits, else dividing.
template <typename F>
void with_interior_point(const UniformStencil& system, F&& f)
{
    const Stencil& u = system.interior;
    with_rhs_inside(system.rhs_inside, [&](auto rhs) {
        constexpr RhsInside R = decltype(rhs)::value;
        if (const std::optional<double> reciprocal = exact_reciprocal(u.ap); reciprocal && unit_neighbours(u))
            f(InteriorPoint<TimesReciprocal, R, true>{u.as, u.aw, u.ae, u.an, {*reciprocal}});
        else if (reciprocal)
            f(InteriorPoint<TimesReciprocal, R>{u.as, u.aw, u.ae, u.an, {*reciprocal}});
        else
            f(InteriorPoint<DivideByAp, R>{u.as, u.aw, u.ae, u.an, {u.ap}});
    });
}

}  // namespace placatermo::detail
