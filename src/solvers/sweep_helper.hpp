// The second thread of the two-thread sweeps, and the progress counters
// through which the two threads wait for each other.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "solvers/solvers.hpp"

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

// Whether this process may run on two cores or more: its CPU affinity where
// the system has one (taskset -c 0 gives one), else the machine's count.
bool two_cores_available();

// The smallest grid (ghost volumes included) that a kernel sweeps on two
// threads: below it, the waiting costs more than the second core gains.
// Measured for each kernel on its own.
struct TwoThreadSize {
    std::int64_t nx, ny;
};
namespace two_thread_size {
// Gauss-Seidel and SOR: at least four groups of eight rows, each group's
// steps long enough to hide the waiting.
inline constexpr TwoThreadSize point_sweep{1000, 34};
// ADI: both halves of the rows or the columns at least 16 long.
inline constexpr TwoThreadSize adi{1000, 32};
// MSI: the residual rows made ahead of the substitution.
inline constexpr TwoThreadSize msi{500, 64};
// Passes that stream through memory row by row (residual, restriction,
// interpolation): two halves of at least 32 rows.
inline constexpr TwoThreadSize streaming{1000, 64};
}  // namespace two_thread_size

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

// One helper thread that lives as long as the program and runs one job at a
// time for the sweeps. Starting a thread per sweep costs more than the sweep
// gains on mid-sized grids.
class SweepHelper {
public:
    static SweepHelper& instance();

    // True when two-thread sweeps are enabled, the machine has two cores and
    // the helper thread could be started.
    bool available() const { return mode_ != ParallelSweeps::off && two_cores_ && thread_.joinable(); }
    // Whether the point sweeps time one thread against two (else two are
    // taken whenever available).
    bool timed() const { return mode_ == ParallelSweeps::faster; }
    // Whether an nx x ny grid of that size is swept on two threads.
    bool use_for(TwoThreadSize size, std::int64_t nx, std::int64_t ny) const
    {
        return available() && nx >= size.nx && ny >= size.ny;
    }
    void set_mode(ParallelSweeps mode) { mode_ = mode; }
    // The timings of the point sweeps of an nx x ny grid, kept for the
    // program's life (called from the solving thread only). ADI's half-steps
    // are not timed: timing them made the ADI runs measured slower.
    ThreadChoice& choice(std::int64_t nx, std::int64_t ny) { return choices_[{nx, ny}]; }

    // Counters for `groups` groups, zeroed by reset(), kept from call to call
    // (the heap policy in grid/arrays.hpp).
    GroupProgress& progress(std::size_t groups);

    // Runs `job` on the helper thread; wait() returns once it has finished.
    void start(std::function<void()> job);
    void wait();

    ~SweepHelper();

private:
    SweepHelper();
    void loop();

    ParallelSweeps mode_ = ParallelSweeps::faster;
    std::map<std::pair<std::int64_t, std::int64_t>, ThreadChoice> choices_;
    const bool two_cores_;
    std::unique_ptr<GroupProgress> progress_;
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::function<void()> job_;
    bool busy_ = false, stop_ = false;
    std::thread thread_;
};

// A job on the helper thread for the span of a scope: started at once, and
// waited for by join() or, however the scope is left, by the destructor. An
// exception the job throws comes out of join().
class HelperJob {
public:
    explicit HelperJob(std::function<void()> job)
    {
        SweepHelper::instance().start([this, job = std::move(job)] {
            try {
                job();
            } catch (...) {
                failed_ = std::current_exception();
            }
        });
    }
    HelperJob(const HelperJob&) = delete;
    HelperJob& operator=(const HelperJob&) = delete;
    ~HelperJob()
    {
        if (!joined_) SweepHelper::instance().wait();
    }
    void join()
    {
        joined_ = true;
        SweepHelper::instance().wait();
        if (failed_) std::rethrow_exception(std::exchange(failed_, nullptr));
    }

private:
    std::exception_ptr failed_;
    bool joined_ = false;
};

// Runs sweep(two) once, two saying whether on two threads: never unless
// `two_possible`; then always when the helper is not timed, else as the
// timings of that grid say (and the sweep is timed).
template <typename Sweep>
void run_sweep(bool two_possible, std::int64_t nx, std::int64_t ny, Sweep sweep)
{
    SweepHelper& helper = SweepHelper::instance();
    if (!two_possible || !helper.timed()) return sweep(two_possible);
    ThreadChoice& choice = helper.choice(nx, ny);
    const bool two = choice.two_threads();
    const auto start = std::chrono::steady_clock::now();
    sweep(two);
    choice.record(two, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace placatermo
