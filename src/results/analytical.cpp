// The comparison of the numerical field with the analytical solution.
#include "results/results.hpp"

#include <algorithm>
#include <vector>

namespace placatermo {

double numerical_mean_temperature(const Plate& plate, const CurrentGrid& g, std::span<const double> t_values)
{
    // The sum runs down each column, west to east. Read column by column, a
    // large field would cost a cache miss per value: a strip of columns is
    // copied row by row instead (the rows a few ahead asked for early), then
    // summed in the same order. The strip's columns lie a little more than a
    // power of two apart, so that they do not share cache sets. A narrow
    // field's strip holds only the columns it has: a tall field three columns
    // wide would otherwise ask for ten times its own memory.
    constexpr std::int64_t strip = 32, ahead = 8;
    const std::int64_t nx = g.nx;
    const std::int64_t rows = std::max<std::int64_t>(g.ny - 2, 0);
    const std::int64_t stride = rows + 8;
    std::vector<double> columns(static_cast<std::size_t>(std::clamp<std::int64_t>(nx - 2, 0, strip) * stride));
    double s = 0.0;
    for (std::int64_t first = 2; first <= nx - 1; first += strip) {
        const std::int64_t width = std::min(strip, nx - first);
        const double* row = t_values.data() + (volume_number(first, 2, nx) - 1);
        for (std::int64_t r = 0; r < rows; ++r, row += nx) {
            if (r + ahead < rows)
                for (std::int64_t w = 0; w < width; w += 8) __builtin_prefetch(row + ahead * nx + w);
            for (std::int64_t w = 0; w < width; ++w) columns[static_cast<std::size_t>(w * stride + r)] = row[w];
        }
        for (std::int64_t w = 0; w < width; ++w)
            for (std::int64_t r = 0; r < rows; ++r) s = s + columns[static_cast<std::size_t>(w * stride + r)];
    }
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

void write_comparison_blocks(ByteSink& results, double mean_numerical, double mean_analytical, double rate_numerical,
                             double rate_analytical)
{
    static const Layout mean_block(
        "(/, TR5, 'TEMPERATURA MÉDIA', /, /, E26.15, ' = numérica', /, E26.15, ' = analítica')");
    static const Layout rate_block(
        "(/, TR5, 'TAXA DE TRANSFERÊNCIA DE CALOR NO CONTORNO NORTE', /, /, E26.15, "
        "' = numérica', /, E26.15, ' = analítica')");
    results.write(mean_block, {mean_numerical, mean_analytical});
    results.write(rate_block, {rate_numerical, rate_analytical});
}

double compare_with_analytical(const Plate& plate, const CurrentGrid& g, std::span<const double> t_values,
                               ByteSink& results)
{
    const double numerical_mean = numerical_mean_temperature(plate, g, t_values);
    write_comparison_blocks(results, numerical_mean, plate.analytical_mean_temperature(),
                            numerical_north_heat_rate(plate, g, t_values), plate.analytical_north_heat_rate());
    return numerical_mean;
}

}  // namespace placatermo
