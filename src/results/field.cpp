// The temperature field of the finest grid: its boundary values, and its
// listing in the results file.
#include <algorithm>
#include <optional>
#include <string>

#include "base/execution.hpp"
#include "base/second_thread.hpp"
#include "results/results.hpp"

namespace placatermo {

void fill_boundary_values(const Plate& plate, const CurrentGrid& g, std::span<double> t_values)
{
    const std::int64_t nx = g.nx;
    const std::int64_t ny = g.ny;
    const From1<double> t(t_values);

    for (std::int64_t j = 1; j <= ny; ++j) t(volume_number(1, j, nx)) = 0.0;
    for (std::int64_t j = 1; j <= ny; ++j) {
        double y;
        if (j == 1)
            y = 0.0;
        else if (j == ny)
            y = plate.ly;
        else
            y = static_cast<double>(j - 2) * g.dy + 0.5 * g.dy;
        t(volume_number(nx, j, nx)) = plate.east_temperature(y);
    }
    for (std::int64_t i = 2; i <= nx - 1; ++i) t(volume_number(i, 1, nx)) = 0.0;
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        const double x = static_cast<double>(i - 2) * g.dx + 0.5 * g.dx;
        t(volume_number(i, ny, nx)) = plate.north_temperature(x);
    }
}

namespace {

const Layout& part_header()
{
    static const Layout layout("(/, TR2, 'parte ', I3)");
    return layout;
}

// A row of the listing: up to 8 fields E15.6, the layout (8(E15.6)).
constexpr int field_width = 15, field_digits = 6;

// Appends to `out` the lines of parts first ... last - 1 (from 0) of the
// listing: columns 8 p + 1 ... 8 p + 8 of every row, from the bottom row up.
void field_parts(std::string& out, std::span<const double> t_values, std::int64_t nx, std::int64_t ny,
                 std::int64_t first, std::int64_t last)
{
    constexpr std::int64_t ahead = 4;
    const From1<const double> t(t_values);
    for (std::int64_t part = first; part < last; ++part) {
        part_header().format(out, std::initializer_list<Value>{static_cast<std::int32_t>(part + 1)});
        const std::int64_t offset = 8 * part;
        const std::int64_t width = std::min<std::int64_t>(8, nx - offset);
        for (std::int64_t j = 1; j <= ny; ++j) {
            // the part's values a few rows up asked for early: each row's
            // are a whole row of the field apart
            if (j + ahead <= ny) {
                const double* later = &t(volume_number(offset + 1, j + ahead, nx));
                __builtin_prefetch(later);
                __builtin_prefetch(later + width - 1);
            }
            format_real_line(
                out, std::span<const double>(&t(volume_number(offset + 1, j, nx)), static_cast<std::size_t>(width)),
                field_width, field_digits);
        }
    }
}

}  // namespace

void write_temperature_field(ByteSink& file, std::span<const double> t_values, std::int32_t nx_, std::int32_t ny_,
                             const Execution& execution)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    // Blocks of parts (some 16 thousand values, 250 kB of text, each),
    // written in order; in large fields the execution's second thread
    // formats every other block.
    const std::int64_t parts = (nx + 7) / 8;
    const std::int64_t block = std::max<std::int64_t>(1, (1 << 14) / (8 * ny));
    SecondThread* second = execution.plain() || nx * ny < execution.two_thread_sizes.field_listing_values
                               ? nullptr
                               : execution.second_thread;
    // the two blocks' texts, kept from block to block so that their memory
    // is not asked for again
    std::string text[2];
    const auto lines = [&](std::string& out, std::int64_t from, std::int64_t to) {
        out.clear();
        field_parts(out, t_values, nx, ny, from, to);
    };
    for (std::int64_t first = 0; first < parts; first += 2 * block) {
        const std::int64_t middle = std::min(parts, first + block);
        const std::int64_t last = std::min(parts, middle + block);
        // the helper thread formats the second block while this one formats
        // and writes the first
        std::optional<HelperJob> job;
        if (second != nullptr && middle < last) job.emplace(*second, [&] { lines(text[1], middle, last); });
        lines(text[0], first, middle);
        file.write(text[0]);
        if (job)
            job->join();
        else
            lines(text[1], middle, last);
        file.write(text[1]);
    }
}

}  // namespace placatermo
