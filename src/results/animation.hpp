// The frames of --animacao: the error against the analytical solution and
// the residual of the finest grid at chosen outer iterations, sampled as
// maps, and the gnuplot script that draws them, two maps side by side, into
// the animated picture iteracoes.gif.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "grid/grid.hpp"
#include "grid/linear_system.hpp"
#include "grid/plate.hpp"

namespace placatermo {

inline constexpr std::string_view animation_file_name = "iteracoes.gif";

// Columns or rows of a map at most: real volumes, evenly spaced.
inline constexpr std::int64_t animation_map_points = 200;
// Every one of the first outer iterations becomes a frame (where most
// changes), then evenly spaced later ones, never more than this many at
// once (the spacing doubles when there would be more), and the last one.
inline constexpr std::int32_t animation_early_frames = 40;
inline constexpr std::int32_t animation_later_frames = 59;
inline constexpr std::int32_t animation_max_frames = animation_early_frames + animation_later_frames + 1;

// Which outer iterations are frames, chosen as the run goes.
class FrameChoice {
public:
    // Whether iteration n (told in order, from 1) is kept; `last` when the run
    // ends with it. Fills `dropped` with the kept iterations that no longer are.
    bool keep(std::int32_t n, bool last, std::vector<std::int32_t>& dropped);
    const std::vector<std::int32_t>& kept() const { return kept_; }

private:
    std::int32_t spacing_ = 1;
    std::int32_t later_ = 0;  // later frames kept
    std::vector<std::int32_t> kept_;
};

// The frames of a run that ends at iteration `last` (1 or more).
std::vector<std::int32_t> chosen_frames(std::int32_t last);

// The evenly spaced indices first, first + step, ... up to last that sample
// count = last - first + 1 lines with at most animation_map_points of them.
std::vector<std::int64_t> sampled_lines(std::int64_t first, std::int64_t last);

// The images of a whole GIF file, read block by block to its trailer;
// nothing for bytes that are not one (a file cut short, another kind).
std::optional<std::int32_t> gif_image_count(std::string_view bytes);

struct AnimationFrame {
    std::int32_t iteration = 0;
    double ratio = 0.0;
    double largest_error = 0.0;       // the largest finite |error| of the map
    std::vector<float> error;         // T - T analytical, row by row
    std::vector<float> log_residual;  // log10 |a t - b|, row by row
};

class IterationFrames {
public:
    IterationFrames(const Plate& plate, const CurrentGrid& finest);

    // What the frames of a finest grid of nx x ny volumes hold at most.
    static double memory_bytes(std::int32_t nx, std::int32_t ny);

    // Told after every outer iteration's history line; keeps the frame when
    // the choice wants it.
    void see(std::int32_t iteration, double ratio, bool last, const LinearSystem& system, std::span<const double> t);

    const std::vector<AnimationFrame>& frames() const { return frames_; }
    std::size_t columns() const { return columns_.size(); }
    std::size_t rows() const { return rows_.size(); }

    // The colour range of the residual maps, the same for every frame.
    struct Range {
        double low, high;
    };
    Range residual_range() const;

    // The maps of frame f as the script reads them: 32-bit floats,
    // little-endian, the error map then the residual map (clamped to its
    // range), row by row. The data file is the frames' in order.
    std::string frame_data(std::size_t f) const { return frame_data(f, residual_range()); }
    // The same with the range given, for a caller that writes every frame.
    std::string frame_data(std::size_t f, const Range& range) const;
    // The script drawing `data_file` into iteracoes.gif.
    std::string script(std::string_view data_file, std::string_view plot_title) const;

private:
    Plate plate_;
    CurrentGrid grid_;
    std::vector<std::int64_t> columns_, rows_;
    std::vector<double> analytical_;  // at the sampled volumes, row by row
    FrameChoice choice_;
    std::vector<AnimationFrame> frames_;
};

}  // namespace placatermo
