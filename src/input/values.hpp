// The input's 16 values as a front end without a file holds them (a form, a
// Python object): checked by the same rules as the input file, with
// messages that name the value instead of a file and a line.
#pragma once

#include <cstdint>
#include <string>

#include "input/input.hpp"

namespace placatermo {

// Texts in Windows-1252, as the input file holds them; records 7 and 8 are
// the sizes of grid 1, its two ghost volumes included.
struct InputValues {
    std::string experiment_name;            // 1
    std::string discretization_file_name;   // 2
    std::string iterations_file_name;       // 3
    double lx = 0.0;                        // 4
    double ly = 0.0;                        // 5
    std::int32_t grid_count = 0;            // 6
    std::int32_t nx = 0;                    // 7
    std::int32_t ny = 0;                    // 8
    double tolerance = 0.0;                 // 9
    std::int32_t max_outer_iterations = 0;  // 10
    std::int32_t solver_kind = 0;           // 11
    double msi_tolerance = 0.0;             // 12
    std::int32_t max_inner_iterations = 0;  // 13
    double sor_relaxation = 0.0;            // 14
    std::int32_t bc_kind = 0;               // 15
    std::string title;                      // 16
};

// The values of the default input file.
InputValues default_input_values();
// The values of checked parameters.
InputValues values_of(const InputParameters& input);

// The input file of these values: the default file with each value written
// in its place (texts quoted, reals to all their digits), Windows-1252 with
// CR LF line ends.
std::string input_file_bytes(const InputValues& values);

// The values checked as the input file's are (the same rules, the same
// texts); a value that breaks one ends with a FatalError that names it:
// "erro no valor \"número de malhas\": ...". Warnings name it too.
InputParameters check_input_values(const InputValues& values);

}  // namespace placatermo
