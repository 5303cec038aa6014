// The program driver: the run from the input to the final editor call.
#pragma once

#include <string_view>
#include <vector>

#include "results/results.hpp"
#include "run/context.hpp"
#include "run/run_files.hpp"

namespace placatermo {

// The whole run, as its phases in their order. Errors end it with a
// FatalError.
void run_program(RunContext& run);

// The phases of the run.
//
// Creates the main results file and writes the date line, the parameter echo
// and the header of the iteration table.
void open_results_file(RunContext& run);
// Solves on one grid or with the multigrid cycle, writing the history lines.
void solve_plate(RunContext& run);
// The result operations on the finest grid, in their order: the temperature
// listing, both profiles with their files and plots, the mean temperature
// and the north heat rate.
void write_results(RunContext& run);
// A profile's lines, its data file and plot script (axis 'x' or 'y'), and
// the plotting program on the script; the command status to keep: 1 when
// the command interpreter ran, 0 otherwise.
int write_profile_files(RunContext& run, char axis);
void write_processing_time(RunContext& run);
void write_summary(RunContext& run);
void close_results_file(RunContext& run);
// The phases that write files, from the results file to the pictures.
void write_run_files(RunContext& run);
// Those phases with the earlier run's files set aside first, and removed once
// every file is written (but for the earlier copies of pictures that were not
// drawn again); after a failure they stay, and the message says where.
void write_keeping_earlier_files(RunContext& run, const std::vector<RunFile>& files);
// With --vtk, the VTK file of the finest grid; with --graficos, the pictures.
void write_vtk(RunContext& run);
void draw_pictures(RunContext& run);
// With --json, the run's record (results/record.hpp), written last: a
// complete record means a complete run.
void write_record(RunContext& run);
// Says on stderr when the last ratio is not a number or above 1e10 (unless
// the input got a warning already).
void warn_if_diverged(RunContext& run);
// Opens the results file in the editor (not in batch mode).
void show_results(RunContext& run);

// Writes the default input file when placatermo.ent does not exist, shows it
// in the editor (not in batch mode), then reads and checks the 16 records.
void read_input_data(RunContext& run);

}  // namespace placatermo
