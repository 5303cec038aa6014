#include "solvers/smoother.hpp"

#include <cstddef>
#include <variant>

#include "solvers/solvers.hpp"

namespace placatermo {

TableKept Smoother::table_kept(SolverKind kind)
{
    switch (kind) {
    case SolverKind::jacobi:
    case SolverKind::gauss_seidel:
    case SolverKind::sor: return TableKept::no;
    case SolverKind::adi:
    case SolverKind::msi:
    case SolverKind::none: break;
    }
    return TableKept::yes;
}

LinearSystem Smoother::make_system(const CurrentGrid& grid, const Plate& plate)
{
    if (settings_.kind == SolverKind::jacobi || settings_.kind == SolverKind::sor)
        work_ = UninitializedArray("t_old", static_cast<std::size_t>(grid.volume_count));
    if (settings_.kind != SolverKind::msi) return build_system(grid, plate, table_kept(settings_.kind));
    CoefficientTable table = build_table(grid, plate);
    prepare(table);
    return with_shared_interior(std::move(table), grid);
}

void Smoother::prepare(const CoefficientTable& table)
{
    if (settings_.kind != SolverKind::msi) return;
    const auto n = static_cast<std::size_t>(table.volume_count);
    msi_lower_ = UninitializedArray("msi_lower", 4 * n);
    msi_upper_ = UninitializedArray("msi_upper", 3 * n);
    factorize_msi(table, msi_lower_, msi_upper_);
}

void Smoother::smooth(const LinearSystem& system, std::span<double> u)
{
    const SolverSettings& s = settings_;
    std::visit(
        [&](const auto& form) {
            switch (s.kind) {
            case SolverKind::jacobi: solve_jacobi(form, s.max_inner_iterations, u, work_); break;
            case SolverKind::gauss_seidel: solve_gauss_seidel(form, s.max_inner_iterations, u); break;
            case SolverKind::sor: solve_sor(form, s.max_inner_iterations, s.sor_relaxation, u, work_); break;
            case SolverKind::adi: solve_adi(form, s.max_inner_iterations, u); break;
            case SolverKind::msi:
                solve_msi(form, msi_lower_, msi_upper_, s.msi_tolerance, s.max_inner_iterations, u);
                break;
            case SolverKind::none: break;
            }
        },
        system);
}

int Smoother::kept_doubles_per_volume(SolverKind kind)
{
    switch (kind) {
    case SolverKind::jacobi:
    case SolverKind::sor: return 1;  // t_old
    case SolverKind::msi: return 4 + 3;
    case SolverKind::gauss_seidel:
    case SolverKind::adi:
    case SolverKind::none: break;
    }
    return 0;
}

int Smoother::work_doubles_per_volume(SolverKind kind)
{
    switch (kind) {
    case SolverKind::adi: return 2;  // tdma_p, tdma_q
    case SolverKind::msi: return 3;  // the plain loop's residual, forward and correction
    case SolverKind::jacobi:
    case SolverKind::sor:
    case SolverKind::gauss_seidel:
    case SolverKind::none: break;
    }
    return 0;
}

}  // namespace placatermo
