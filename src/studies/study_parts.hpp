// What the files of a study share among themselves (not for the front end:
// study.hpp is the study's face).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/input.hpp"
#include "platform/output_file.hpp"
#include "platform/study_lock.hpp"
#include "results/record.hpp"
#include "studies/study.hpp"

namespace placatermo::study_parts {

// arguments

// The usage of `placatermo estudo --help` after the usage lines.
const std::string& study_help_text();
// A name or value quoted for a message: control characters shown as \n or \xNN.
std::string shown(std::string_view text);
// A value of a record as it will stand in a run's input: printable ASCII
// without blanks and without the marks that end or enclose a value; else a
// FatalError naming `argument`, with the usage.
void check_values(const std::string& argument, const std::vector<std::string>& values);

// design

// The design file that is written is one that --coletar and --continuar
// read back.
inline constexpr std::uintmax_t largest_design_bytes = largest_record_bytes;
// The message for a design of `bytes`, larger than largest_design_bytes.
std::string design_too_large(std::string_view what, std::uintmax_t bytes);
// A run's folder name: its number in three digits, more when `total` needs.
std::string folder_name(int number, int total);
// The bytes the input of a run has in its folder, made from the design.
std::string run_input_bytes(const StudyDesign& design, const InputParameters& base_parameters, const StudyRun& run);
// The design of the study in `folder`, or a FatalError saying why not.
StudyDesign read_design(const std::filesystem::path& folder);

// folders

// Writes a run's folder with its input: the base file with the varied values.
void write_run_folder(const std::vector<StudyVariation>& variations, const StudyRun& run, const std::string& base,
                      const InputParameters& base_parameters);
// The study's claim on its folder, with the folder made for a new study
// (which must hold nothing else); `fill` then writes or reads what the study
// keeps there. What a refused study made is taken back (the lock file and
// the folders, never the user's) before the error goes on.
std::unique_ptr<StudyFolderLock> claim_study_folder(const std::filesystem::path& folder, bool fresh,
                                                    const std::function<void()>& fill);
// The Portuguese text of a failed file-system operation.
std::string file_system_message(const std::filesystem::filesystem_error& error);

// job scripts

// tarefas.txt (one command a line, for sh or GNU parallel) and slurm.sh.
void write_job_files(const StudyOptions& options, const std::vector<StudyRun>& runs);

// table and plots

// A real with every digit that reads back to it ("nan", "inf", "-inf" for
// the others): the CSV table and the plots' data.
std::string all_digits(double value);
// A real in six significant digits: the Markdown table and the plots' labels.
std::string six_digits(double value);
// The name of a run's curve in the pictures' keys: the values that vary
// (a variation of one value is fixed), by name ("Gauss-Seidel, malha 34 × 34,
// 5 it. internas"), the grid's left out with `without_grid`; "" when none.
std::string study_plot_label(const std::vector<StudyVariation>& variations, const StudyRow& row, bool without_grid);
// An observed order as erro_h.png shows it: "1.69".
std::string study_order_label(double order);
// The gnuplot script of the study's pictures, with their data, and the
// pictures it draws (none: no script).
struct StudyPlotScript {
    std::string script;
    std::vector<std::string> pictures;
};
StudyPlotScript study_plot_script(const StudyOptions& options, const std::vector<StudyRow>& rows);
// Draws the study's plots from the rows in the study folder, and keeps their
// script there (study_script_file); whether every plot it meant to draw, and
// the script, are whole there (false after saying which is not).
bool draw_study_plots(const StudyOptions& options, const std::vector<StudyRow>& rows, Platform& platform);

}  // namespace placatermo::study_parts
