// A thread beside the calling one, and a job on it for the span of a scope:
// what the passes that split their rows in two need of the execution's
// second thread.
#pragma once

#include <exception>
#include <functional>
#include <utility>

namespace placatermo {

// A thread beside the calling one that runs one job at a time.
class SecondThread {
public:
    // Runs `job` on the thread; wait() returns once it has finished.
    virtual void start(std::function<void()> job) = 0;
    virtual void wait() = 0;

protected:
    ~SecondThread() = default;
};

// A job on a second thread for the span of a scope: started at once, and
// waited for by join() or, however the scope is left, by the destructor. An
// exception the job throws comes out of join().
class HelperJob {
public:
    HelperJob(SecondThread& thread, std::function<void()> job) : thread_(thread)
    {
        thread_.start([this, job = std::move(job)] {
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
        if (!joined_) thread_.wait();
    }
    void join()
    {
        joined_ = true;
        thread_.wait();
        if (failed_) std::rethrow_exception(std::exchange(failed_, nullptr));
    }

private:
    SecondThread& thread_;
    std::exception_ptr failed_;
    bool joined_ = false;
};

}  // namespace placatermo
