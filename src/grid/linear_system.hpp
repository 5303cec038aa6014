// The five-point system a t = b of one grid, in the two forms that the
// kernels read, and its L1 residual norm.
//
// A plate grid's real volumes all get the same five coefficients. When the
// fast kernels can keep them in registers, a grid's system is a
// UniformStencil: those five values, and the table's entries of the ghost
// volumes only. Any other system is a CoefficientTable, read entry by entry.
// Each kernel takes the form it reads; a grid's form is chosen once, when its
// system is built (build_system).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
#include <variant>

#include "base/execution.hpp"
#include "grid/arrays.hpp"
#include "grid/grid.hpp"

namespace placatermo {

// The five coefficients of a real volume, in the table's column order.
struct Stencil {
    double as = 0.0, aw = 0.0, ap = 0.0, ae = 0.0, an = 0.0;
};

// Whether a system holds the table `a`. A UniformStencil needs it only for the
// kernels that read its ghost entries from it (ADI, MSI); the point iterations
// compute them (GhostCoefficients).
enum class TableKept { yes, no };

// Whether a system holds b for every volume, or for its ghost volumes alone
// (a UniformStencil whose real volumes' b is +0.0 for its whole life: the
// finest grid of the textbook cycles, whose kernels then read no other entry).
enum class RhsKept { whole, ghosts };

// What both forms hold: the sizes, the table `a` (5 volume_count values,
// column by column, or none) and the right-hand side `b`, created but not set;
// or, b kept for the ghost volumes alone, `b` empty and `ghost_b` in the
// layout of ghost_rhs_slot().
struct SystemArrays {
    SystemArrays(std::int32_t nx, std::int32_t ny, TableKept table = TableKept::yes, const Execution& execution = {},
                 RhsKept rhs = RhsKept::whole);
    std::int32_t nx, ny, volume_count;
    UninitializedArray a, b, ghost_b;
};

// b of the ghost volumes of row j, by entry k (from 1): every entry of rows
// 1 and ny, the first and the last of any other row. From b, or from
// ghost_b where the system keeps no more.
class GhostRowRhs {
public:
    GhostRowRhs(const SystemArrays& s, std::int64_t j)
    {
        if (s.ghost_b.size() == 0) {
            base_ = s.b.data();
            return;
        }
        base_ = s.ghost_b.data() + ghost_rhs_row_start(j, s.nx, s.ny);
        first_ = (j - 1) * s.nx + 1;
        ends_only_ = j != 1 && j != s.ny;
    }
    double operator()(std::int64_t k) const
    {
        if (ends_only_) return base_[k == first_ ? 0 : 1];
        return base_[k - first_];
    }

private:
    const double* base_ = nullptr;
    std::int64_t first_ = 1;  // the entry at base_[0]
    bool ends_only_ = false;
};

// Every entry of `a` is set and may be read.
struct CoefficientTable : SystemArrays {
    using SystemArrays::SystemArrays;
};

// What the real volumes' entries of b hold: whatever was stored, or +0.0
// each, as in the plate's own system (no heat source), which the kernels
// may then take without reading b.
enum class RhsInside { stored, zero };

// Every real volume has the coefficients `interior`; `a` is empty, or only its
// ghost volumes' entries are set (the kernels that take this form read no
// other). `rhs_inside` must say zero only while b's real volumes hold +0.0:
// whoever writes them says stored first.
// The grid has at least two real columns and one real row (nx >= 4, ny >= 3),
// which every fast kernel needs.
struct UniformStencil : SystemArrays {
    UniformStencil(std::int32_t nx, std::int32_t ny, const Stencil& interior, TableKept table = TableKept::yes,
                   const Execution& execution = {}, RhsKept rhs = RhsKept::whole);
    Stencil interior;
    RhsInside rhs_inside = RhsInside::stored;
};

// b's entry q (from 0) of a real volume, read or known.
template <RhsInside R>
inline double rhs_at(const double* b, std::int64_t q)
{
    if constexpr (R == RhsInside::zero)
        return 0.0;
    else
        return b[q];
}

// Calls f with std::integral_constant<RhsInside, r>, so that a kernel is
// made for each value.
template <typename F>
decltype(auto) with_rhs_inside(RhsInside r, F&& f)
{
    if (r == RhsInside::zero) return f(std::integral_constant<RhsInside, RhsInside::zero>{});
    return f(std::integral_constant<RhsInside, RhsInside::stored>{});
}

// One grid's system in the form its kernels read.
using LinearSystem = std::variant<UniformStencil, CoefficientTable>;

// Whether a grid of nx x ny volumes is large enough for a UniformStencil with
// these kernels (the plain loops read tables only).
inline bool stencil_fits(std::int32_t nx, std::int32_t ny, const Execution& execution = {})
{
    return !execution.plain() && nx >= 4 && ny >= 3;
}

// The stencil of the current grid's real volumes when its system can be a
// UniformStencil: not for the plain loops (which read tables), not on grids
// below a stencil's size, not when a coefficient is a NaN.
std::optional<Stencil> shared_interior(const CurrentGrid& grid, const Execution& execution = {});

// The plate's system for the current grid: a stencil with the ghost rows of
// b (and of `a` when the table is kept) when shared_interior() gives one,
// else the whole table.
// RhsKept::ghosts keeps b of the ghost volumes alone when the system is a
// stencil (its b is then never written again).
LinearSystem build_system(const CurrentGrid& grid, const Plate& plate, TableKept table = TableKept::yes,
                          const Execution& execution = {}, RhsKept rhs = RhsKept::whole);
// The whole table of the current grid, for what reads every entry (the MSI
// factorisation) ...
CoefficientTable build_table(const CurrentGrid& grid, const Plate& plate, const Execution& execution = {});
// ... and afterwards the form the kernels read: the same arrays as a stencil
// when shared_interior() gives one, else the table.
LinearSystem with_shared_interior(CoefficientTable&& table, const CurrentGrid& grid, const Execution& execution = {});

// The sizes and arrays of either form.
inline const SystemArrays& arrays_of(const LinearSystem& system)
{
    return std::visit([](const auto& s) -> const SystemArrays& { return s; }, system);
}
inline SystemArrays& arrays_of(LinearSystem& system)
{
    return std::visit([](auto& s) -> SystemArrays& { return s; }, system);
}

// L1 norm of the residual a t - b over the real volumes, summed column by
// column.
double compute_residual_norm(const CoefficientTable& system, std::span<const double> t,
                             const Execution& execution = {});
double compute_residual_norm(const UniformStencil& system, std::span<const double> t, const Execution& execution = {});
double compute_residual_norm(const LinearSystem& system, std::span<const double> t, const Execution& execution = {});
// The plain loop of compute_residual_norm, kept as its definition.
double compute_residual_norm_plain(const CoefficientTable& system, std::span<const double> t);

// b - a u of the real volume at entry q (from 0) of a grid nx entries wide,
// the products as, ap, aw, ae, an summed in this order: the residual as every
// pass that stores or restricts it computes it. With the stencil's values ...
// (Unit: aw, ae and an are -1, and their terms are subtracted instead, the
// same bits: x + (-1) * y is x - y for every y, a NaN y included.)
template <RhsInside R = RhsInside::stored, bool Unit = false>
inline double volume_residual(const Stencil& c, const double* b, const double* u, std::int64_t q, std::int64_t nx)
{
    // the neighbours from a pointer to the volume, not as indices from u:
    // where the addressing is not folded into the loads (WebAssembly) the
    // index sums cost more than the residual
    const double* at = u + q;
    if constexpr (Unit)
        return rhs_at<R>(b, q) - ((((c.as * at[-nx] + c.ap * at[0]) - at[-1]) - at[1]) - at[nx]);
    else
        return rhs_at<R>(b, q) - ((((c.as * at[-nx] + c.ap * at[0]) + c.aw * at[-1]) + c.ae * at[1]) + c.an * at[nx]);
}
// Whether the stencil's neighbour coefficients are all -1 (square cells).
// Not inline: a compiler that saw the test would take as for the constant -1
// where it holds, and multiplying by it for a change of sign, which gives
// the opposite sign to a NaN.
bool unit_neighbours(const Stencil& c);
// ... or with a table `a` of n volumes.
inline double volume_residual(const double* a, std::int64_t n, const double* b, const double* u, std::int64_t q,
                              std::int64_t nx)
{
    return b[q] - ((((a[q] * u[q - nx] + a[2 * n + q] * u[q]) + a[n + q] * u[q - 1]) + a[3 * n + q] * u[q + 1]) +
                   a[4 * n + q] * u[q + nx]);
}

// The residual b - a t of one real volume p, for what looks at single
// volumes (the frames of --animacao).
double residual_at(const LinearSystem& system, std::span<const double> t, std::int64_t p);

}  // namespace placatermo
