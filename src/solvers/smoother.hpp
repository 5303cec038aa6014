// The selected solver as the smoother of one grid's system.
#pragma once

#include <cstdint>
#include <span>

#include "grid/arrays.hpp"
#include "grid/linear_system.hpp"
#include "solvers/solver_kind.hpp"

namespace placatermo {

// The solver's parameters from the input.
struct SolverSettings {
    SolverKind kind = SolverKind::none;
    std::int32_t max_inner_iterations = 0;
    double msi_tolerance = 0.0;
    double sor_relaxation = 0.0;
};

// Owns what the selected solver keeps between its calls on one grid's
// system: the MSI factor tables, the Jacobi and SOR copy of the field.
class Smoother {
public:
    explicit Smoother(const SolverSettings& settings) : settings_(settings) {}

    // The current grid's system in the form the solver's kernels read, with
    // the smoother ready for it. The MSI solver factorises the whole table
    // once (the system of a grid is the same on every visit) and then reads
    // it as the other solvers do.
    LinearSystem make_system(const CurrentGrid& grid, const Plate& plate);
    // Gets ready for a table: the MSI solver creates its tables at the
    // table's size (msi_lower, then msi_upper) and factorises it.
    void prepare(const CoefficientTable& table);

    // One call of the selected solver on the system it was made ready for,
    // with u as the unknown.
    void smooth(const LinearSystem& system, std::span<double> u);

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

private:
    SolverSettings settings_;
    UninitializedArray msi_lower_, msi_upper_;
    UninitializedArray work_;
};

}  // namespace placatermo
