// The record of a run: what a run computed, as JSON, for programs and for the
// study table. Every real reads back to the same double.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "results/convergence.hpp"

namespace placatermo {

struct RunRecord {
    std::string program_version;
    // the input's bytes, hashed (FNV-1a, 64 bits, in hex): a record belongs
    // to the input it was computed from
    std::string input_hash;
    // the 16 records of the input; texts as UTF-8
    std::string experiment_name, discretization_file_name, iterations_file_name, title;
    double lx = 0.0, ly = 0.0, tolerance = 0.0, msi_tolerance = 0.0, sor_relaxation = 0.0;
    std::int32_t grid_count = 0, max_outer_iterations = 0, solver_kind = 0, max_inner_iterations = 0, bc_kind = 0;
    std::string solver;                          // its name
    std::string cycle;                           // the multigrid cycle; empty on one grid
    std::vector<std::int32_t> grid_nx, grid_ny;  // every grid, coarsest first
    std::vector<double> history;                 // the ratio of every outer iteration
    // of the history against the tolerance; a record written before it was
    // kept gets it from its history when read
    ConvergenceFactor convergence;
    std::int32_t iterations = 0;
    bool converged = false;
    double mean_numerical = 0.0, mean_analytical = 0.0, rate_numerical = 0.0, rate_analytical = 0.0;
    double error_l1 = 0.0, error_l2 = 0.0, error_max = 0.0;
    double seconds = 0.0;
    std::string status = "completa";
};

// The name of the record: the results file's name with its extension
// replaced by ".json" (".json" added when it has none); the results file's
// name with ".json" added (again, while it is the summary's name) when that
// name is taken by another file of the run.
std::string record_file_name(std::string_view results_name, std::string_view summary_name);

// FNV-1a (64 bits) of the bytes, as 16 lower-case hex digits.
std::string bytes_hash(std::string_view bytes);

// The record as JSON text (UTF-8, LF line ends).
std::string run_record_json(const RunRecord& record);

// Reads a record back; a text that is not a complete record ends with a
// FatalError saying what is wrong.
RunRecord parse_run_record(std::string_view text);

// A JSON number that is a whole number within 32 bits, or nothing (a real
// number, a larger one or another kind, whose conversion would be
// undefined): the records and the study designs read their integers so.
std::optional<std::int32_t> json_int32(const nlohmann::json& value);

// The largest record that is read (larger ones are refused before reading).
inline constexpr std::uintmax_t largest_record_bytes = 64u << 20;

}  // namespace placatermo
