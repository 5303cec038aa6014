// The comparison of the numerical field with the analytical solution.
#include "results/results.hpp"

namespace placatermo {

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
