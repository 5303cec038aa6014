// Boundary values, field listing and the comparison with the analytical
// solution.
#include <algorithm>
#include <future>
#include <string>
#include <thread>

#include "base/build_options.hpp"
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

const Layout& field_row()
{
    static const Layout layout("(8(E15.6))");
    return layout;
}

// The lines of parts first ... last - 1 (from 0) of the listing: columns
// 8 p + 1 ... 8 p + 8 of every row, from the bottom row up.
std::string field_parts(std::span<const double> t_values, std::int64_t nx, std::int64_t ny, std::int64_t first,
                        std::int64_t last)
{
    const From1<const double> t(t_values);
    std::string out;
    Value values[8];
    for (std::int64_t part = first; part < last; ++part) {
        part_header().format(out, std::initializer_list<Value>{static_cast<std::int32_t>(part + 1)});
        const std::int64_t offset = 8 * part;
        const std::int64_t width = std::min<std::int64_t>(8, nx - offset);
        for (std::int64_t j = 1; j <= ny; ++j) {
            for (std::int64_t m = 0; m < width; ++m) values[m] = t(volume_number(offset + 1 + m, j, nx));
            field_row().format(out, std::span<const Value>(values, static_cast<std::size_t>(width)));
        }
    }
    return out;
}

}  // namespace

void write_temperature_field(OutputFile& file, std::span<const double> t_values, std::int32_t ny_, std::int32_t nx_,
                             std::int32_t volume_count)
{
    const std::int64_t nx = nx_;
    const std::int64_t ny = ny_;
    // Blocks of parts (some 16 thousand values, 250 kB of text, each),
    // written in order; in large fields two threads format two blocks side
    // by side.
    const std::int64_t parts = (nx + 7) / 8;
    const std::int64_t block = std::max<std::int64_t>(1, (1 << 14) / (8 * ny));
    const bool two_threads =
        !plain_kernels_only && volume_count >= (1 << 18) && std::thread::hardware_concurrency() >= 2;
    for (std::int64_t first = 0; first < parts; first += 2 * block) {
        const std::int64_t middle = std::min(parts, first + block);
        const std::int64_t last = std::min(parts, middle + block);
        std::future<std::string> second;
        if (two_threads && middle < last)
            second = std::async(std::launch::async, field_parts, t_values, nx, ny, middle, last);
        file.write(field_parts(t_values, nx, ny, first, middle));
        file.write(second.valid() ? second.get() : field_parts(t_values, nx, ny, middle, last));
    }
}

double numerical_mean_temperature(const Plate& plate, const CurrentGrid& g, std::span<const double> t_values)
{
    const std::int64_t nx = g.nx;
    const std::int64_t ny = g.ny;
    const From1<const double> t(t_values);
    double s = 0.0;
    for (std::int64_t i = 2; i <= nx - 1; ++i)
        for (std::int64_t j = 2; j <= ny - 1; ++j) s = s + t(volume_number(i, j, nx));
    return ((s * g.dx) * g.dy) / (plate.lx * plate.ly);
}

double numerical_north_heat_rate(const Plate& plate, const CurrentGrid& g, std::span<const double> t_values)
{
    const std::int64_t nx = g.nx;
    const std::int64_t ny = g.ny;
    const From1<const double> t(t_values);
    double s2 = 0.0;
    for (std::int64_t i = 2; i <= nx - 1; ++i) {
        const double k = static_cast<double>(i - 2);
        const double x = g.dx * k + 0.5 * g.dx;
        s2 = (plate.north_temperature(x) - t(volume_number(i, ny - 1, nx))) + s2;
    }
    return -(((s2 * 2.0) * g.dx) / g.dy);
}

double compare_with_analytical(const Plate& plate, const CurrentGrid& g, std::span<const double> t_values,
                               OutputFile& results)
{
    static const Layout mean_block(
        "(/, TR5, 'TEMPERATURA MÉDIA', /, /, E26.15, ' = numérica', /, E26.15, ' = analítica')");
    static const Layout rate_block(
        "(/, TR5, 'TAXA DE TRANSFERÊNCIA DE CALOR NO CONTORNO NORTE', /, /, E26.15, "
        "' = numérica', /, E26.15, ' = analítica')");
    const double numerical_mean = numerical_mean_temperature(plate, g, t_values);
    results.write(mean_block, {numerical_mean, plate.analytical_mean_temperature()});
    const double numerical_rate = numerical_north_heat_rate(plate, g, t_values);
    results.write(rate_block, {numerical_rate, plate.analytical_north_heat_rate()});
    return numerical_mean;
}

}  // namespace placatermo
