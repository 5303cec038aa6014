// Studies: many runs of one base input with some values varied, each in a
// folder of its own, and one table of their results.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "drivers/drivers.hpp"
#include "platform/platform.hpp"

namespace placatermo {

// One varied quantity: a record of the input file (4 ... 15) with its values
// as they stand in the file, or the multigrid cycle (record 0).
struct StudyVariation {
    int record = 0;
    std::vector<std::string> values;
    std::string name() const;  // "R7", or "ciclo"
};

struct StudyOptions {
    std::filesystem::path folder;
    std::vector<StudyVariation> variations;  // the last varies fastest
    unsigned tasks = 0;                      // runs at a time (0: the number of cores)
    bool prepare = false;                    // write the run folders and the job files only
    bool collect = false;                    // build the table from the folders that have finished
    std::filesystem::path program;           // this program, for the job files
};

// Reads `estudo PASTA --variar R=V1,V2 ... [--multigrid=C1,C2] [--tarefas N]
// [--preparar] [--coletar]` (argv[0] the program, argv[1] "estudo"). A wrong
// argument throws a FatalError with the message.
StudyOptions parse_study_arguments(int argc, char** argv);

// One run of a study: its number (from 1), folder and varied values.
struct StudyRun {
    int number = 0;
    std::filesystem::path folder;
    std::vector<std::string> values;  // one per variation
};

// The runs of a study: the cartesian product of the variations, the last
// varying fastest; folders NNN (three digits, more when needed).
std::vector<StudyRun> study_runs(const StudyOptions& options);

// A row of the study table, read back from a run's own files.
struct StudyRow {
    StudyRun run;
    std::string status = "ok";  // or what went wrong
    int grid_count = 0, nx = 0, ny = 0;
    std::int64_t unknowns = 0;
    double h = 0.0;  // dx of the finest grid
    std::string solver, cycle;
    int iterations = 0;
    bool converged = false;
    double last_ratio = 0.0, seconds = 0.0;
    double mean_numerical = 0.0, mean_analytical = 0.0, rate_numerical = 0.0, rate_analytical = 0.0;
    double l1 = 0.0, l2 = 0.0, max = 0.0;
    std::vector<double> history;
    // observed order against the previous refinement of the same other values
    std::optional<double> order_mean, order_rate, order_max;
};

StudyRow read_study_row(const StudyRun& run);

// Fills the observed orders of rows that differ from an earlier row only in
// the grid size.
void observed_orders(const std::vector<StudyVariation>& variations, std::vector<StudyRow>& rows);

// estudo.csv, estudo.md and the plots in the study folder.
void write_study_table(const StudyOptions& options, const std::vector<StudyRow>& rows, Platform& platform);

// The whole command; returns the exit status (0 when every run completed).
int run_study(const StudyOptions& options, SystemPlatform& platform, bool (*stop_requested)());

}  // namespace placatermo
