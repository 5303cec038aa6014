#include "solvers/sweep_helper.hpp"

#include <algorithm>
#include <system_error>

#if defined(__linux__)
#include <sched.h>
#endif

namespace placatermo {

SweepHelper& SweepHelper::instance()
{
    static SweepHelper helper;
    return helper;
}

bool two_cores_available()
{
#if defined(__linux__)
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return CPU_COUNT(&cpus) >= 2;
#endif
    return std::thread::hardware_concurrency() >= 2;
}

// A helper thread that cannot be started (the system's limit on threads or
// on memory reached) leaves the program on one thread, with the same bits.
SweepHelper::SweepHelper() : two_cores_(two_cores_available())
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

GroupProgress& SweepHelper::progress(std::size_t groups)
{
    if (!progress_ || progress_->capacity() < groups)
        progress_ = std::make_unique<GroupProgress>(std::max<std::size_t>(groups, 1024));
    progress_->use(groups);
    return *progress_;
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
