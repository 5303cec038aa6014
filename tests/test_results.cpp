// Boundary values, field listing, analytical comparison, profiles, plot
// scripts and the summary file, checked byte for byte.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include "results/convergence.hpp"
#include "results/results.hpp"
#include "run_support.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;
using testing::read_file;
using testing::write_file;

// A run on one grid whose t holds 100 x y at the volume centres.
struct ResultsRun : testing::DriverRun {
    explicit ResultsRun(InputRecords r) : DriverRun(r)
    {
        run.outcome.plate = run.input.plate();
        CurrentGrid& g = run.outcome.grid;
        enter_grid(g, run.input.plate(), run.input.grids, 1);
        run.outcome.t.assign(static_cast<std::size_t>(g.volume_count), 0.0);
        for (std::int64_t j = 1; j <= g.ny; ++j)
            for (std::int64_t i = 1; i <= g.nx; ++i)
                run.outcome.t[static_cast<std::size_t>(volume_number(i, j, g.nx) - 1)] =
                    100.0 * ((i - 1.5) * g.dx) * ((j - 1.5) * g.dy);
        run.results = std::make_unique<OutputFile>("driver.res");
    }
    void fill_boundary() { fill_boundary_values(run.input.plate(), run.outcome.grid, run.outcome.t); }
    void compare()
    {
        run.outcome.mean_numerical =
            compare_with_analytical(run.input.plate(), run.outcome.grid, run.outcome.t, *run.results);
    }
    void profile_x() { write_profile_files(run, 'x'); }
    void profile_y() { write_profile_files(run, 'y'); }
    std::string finish()
    {
        run.results->close();
        return read_file("driver.res");
    }
};

InputRecords grid(const char* nx, const char* ny, const char* bc = "1")
{
    InputRecords r;
    r.nx = nx;
    r.ny = ny;
    r.bc_kind = bc;
    return r;
}

TEST(FieldListing, FiveColumnsIsOnePart)
{
    testing::TempDir dir;
    std::vector<double> t(15);
    for (std::size_t k = 0; k < t.size(); ++k) t[k] = static_cast<double>(k + 1);
    {
        OutputFile file("f.res");
        write_temperature_field(file, t, 5, 3);
        file.close();
    }
    EXPECT_EQ(read_file("f.res"),
              "\r\n  parte   1\r\n"
              "   1.000000E+00   2.000000E+00   3.000000E+00   4.000000E+00   5.000000E+00\r\n"
              "   6.000000E+00   7.000000E+00   8.000000E+00   9.000000E+00   1.000000E+01\r\n"
              "   1.100000E+01   1.200000E+01   1.300000E+01   1.400000E+01   1.500000E+01\r\n");
}

struct PartsCase {
    int nx, ny;
    std::vector<int> widths;  // columns of each part
};

// 128 parts of eight columns and one of six: a field large enough to be
// formatted in blocks on two threads.
std::vector<int> wide_parts()
{
    std::vector<int> widths(128, 8);
    widths.push_back(6);
    return widths;
}

class FieldParts : public ::testing::TestWithParam<PartsCase> {};

TEST_P(FieldParts, PartsOfAtMostEightColumns)
{
    testing::TempDir dir;
    const int nx = GetParam().nx, ny = GetParam().ny;
    std::vector<double> t(static_cast<std::size_t>(nx * ny));
    for (std::size_t k = 0; k < t.size(); ++k) t[k] = static_cast<double>(k + 1);
    {
        OutputFile file("f.res");
        write_temperature_field(file, t, nx, ny);
        file.close();
    }
    std::string expected;
    int first = 1;
    for (std::size_t part = 0; part < GetParam().widths.size(); ++part) {
        char header[48];
        std::snprintf(header, sizeof header, "\r\n  parte %3zu\r\n", part + 1);
        expected += header;
        for (int j = 1; j <= ny; ++j) {
            for (int i = first; i < first + GetParam().widths[part]; ++i) {
                char field[32];
                std::snprintf(field, sizeof field, "%15.6E", static_cast<double>(i + (j - 1) * nx));
                expected += field;
            }
            expected += "\r\n";
        }
        first += GetParam().widths[part];
    }
    EXPECT_EQ(read_file("f.res"), expected);
}

// A full disk while the second thread formats the next block: the error
// comes out, and the thread is free for the next listing.
TEST(FieldListing, FullDiskStopsTheListingAndFreesTheHelper)
{
    testing::TempDir dir;
    const int nx = 1026, ny = 300;
    const std::vector<double> t(static_cast<std::size_t>(nx * ny), 0.25);
    std::filesystem::create_symlink("/dev/full", "full.res");
    EXPECT_ANY_THROW({
        OutputFile file("full.res");
        write_temperature_field(file, t, nx, ny);
        file.close();
    });
    OutputFile file("f.res");
    write_temperature_field(file, t, nx, ny);
    file.close();
    EXPECT_EQ(std::filesystem::file_size("f.res"),
              static_cast<std::uintmax_t>(129 * 15 + ny * (8 * 15 + 2) * 128 + ny * (2 * 15 + 2)));
}

INSTANTIATE_TEST_SUITE_P(Widths, FieldParts,
                         ::testing::Values(PartsCase{3, 3, {3}}, PartsCase{8, 3, {8}}, PartsCase{9, 3, {8, 1}},
                                           PartsCase{16, 3, {8, 8}}, PartsCase{23, 3, {8, 8, 7}},
                                           PartsCase{1030, 300, wide_parts()}),
                         [](const auto& info) {
                             return "Nx" + std::to_string(info.param.nx) + "Ny" + std::to_string(info.param.ny);
                         });

TEST(BoundaryValues, LinearAndSinusoidal)
{
    ResultsRun lin(grid("6", "5", "1"));
    lin.fill_boundary();
    const auto at = [](const RunContext& r, int i, int j) {
        return r.outcome.t[static_cast<std::size_t>(volume_number(i, j, r.outcome.grid.nx) - 1)];
    };
    EXPECT_EQ(at(lin.run, 1, 3), 0.0);
    EXPECT_EQ(at(lin.run, 6, 1), 0.0);
    EXPECT_EQ(at(lin.run, 6, 5), 100.0);
    EXPECT_EQ(at(lin.run, 6, 3), ((1.0 * (1.0 / 3.0) + 0.5 * (1.0 / 3.0)) * 100.0) * 1.0);
    EXPECT_EQ(at(lin.run, 3, 5), ((1.0 * 0.25 + 0.5 * 0.25) * 100.0) * 1.0);
    EXPECT_EQ(at(lin.run, 3, 1), 0.0);
    EXPECT_EQ(at(lin.run, 3, 3), 100.0 * (1.5 * 0.25) * (1.5 / 3.0));  // real volumes untouched
    ResultsRun sine(grid("6", "5", "3"));
    sine.fill_boundary();
    for (int j = 1; j <= 5; ++j) EXPECT_EQ(at(sine.run, 6, j), 0.0);
    EXPECT_EQ(at(sine.run, 3, 5), std::sin((0.375 * pi) / 1.0));
}

TEST(Analytical, LinearExactFieldGivesTheAnalyticalValues)
{
    ResultsRun r(grid("12", "12"));
    r.compare();
    const std::string text = r.finish();
    EXPECT_NEAR(r.run.outcome.mean_numerical, 25.0, 1e-12);
    const std::string mean_head =
        "\r\n     TEMPERATURA M\xC9"
        "DIA\r\n\r\n";
    ASSERT_EQ(text.substr(0, mean_head.size()), mean_head);
    const std::string analytical_mean = "     2.500000000000000E+01 = anal\xEDtica\r\n";
    const std::string rate_head = "\r\n     TAXA DE TRANSFER\xCANCIA DE CALOR NO CONTORNO NORTE\r\n\r\n";
    const std::string analytical_rate = "    -5.000000000000000E+01 = anal\xEDtica\r\n";
    const auto mean_line = text.find(analytical_mean);
    ASSERT_NE(mean_line, std::string::npos);
    EXPECT_EQ(text.substr(mean_line + analytical_mean.size(), rate_head.size()), rate_head);
    EXPECT_EQ(text.substr(text.size() - analytical_rate.size()), analytical_rate);
    const std::string numerical_rate = text.substr(mean_line + analytical_mean.size() + rate_head.size(), 39);
    EXPECT_EQ(numerical_rate.substr(26), " = num\xE9rica\r\n");
    EXPECT_NEAR(std::stod(numerical_rate.substr(0, 26)), -50.0, 1e-11);
    EXPECT_EQ(text.size(), mean_head.size() + 2 * (39 + 40) + rate_head.size());
}

TEST(Analytical, SinusoidalValues)
{
    ResultsRun r(grid("8", "6", "2"));
    r.compare();
    const std::string text = r.finish();
    const double a = (1.0 * 3.141592653589793) / 1.0;
    char mean[64], rate[64];
    std::snprintf(mean, sizeof mean, "%26.15E = anal\xEDtica\r\n",
                  (std::cosh(a) - 1.0) * ((2.0 * 1.0) / (std::sinh(a) * (1.0 * 9.869604401089358))));
    std::snprintf(rate, sizeof rate, "%26.15E = anal\xEDtica\r\n", -(2.0 / std::tanh(a)));
    EXPECT_NE(text.find(mean), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - std::strlen(rate)), rate);
}

// The mean reads the field a strip of columns at a time; its sum must still
// run down each column, west to east: random values, whose sum in another
// order would differ in the last bits, on shapes around the strip's edges.
TEST(Analytical, MeanSumsColumnByColumn)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> value(-1e3, 1e3);
    const Plate plate{1.5, 0.7};
    for (const auto& [nx, ny] : {std::pair{3, 3}, {34, 5}, {35, 40}, {66, 3}, {67, 71}, {100, 2}}) {
        CurrentGrid g;
        g.nx = nx;
        g.ny = ny;
        g.dx = 0.1;
        g.dy = 0.3;
        std::vector<double> t(static_cast<std::size_t>(nx * ny));
        for (double& v : t) v = value(random);
        double s = 0.0;
        for (std::int64_t i = 2; i <= nx - 1; ++i)
            for (std::int64_t j = 2; j <= ny - 1; ++j) s = s + t[static_cast<std::size_t>(volume_number(i, j, nx) - 1)];
        const double expected = ((s * g.dx) * g.dy) / (plate.lx * plate.ly);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(numerical_mean_temperature(plate, g, t)),
                  std::bit_cast<std::uint64_t>(expected))
            << nx << " x " << ny;
    }
}

#if defined(__linux__)
// A tall field three columns wide: the mean's copy of a strip holds its one
// real column, not 32 (a quarter of a GiB here). The data segment is
// limited, in a child process, to a little more than what it holds.
TEST(Analytical, NarrowFieldMeanTakesLittleMemory)
{
    CurrentGrid g;
    g.nx = 3;
    g.ny = 1 << 20;
    g.dx = 0.5;
    g.dy = 0.25;
    const std::vector<double> t(static_cast<std::size_t>(g.nx) * static_cast<std::size_t>(g.ny), 2.0);
    const auto limited_mean = [&] {
        std::ifstream status("/proc/self/status");
        std::string line;
        rlim_t data_kib = 0;
        while (std::getline(status, line))
            if (line.rfind("VmData:", 0) == 0) data_kib = std::stoull(line.substr(7));
        rlimit limit;
        limit.rlim_cur = (data_kib << 10) + (rlim_t{64} << 20);
        limit.rlim_max = RLIM_INFINITY;
        setrlimit(RLIMIT_DATA, &limit);
        std::exit(numerical_mean_temperature(Plate{1.0, 1.0}, g, t) == 2.0 * (g.ny - 2) * 0.125 ? 0 : 1);
    };
    EXPECT_EXIT(limited_mean(), ::testing::ExitedWithCode(0), "");
}
#endif

TEST(Profiles, DataFilesAndResultsLines)
{
    ResultsRun r(grid("12", "12"));
    r.fill_boundary();
    r.profile_x();
    r.profile_y();
    const std::string tx = read_file("Tx.dat");
    const std::string ty = read_file("Ty.dat");
    EXPECT_EQ(tx.substr(0, 47), "   0.000000E+00   0.000000E+00   0.000000E+00\r\n");
    EXPECT_EQ(tx.substr(47, 47), "   5.000000E-02   2.500000E+00   2.750000E+00\r\n");
    EXPECT_EQ(tx.substr(tx.size() - 47), "   1.000000E+00   5.000000E+01   5.500000E+01\r\n");
    EXPECT_EQ(tx.size(), 12u * 47u);
    EXPECT_EQ(ty.size(), 12u * 47u);
    const std::string text = r.finish();
    const std::string head_x = "\r\n\r\n     Temperatura em y = Ly/2 (x, Tanal\xEDtico, Tnum\xE9rico)\r\n\r\n";
    const std::string head_y = "\r\n\r\n     Temperatura em x = Lx/2 (y, Tanal\xEDtico, Tnum\xE9rico)\r\n\r\n";
    EXPECT_EQ(text, head_x + tx + head_y + ty);
    EXPECT_EQ(r.platform.commands, (std::vector<std::string>{"plot 'Tx.gnu'", "plot 'Ty.gnu'"}));
}

TEST(Profiles, SinusoidalEndsUseTheLibrarySine)
{
    ResultsRun r(grid("7", "5", "2"));
    r.fill_boundary();
    r.profile_x();
    const std::string tx = read_file("Tx.dat");
    char last[64];
    std::snprintf(last, sizeof last, "%15.6E",
                  (std::sin((1.0 * pi) / 1.0) * std::sinh((1.0 * pi) / (1.0 * 2.0))) / std::sinh((1.0 * pi) / 1.0));
    EXPECT_EQ(tx.substr(tx.size() - 32, 15), last);
    EXPECT_NE(std::string(last), "   0.000000E+00");
}

constexpr std::string_view title62 = "Placa (8/7/2006)'                                             ";

TEST(PlotScripts, TitleReplacesEverythingAfterSixLines)
{
    const std::string six = "l1\nl2\r\n\xE9\tx\n\nl5\rz\nl6\n";
    const std::string title_lines = "set title '" + std::string(title62) + "\r\nreplot\r\n";
    EXPECT_EQ(replace_plot_title(six + "old title\nreplot\nmore\nlines\n", title62), six + title_lines);
    EXPECT_EQ(replace_plot_title(six, title62), six + title_lines);
    // a sixth line without its line end is ended first
    EXPECT_EQ(replace_plot_title("1\n2\n3\n4\n5\nsix", title62), "1\n2\n3\n4\n5\nsix\r\n" + title_lines);
    EXPECT_EQ(replace_plot_title("1\n2\n3\n4\n5\n", title62), "");
    EXPECT_EQ(replace_plot_title("", title62), "");
}

TEST(PlotScripts, MissingOrShortScriptGetsTheDefaultHeader)
{
    ResultsRun r(grid("6", "6"));
    write_file("Ty.gnu", "only\r\nfour\r\nlines\r\nhere\r\n");
    r.run.state.stamps.plot_title = FixedText<62>(title62);
    r.fill_boundary();
    r.profile_x();
    r.profile_y();
    const std::string tail = "set title '" + std::string(title62) + "\r\nreplot\r\n";
    EXPECT_EQ(read_file("Tx.gnu"), default_plot_header('x') + tail);
    EXPECT_EQ(read_file("Ty.gnu"), default_plot_header('y') + tail);
}

TEST(PlotScripts, ShippedHeadersAreTheDefaults)
{
    EXPECT_EQ(read_file(PLACATERMO_SOURCE_DIR "/data/Tx.gnu"), default_plot_header('x'));
    EXPECT_EQ(read_file(PLACATERMO_SOURCE_DIR "/data/Ty.gnu"), default_plot_header('y'));
    EXPECT_EQ(default_plot_header('x').substr(0, 21), "set encoding cp1252\r\n");
}

TEST(Summary, TenLines)
{
    testing::TempDir dir;
    CurrentGrid g;
    g.dx = 0.1;
    g.center_index = 2;
    const std::vector<double> t = {1.0, 28.25, 3.0};
    const std::string title = "Placa quadrada" + std::string(36, ' ');
    TextSink summary;
    write_summary(summary, t, 24.5, g, title, "(8/7/2006)  ");
    EXPECT_EQ(summary.text(),
              "     1.0000000000000000555E-01 = dx          Dia = (8/7/2006)  \r\n"
              "\r\n"
              "     2 = n\xFAmero total de vari\xE1veis\r\n"
              "\r\n"
              "   'Temperatura Central, Placa quadrada                                    '\r\n"
              "     2.8250000000000000000E+01 = solu\xE7\xE3o num\xE9rica\r\n"
              "\r\n"
              "   'T M\xE9"
              "dia, Placa quadrada                                    '\r\n"
              "     2.4500000000000000000E+01 = solu\xE7\xE3o num\xE9rica\r\n"
              "\r\n");
}

}  // namespace
}  // namespace placatermo

namespace placatermo {
namespace {

TEST(VtkFileName, ReplacesTheExtensionOfTheResultsFile)
{
    const struct {
        const char* results;
        const char* summary;
        const char* vtk;
    } table[] = {
        {"placa.res", "placa.dis", "placa.vtk"},
        {"placa", "placa.dis", "placa.vtk"},
        {"caso.1.res", "caso.dis", "caso.1.vtk"},
        {"saida/placa.res", "placa.dis", "saida/placa.vtk"},
        {"saida.d/placa", "placa.dis", "saida.d/placa.vtk"},
        {".res", "placa.dis", ".res.vtk"},
        // never over another file of the run
        {"placa.vtk", "placa.dis", "placa.vtk.vtk"},
        {"placa.res", "placa.vtk", "placa.res.vtk"},
        {"placa", "placa.vtk", "placa.vtk.vtk"},
    };
    for (const auto& row : table) EXPECT_EQ(vtk_file_name(row.results, row.summary), row.vtk) << row.results;
}

TEST(ErrorNorms, OfTheNumericalAgainstTheAnalyticalTemperature)
{
    // 4 x 3 real volumes of a plate 2 x 1.5: dx = dy = 0.5, centres at 0.25, 0.75, ...
    CurrentGrid g;
    g.nx = 6;
    g.ny = 5;
    g.volume_count = 30;
    g.dx = 0.5;
    g.dy = 0.5;
    const Plate plate{2.0, 1.5, BoundaryKind::linear};
    std::vector<double> t(30, 1e300);  // ghost entries are not looked at
    for (int j = 2; j <= 4; ++j)
        for (int i = 2; i <= 5; ++i) {
            const double x = (i - 2) * 0.5 + 0.25, y = (j - 2) * 0.5 + 0.25;
            t[static_cast<std::size_t>(volume_number(i, j, 6) - 1)] = 100.0 * x * y;
        }
    ErrorNorms exact = compute_error_norms(plate, g, t);
    EXPECT_EQ(exact.l1, 0.0);
    EXPECT_EQ(exact.l2, 0.0);
    EXPECT_EQ(exact.max, 0.0);
    // errors +3 and -4 in two of the twelve volumes
    t[static_cast<std::size_t>(volume_number(2, 2, 6) - 1)] += 3.0;
    t[static_cast<std::size_t>(volume_number(5, 4, 6) - 1)] -= 4.0;
    const ErrorNorms norms = compute_error_norms(plate, g, t);
    EXPECT_DOUBLE_EQ(norms.l1, 7.0 / 12.0);
    EXPECT_DOUBLE_EQ(norms.l2, std::sqrt(25.0 / 12.0));
    EXPECT_DOUBLE_EQ(norms.max, 4.0);
    t[static_cast<std::size_t>(volume_number(3, 3, 6) - 1)] = std::nan("");
    EXPECT_TRUE(std::isnan(compute_error_norms(plate, g, t).max));
}

TEST(PicturesScript, HistoryOnALogarithmicAxisWithTheTolerance)
{
    CurrentGrid g;
    g.nx = 4;
    g.ny = 4;
    g.volume_count = 16;
    g.dx = 0.5;
    g.dy = 0.5;
    const Plate plate{1.0, 1.0, BoundaryKind::linear};
    const std::vector<double> t(16, 0.0);
    const std::vector<double> ratios = {1.0, 0.25, std::nan(""), 0.0, 1e-3};
    const std::string script = pictures_script(plate, g, t, ratios, 1e-6, ErrorNorms{0.1, 0.2, 0.5}, "T 'x'");
    // only positive finite ratios, numbered by their outer iteration
    EXPECT_NE(script.find("$historico << EOD\n1 1\n2 0.25\n5 0.001\nEOD\n"), std::string::npos);
    EXPECT_NE(script.find("set logscale y\n"), std::string::npos);
    EXPECT_NE(script.find(", 1e-06 with lines dashtype 2 linewidth 2 title 'toler\xE2ncia 1e-06'"), std::string::npos);
    // a title's apostrophes are doubled for gnuplot
    EXPECT_NE(script.find("set title 'T ''x'''\n"), std::string::npos);
    EXPECT_NE(script.find("set title 'T ''x''  erro m\xE1ximo = 5.0000E-01'\n"), std::string::npos);
    // the map of the field: both boundary positions and the centres, a row a block
    EXPECT_NE(script.find("$campo << EOD\n0 0 0\n0.25 0 0\n0.75 0 0\n1 0 0\n\n0 0.25 0\n"), std::string::npos);
    EXPECT_NE(script.find("$erro << EOD\n0.25 0.25 -6.25\n0.75 0.25 -18.75\n\n"), std::string::npos);
    // the plate's true extent; a constant field still gets a colour range
    EXPECT_NE(script.find("set xrange [0:1]\nset yrange [0:1]\nset cbrange [-1e-12:1e-12]\n"), std::string::npos);
    EXPECT_NE(script.find("set xrange [0:6]\n"), std::string::npos);
}

// The factor of constructed histories: the geometric mean of the last ten
// reductions (all of them when there are fewer) and the further iterations
// it predicts; what a run without a factor gives.
TEST(ConvergenceFactor, OfConstructedHistories)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::optional<double> none;
    const std::optional<std::int64_t> never;
    struct Case {
        std::vector<double> ratios;
        double tolerance;
        std::optional<double> factor;
        std::int32_t reductions;
        std::optional<std::int64_t> further;
    };
    const Case table[] = {
        {{}, 1e-6, none, 0, never},
        {{1.0}, 1e-6, none, 0, never},  // one iteration: no reduction yet
        {{1.0}, 2.0, none, 0, 0},       // ... but within the tolerance
        {{1.0, 0.1}, 2e-6, 0.1, 1, 5},
        {{1.0, 0.5, 0.25}, 1e-3, 0.5, 2, 8},
        {{1.0, 0.5, 0.25}, 0.03125, 0.5, 2, 3},  // reached exactly after 3
        {{1.0, 0.5, 0.25}, 0.25, 0.5, 2, 0},     // converged: nothing more
        // twelve ratios: the growth 1 -> 8 is outside the last ten reductions
        {{1.0, 8.0, 4.0, 2.0, 1.0, 0.5, 0.25, 0.125, 0.0625, 0.03125, 0.015625, 0.0078125}, 1e-6, 0.5, 10, 13},
        // the same pace with the growth inside: (0.0078125 / 1)^(1/7)
        {{1.0, 8.0, 4.0, 2.0, 1.0, 0.5, 0.25, 0.125}, 1e-6, std::pow(0.125, 1.0 / 7.0), 7, 40},
        {{1.0, 1.0, 1.0}, 1e-6, 1.0, 2, never},  // stalled
        {{1.0, 2.0, 4.0}, 1e-6, 2.0, 2, never},  // diverging
        {{1.0, 0.5, 0.0}, 1e-6, 0.0, 2, 0},      // an exact solution
        {{1.0, 0.5, -0.0}, 1e-6, 0.0, 2, 0},
        {{0.0, 0.0, 0.0}, 1e-6, none, 0, 0},  // 0 / 0: no factor, but converged
        {{1.0, nan, 0.5}, 1e-6, none, 0, never},
        {{1.0, 0.5, nan}, 1e-6, none, 0, never},
        {{1.0, inf, 0.5}, 1e-6, none, 0, never},
        {{1.0, -0.5, 0.25}, 1e-6, none, 0, never},
        // a NaN before the window does not count
        {{nan, 1.0, 0.5, 0.25, 0.125, 0.0625, 0.03125, 0.015625, 0.0078125, 0.00390625, 0.001953125, 0.0009765625},
         1e-3,
         0.5,
         10,
         0},
        {{1.0, 0.5}, -1.0, 0.5, 1, never},  // a tolerance no ratio reaches
        {{1.0, 0.5}, nan, 0.5, 1, never},
        {{1.0, 0.9999999999}, 1e-12, 0.9999999999, 1, never},  // more than 2^31 - 1
    };
    for (std::size_t n = 0; n < std::size(table); ++n) {
        const Case& c = table[n];
        const ConvergenceFactor f = convergence_factor(c.ratios, c.tolerance);
        ASSERT_EQ(f.factor.has_value(), c.factor.has_value()) << n;
        if (c.factor) {
            EXPECT_DOUBLE_EQ(*f.factor, *c.factor) << n;
        }
        EXPECT_EQ(f.reductions, c.reductions) << n;
        EXPECT_EQ(f.further_iterations, c.further) << n;
    }
}

// What historico.png's second title line says.
TEST(ConvergenceFactor, InTheHistoryTitle)
{
    const std::pair<ConvergenceFactor, std::string> table[] = {
        {{}, "fator de converg\xEAncia: n\xE3o calculado"},
        {{0.5, 2, 8},
         "fator de converg\xEAncia 0.5 (m\xE9"
         "dia geom\xE9trica das 2 \xFAltimas redu\xE7\xF5"
         "es), 8 "
         "itera\xE7\xF5"
         "es a mais at\xE9 a toler\xE2ncia"},
        {{0.123456, 1, 1},
         "fator de converg\xEAncia 0.1235 (m\xE9"
         "dia geom\xE9trica das 1 \xFAltima redu\xE7\xE3o), 1 "
         "itera\xE7\xE3o a mais at\xE9 a toler\xE2ncia"},
        {{0.0, 10, 0},
         "fator de converg\xEAncia 0 (m\xE9"
         "dia geom\xE9trica das 10 \xFAltimas redu\xE7\xF5"
         "es)"},
        {{1.5, 10, std::nullopt},
         "fator de converg\xEAncia 1.5 (m\xE9"
         "dia geom\xE9trica das 10 \xFAltimas redu\xE7\xF5"
         "es), n\xE3o alcan\xE7"
         "a a "
         "toler\xE2ncia"},
    };
    for (const auto& [factor, text] : table) EXPECT_EQ(convergence_text(factor), text);
    CurrentGrid g;
    g.nx = 4;
    g.ny = 4;
    g.volume_count = 16;
    g.dx = 0.5;
    g.dy = 0.5;
    const std::vector<double> t(16, 0.0);
    const std::string script = pictures_script(Plate{1.0, 1.0, BoundaryKind::linear}, g, t,
                                               std::vector<double>{1.0, 0.5, 0.25}, 1e-3, ErrorNorms{}, "T");
    EXPECT_NE(script.find("set output 'historico.png'\nset title 'T' . \"\\n\" . '" + table[1].second + "'\n"),
              std::string::npos);
}

// niveis.png: a datablock and a curve per grid with positive finite norms,
// on a logarithmic axis; without any, a label instead of curves.
TEST(PicturesScript, LevelsOneCurvePerGrid)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<LevelNorms> levels = {
        {4, 4, {2, 3}, {0.5, 0.0}}, {6, 6, {2, 3}, {nan, -1.0}}, {10, 10, {1, 2, 3}, {272.5, 12.5, 0.25}}};
    const std::string script = levels_script(levels, "classico", "T 'x'");
    const std::string parts[] = {
        "reset\nset encoding cp1252\nset output 'niveis.png'\n",
        "$malha1 << EOD\n2 0.5\nEOD\n",
        "$malha3 << EOD\n1 272.5\n2 12.5\n3 0.25\nEOD\n",
        "set title 'T ''x''' . \"\\n\" . 'norma L1 do res\xED"
        "duo de cada malha depois da sua suaviza\xE7\xE3o, ciclo "
        "classico'\n",
        "set xrange [0:4]\n",
        "set logscale y\n",
        "plot $malha1 using 1:2 with linespoints pointtype 7 pointsize 0.5 title 'malha 1 (4 x 4)', $malha3 using 1:2 "
        "with linespoints pointtype 7 pointsize 0.5 title 'malha 3 (10 x 10)'\n",
    };
    for (const auto& part : parts) EXPECT_NE(script.find(part), std::string::npos) << part;
    EXPECT_EQ(script.find("$malha2"), std::string::npos);
    EXPECT_EQ(script.substr(script.size() - 11), "set output\n");
    const std::vector<LevelNorms> empty = {{4, 4, {2}, {0.0}}};
    const std::string none = levels_script(empty, "especificado", "T");
    EXPECT_NE(none.find("set label 1 'nenhuma norma positiva e finita'"), std::string::npos);
    EXPECT_EQ(none.find("logscale"), std::string::npos);
}

}  // namespace
}  // namespace placatermo
