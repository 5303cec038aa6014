#include "solvers/sweep_helper.hpp"

#include <algorithm>
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
class SweepHelper final : public SecondThread {
public:
    SweepHelper();
    ~SweepHelper();
    bool running() const { return thread_.joinable(); }

    void start(std::function<void()> job) override;
    void wait() override;

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::function<void()> job_;
    bool busy_ = false, stop_ = false;
    std::thread thread_;
};

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
        busy_ = true;
    }
    wake_.notify_one();
}

void SweepHelper::wait()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return !busy_; });
}

void SweepHelper::loop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return busy_ || stop_; });
        if (stop_) return;
        lock.unlock();
        job_();
        lock.lock();
        busy_ = false;
        idle_.notify_one();
    }
}

}  // namespace placatermo
