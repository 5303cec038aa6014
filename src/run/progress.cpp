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
    if (ratio > 0.0 && std::isfinite(ratio)) {
        // about a hundred lines to the window, however long the run: the
        // newest always, the one before it only when far enough from it
        const Sample sample{elapsed, iteration, std::log(ratio)};
        if (window_.size() >= 2 && elapsed - window_[window_.size() - 2].time < elapsed / 200.0)
            window_.back() = sample;
        else
            window_.push_back(sample);
        while (window_.size() > steady_lines && window_[1].time <= elapsed / 2.0) window_.pop_front();
    } else {
        // a NaN (or a ratio of nothing) says nothing of the fall to come
        window_.clear();
    }
    if (elapsed < delay || (shown_ && elapsed - shown_at_ < interval)) return;
    show_(progress_text(iteration, ratio, tolerance_, elapsed, seconds_left(elapsed)));
    shown_ = true;
    shown_at_ = elapsed;
}

void ProgressLine::erase()
{
    if (!shown_) return;
    shown_ = false;
    show_("");
}

namespace {

// The least-squares line of the logarithms of the ratios against time over
// samples [first, last]: its slope, the slope's standard error (0 with two
// samples) and its value at the last sample; nothing without a span of time.
struct Fall {
    double rate, error, last_log;
};
template <class Samples>
std::optional<Fall> fall_rate(const Samples& samples, std::size_t first, std::size_t last)
{
    const double n = static_cast<double>(last - first + 1);
    double mean_time = 0.0, mean_log = 0.0;
    for (std::size_t k = first; k <= last; ++k) {
        mean_time += samples[k].time;
        mean_log += samples[k].log_ratio;
    }
    mean_time /= n;
    mean_log /= n;
    double product = 0.0, square = 0.0;
    for (std::size_t k = first; k <= last; ++k) {
        const double dt = samples[k].time - mean_time;
        product += dt * (samples[k].log_ratio - mean_log);
        square += dt * dt;
    }
    if (!(square > 0.0)) return std::nullopt;
    const double rate = product / square;
    double residuals = 0.0;
    for (std::size_t k = first; k <= last; ++k) {
        const double off = samples[k].log_ratio - mean_log - rate * (samples[k].time - mean_time);
        residuals += off * off;
    }
    return Fall{rate, n > 2.0 ? std::sqrt(residuals / (n - 2.0) / square) : 0.0,
                mean_log + rate * (samples[last].time - mean_time)};
}

}  // namespace

std::optional<ProgressLine::Estimate> ProgressLine::estimate() const
{
    if (window_.size() < steady_lines) return std::nullopt;
    const std::size_t last = window_.size() - 1, middle = window_.size() / 2;
    const auto whole = fall_rate(window_, 0, last), earlier = fall_rate(window_, 0, middle),
               later = fall_rate(window_, middle, last);
    if (!whole || !earlier || !later) return std::nullopt;
    // a fall, known within half of itself despite the noise of the ratios
    if (!(-whole->rate > 0.0) || noise_errors * whole->error > 0.5 * -whole->rate) return std::nullopt;
    // the two halves fall alike, within steady_spread or their noise
    const double fast = std::max(-earlier->rate, -later->rate), slow = std::min(-earlier->rate, -later->rate);
    if (!(slow > 0.0) ||
        fast - slow > std::max(steady_spread * fast, noise_errors * std::hypot(earlier->error, later->error)))
        return std::nullopt;
    // a fall that slows down past its noise is not promised at its earlier pace
    Fall fall = *whole;
    if (-later->rate < -whole->rate - noise_errors * later->error) fall = *later;
    const Sample& now = window_.back();
    // the time left at the rate, and at the rate less and more its noise
    double seconds = 0.0, longest = 0.0, shortest = 0.0;
    bool known = false;
    if (tolerance_ > 0.0 && std::isfinite(tolerance_)) {
        // from the line, not from the last ratio with its noise
        const double to_fall = std::max(0.0, fall.last_log - std::log(tolerance_));
        const double rate = -fall.rate, noise = std::min(noise_errors * fall.error, 0.5 * rate);
        seconds = to_fall / rate;
        longest = to_fall / (rate - noise);
        shortest = to_fall / (rate + noise);
        known = true;
    }
    const Sample& first = window_.front();
    if (max_outer_iterations_ > now.iteration && now.iteration > first.iteration) {
        const double per_iteration = (now.time - first.time) / static_cast<double>(now.iteration - first.iteration);
        const double to_last = per_iteration * static_cast<double>(max_outer_iterations_ - now.iteration);
        seconds = known ? std::min(seconds, to_last) : to_last;
        longest = known ? std::min(longest, to_last) : to_last;
        shortest = known ? std::min(shortest, to_last) : to_last;
        known = true;
    }
    if (!known) return std::nullopt;
    return Estimate{seconds, (longest - shortest) / 2.0};
}

std::optional<double> ProgressLine::seconds_left(double elapsed)
{
    const auto now = estimate();
    if (!now) {
        left_shown_.reset();
        return std::nullopt;
    }
    if (left_shown_) {
        // the clock counts the one shown down while the estimate stays within
        // the window's spread of it: noise neither raises nor lowers it
        const double counted = std::max(0.0, *left_shown_ - (elapsed - left_shown_at_));
        if (std::fabs(now->seconds - counted) <= now->spread) return counted;
    }
    left_shown_ = now->seconds;
    left_shown_at_ = elapsed;
    return now->seconds;
}

}  // namespace placatermo
