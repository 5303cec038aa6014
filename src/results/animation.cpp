#include "results/animation.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/bits.hpp"
#include "base/text.hpp"

namespace placatermo {

namespace {

// The residual maps span this many powers of ten at most below their
// largest value: what lies further down is drawn in the lowest colour.
constexpr double residual_decades = 14.0;

void append_float(std::string& out, float value)
{
    const auto bits = bits_as<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((bits >> shift) & 0xFFu);
}

// A ratio as the frame's title shows it: NaN and Infinity as the history
// lines write them.
std::string ratio_text(double ratio)
{
    if (std::isnan(ratio)) return "NaN";
    if (std::isinf(ratio)) return "Infinity";
    char text[32];
    std::snprintf(text, sizeof text, "%.3E", ratio);
    return text;
}

// A file name as a gnuplot string expression: a line break, which a folder's
// name can hold, would end the command; it is joined in as "\n".
std::string gnuplot_file_name(std::string_view name)
{
    std::string out;
    std::size_t start = 0;
    for (std::size_t at = 0; at < name.size(); ++at)
        if (name[at] == '\n' || name[at] == '\r') {
            out +=
                gnuplot_string(name.substr(start, at - start)) + (name[at] == '\n' ? " . \"\\n\" . " : " . \"\\r\" . ");
            start = at + 1;
        }
    return out + gnuplot_string(name.substr(start));
}

// Plates further from square than this are drawn this far from square, not
// to scale: to scale they would be a line (and gnuplot warns on every map).
constexpr double largest_aspect = 5.0;

}  // namespace

std::optional<std::int32_t> gif_image_count(std::string_view bytes)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])); };
    if (bytes.size() < 13 || (bytes.substr(0, 6) != "GIF89a" && bytes.substr(0, 6) != "GIF87a")) return std::nullopt;
    std::size_t at = 13;
    const auto colour_table = [&](unsigned flags) {
        if ((flags & 0x80u) != 0) at += 3u * (2u << (flags & 7u));
    };
    // data sub-blocks up to the empty one; false when the bytes end first
    const auto sub_blocks = [&] {
        while (at < bytes.size() && byte(at) != 0) at += 1u + byte(at);
        return at++ < bytes.size();
    };
    colour_table(byte(10));
    std::int32_t images = 0;
    while (at < bytes.size()) {
        const unsigned kind = byte(at++);
        if (kind == 0x3Bu) return at == bytes.size() ? std::optional(images) : std::nullopt;
        if (kind == 0x21u) {
            ++at;  // the extension's label
            if (!sub_blocks()) return std::nullopt;
        } else if (kind == 0x2Cu) {
            if (at + 9 > bytes.size()) return std::nullopt;
            const unsigned flags = byte(at + 8);
            at += 9;
            colour_table(flags);
            ++at;  // the LZW code size
            if (!sub_blocks()) return std::nullopt;
            ++images;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool FrameChoice::keep(std::int32_t n, bool last, std::vector<std::int32_t>& dropped)
{
    dropped.clear();
    bool wanted = n <= animation_early_frames;
    if (!wanted && (n - animation_early_frames) % spacing_ == 0) {
        if (later_ == animation_later_frames) {
            // full: every other later frame goes, and the spacing doubles
            spacing_ *= 2;
            std::erase_if(kept_, [&](std::int32_t k) {
                const bool drop = k > animation_early_frames && (k - animation_early_frames) % spacing_ != 0;
                if (drop) dropped.push_back(k);
                return drop;
            });
            later_ -= static_cast<std::int32_t>(dropped.size());
        }
        wanted = (n - animation_early_frames) % spacing_ == 0;
        if (wanted) ++later_;
    }
    // the last frame is kept whatever the spacing: the run's end state
    if (wanted || last) kept_.push_back(n);
    return wanted || last;
}

std::vector<std::int32_t> chosen_frames(std::int32_t last)
{
    FrameChoice choice;
    std::vector<std::int32_t> dropped;
    for (std::int32_t n = 1; n <= last; ++n) choice.keep(n, n == last, dropped);
    return choice.kept();
}

std::vector<std::int64_t> sampled_lines(std::int64_t first, std::int64_t last)
{
    std::vector<std::int64_t> lines;
    const std::int64_t count = last - first + 1;
    if (count <= 0) return lines;
    const std::int64_t step = (count + animation_map_points - 1) / animation_map_points;
    for (std::int64_t m = first; m <= last; m += step) lines.push_back(m);
    return lines;
}

IterationFrames::IterationFrames(const Plate& plate, const CurrentGrid& finest)
    : plate_(plate), grid_(finest), columns_(sampled_lines(2, finest.nx - 1)), rows_(sampled_lines(2, finest.ny - 1))
{
    analytical_.reserve(columns_.size() * rows_.size());
    for (const std::int64_t j : rows_)
        for (const std::int64_t i : columns_)
            analytical_.push_back(plate.analytical_temperature(node_position(i, grid_.nx, plate.lx, grid_.dx),
                                                               node_position(j, grid_.ny, plate.ly, grid_.dy)));
}

double IterationFrames::memory_bytes(std::int32_t nx, std::int32_t ny)
{
    const double points = static_cast<double>(sampled_lines(2, nx - 1).size() * sampled_lines(2, ny - 1).size());
    // the kept frames and the one being chosen, two float maps each; the
    // analytical values; one frame's data on its way to the plotting program
    return (animation_max_frames + 2) * points * 2.0 * sizeof(float) + points * sizeof(double);
}

void IterationFrames::see(std::int32_t iteration, double ratio, bool last, const LinearSystem& system,
                          std::span<const double> t)
{
    std::vector<std::int32_t> dropped;
    if (!choice_.keep(iteration, last, dropped)) return;
    std::erase_if(frames_, [&](const AnimationFrame& f) {
        return std::find(dropped.begin(), dropped.end(), f.iteration) != dropped.end();
    });
    AnimationFrame frame;
    frame.iteration = iteration;
    frame.ratio = ratio;
    frame.error.reserve(analytical_.size());
    frame.log_residual.reserve(analytical_.size());
    std::size_t n = 0;
    for (const std::int64_t j : rows_)
        for (const std::int64_t i : columns_) {
            const std::int64_t p = volume_number(i, j, grid_.nx);
            const double error = t[static_cast<std::size_t>(p - 1)] - analytical_[n++];
            if (std::isfinite(error)) frame.largest_error = std::max(frame.largest_error, std::fabs(error));
            frame.error.push_back(static_cast<float>(error));
            frame.log_residual.push_back(static_cast<float>(std::log10(std::fabs(residual_at(system, t, p)))));
        }
    frames_.push_back(std::move(frame));
}

IterationFrames::Range IterationFrames::residual_range() const
{
    double low = INFINITY, high = -INFINITY;
    for (const AnimationFrame& frame : frames_)
        for (const float value : frame.log_residual)
            if (std::isfinite(value)) low = std::min<double>(low, value), high = std::max<double>(high, value);
    if (!std::isfinite(high)) return {-1.0, 0.0};
    low = std::max(std::floor(low), std::ceil(high) - residual_decades);
    high = std::ceil(high);
    if (!(low < high)) low = high - 1.0;
    return {low, high};
}

std::string IterationFrames::frame_data(std::size_t f, const Range& range) const
{
    const AnimationFrame& frame = frames_[f];
    std::string out;
    out.reserve(analytical_.size() * 2 * sizeof(float));
    for (const float value : frame.error) append_float(out, value);
    for (const float value : frame.log_residual)
        // a zero residual (log -inf) and anything below the range in the lowest colour
        append_float(out, std::isnan(value) ? value : static_cast<float>(std::max<double>(value, range.low)));
    return out;
}

std::string IterationFrames::script(std::string_view data_file, std::string_view plot_title) const
{
    const std::size_t nc = columns_.size(), nr = rows_.size();
    const Range range = residual_range();
    // a map of one column or row has no image to draw: its volumes as squares
    const bool image = nc >= 2 && nr >= 2;
    const double step_x = nc >= 2 ? static_cast<double>(columns_[1] - columns_[0]) * grid_.dx : grid_.dx;
    const double step_y = nr >= 2 ? static_cast<double>(rows_[1] - rows_[0]) * grid_.dy : grid_.dy;
    const std::string source = gnuplot_file_name(data_file) + " binary array=(" + std::to_string(nc) + "," +
                               std::to_string(nr) + ") format='%float32' endian=little";
    const std::string placed = " dx=" + gnuplot_number(step_x) + " dy=" + gnuplot_number(step_y) + " origin=(" +
                               gnuplot_number(node_position(columns_.front(), grid_.nx, plate_.lx, grid_.dx)) + "," +
                               gnuplot_number(node_position(rows_.front(), grid_.ny, plate_.ly, grid_.dy)) + ")" +
                               (image ? " with image" : " with points pointtype 5 pointsize 3 palette");

    std::string out = "set encoding cp1252\n";
    // a few seconds whatever the count of frames
    out += "set terminal gif animate delay " + std::string(frames_.size() < 30 ? "60" : "20") +
           " loop 0 size 900,420 noenhanced font ',9'\n";
    out += "set output " + gnuplot_string(animation_file_name) + "\n";
    const double aspect = plate_.ly / plate_.lx;
    const std::string ratio = aspect > largest_aspect         ? gnuplot_number(largest_aspect)
                              : aspect < 1.0 / largest_aspect ? gnuplot_number(1.0 / largest_aspect)
                                                              : std::string("-1");
    out += "unset key\nset size ratio " + ratio + "\nset xlabel 'x'\nset ylabel 'y'\n";
    out += "set xrange [0:" + gnuplot_number(plate_.lx) + "]\nset yrange [0:" + gnuplot_number(plate_.ly) + "]\n";
    const std::size_t map_bytes = nc * nr * sizeof(float);
    for (std::size_t f = 0; f < frames_.size(); ++f) {
        const AnimationFrame& frame = frames_[f];
        out += "set multiplot layout 1,2 title " + gnuplot_string(plot_title) + " . \"\\n\" . " +
               gnuplot_string(to_cp1252("iteração externa ") + std::to_string(frame.iteration) +
                              to_cp1252("   razão ") + ratio_text(frame.ratio)) +
               "\n";
        char largest[32];
        std::snprintf(largest, sizeof largest, "%.3E", frame.largest_error);
        out += "set title " + gnuplot_string(to_cp1252("erro: T numérica - T analítica (máx. ") + largest + ")") + "\n";
        out += "set palette defined (0 '#2040c0', 1 'white', 2 '#c02020')\n";
        const double span = frame.largest_error > 0.0 ? frame.largest_error : 1.0;
        out += "set cbrange [" + gnuplot_number(-span) + ":" + gnuplot_number(span) + "]\n";
        out += "plot " + source + " skip=" + std::to_string(2 * f * map_bytes) + placed + "\n";
        out += "set title " + gnuplot_string(to_cp1252("log10 |resíduo| (mesma escala em todos os quadros)")) + "\n";
        out += "set palette rgbformulae 33,13,10\n";
        out += "set cbrange [" + gnuplot_number(range.low) + ":" + gnuplot_number(range.high) + "]\n";
        out += "plot " + source + " skip=" + std::to_string((2 * f + 1) * map_bytes) + placed + "\n";
        out += "unset multiplot\n";
    }
    out += "set output\n";
    return out;
}

}  // namespace placatermo
