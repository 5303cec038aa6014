// The error of the numerical temperature against the analytical one.
#include <cmath>

#include "results/results.hpp"

namespace placatermo {

ErrorNorms compute_error_norms(const Plate& plate, const CurrentGrid& g, std::span<const double> t_values)
{
    const std::int64_t nx = g.nx;
    const std::int64_t ny = g.ny;
    const From1<const double> t(t_values);
    ErrorNorms norms;
    double sum = 0.0, squares = 0.0;
    bool not_a_number = false;
    for (std::int64_t j = 2; j <= ny - 1; ++j) {
        const double y = node_position(j, ny, plate.ly, g.dy);
        for (std::int64_t i = 2; i <= nx - 1; ++i) {
            const double x = node_position(i, nx, plate.lx, g.dx);
            const double e = std::fabs(t(volume_number(i, j, nx)) - plate.analytical_temperature(x, y));
            sum += e;
            squares += e * e;
            if (std::isnan(e))
                not_a_number = true;
            else if (e > norms.max)
                norms.max = e;
        }
    }
    // a NaN anywhere makes the largest error a NaN
    if (not_a_number) norms.max = std::nan("");
    const double count = static_cast<double>((nx - 2) * (ny - 2));
    if (count > 0.0) {
        norms.l1 = sum / count;
        norms.l2 = std::sqrt(squares / count);
    }
    return norms;
}

}  // namespace placatermo
