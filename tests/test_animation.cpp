// The frames of --animacao: which iterations, which volumes, what values,
// and that taking them changes no bit of a run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>

#include "drivers/drivers.hpp"
#include "results/animation.hpp"
#include "results/picture_check.hpp"
#include "run_support.hpp"

namespace placatermo {
namespace {

using namespace placatermo::testing;

// A run ending at iteration `last`: how many frames, frames 39 to 44 (the
// end of the early ones and the first later ones), and the last four.
struct FramesCase {
    std::int32_t last;
    std::size_t count;
    std::vector<std::int32_t> after_early, end;
};

class FramesOfARun : public ::testing::TestWithParam<FramesCase> {};

TEST_P(FramesOfARun, Table)
{
    const FramesCase& c = GetParam();
    const std::vector<std::int32_t> frames = chosen_frames(c.last);
    EXPECT_EQ(frames.size(), c.count);
    EXPECT_LE(frames.size(), static_cast<std::size_t>(animation_max_frames));
    EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
    for (std::int32_t n = 1; n <= std::min(c.last, animation_early_frames); ++n)
        EXPECT_EQ(frames[static_cast<std::size_t>(n - 1)], n);
    if (frames.size() > 38) {
        EXPECT_EQ(
            std::vector<std::int32_t>(frames.begin() + 38, frames.begin() + std::min<std::size_t>(44, frames.size())),
            c.after_early);
    }
    EXPECT_EQ(std::vector<std::int32_t>(
                  frames.end() - static_cast<std::ptrdiff_t>(std::min<std::size_t>(4, frames.size())), frames.end()),
              c.end);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, FramesOfARun,
    ::testing::Values(FramesCase{1, 1, {}, {1}}, FramesCase{11, 11, {}, {8, 9, 10, 11}},
                      FramesCase{99, 99, {39, 40, 41, 42, 43, 44}, {96, 97, 98, 99}},
                      // the 100th would be the 60th later one: every other goes
                      FramesCase{100, 70, {39, 40, 42, 44, 46, 48}, {94, 96, 98, 100}},
                      FramesCase{101, 71, {39, 40, 42, 44, 46, 48}, {96, 98, 100, 101}},
                      FramesCase{1000, 70, {39, 40, 72, 104, 136, 168}, {904, 936, 968, 1000}},
                      // the last is kept off the spacing
                      FramesCase{5552, 84, {39, 40, 168, 296, 424, 552}, {5288, 5416, 5544, 5552}},
                      FramesCase{100000, 89, {39, 40, 2088, 4136, 6184, 8232}, {94248, 96296, 98344, 100000}}));

TEST(Animation, SampledLines)
{
    struct Case {
        std::int64_t first, last;
        std::size_t count;
        std::int64_t step, final;
    };
    for (const Case& c : {Case{2, 2, 1, 0, 2}, Case{2, 201, 200, 1, 201}, Case{2, 202, 101, 2, 202},
                          Case{2, 1025, 171, 6, 1022}, Case{2, 4097, 196, 21, 4097}}) {
        const std::vector<std::int64_t> lines = sampled_lines(c.first, c.last);
        ASSERT_EQ(lines.size(), c.count) << c.last;
        EXPECT_EQ(lines.front(), c.first);
        EXPECT_EQ(lines.back(), c.final) << c.last;
        for (std::size_t n = 1; n < lines.size(); ++n) ASSERT_EQ(lines[n] - lines[n - 1], c.step) << c.last;
    }
    EXPECT_TRUE(sampled_lines(2, 1).empty());
}

// The frames never hold more than about 32 MiB, whatever the grid.
TEST(Animation, MemoryIsBounded)
{
    EXPECT_EQ(IterationFrames::memory_bytes(10, 10), (102.0 * 2 * 4 + 8) * 64);
    EXPECT_LT(IterationFrames::memory_bytes(16386, 16386), 32.0 * 1024 * 1024);
    EXPECT_EQ(IterationFrames::memory_bytes(16386, 16386), IterationFrames::memory_bytes(4002, 4002));
}

// The residual of one volume, as the norm and the stored residual take it:
// the same magnitude to the last bit, in both forms of a system.
TEST(Animation, ResidualOfOneVolume)
{
    for (const bool uniform : {true, false}) {
        InputRecords r;
        r.nx = "12";
        r.ny = "9";
        const InputParameters in = r.parse();
        CurrentGrid grid;
        enter_grid(grid, in.plate(), in.grids, 1);
        LinearSystem system = uniform ? build_system(grid, in.plate()) : LinearSystem(build_table(grid, in.plate()));
        ASSERT_EQ(std::holds_alternative<UniformStencil>(system), uniform);
        std::vector<double> t(static_cast<std::size_t>(grid.volume_count));
        for (std::size_t p = 0; p < t.size(); ++p) t[p] = std::sin(0.37 * static_cast<double>(p)) * 50.0;
        std::vector<double> stored(t.size());
        store_residual(system, t, stored);
        double norm = 0.0;
        for (std::int64_t i = 2; i <= grid.nx - 1; ++i)
            for (std::int64_t j = 2; j <= grid.ny - 1; ++j) {
                const std::int64_t p = volume_number(i, j, grid.nx);
                const double r_p = residual_at(system, t, p);
                EXPECT_EQ(std::fabs(r_p), std::fabs(stored[static_cast<std::size_t>(p - 1)])) << p;
                norm = norm + std::fabs(r_p);
            }
        EXPECT_EQ(norm, compute_residual_norm(system, t)) << uniform;
    }
}

// Whole runs of each driver: a frame for each chosen iteration with its
// history ratio, the last frame's error the final field's, and the run's
// results and field the same to the last bit as without the frames.
struct RunCase {
    const char* name;
    std::string grid_count, n, solver, max_outer;
    std::optional<MultigridCycle> cycle;
};

class FramesOfADriver : public ::testing::TestWithParam<RunCase> {};

TEST_P(FramesOfADriver, FollowTheRun)
{
    const RunCase& c = GetParam();
    InputRecords r;
    r.grid_count = c.grid_count;
    r.nx = c.n;
    r.ny = c.n;
    r.solver_kind = c.solver;
    r.max_outer_iterations = c.max_outer;
    r.bc_kind = "2";
    DriverRun with(r);
    with.run.options.animation = true;
    with.run.options.record = true;  // keeps the history
    with.run.options.cycle = c.cycle;
    with.solve();
    ASSERT_TRUE(with.run.outcome.frames);
    const IterationFrames& frames = *with.run.outcome.frames;
    const std::int32_t last = with.run.outcome.iterations;
    std::vector<std::int32_t> iterations;
    for (const AnimationFrame& f : frames.frames()) {
        iterations.push_back(f.iteration);
        EXPECT_EQ(f.ratio, with.run.outcome.history[static_cast<std::size_t>(f.iteration - 1)]) << f.iteration;
        EXPECT_EQ(f.error.size(), frames.columns() * frames.rows());
        EXPECT_EQ(f.log_residual.size(), f.error.size());
    }
    EXPECT_EQ(iterations, chosen_frames(last));

    // the last frame against the final field at the sampled volumes
    const CurrentGrid& g = with.run.outcome.grid;
    const Plate plate = with.run.input.plate();
    const std::vector<std::int64_t> columns = sampled_lines(2, g.nx - 1), rows = sampled_lines(2, g.ny - 1);
    const AnimationFrame& end = frames.frames().back();
    double largest = 0.0;
    std::size_t n = 0;
    for (const std::int64_t j : rows)
        for (const std::int64_t i : columns) {
            const double error = with.run.outcome.t[static_cast<std::size_t>(volume_number(i, j, g.nx) - 1)] -
                                 plate.analytical_temperature(node_position(i, g.nx, plate.lx, g.dx),
                                                              node_position(j, g.ny, plate.ly, g.dy));
            largest = std::max(largest, std::fabs(error));
            ASSERT_EQ(end.error[n++], static_cast<float>(error)) << i << " " << j;
        }
    EXPECT_EQ(end.largest_error, largest);

    DriverRun without(r);
    without.run.options.cycle = c.cycle;
    without.solve();
    EXPECT_FALSE(without.run.outcome.frames);
    EXPECT_EQ(without.results, with.results);
    ASSERT_EQ(without.run.outcome.t.size(), with.run.outcome.t.size());
    EXPECT_EQ(std::memcmp(without.run.outcome.t.data(), with.run.outcome.t.data(),
                          with.run.outcome.t.size() * sizeof(double)),
              0);

    // the data as the script reads it: two float maps per frame
    const std::size_t map_bytes = frames.columns() * frames.rows() * sizeof(float);
    for (std::size_t f = 0; f < frames.frames().size(); ++f) EXPECT_EQ(frames.frame_data(f).size(), 2 * map_bytes);
    const std::string script = frames.script("quadros.bin", "t'tulo");
    std::size_t multiplots = 0;
    for (std::size_t at = 0; (at = script.find("\nset multiplot", at)) != std::string::npos; ++at) ++multiplots;
    EXPECT_EQ(multiplots, frames.frames().size());
    EXPECT_NE(script.find("skip=" + std::to_string((2 * frames.frames().size() - 1) * map_bytes) + " "),
              std::string::npos);
    EXPECT_NE(script.find("title 't''tulo' . \"\\n\""), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Drivers, FramesOfADriver,
                         ::testing::Values(RunCase{"GaussSeidelOneGrid", "1", "30", "2", "1000", std::nullopt},
                                           // more than 200 real volumes a side: sampled
                                           RunCase{"JacobiSampled", "1", "230", "1", "120", std::nullopt},
                                           RunCase{"SpecifiedCycle", "4", "4", "2", "1000", std::nullopt},
                                           RunCase{"TextbookCycle", "4", "4", "5", "1000", MultigridCycle::textbook},
                                           RunCase{"OneIteration", "3", "4", "4", "1", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

// The residual's colour range is the same for every frame and holds every
// finite value; a zero residual is drawn in its lowest colour.
TEST(Animation, ResidualRangeAndZeros)
{
    InputRecords r;
    r.nx = "20";
    r.ny = "20";
    r.max_outer_iterations = "30";
    DriverRun d(r);
    d.run.options.animation = true;
    d.solve();
    const IterationFrames& frames = *d.run.outcome.frames;
    const IterationFrames::Range range = frames.residual_range();
    EXPECT_LT(range.low, range.high);
    EXPECT_LE(range.high - range.low, 14.0);
    bool zero_seen = false;
    const std::size_t points = frames.columns() * frames.rows();
    for (std::size_t f = 0; f < frames.frames().size(); ++f) {
        const std::string data = frames.frame_data(f);
        for (std::size_t n = 0; n < points; ++n) {
            const float original = frames.frames()[f].log_residual[n];
            float drawn;
            std::memcpy(&drawn, data.data() + (points + n) * sizeof(float), sizeof drawn);
            zero_seen = zero_seen || std::isinf(original);
            ASSERT_GE(drawn, range.low);
            ASSERT_LE(drawn, range.high);
            if (original >= range.low) {
                ASSERT_EQ(drawn, original);
            }
        }
    }
    // Gauss-Seidel from zero reaches the far corner only after some sweeps
    EXPECT_TRUE(zero_seen);
}

// A GIF is whole only up to its trailer: what a full disk or a plotting
// program stopped half-way leaves, cut anywhere, is none.
TEST(Animation, GifImagesCounted)
{
    const std::string whole = small_gif();
    EXPECT_EQ(gif_image_count(whole), 2);
    std::string older = whole;
    older[4] = '7';
    EXPECT_EQ(gif_image_count(older), 2);
    for (std::size_t size = 0; size < whole.size(); ++size)
        EXPECT_EQ(gif_image_count(whole.substr(0, size)), std::nullopt) << size;
    for (const std::string& other : {whole + "x", "\x89PNG\r\n\x1a\n" + whole.substr(8), std::string(40, '\0')})
        EXPECT_EQ(gif_image_count(other), std::nullopt) << other.size();
    EXPECT_EQ(gif_image_count(whole.substr(0, 19) + ";"), 0);
}

// A PNG is whole only up to its IEND chunk: cut anywhere, grown, or with a
// chunk length that runs past the end, it is not.
TEST(Pictures, PngWholeOnlyToItsEnd)
{
    const std::string chunk_end("\0\0\0\0IEND\xae\x42\x60\x82", 12);
    const std::string header =
        std::string("\x89PNG\r\n\x1a\n", 8) + std::string("\0\0\0\x0dIHDR", 8) + std::string(13, '\1') + "crc!";
    const std::string whole = header + std::string("\0\0\0\x02IDATxycrc!", 14) + chunk_end;
    EXPECT_TRUE(png_is_whole(whole));
    for (std::size_t size = 0; size < whole.size(); ++size) EXPECT_FALSE(png_is_whole(whole.substr(0, size))) << size;
    std::string too_long = whole;
    too_long[header.size() + 3] = '\x7f';
    for (const std::string& other :
         {whole + "x", header + std::string("\0\0\0\x01IEND!crc!", 13), too_long, std::string(64, '\0'), small_gif()})
        EXPECT_FALSE(png_is_whole(other)) << other.size();
    EXPECT_TRUE(gif_is_whole(small_gif()));
    EXPECT_FALSE(gif_is_whole(small_gif().substr(1)));
}

// The script of one frame: the plate drawn to scale unless it is very thin
// (to scale it is a line, and gnuplot warns on every map), the data file's
// name whatever the temporary folder holds, a diverged ratio as NaN.
struct ScriptCase {
    const char* name;
    std::string lx, ly, data_file;
    double ratio;
    std::vector<std::string> parts;
};

class AnimationScript : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(AnimationScript, Lines)
{
    const ScriptCase& c = GetParam();
    InputRecords r;
    r.lx = c.lx;
    r.ly = c.ly;
    r.nx = "6";
    r.ny = "6";
    const InputParameters in = r.parse();
    CurrentGrid grid;
    enter_grid(grid, in.plate(), in.grids, 1);
    const LinearSystem system = build_system(grid, in.plate());
    const std::vector<double> t(static_cast<std::size_t>(grid.volume_count), 0.0);
    IterationFrames frames(in.plate(), grid);
    frames.see(1, c.ratio, true, system, t);
    const std::string script = frames.script(c.data_file, "titulo");
    for (const std::string& part : c.parts) EXPECT_NE(script.find(part), std::string::npos) << part << "\n" << script;
    // every line a command: no name broken over two
    for (std::size_t start = 0, end; (end = script.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_TRUE(script.compare(start, 4, "set ") == 0 || script.compare(start, 5, "plot ") == 0 ||
                    script.compare(start, 6, "unset ") == 0)
            << script.substr(start, end - start);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnimationScript,
    ::testing::Values(
        ScriptCase{"Square", "1.0", "1.0", "q.bin", 1.0, {"set size ratio -1\n", "plot 'q.bin' binary", "1.000E+00'"}},
        ScriptCase{"FourToOne", "1.0", "0.25", "q.bin", 0.5, {"set size ratio -1\n", "5.000E-01'"}},
        ScriptCase{"Thin", "1.0", "0.001", "q.bin", 1.0, {"set size ratio 0.2\n", "set yrange [0:0.001]\n"}},
        ScriptCase{"Tall", "0.001", "1.0", "q.bin", 1.0, {"set size ratio 5\n", "set xrange [0:0.001]\n"}},
        ScriptCase{"NaN", "1.0", "1.0", "q.bin", std::nan(""), {to_cp1252("razão NaN'")}},
        ScriptCase{"Infinity", "1.0", "1.0", "q.bin", INFINITY, {to_cp1252("razão Infinity'")}},
        ScriptCase{"NewlineInFolder",
                   "1.0",
                   "1.0",
                   "/t/a\nb/q.bin",
                   1.0,
                   {"plot '/t/a' . \"\\n\" . 'b/q.bin' binary array=(4,4)"}},
        ScriptCase{"ReturnAndApostrophe",
                   "1.0",
                   "1.0",
                   "it's\r\n$`x`/q.bin",
                   1.0,
                   {"plot 'it''s' . \"\\r\" . '' . \"\\n\" . '$`x`/q.bin' binary"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace placatermo
