// The selected solver as the smoother of one grid's system.
#pragma once

#include <span>
#include <variant>

#include "base/execution.hpp"
#include "grid/linear_system.hpp"
#include "solvers/solver_types.hpp"

namespace placatermo {

// Owns what the selected solver keeps between its calls on one grid's
// system (solvers/solver_types.hpp).
class Smoother {
public:
    Smoother(const SolverSettings& settings, const Execution& execution = {});

    // The current grid's system in the form the solver's kernels read, with
    // the smoother ready for it. RhsKept::ghosts, for a system whose b is
    // never written: b of the ghost volumes alone where the solver's kernels
    // read no other entry (red-black Gauss-Seidel on a stencil).
    LinearSystem make_system(const CurrentGrid& grid, const Plate& plate, RhsKept rhs = RhsKept::whole);

    // One call of the selected solver on the system it was made ready for,
    // with u as the unknown.
    void smooth(const LinearSystem& system, std::span<double> u);

    // The same call with work on whole rows (solvers.hpp): folded into the
    // sweeps' passes where the solver can (folds_row_work()), else done
    // before and after the call, row by row.
    void smooth(const LinearSystem& system, std::span<double> u, const Execution& execution, const RowWork& work);
    bool folds_row_work() const;
    static bool folds_row_work(SolverKind kind, SweepOrder gauss_seidel_order);

    const SolverSettings& settings() const { return settings_; }

    // Whether a UniformStencil for a smoother of `kind` holds the table's
    // ghost entries: ADI and MSI read them there, the point iterations
    // compute them.
    static TableKept table_kept(SolverKind kind);

    // Doubles per volume of the grid that a smoother of `kind` keeps between
    // its calls (the MSI factors, the copy of the field), and the most that
    // one call creates and releases (its work arrays, fast or plain loop).
    static int kept_doubles_per_volume(SolverKind kind);
    static int work_doubles_per_volume(SolverKind kind);

    // Whether a smoother of `kind` sweeps every volume from the values before
    // the sweep (Jacobi): the ghost volumes then stay a sweep behind.
    static bool from_old_values(SolverKind kind);

private:
    using Solver = std::variant<NoSolver, JacobiSolver, GaussSeidelSolver, SorSolver, AdiSolver, MsiSolver>;
    SolverSettings settings_;
    Solver solver_;
};

}  // namespace placatermo
