// The convergence factor from the history ratios.
#include "results/convergence.hpp"

#include <cmath>
#include <limits>

namespace placatermo {

ConvergenceFactor convergence_factor(std::span<const double> ratios, double tolerance)
{
    ConvergenceFactor result;
    const std::size_t n = ratios.size();
    if (n == 0) return result;
    const double last = ratios[n - 1];
    if (last <= tolerance) result.further_iterations = 0;
    if (n < 2) return result;
    const std::size_t reductions = std::min<std::size_t>(convergence_window, n - 1);
    const std::span<const double> window = ratios.subspan(n - 1 - reductions);
    for (const double ratio : window)
        if (!std::isfinite(ratio) || ratio < 0.0) return result;
    const double first = window.front();
    if (first == 0.0) return result;
    result.reductions = static_cast<std::int32_t>(reductions);
    // the product of the reductions telescopes to last / first
    const double factor = last == 0.0 ? 0.0 : std::pow(last / first, 1.0 / static_cast<double>(reductions));
    result.factor = factor;
    if (result.further_iterations || !(factor < 1.0) || !(tolerance > 0.0)) return result;
    const double largest = std::numeric_limits<std::int32_t>::max();
    const double steps = std::ceil(std::log(tolerance / last) / std::log(factor));
    if (!(steps <= largest)) return result;
    auto m = static_cast<std::int64_t>(steps);
    // the logarithms may round a count that is exact by one either way
    if (m > 1 && last * std::pow(factor, static_cast<double>(m - 1)) <= tolerance)
        --m;
    else if (last * std::pow(factor, static_cast<double>(m)) > tolerance && m < largest)
        ++m;
    result.further_iterations = m;
    return result;
}

}  // namespace placatermo
