#include "solvers/sweep_helper.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>

#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

// One helper thread that lives as long as the program and runs one job at a
// time for the sweeps. Starting a thread per sweep costs more than the sweep
// gains on mid-sized grids.
//
// Waking a sleeping thread costs 30-50 us in a virtual machine, and the
// passes of a cycle hand over a job every 50-400 us: so the helper, once a
// job is done, watches for the next one for a millisecond before it sleeps,
// and the caller, once the helper has taken the job, watches for its end for
// a while before it sleeps (a job not yet taken may be waiting for the
// caller's own core). Neither watches on a busy machine: a watch that loses
// its core to another thread ends at once, and the threads then sleep at once
// for a second.
class SweepHelper final : public SecondThread {
public:
    SweepHelper();
    ~SweepHelper();
    bool running() const { return thread_.joinable(); }

    void start(std::function<void()> job) override;
    void wait() override;

private:
    void loop();
    template <typename Ready>
    bool watch_for(Ready ready, std::chrono::microseconds watch, bool give_way);

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::function<void()> job_;
    // written under the mutex; read without it by a watching thread
    std::atomic<bool> busy_ = false, taken_ = false, stop_ = false;
    // the steady clock's count before which neither thread watches
    std::atomic<std::chrono::steady_clock::rep> no_watch_before_ = 0;
    std::thread thread_;
};

constexpr std::chrono::microseconds helper_watch{1000};
constexpr std::chrono::microseconds caller_watch{200};
// a pause between two looks at the clock this long: the core was lent
constexpr std::chrono::microseconds lent_core{50};
constexpr std::chrono::milliseconds no_watch_after_lending{1000};

// Waits up to `watch` for ready() without sleeping, between looks at the clock
// giving the core to any thread ready to run on it when `give_way`; whether
// ready() holds. Once the core has been lent (or the thread kept off it),
// neither thread watches for a while.
template <typename Ready>
bool SweepHelper::watch_for(Ready ready, std::chrono::microseconds watch, bool give_way)
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point now = Clock::now();
    if (now.time_since_epoch().count() < no_watch_before_.load(std::memory_order_relaxed)) return ready();
    const Clock::time_point until = now + watch;
    for (;;) {
        for (int spins = 0; spins < 64; ++spins) {
            if (ready()) return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        const Clock::time_point before = now;
        now = Clock::now();
        if (now - before > lent_core) {
            no_watch_before_.store((now + no_watch_after_lending).time_since_epoch().count(),
                                   std::memory_order_relaxed);
            return ready();
        }
        if (now >= until) return ready();
        if (give_way) std::this_thread::yield();
    }
}

}  // namespace

SecondThread* sweep_helper()
{
    static SweepHelper helper;
    return helper.running() ? &helper : nullptr;
}

// A helper thread that cannot be started (the system's limit on threads or
// on memory reached) leaves the program on one thread, with the same bits.
SweepHelper::SweepHelper()
{
    try {
        thread_ = std::thread([this] { loop(); });
    } catch (const std::system_error&) {
    }
}

SweepHelper::~SweepHelper()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

ThreadChoice& thread_choice(std::int64_t nx, std::int64_t ny)
{
    static std::map<std::pair<std::int64_t, std::int64_t>, ThreadChoice> choices;
    return choices[{nx, ny}];
}

BandSplit& band_split(std::int64_t nx, std::int64_t ny)
{
    static std::map<std::pair<std::int64_t, std::int64_t>, BandSplit> splits;
    return splits[{nx, ny}];
}

GroupProgress& group_progress(std::size_t groups)
{
    static std::unique_ptr<GroupProgress> progress;
    if (!progress || progress->capacity() < groups)
        progress = std::make_unique<GroupProgress>(std::max<std::size_t>(groups, 1024));
    progress->use(groups);
    return *progress;
}

void SweepHelper::start(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        taken_ = false;
        busy_ = true;
    }
    wake_.notify_one();
}

void SweepHelper::wait()
{
    if (taken_.load(std::memory_order_relaxed) &&
        watch_for([&] { return !busy_.load(std::memory_order_acquire); }, caller_watch, false))
        return;
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return !busy_; });
}

void SweepHelper::loop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!busy_ && !stop_) {
            lock.unlock();
            watch_for([&] { return busy_.load(std::memory_order_acquire) || stop_.load(std::memory_order_acquire); },
                      helper_watch, true);
            lock.lock();
        }
        wake_.wait(lock, [&] { return busy_ || stop_; });
        if (stop_) return;
        taken_ = true;
        lock.unlock();
        job_();
        lock.lock();
        busy_ = false;
        idle_.notify_one();
    }
}

}  // namespace placatermo
