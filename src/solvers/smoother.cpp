#include "solvers/smoother.hpp"

namespace placatermo {

Smoother::Smoother(const SolverSettings& settings, const Execution& execution)
    : settings_(settings), solver_(with_solver_type(settings.kind, [&](auto type) -> Solver {
          return typename decltype(type)::type(settings, execution);
      }))
{
}

LinearSystem Smoother::make_system(const CurrentGrid& grid, const Plate& plate)
{
    return std::visit([&](auto& solver) { return solver.make_system(grid, plate); }, solver_);
}

void Smoother::smooth(const LinearSystem& system, std::span<double> u)
{
    std::visit([&](auto& solver, const auto& form) { solver.smooth(form, u); }, solver_, system);
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

}  // namespace placatermo
