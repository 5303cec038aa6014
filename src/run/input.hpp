// The input data file: 16 values, one per line, and the grid sizes derived
// from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/text.hpp"

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

    // Derived sizes, entry k - 1 for grid k (1 coarsest ... grid_count
    // finest); records 7 and 8 are grid_nx(1) and grid_ny(1).
    std::vector<std::int32_t> grid_nx, grid_ny, grid_volume_count;
    std::int32_t total_volume_count = 0;

    // Line of the input file on which each record (1 ... 16) was found.
    std::array<int, 17> record_line{};

    std::int32_t nx_of(int k) const { return grid_nx[static_cast<std::size_t>(k - 1)]; }
    std::int32_t ny_of(int k) const { return grid_ny[static_cast<std::size_t>(k - 1)]; }
    std::int32_t volume_count_of(int k) const { return grid_volume_count[static_cast<std::size_t>(k - 1)]; }
};

// The label of record r (1 ... 16) as the echo names it; used in messages and
// in the default input file.
std::string_view record_label(int record);

// Reads the 16 records from the bytes of an input file and derives the grid
// sizes. Any record that is missing or cannot be read as its type, and any
// value outside what the program can compute with, ends the run with a
// message naming the file, the line and the parameter.
InputParameters parse_input_data(std::string_view bytes, std::string_view file_name = input_file_name);

// The complete default input file, in Windows-1252 with CR LF line ends.
std::string default_input_file();

// Bytes of memory that a run of these parameters needs for its arrays.
double required_memory_bytes(const InputParameters& input);

}  // namespace placatermo
