#include "run/progress.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace placatermo {

std::string duration_text(double seconds)
{
    const long long whole = std::llround(std::max(0.0, seconds));
    char text[48];
    if (whole < 60)
        std::snprintf(text, sizeof text, "%lld s", whole);
    else if (whole < 3600)
        std::snprintf(text, sizeof text, "%lld min %02lld s", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld h %02lld min", whole / 3600, whole / 60 % 60);
    return text;
}

std::string progress_text(std::int32_t iteration, double ratio, double tolerance, double elapsed,
                          std::optional<double> seconds_left)
{
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "iteração %d: razão %.2E (tolerância %.2E), ", static_cast<int>(iteration),
                  ratio, tolerance);
    std::string text = numbers + duration_text(elapsed);
    if (seconds_left) text += *seconds_left < 0.5 ? ", falta <1 s" : ", faltam ~" + duration_text(*seconds_left);
    return text;
}

ProgressLine::ProgressLine(std::function<double()> clock, std::function<void(std::string_view)> show, double tolerance,
                           std::int32_t max_outer_iterations)
    : clock_(std::move(clock)),
      show_(std::move(show)),
      tolerance_(tolerance),
      max_outer_iterations_(max_outer_iterations),
      start_(clock_())
{
}

ProgressLine::~ProgressLine() { erase(); }

void ProgressLine::update(std::int32_t iteration, double ratio)
{
    const double elapsed = clock_() - start_;
    if (ratio > 0.0 && std::isfinite(ratio) && ratio < previous_ratio_) {
        ++falls_;
    } else {
        falls_ = 0;
        fall_start_time_ = elapsed;
        fall_start_ratio_ = ratio;
        fall_start_iteration_ = iteration;
    }
    previous_ratio_ = ratio;
    if (elapsed < delay || (shown_ && elapsed - shown_at_ < interval)) return;
    show_(progress_text(iteration, ratio, tolerance_, elapsed, seconds_left(iteration, ratio, elapsed)));
    shown_ = true;
    shown_at_ = elapsed;
}

void ProgressLine::erase()
{
    if (!shown_) return;
    shown_ = false;
    show_("");
}

std::optional<double> ProgressLine::seconds_left(std::int32_t iteration, double ratio, double elapsed) const
{
    const double span = elapsed - fall_start_time_;
    if (falls_ < steady_falls || !(span > 0.0)) return std::nullopt;
    std::optional<double> left;
    if (tolerance_ > 0.0 && std::isfinite(tolerance_)) {
        // the logarithm of the ratio falls at a steady rate
        const double rate = std::log(fall_start_ratio_ / ratio) / span;
        left = ratio <= tolerance_ ? 0.0 : std::log(ratio / tolerance_) / rate;
    }
    if (max_outer_iterations_ > iteration && iteration > fall_start_iteration_) {
        const double per_iteration = span / static_cast<double>(iteration - fall_start_iteration_);
        const double to_last = per_iteration * static_cast<double>(max_outer_iterations_ - iteration);
        left = left ? std::min(*left, to_last) : to_last;
    }
    return left;
}

}  // namespace placatermo
