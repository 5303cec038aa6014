#include "solvers/smoother.hpp"

namespace placatermo {

Smoother::Smoother(const SolverSettings& settings, const Execution& execution)
    : settings_(settings), solver_(with_solver_type(settings.kind, [&](auto type) -> Solver {
          return typename decltype(type)::type(settings, execution);
      }))
{
}

LinearSystem Smoother::make_system(const CurrentGrid& grid, const Plate& plate, RhsKept rhs)
{
    // the folding kernels (red-black Gauss-Seidel) read no other entry of b
    if (rhs == RhsKept::ghosts && folds_row_work())
        return std::get<GaussSeidelSolver>(solver_).make_system(grid, plate, rhs);
    return std::visit([&](auto& solver) { return solver.make_system(grid, plate); }, solver_);
}

void Smoother::smooth(const LinearSystem& system, std::span<double> u)
{
    std::visit([&](auto& solver, const auto& form) { solver.smooth(form, u); }, solver_, system);
}

bool Smoother::folds_row_work() const { return folds_row_work(settings_.kind, settings_.gauss_seidel_order); }

bool Smoother::folds_row_work(SolverKind kind, SweepOrder gauss_seidel_order)
{
    return kind == SolverKind::gauss_seidel && gauss_seidel_order == SweepOrder::red_black;
}

void Smoother::smooth(const LinearSystem& system, std::span<double> u, const Execution& execution,
                      const RowWork& work)
{
    if (folds_row_work())
        return solve_gauss_seidel_red_black(system, settings_.max_inner_iterations, u, execution, work);
    work.around(arrays_of(system).ny, [&] { smooth(system, u); });
}

TableKept Smoother::table_kept(SolverKind kind)
{
    return with_solver_type(kind, [](auto type) { return decltype(type)::type::table; });
}

int Smoother::kept_doubles_per_volume(SolverKind kind)
{
    return with_solver_type(kind, [](auto type) { return decltype(type)::type::kept_doubles_per_volume; });
}

int Smoother::work_doubles_per_volume(SolverKind kind)
{
    return with_solver_type(kind, [](auto type) { return decltype(type)::type::work_doubles_per_volume; });
}

bool Smoother::from_old_values(SolverKind kind)
{
    return with_solver_type(kind, [](auto type) { return decltype(type)::type::from_old_values; });
}

}  // namespace placatermo
