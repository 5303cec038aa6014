// The result operations on the finest grid: boundary values, the field
// listing, the analytical comparison, the centre-line profiles with their
// plots, and the summary file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/execution.hpp"
#include "grid/grid.hpp"
#include "grid/plate.hpp"
#include "report/byte_sink.hpp"
#include "results/convergence.hpp"

namespace placatermo {

// Overwrites the ghost entries of t with the boundary temperatures: west
// column, east column, south row, north row.
void fill_boundary_values(const Plate& plate, const CurrentGrid& grid, std::span<double> t);

// Lists all entries of t, ghost entries included, in parts of at most eight
// columns, south row first (the execution's second thread formats every
// other block of large fields).
void write_temperature_field(ByteSink& file, std::span<const double> t, std::int32_t nx, std::int32_t ny,
                             const Execution& execution = {});

// Mean temperature and heat transfer rate through the north boundary,
// numerical beside analytical, into the results file; returns the numerical
// mean temperature.
double compare_with_analytical(const Plate& plate, const CurrentGrid& grid, std::span<const double> t,
                               ByteSink& results);
// The two blocks of that comparison, from its four values.
void write_comparison_blocks(ByteSink& results, double mean_numerical, double mean_analytical, double rate_numerical,
                             double rate_analytical);
// The two numerical values of that comparison, each alone (the same
// operations in the same order).
double numerical_mean_temperature(const Plate& plate, const CurrentGrid& grid, std::span<const double> t);
double numerical_north_heat_rate(const Plate& plate, const CurrentGrid& grid, std::span<const double> t);

// The profile along x at y = ly/2 (axis 'x') or along y at x = lx/2 ('y'):
// its heading and lines into the results file, the same lines into its data
// file (Tx.dat, Ty.dat).
void write_profile_lines(const Plate& plate, const CurrentGrid& grid, std::span<const double> t, char axis,
                         ByteSink& results, ByteSink& data);
// The names of a profile's data file and plot script.
std::string_view profile_data_name(char axis);
std::string_view profile_script_name(char axis);
// The profile's plot script: the first six lines of `script` (its earlier
// text, empty when there is none) with the title set, or the default header
// with it when that text has fewer than six lines.
std::string profile_script(std::string_view script, char axis, std::string_view plot_title);

// The six header lines that a plot script gets when it is missing or shorter
// than six lines: a PNG of the analytical curve and the numerical points.
std::string default_plot_header(char axis);

// The new content of a plot script: its first six lines kept byte for byte,
// then the title line and "replot". Empty when it has fewer than six lines.
std::string replace_plot_title(std::string_view script, std::string_view plot_title);
// What the title line holds after "set title '": the 62 characters of the
// plot title with the apostrophes of the title doubled, so that gnuplot reads
// the whole title as text; a title without an apostrophe as it is.
std::string plot_title_field(std::string_view plot_title);

// The numerical minus the analytical temperature over the real volumes:
// mean of its magnitude (L1), root mean square (L2) and largest magnitude
// (L-infinity). The pictures show them (draw_pictures computes them once
// per run); they are not written into the results files.
struct ErrorNorms {
    double l1 = 0.0;
    double l2 = 0.0;
    double max = 0.0;
};
ErrorNorms compute_error_norms(const Plate& plate, const CurrentGrid& grid, std::span<const double> t);

// The VTK file of the finest grid (legacy binary format, rectilinear grid): the
// boundary values and the volume centres at their true positions, with the
// temperature, the analytical temperature, the error and a mark of the
// boundary points as point data.
void write_vtk(ByteSink& file, const Plate& plate, const CurrentGrid& grid, std::span<const double> t,
               std::string_view title);

// The name of a file written beside the results (the VTK file, ".vtk"; the
// run record, ".json"): the results file's name with its extension replaced
// by `extension` (added when it has none); the results file's name with
// `extension` added (again, while it is the summary's name) when that name is
// taken by another file of the run.
std::string name_beside_results(std::string_view results_name, std::string_view summary_name,
                                std::string_view extension);
inline std::string vtk_file_name(std::string_view results_name, std::string_view summary_name)
{
    return name_beside_results(results_name, summary_name, ".vtk");
}

// The pictures of a run: historico.png (the ratio of each outer iteration,
// logarithmic, with the tolerance, and the convergence factor on the title's
// second line), campo.png (the temperature map with
// isotherms) and erro.png (the error map, its largest magnitude in the title),
// drawn by one gnuplot script. Returns the script's text; `ratios` are the
// history ratios in order.
std::string pictures_script(const Plate& plate, const CurrentGrid& grid, std::span<const double> t,
                            std::span<const double> ratios, double tolerance, const ErrorNorms& norms,
                            std::string_view plot_title);

// The residual norms of one grid of a multigrid run, cycle by cycle.
struct LevelNorms {
    std::int32_t nx = 0, ny = 0;
    std::vector<std::int32_t> iterations;  // the outer iteration of each norm
    std::vector<double> norms;             // L1, after the grid's smoothing
};

// The picture niveis.png (the gnuplot commands that follow pictures_script's,
// data inside): one curve per grid, coarsest first, of its residual norm
// after its smoothing against the cycle, on a logarithmic axis; `cycle` is
// the cycle's name for the title.
std::string levels_script(std::span<const LevelNorms> levels, std::string_view cycle, std::string_view plot_title);

// The convergence factor in words (Windows-1252), as historico.png's title
// says it: the factor and how many reductions it averages, then how many
// more iterations reach the tolerance, or that it is not reached.
std::string convergence_text(const ConvergenceFactor& c);

// The summary results file of ten lines.
void write_summary(ByteSink& file, std::span<const double> t, double mean, const CurrentGrid& grid,
                   std::string_view title, std::string_view date_string);

}  // namespace placatermo
