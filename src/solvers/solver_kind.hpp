// The solver that the input selects, and its names.
#pragma once

#include <cstdint>
#include <string_view>

namespace placatermo {

// The numbers are those of the input file; any other number selects no
// solver (the iteration then changes nothing).
enum class SolverKind : std::int32_t { none = 0, jacobi = 1, gauss_seidel = 2, sor = 3, adi = 4, msi = 5 };

inline constexpr SolverKind all_solver_kinds[] = {SolverKind::jacobi, SolverKind::gauss_seidel, SolverKind::sor,
                                                  SolverKind::adi, SolverKind::msi};

// The kind of the input's solver number.
SolverKind solver_kind_from_input(std::int32_t solver_kind);

// "Jacobi", "Gauss-Seidel", "SOR", "ADI", "MSI", "nenhum".
std::string_view solver_name(SolverKind kind);

}  // namespace placatermo
