#include "solvers/solver_kind.hpp"

namespace placatermo {

SolverKind solver_kind_from_input(std::int32_t solver_kind)
{
    if (solver_kind < static_cast<std::int32_t>(SolverKind::jacobi) ||
        solver_kind > static_cast<std::int32_t>(SolverKind::msi))
        return SolverKind::none;
    return static_cast<SolverKind>(solver_kind);
}

std::string_view solver_name(SolverKind kind)
{
    switch (kind) {
    case SolverKind::jacobi: return "Jacobi";
    case SolverKind::gauss_seidel: return "Gauss-Seidel";
    case SolverKind::sor: return "SOR";
    case SolverKind::adi: return "ADI";
    case SolverKind::msi: return "MSI";
    case SolverKind::none: break;
    }
    return "nenhum";
}

}  // namespace placatermo
