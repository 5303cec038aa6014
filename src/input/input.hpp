// The input data file: 16 values, one per line, and the grid sizes derived
// from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.hpp"
#include "drivers/drivers.hpp"
#include "grid/grid.hpp"
#include "grid/plate.hpp"
#include "report/byte_sink.hpp"
#include "solvers/solver_kind.hpp"

namespace placatermo {

inline constexpr std::string_view input_file_name = "placatermo.ent";

struct InputParameters {
    FixedText<20> experiment_name;           // 1: also the main results file
    FixedText<20> discretization_file_name;  // 2: the summary file
    FixedText<20> iterations_file_name;      // 3: only echoed
    double lx = 0.0;                         // 4
    double ly = 0.0;                         // 5
    std::int32_t grid_count = 0;             // 6
    double tolerance = 0.0;                  // 9
    std::int32_t max_outer_iterations = 0;   // 10
    std::int32_t solver_kind = 0;            // 11
    double msi_tolerance = 0.0;              // 12
    std::int32_t max_inner_iterations = 0;   // 13
    double sor_relaxation = 0.0;             // 14
    std::int32_t bc_kind = 0;                // 15
    FixedText<50> title;                     // 16

    // The sizes of the grid_count grids derived from records 7 and 8, which
    // are the sizes of grid 1.
    GridHierarchy grids;

    // Line of the input file on which each record (1 ... 16) was found, and
    // where its value stands in the file's bytes (first byte, length; a
    // quoted text with its marks).
    std::array<int, 17> record_line{};
    std::array<std::pair<std::size_t, std::size_t>, 17> record_span{};

    // Values that are read as written but are likely mistakes: one line each,
    // "aviso: ..." naming the file, the line and the parameter.
    std::vector<std::string> warnings;

    // The kinds that the numbers of records 11 and 15 select.
    SolverKind solver() const { return solver_kind_from_input(solver_kind); }
    BoundaryKind boundary() const { return boundary_kind_from_input(bc_kind); }
    Plate plate() const { return {lx, ly, boundary()}; }
    // What the solution drivers are given.
    SolutionProblem solution_problem() const;
};

// The label of record r (1 ... 16) as the echo names it; used in messages and
// in the default input file.
std::string_view record_label(int record);

// Why `name` (record 1 or 2) cannot name a file that the run writes, "" when
// it can. Everywhere: a name of a folder ("." or ".." as its last part, a
// separator at its end). With `windows`, also what Windows would not write as
// a file of the run's folder: devices (NUL, con.txt, COM1 ...), drives (C:x),
// folder parts ("..\x"), \\?\, \\.\ and network paths, characters that a
// Windows name cannot hold, and a final dot, which Windows drops.
// The Windows forms on every platform, for the tests.
std::string file_name_problem(std::string_view name, bool windows);

// Whether this system's file names follow the Windows rules.
#ifdef _WIN32
inline constexpr bool windows_file_names = true;
#else
inline constexpr bool windows_file_names = false;
#endif

// Reads the 16 records from the bytes of an input file and derives the grid
// sizes. Any record that is missing or cannot be read as its type, and any
// value outside what the program can compute with, ends the run with a
// message naming the file, the line and the parameter.
InputParameters parse_input_data(std::string_view bytes, std::string_view file_name = input_file_name);

// The bytes of an input file with the values of some records replaced by
// texts written as they would stand in the file; every other byte as it was.
std::string replace_records(std::string_view bytes, const InputParameters& input,
                            const std::vector<std::pair<int, std::string>>& values);

// The complete default input file, in Windows-1252 with CR LF line ends.
std::string default_input_file();

// Bytes of memory that a run of these parameters (with this multigrid cycle)
// needs for its arrays.
double required_memory_bytes(const InputParameters& input, MultigridCycle cycle = MultigridCycle::specified);

// Refuses a run whose arrays (and `option_bytes` that the options hold
// besides) would not fit in this machine's memory; gives the bytes checked.
double check_memory(const InputParameters& input, double available_bytes, std::string_view file_name = input_file_name,
                    MultigridCycle cycle = MultigridCycle::specified, double option_bytes = 0.0);

// The parameter echo block of the main results file.
void write_parameter_echo(const InputParameters& input, ByteSink& file);

}  // namespace placatermo
