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

// Owns what the selected solver keeps between its calls on one system: the
// MSI factor tables.
class Smoother {
public:
    explicit Smoother(const SolverSettings& settings) : settings_(settings) {}

    // Gets ready for a built system: the MSI solver creates its tables at the
    // system's size (msi_lower, then msi_upper) and factorises the table.
    void prepare(const LinearSystem& system);
    // Whether prepare() has been called.
    bool prepared() const { return prepared_; }
    // Whether the next call (prepare() when not prepared, else smooth())
    // reads the real volumes' coefficients of an nx x ny table with a uniform
    // interior: the fast Jacobi, Gauss-Seidel, SOR and ADI sweeps do not, nor
    // does the MSI correction once the factors are made.
    bool reads_interior_coefficients(std::int32_t nx, std::int32_t ny) const;

    // One call of the selected solver on the system, with u as the unknown.
    void smooth(const LinearSystem& system, std::span<double> u) const;

    const SolverSettings& settings() const { return settings_; }

private:
    SolverSettings settings_;
    UninitializedArray msi_lower_, msi_upper_;
    bool prepared_ = false;
};

}  // namespace placatermo
