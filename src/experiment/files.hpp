// The program's files from an outcome, each into a byte sink: the same bytes
// the program writes, for every front end. The program writes the results
// file in its parts as the run goes (the head before the solution, each
// history line as it comes, the rest after it); the other front ends write
// it whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/local_time.hpp"
#include "base/text.hpp"
#include "experiment/experiment.hpp"
#include "report/byte_sink.hpp"
#include "results/record.hpp"

namespace placatermo {

// The run's stamps: "(8/7/2006)" filled to 12, "9:5:7" with the seconds
// filled to 4 and the whole to 8, and the plot title: the input's title, a
// blank, the date stamp and an apostrophe, cut to 62.
struct RunStamps {
    FixedText<12> date;
    FixedText<8> time;
    FixedText<62> plot_title;
};
FixedText<12> make_date_string(const LocalTime& time);
FixedText<8> make_time_string(const LocalTime& time);
FixedText<62> make_plot_title(std::string_view title, std::string_view date_string);
RunStamps run_stamps(const LocalTime& now, const InputParameters& input);

// The run's title and date, as the VTK file names the run; the same with
// only Windows-1252 characters, for the pictures' scripts.
std::string run_title(const InputParameters& input, const RunStamps& stamps);
std::string pictures_title(const InputParameters& input, const RunStamps& stamps);

// The results file, whole (the history kept), or in its parts in order.
void write_results_file(ByteSink& file, const Outcome& outcome, const RunStamps& stamps,
                        const Execution& execution = {});
// the date line, the parameter echo, the cycle line when a cycle was asked
// for, and the heading of the history table
void write_results_head(ByteSink& file, const InputParameters& input, std::optional<MultigridCycle> cycle_asked,
                        const RunStamps& stamps);
// one outer iteration (TR2, I8, E15.6)
void write_history_line(ByteSink& file, std::int32_t iteration, double ratio);
// "TEMPERATURAS" and the field with its boundary values (large fields
// formatted on the execution's two threads, when it has two)
void write_field_listing(ByteSink& file, const Outcome& outcome, const Execution& execution = {});
// the profile (axis 'x' or 'y') into the results file and its data file
void write_profile(ByteSink& results, ByteSink& data, const Outcome& outcome, char axis);
// the mean temperature and the north heat rate against the analytical ones
void write_comparison(ByteSink& file, const Outcome& outcome);
void write_processing_time(ByteSink& file, const Outcome& outcome);

// The summary file (the input's record 2).
void write_summary_file(ByteSink& file, const Outcome& outcome, const RunStamps& stamps);
// Tx.dat or Ty.dat alone.
void write_profile_data(ByteSink& data, const Outcome& outcome, char axis);
// The VTK file of the field.
void write_vtk_file(ByteSink& file, const Outcome& outcome, const RunStamps& stamps);
// The run's record; `input_bytes` are the input file's (input_file_bytes for
// values), whose hash it carries.
RunRecord run_record(const Outcome& outcome, std::string_view input_bytes);

// A file of a run, held in memory: its name (Windows-1252, as the input
// gives it) and its bytes.
struct RunFileBytes {
    std::string name, bytes;
};

// The files a front end without the program's folder hands out, in the
// order the program writes them: the input, the results, the summary,
// Tx.dat, Ty.dat, the record and the VTK file (".vtk" added to the results'
// name when the VTK file's own name would be the results' or the summary's).
std::vector<RunFileBytes> run_files_in_memory(const Outcome& outcome, std::string_view input_bytes,
                                              const RunStamps& stamps, const Execution& execution = {});

}  // namespace placatermo
