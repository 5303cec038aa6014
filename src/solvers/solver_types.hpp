// Each solver as a type of its own: the form of the system its kernels read,
// what it keeps between its calls on one grid, its memory per volume, and its
// call. with_solver_type is the one place that goes from the input's kind to
// the type.
#pragma once

#include <cstdint>
#include <span>
#include <type_traits>

#include "base/execution.hpp"
#include "grid/arrays.hpp"
#include "grid/linear_system.hpp"
#include "solvers/solver_kind.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

// The order of a Gauss-Seidel sweep: the point sweep's, or red-black (the
// textbook multigrid cycle's).
enum class SweepOrder { natural, red_black };

// The solver's parameters from the input.
struct SolverSettings {
    SolverKind kind = SolverKind::none;
    std::int32_t max_inner_iterations = 0;
    double msi_tolerance = 0.0;
    double sor_relaxation = 0.0;
    SweepOrder gauss_seidel_order = SweepOrder::natural;  // chosen by the cycle, not the input
};

// Each type has:
// - table: whether a UniformStencil for it holds the table's ghost entries
//   (ADI and MSI read them there, the point iterations compute them);
// - kept_doubles_per_volume: what it keeps between its calls, per volume of
//   the grid; work_doubles_per_volume: the most that one call creates and
//   releases (its work arrays, fast or plain loop);
// - make_system(): the current grid's system in the form its kernels read,
//   with the solver ready for it;
// - smooth(): one call on that system, with u as the unknown;
// - from_old_values: whether each sweep updates every volume from the values
//   before it (Jacobi), the ghost volumes included, so that they stay a
//   sweep behind the real ones.

// No solver: the iteration changes nothing.
class NoSolver {
public:
    static constexpr TableKept table = TableKept::yes;
    static constexpr bool from_old_values = false;
    static constexpr int kept_doubles_per_volume = 0;
    static constexpr int work_doubles_per_volume = 0;
    NoSolver(const SolverSettings&, const Execution& execution) : execution_(execution) {}
    LinearSystem make_system(const CurrentGrid& grid, const Plate& plate)
    {
        return build_system(grid, plate, table, execution_);
    }
    template <typename Form>
    void smooth(const Form&, std::span<double>)
    {
    }

private:
    Execution execution_;
};

// Jacobi: the copy of the field before a sweep kept from call to call.
class JacobiSolver {
public:
    static constexpr TableKept table = TableKept::no;
    static constexpr bool from_old_values = true;
    static constexpr int kept_doubles_per_volume = 1;  // t_old
    static constexpr int work_doubles_per_volume = 0;
    JacobiSolver(const SolverSettings& settings, const Execution& execution)
        : iterations_(settings.max_inner_iterations), execution_(execution)
    {
    }
    LinearSystem make_system(const CurrentGrid& grid, const Plate& plate)
    {
        t_old_ = UninitializedArray(execution_, "t_old", static_cast<std::size_t>(grid.volume_count));
        return build_system(grid, plate, table, execution_);
    }
    template <typename Form>
    void smooth(const Form& form, std::span<double> u)
    {
        solve_jacobi(form, iterations_, u, t_old_, execution_);
    }

private:
    std::int32_t iterations_;
    Execution execution_;
    UninitializedArray t_old_;
};

class GaussSeidelSolver {
public:
    static constexpr TableKept table = TableKept::no;
    static constexpr bool from_old_values = false;
    static constexpr int kept_doubles_per_volume = 0;
    static constexpr int work_doubles_per_volume = 0;
    GaussSeidelSolver(const SolverSettings& settings, const Execution& execution)
        : iterations_(settings.max_inner_iterations), order_(settings.gauss_seidel_order), execution_(execution)
    {
    }
    LinearSystem make_system(const CurrentGrid& grid, const Plate& plate, RhsKept rhs = RhsKept::whole)
    {
        return build_system(grid, plate, table, execution_, rhs);
    }
    template <typename Form>
    void smooth(const Form& form, std::span<double> u)
    {
        if (order_ == SweepOrder::red_black)
            solve_gauss_seidel_red_black(form, iterations_, u, execution_);
        else
            solve_gauss_seidel(form, iterations_, u, execution_);
    }

private:
    std::int32_t iterations_;
    SweepOrder order_;
    Execution execution_;
};

// SOR: like Jacobi, the field before a sweep kept from call to call.
class SorSolver {
public:
    static constexpr TableKept table = TableKept::no;
    static constexpr bool from_old_values = false;
    static constexpr int kept_doubles_per_volume = 1;  // t_old
    static constexpr int work_doubles_per_volume = 0;
    SorSolver(const SolverSettings& settings, const Execution& execution)
        : iterations_(settings.max_inner_iterations), relaxation_(settings.sor_relaxation), execution_(execution)
    {
    }
    LinearSystem make_system(const CurrentGrid& grid, const Plate& plate)
    {
        t_old_ = UninitializedArray(execution_, "t_old", static_cast<std::size_t>(grid.volume_count));
        return build_system(grid, plate, table, execution_);
    }
    template <typename Form>
    void smooth(const Form& form, std::span<double> u)
    {
        solve_sor(form, iterations_, relaxation_, u, t_old_, execution_);
    }

private:
    std::int32_t iterations_;
    double relaxation_;
    Execution execution_;
    UninitializedArray t_old_;
};

class AdiSolver {
public:
    static constexpr TableKept table = TableKept::yes;
    static constexpr bool from_old_values = false;
    static constexpr int kept_doubles_per_volume = 0;
    static constexpr int work_doubles_per_volume = 2;  // tdma_p, tdma_q
    AdiSolver(const SolverSettings& settings, const Execution& execution)
        : iterations_(settings.max_inner_iterations), execution_(execution)
    {
    }
    LinearSystem make_system(const CurrentGrid& grid, const Plate& plate)
    {
        return build_system(grid, plate, table, execution_);
    }
    template <typename Form>
    void smooth(const Form& form, std::span<double> u)
    {
        solve_adi(form, iterations_, u, execution_);
    }

private:
    std::int32_t iterations_;
    Execution execution_;
};

// MSI: the factor tables of the grid's system, made once (the system of a
// grid is the same on every visit) from the whole table, which the kernels
// then read as the other solvers do.
class MsiSolver {
public:
    static constexpr TableKept table = TableKept::yes;
    static constexpr bool from_old_values = false;
    static constexpr int kept_doubles_per_volume = 4 + 3;  // msi_lower, msi_upper
    static constexpr int work_doubles_per_volume = 3;      // the plain loop's residual, forward and correction
    MsiSolver(const SolverSettings& settings, const Execution& execution)
        : iterations_(settings.max_inner_iterations), tolerance_(settings.msi_tolerance), execution_(execution)
    {
    }
    LinearSystem make_system(const CurrentGrid& grid, const Plate& plate)
    {
        CoefficientTable whole = build_table(grid, plate, execution_);
        const auto n = static_cast<std::size_t>(whole.volume_count);
        lower_ = UninitializedArray(execution_, "msi_lower", 4 * n);
        upper_ = UninitializedArray(execution_, "msi_upper", 3 * n);
        factorize_msi(whole, lower_, upper_, execution_);
        return with_shared_interior(std::move(whole), grid, execution_);
    }
    template <typename Form>
    void smooth(const Form& form, std::span<double> u)
    {
        solve_msi(form, lower_, upper_, tolerance_, iterations_, u, execution_);
    }

private:
    std::int32_t iterations_;
    double tolerance_;
    Execution execution_;
    UninitializedArray lower_, upper_;
};

// Calls f with std::type_identity of the solver type of `kind`.
template <typename F>
decltype(auto) with_solver_type(SolverKind kind, F&& f)
{
    switch (kind) {
    case SolverKind::jacobi: return f(std::type_identity<JacobiSolver>{});
    case SolverKind::gauss_seidel: return f(std::type_identity<GaussSeidelSolver>{});
    case SolverKind::sor: return f(std::type_identity<SorSolver>{});
    case SolverKind::adi: return f(std::type_identity<AdiSolver>{});
    case SolverKind::msi: return f(std::type_identity<MsiSolver>{});
    case SolverKind::none: break;
    }
    return f(std::type_identity<NoSolver>{});
}

}  // namespace placatermo
