#include "solvers/smoother.hpp"

#include <cstddef>

#include "solvers/solvers.hpp"

namespace placatermo {

void Smoother::prepare(const LinearSystem& system)
{
    prepared_ = true;
    if (settings_.kind != SolverKind::msi) return;
    const auto n = static_cast<std::size_t>(system.volume_count);
    if (msi_lower_.size() != 4 * n) {
        msi_lower_ = UninitializedArray();
        msi_upper_ = UninitializedArray();
        msi_lower_ = UninitializedArray("msi_lower", 4 * n);
        msi_upper_ = UninitializedArray("msi_upper", 3 * n);
    }
    factorize_msi(system, msi_lower_, msi_upper_);
}

bool Smoother::reads_interior_coefficients(std::int32_t nx, std::int32_t ny) const
{
    switch (settings_.kind) {
    case SolverKind::jacobi:
    case SolverKind::gauss_seidel:
    case SolverKind::sor: return point_solvers_read_interior(nx, ny);
    case SolverKind::msi: return !prepared_ || solve_msi_reads_interior(nx, ny);
    case SolverKind::adi: return solve_adi_reads_interior(nx, ny);
    case SolverKind::none: break;
    }
    return true;
}

void Smoother::smooth(const LinearSystem& system, std::span<double> u) const
{
    const SolverSettings& s = settings_;
    switch (s.kind) {
    case SolverKind::jacobi: solve_jacobi(system, s.max_inner_iterations, u); break;
    case SolverKind::gauss_seidel: solve_gauss_seidel(system, s.max_inner_iterations, u); break;
    case SolverKind::sor: solve_sor(system, s.max_inner_iterations, s.sor_relaxation, u); break;
    case SolverKind::adi: solve_adi(system, s.max_inner_iterations, u); break;
    case SolverKind::msi: solve_msi(system, msi_lower_, msi_upper_, s.msi_tolerance, s.max_inner_iterations, u); break;
    case SolverKind::none: break;
    }
}

}  // namespace placatermo
