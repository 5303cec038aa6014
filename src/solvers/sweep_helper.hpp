// What the two-thread sweeps share: the progress counters through which the
// two threads wait for each other, and the choice between one and two
// threads. The thread itself is sweep_helper() (solvers.hpp).
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "base/execution.hpp"
#include "base/second_thread.hpp"

namespace placatermo {

// Waits until ready() holds: spins a little, then gives the core away
// between tries. The two threads of a sweep wait for each other this way.
template <typename Ready>
void spin_until(Ready ready)
{
    for (int spins = 0; !ready(); ++spins)
        if (spins > 64) std::this_thread::yield();
}

// One counter of finished steps per group of rows, each on its own cache
// line so that the two threads do not share one.
class GroupProgress {
public:
    explicit GroupProgress(std::size_t capacity) : done_(capacity), used_(capacity) {}
    std::size_t capacity() const { return done_.size(); }
    void use(std::size_t groups) { used_ = groups; }
    std::size_t size() const { return used_; }
    std::atomic<std::int64_t>& operator[](std::size_t g) { return done_[g].steps; }
    void reset()
    {
        for (std::size_t g = 0; g < used_; ++g) done_[g].steps.store(0, std::memory_order_relaxed);
    }

private:
    struct alignas(64) Counter {
        std::atomic<std::int64_t> steps{0};
    };
    std::vector<Counter> done_;
    std::size_t used_;
};

// The faster of one and two threads for the sweeps of one grid size, found
// by timing both. On a machine shared with other work the second core does
// not always pay: two threads waiting for each other across cores far apart
// were measured slower than one. The faster way is taken, and the other is
// tried again every `retry_every` sweeps, since the machine changes while a
// run goes on. Either way the field is the same to the bit.
class ThreadChoice {
public:
    static constexpr std::int64_t retry_every = 16;
    bool two_threads() const
    {
        if (mean_[1] < 0.0) return true;
        if (mean_[0] < 0.0) return false;
        const bool two_faster = mean_[1] <= mean_[0];
        return sweeps_ % retry_every == retry_every - 1 ? !two_faster : two_faster;
    }
    // The seconds of one sweep: the mean of each way leans to its latest
    // sweeps.
    void record(bool two, double seconds)
    {
        double& mean = mean_[two ? 1 : 0];
        mean = mean < 0.0 ? seconds : 0.5 * (mean + seconds);
        ++sweeps_;
    }

private:
    double mean_[2] = {-1.0, -1.0};  // seconds per sweep, one and two threads; < 0 before the first
    std::int64_t sweeps_ = 0;
};

// Where two threads split the rows of a sweep between them, found by timing
// each thread's part. The two cores of a virtual machine are not always
// equally fast (one sharing its physical core with other work was measured
// 40 % slower than the other for minutes), and the thread that is asked
// starts later than the one that asks: halves of equal rows leave the faster
// core waiting. The caller's share is the one that has both finish together
// at the per-row seconds and the start delay measured; each of these leans to
// its latest sweeps, as the machine changes while a run goes on. Where the
// rows are split does not change the bits of any sweep that takes it.
class BandSplit {
public:
    // The caller's share of `rows` rows, between 1/8 and 7/8.
    double caller_share(std::int64_t rows) const
    {
        if (caller_row_ <= 0.0 || helper_row_ <= 0.0 || rows <= 0) return 0.5;
        const auto n = static_cast<double>(rows);
        const double share = (delay_ + n * helper_row_) / (n * (caller_row_ + helper_row_));
        return std::clamp(share, 0.125, 0.875);
    }
    // One sweep: each thread's rows and seconds, and how long after the call
    // the helper started.
    void record(std::int64_t caller_rows, double caller_seconds, std::int64_t helper_rows, double helper_seconds,
                double delay)
    {
        if (caller_rows <= 0 || helper_rows <= 0) return;
        lean(caller_row_, caller_seconds / static_cast<double>(caller_rows));
        lean(helper_row_, helper_seconds / static_cast<double>(helper_rows));
        lean(delay_, std::max(delay, 0.0));
    }

private:
    static void lean(double& mean, double seconds) { mean = mean < 0.0 ? seconds : 0.5 * (mean + seconds); }
    double caller_row_ = -1.0, helper_row_ = -1.0, delay_ = -1.0;  // seconds; < 0 before the first sweep
};

// The timings of the point sweeps of an nx x ny grid, kept for the program's
// life (called from the solving thread only). ADI's half-steps are not timed:
// timing them made the ADI runs measured slower.
ThreadChoice& thread_choice(std::int64_t nx, std::int64_t ny);
// The same for the split of the red-black sweeps' rows.
BandSplit& band_split(std::int64_t nx, std::int64_t ny);

// Counters for `groups` groups, zeroed by reset(), kept from call to call
// (called from the solving thread only).
GroupProgress& group_progress(std::size_t groups);

// Runs sweep(two) once, two saying whether on two threads: never unless
// `two_possible`; then always when the execution does not time the point
// sweeps, else as the timings of that grid say (and the sweep is timed).
template <typename Sweep>
void run_sweep(const Execution& execution, bool two_possible, std::int64_t nx, std::int64_t ny, Sweep sweep)
{
    if (!two_possible || !execution.timed_point_sweeps) return sweep(two_possible);
    ThreadChoice& choice = thread_choice(nx, ny);
    const bool two = choice.two_threads();
    const auto start = std::chrono::steady_clock::now();
    sweep(two);
    choice.record(two, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace placatermo
