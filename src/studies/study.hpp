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
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "results/record.hpp"

namespace placatermo {

// One varied quantity: a record of the input file (4 ... 15) with its values
// as they stand in the file, or the multigrid cycle (record 0).
struct StudyVariation {
    int record = 0;
    std::vector<std::string> values;
    // the table's column: "R7", or "multigrid" (the option's name: the
    // table has a column of its own for the cycle that ran)
    std::string name() const;
    // as on the command line: "--variar 7=6,10" or "--multigrid=a,b"
    std::string argument() const;
    bool operator==(const StudyVariation&) const = default;
};

struct StudyOptions {
    std::filesystem::path folder;
    std::vector<StudyVariation> variations;  // the last varies fastest
    unsigned tasks = 0;                      // runs at a time (0: the number of cores)
    bool prepare = false;                    // write the run folders and the job files only
    bool collect = false;                    // build the table from the folders that have finished
    bool resume = false;                     // run the runs without a complete record, then the table
    bool help = false;                       // --help: the usage on standard output
    std::filesystem::path program;           // this program, for the job files
};

// Reads `estudo PASTA --variar R=V1,V2 ... [--multigrid=C1,C2] [--tarefas N]
// [--preparar | --coletar | --continuar]` (argv[0] the program, argv[1]
// "estudo"; `-- PASTA` for a folder whose name begins with '-'). A wrong
// argument, an empty, repeated or unprintable value, or a folder name that
// cannot be a study's throws a FatalError with the message.
StudyOptions parse_study_arguments(int argc, char** argv);

// The usage text of `placatermo estudo`.
std::string_view study_usage_text();

// The study's options as the command line writes them ("--multigrid=" with
// its value after '=', "--" before a folder whose name begins with '-').
std::vector<std::string_view> study_option_names();

// Files of the study folder: its design, and the file that the study holds
// locked while it works there.
inline constexpr std::string_view study_design_file = "estudo.json";
inline constexpr std::string_view study_lock_file = ".estudo.trava";
inline constexpr std::string_view study_pictures_folder = ".estudo.graficos";
// The script of the study's pictures, kept beside them to be drawn again.
inline constexpr std::string_view study_script_file = "estudo.gnu";

// One run of a study: its number (from 1), folder and varied values.
struct StudyRun {
    int number = 0;
    std::filesystem::path folder;
    std::vector<std::string> values;  // one per variation
};

// The most runs a study has: a million folders take minutes only to be made,
// and the design of so many would pass what --coletar and --continuar read.
inline constexpr std::size_t largest_study_runs = 100000;

// The number of runs of the variations (the product of their sizes), or
// nothing when it passes largest_study_runs (however large, without overflow).
std::optional<std::size_t> study_run_count(const std::vector<StudyVariation>& variations);

// Refuses, with a FatalError saying the limit, variations whose study would
// pass largest_study_runs or whose values alone would make a design larger
// than --coletar and --continuar read (nothing is made yet).
void check_study_size(const std::vector<StudyVariation>& variations);

// The runs of a study: the cartesian product of the variations, the last
// varying fastest; folders NNN (three digits, more when needed). Beyond
// largest_study_runs a FatalError.
std::vector<StudyRun> study_runs(const StudyOptions& options);

// What a study is, kept in its folder (estudo.json) before the first run:
// the base input, the variations and the runs.
struct StudyDesign {
    std::string program_version;
    std::string base_input;  // the bytes of placatermo.ent
    std::vector<StudyVariation> variations;
    std::vector<StudyRun> runs;
};
std::string study_design_json(const StudyDesign& design);
// Reads a design back (runs in `folder`); a text that is not a design of
// this program throws a FatalError saying what is wrong.
StudyDesign parse_study_design(std::string_view text, const std::filesystem::path& folder);
// Empty when the lists are the design's; otherwise the message that names
// the difference.
std::string design_difference(const std::vector<StudyVariation>& given, const std::vector<StudyVariation>& design);

// Whether a results or summary name stays in its run's folder: a plain file
// name, without a folder part.
bool stays_in_run_folder(std::string_view file_name);

// A row of the study table, read back from a run's own files.
struct StudyRow {
    StudyRun run;
    std::string status = "ok";  // or what went wrong
    // the run's record; without one, its grid count and solver from the input
    RunRecord record;
    int nx = 0, ny = 0;  // of the finest grid
    std::int64_t unknowns = 0;
    double h = 0.0;  // dx of the finest grid
    // observed order against the previous refinement of the same other values
    std::optional<double> order_mean, order_rate, order_max;
};

// Reads the input of a run's folder into `bytes`; false when there is none.
// Anything but a plain file of a sensible size (a fifo, whose reading would
// never end, a device, a huge file) throws a FatalError saying so.
bool read_run_input(const std::filesystem::path& name, std::string& bytes);

// The row of a run from its input and its record; never throws: what is
// missing or wrong becomes the row's status. With `expected_input`, an input
// other than the one the study gave the run (edited, or another run's folder
// linked in its place) is wrong too: its values are not the row's.
StudyRow read_study_row(const StudyRun& run, const std::string* expected_input = nullptr);

// Fills the observed orders of rows that differ from an earlier row only in
// the grid size.
void observed_orders(const std::vector<StudyVariation>& variations, std::vector<StudyRow>& rows);

// What write_study_table wrote: the table (false when it could not be
// written and went to standard output), and whether every plot it meant to
// draw is whole in the study folder (false after saying which is not).
struct StudyTableOutcome {
    bool table = false;
    bool pictures = false;
};

// estudo.csv, estudo.md and the plots in the study folder. The plots are
// drawn in a folder of their own inside it (study_pictures_folder) and only
// whole ones replace the earlier ones; their script (study_script_file) is
// kept beside them.
StudyTableOutcome write_study_table(const StudyOptions& options, const std::vector<StudyRow>& rows, Platform& platform);

// The whole command; returns the exit status (0 when every run completed and
// every plot was drawn, 1 otherwise; the table is written in both cases).
// Errors before any run (a refused folder or list) throw a FatalError in
// Portuguese, and what the refused study made is taken back.
int run_study(const StudyOptions& options, SystemPlatform& platform, bool (*stop_requested)());

}  // namespace placatermo
