// The convergence factor of a run: how much the history ratio falls per
// outer iteration at the end of the run, and how many more iterations that
// pace needs to reach the tolerance.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace placatermo {

// The reductions the factor averages at most: the last ones of a run.
inline constexpr int convergence_window = 10;

struct ConvergenceFactor {
    // The geometric mean of the last reductions ratio[n] / ratio[n - 1]
    // (every one when the run has fewer): (last / first of the window) to the
    // power 1 / reductions. None when the run has a single ratio, when a
    // ratio of the window is negative, infinite or NaN, or when the window
    // starts at zero (0 / 0). Zero when the last ratio is zero; 1 or more
    // when the iteration stalls or diverges.
    std::optional<double> factor;
    std::int32_t reductions = 0;  // how many the factor averages
    // The further outer iterations after the last one that the factor predicts
    // (the fewest m with last * factor^m <= tolerance): 0 when the last ratio
    // is already within the tolerance (whatever the factor); none without a
    // factor, with a factor of 1 or more, with a tolerance that is not
    // positive, or when the count would exceed the largest count of
    // iterations an input can ask for (2^31 - 1).
    std::optional<std::int64_t> further_iterations;
    bool operator==(const ConvergenceFactor&) const = default;
};

// The factor of a history (the ratios in order) against a tolerance.
ConvergenceFactor convergence_factor(std::span<const double> ratios, double tolerance);

}  // namespace placatermo
