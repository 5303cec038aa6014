// The progress line of a long run: on a terminal, one line on standard error
// that rewrites itself as the history lines are written, and is erased when
// the solution ends. Nothing of it reaches a file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace placatermo {

// "12 s", "2 min 05 s", "1 h 02 min".
std::string duration_text(double seconds);

// "iteração 1234: razão 3.46E-05 (tolerância 1.00E-10), 12 s, faltam ~40 s";
// without an estimate the last part is left out.
std::string progress_text(std::int32_t iteration, double ratio, double tolerance, double elapsed,
                          std::optional<double> seconds_left);

class ProgressLine {
public:
    // `clock`: seconds from any origin; `show`: puts a line in place of the
    // one shown before ("" erases it).
    ProgressLine(std::function<double()> clock, std::function<void(std::string_view)> show, double tolerance,
                 std::int32_t max_outer_iterations);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // After every history line. The line appears once the run has gone on
    // for `delay` seconds, and is rewritten at most every `interval`.
    void update(std::int32_t iteration, double ratio);
    // Takes the line away, when one is shown.
    void erase();

    // The time left, once the ratio has fallen at `steady_falls` history
    // lines in a row: the time the ratio takes at its rate of fall since then
    // to reach the tolerance, or to reach the last outer iteration allowed at
    // the pace since then, whichever comes first.
    std::optional<double> seconds_left(std::int32_t iteration, double ratio, double elapsed) const;

    static constexpr double delay = 1.0;
    static constexpr double interval = 0.2;
    static constexpr int steady_falls = 3;

private:
    std::function<double()> clock_;
    std::function<void(std::string_view)> show_;
    double tolerance_;
    std::int32_t max_outer_iterations_;
    double start_;
    double shown_at_ = 0.0;
    bool shown_ = false;
    // the current run of falling ratios: where it began and how long it is
    double previous_ratio_ = 0.0;
    int falls_ = 0;
    double fall_start_time_ = 0.0, fall_start_ratio_ = 0.0;
    std::int32_t fall_start_iteration_ = 0;
};

}  // namespace placatermo
