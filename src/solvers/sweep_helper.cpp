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
#include <thread>

#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

// One helper thread that lives as long as the program and runs one job at a
// time for the sweeps. Starting a thread per sweep costs more than the sweep
// gains on mid-sized grids.
//
// A cycle hands the helper a job every few hundred microseconds. Waking a
// sleeping thread costs tens of microseconds, more in a virtual machine
// whose idle core the host has taken back, so each side first watches for
// the other for a while (spin_budget) and sleeps only then. Jobs and their
// ends are counted: a job is started once the count of posted jobs moves,
// and waited for until the count of finished ones catches up.
class SweepHelper final : public SecondThread {
public:
    SweepHelper();
    ~SweepHelper();
    bool running() const { return thread_.joinable(); }

    void start(std::function<void()> job) override;
    void wait() override;

private:
    static constexpr std::chrono::microseconds spin_budget{2000};
    void loop();

    std::function<void()> job_;
    std::atomic<std::uint64_t> posted_{0}, finished_{0};
    std::atomic<bool> stop_{false};
    // set by a side about to sleep, so that the other wakes it
    std::atomic<bool> helper_asleep_{false}, caller_asleep_{false};
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::thread thread_;
};

// Watches for ready() for up to `budget`; false when it did not come.
template <typename Ready>
bool watch_for(Ready ready, std::chrono::microseconds budget)
{
    const auto until = std::chrono::steady_clock::now() + budget;
    for (int spins = 1;; ++spins) {
        if (ready()) return true;
        if (spins % 64 == 0) {
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::yield();
        }
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
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
        stop_.store(true);
    }
    wake_.notify_one();
    thread_.join();
}

ThreadChoice& thread_choice(std::int64_t nx, std::int64_t ny)
{
    static std::map<std::pair<std::int64_t, std::int64_t>, ThreadChoice> choices;
    return choices[{nx, ny}];
}

GroupProgress& group_progress(std::size_t groups)
{
    static std::unique_ptr<GroupProgress> progress;
    if (!progress || progress->capacity() < groups)
        progress = std::make_unique<GroupProgress>(std::max<std::size_t>(groups, 1024));
    progress->use(groups);
    return *progress;
}

// The helper is between jobs here, so job_ is the caller's to set. The
// stores and loads of a count and of the other side's flag are sequentially
// consistent: either the sleeper sees the new count before it sleeps, or
// this side sees its flag and wakes it under the mutex.
void SweepHelper::start(std::function<void()> job)
{
    job_ = std::move(job);
    posted_.fetch_add(1);
    if (helper_asleep_.load()) {
        std::lock_guard lock(mutex_);
        wake_.notify_one();
    }
}

void SweepHelper::wait()
{
    const std::uint64_t posted = posted_.load(std::memory_order_relaxed);
    const auto done = [&] { return finished_.load() == posted; };
    if (watch_for(done, spin_budget)) return;
    std::unique_lock lock(mutex_);
    caller_asleep_.store(true);
    idle_.wait(lock, done);
    caller_asleep_.store(false);
}

void SweepHelper::loop()
{
    for (std::uint64_t taken = 0;;) {
        const auto posted_or_stopped = [&] { return posted_.load() != taken || stop_.load(); };
        if (!watch_for(posted_or_stopped, spin_budget)) {
            std::unique_lock lock(mutex_);
            helper_asleep_.store(true);
            wake_.wait(lock, posted_or_stopped);
            helper_asleep_.store(false);
        }
        if (posted_.load() == taken) return;  // stopped
        ++taken;
        job_();
        finished_.store(taken);
        if (caller_asleep_.load()) {
            std::lock_guard lock(mutex_);
            idle_.notify_one();
        }
    }
}

}  // namespace placatermo
