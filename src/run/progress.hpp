// The progress line of a long run: on a terminal, one line on standard error
// that rewrites itself as the history lines are written, and is erased when
// the solution ends. Nothing of it reaches a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
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
    // for `delay` seconds, and is rewritten at most every `interval`. The
    // time left comes from the rate at which the logarithm of the ratio has
    // fallen over a window of the last half of the run (a window that
    // follows a fall that slows down, and still holds enough lines to see
    // through their noise): shown once that rate is known within half of
    // itself and the rates of the window's two halves agree (within
    // steady_spread, or their noise); at the later half's rate when that one
    // is slower past its noise; capped by the last outer iteration allowed at
    // the window's pace. The clock counts the time shown down while new
    // estimates stay within their noise of it.
    void update(std::int32_t iteration, double ratio);
    // Takes the line away, when one is shown.
    void erase();

    static constexpr double delay = 1.0;
    static constexpr double interval = 0.2;
    // How far the rates of fall of the window's earlier and later halves may
    // differ, against the larger, for the fall to count as steady.
    static constexpr double steady_spread = 0.25;
    // How many standard errors of a rate its noise spans.
    static constexpr double noise_errors = 3.0;
    // The fewest history lines the window judges a fall by.
    static constexpr std::size_t steady_lines = 4;

private:
    // A history line kept for the estimate: its time, outer iteration and
    // the logarithm of its ratio.
    struct Sample {
        double time;
        std::int32_t iteration;
        double log_ratio;
    };
    // The time left estimated from the window, with the spread that the
    // noise of its rate makes of it; nothing until the fall is steady.
    struct Estimate {
        double seconds, spread;
    };
    std::optional<Estimate> estimate() const;
    // What the line shows: the estimate while it stays within its spread of
    // the one shown, counting down with the clock.
    std::optional<double> seconds_left(double elapsed);

    std::function<double()> clock_;
    std::function<void(std::string_view)> show_;
    double tolerance_;
    std::int32_t max_outer_iterations_;
    double start_;
    double shown_at_ = 0.0;
    bool shown_ = false;
    // the window: the history lines of the last half of the run, and the one
    // before them (steady_lines at least); thinned to about a hundred
    // whatever the run's length
    std::deque<Sample> window_;
    // the time left shown last and when
    std::optional<double> left_shown_;
    double left_shown_at_ = 0.0;
};

}  // namespace placatermo
