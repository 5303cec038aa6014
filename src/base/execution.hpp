// How a solution runs: the fast kernels or the plain loops that define their
// bits, whether a second thread takes part in the large passes, and how the
// large arrays are laid in memory. A front end chooses it once and passes it
// down; every choice gives the same bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace placatermo {

// The fast kernels, or the plain loops in the stated visiting order that
// they are measured and tested against.
enum class Kernels { fast, plain };

// What the program's front ends choose: the plain loops in a build made to
// measure against them (PLACATERMO_PLAIN_KERNELS), else the fast kernels.
// The number formatting of report/ takes printf there too, by this value:
// it gives the same bytes either way and is not passed an execution.
#ifdef PLACATERMO_PLAIN_KERNELS
inline constexpr Kernels default_kernels = Kernels::plain;
#else
inline constexpr Kernels default_kernels = Kernels::fast;
#endif

// A thread beside the calling one (base/second_thread.hpp).
class SecondThread;

// Asked between the sweeps of a solver's call: a stop asked for ends the
// call there, by an exception (every sweep is whole; no second thread is at
// work between sweeps).
class StopPoint {
public:
    virtual void check() const = 0;

protected:
    ~StopPoint() = default;
};

// The smallest grid (ghost volumes included) that a pass runs on two
// threads: below it, the waiting costs more than the second core gains.
struct TwoThreadSize {
    std::int64_t nx, ny;
};

// Measured for each kernel on its own.
struct TwoThreadSizes {
    // Gauss-Seidel and SOR: at least four groups of eight rows, each group's
    // steps long enough to hide the waiting.
    TwoThreadSize point_sweep{1000, 34};
    // ADI: both halves of the rows or the columns at least 16 long.
    TwoThreadSize adi{1000, 32};
    // MSI: the residual rows made ahead of the substitution.
    TwoThreadSize msi{500, 64};
    // Passes that stream through memory row by row (residual, restriction,
    // interpolation): two halves of at least 32 rows.
    TwoThreadSize streaming{1000, 64};
    // The field listing: two blocks of text formatted side by side from this
    // many values on.
    std::int64_t field_listing_values = std::int64_t{1} << 18;
    // Red-black Gauss-Seidel: two bands of rows, each sweep a wait for both
    // (a few microseconds while the helper watches for its next job).
    TwoThreadSize red_black{250, 64};
};

// A value made with no choice runs the fast kernels on one thread and on
// ordinary pages.
struct Execution {
    Kernels kernels = Kernels::fast;
    // The thread that takes the second half of the large passes; none: one
    // thread (no thread is ever started).
    SecondThread* second_thread = nullptr;
    // With a second thread, whether the point sweeps of a grid take whichever
    // of one and two threads has been faster on it, or always two.
    bool timed_point_sweeps = true;
    TwoThreadSizes two_thread_sizes{};
    // Asks for large pages under the whole such pages of a fresh block before
    // its first touch; none: ordinary pages.
    void (*advise_large_pages)(void* data, std::size_t bytes) = nullptr;
    // Maps the pages of a fresh block for writing without writing them: with
    // a second thread, the halves of a large array are mapped side by side
    // before it is filled. None: the fill's first writes map them.
    void (*populate_pages)(void* data, std::size_t bytes) = nullptr;
    // Where the solution may be stopped between sweeps; none: it is not.
    const StopPoint* stop = nullptr;

    bool plain() const { return kernels == Kernels::plain; }
    void stop_point() const
    {
        if (stop != nullptr) stop->check();
    }
    // Whether a fast pass over an nx x ny grid takes the second thread.
    bool two_threads_for(TwoThreadSize least, std::int64_t nx, std::int64_t ny) const
    {
        return second_thread != nullptr && !plain() && nx >= least.nx && ny >= least.ny;
    }
};

// The plain loops on one thread and ordinary pages: what the fast kernels are
// held to.
inline constexpr Execution plain_execution{Kernels::plain};

}  // namespace placatermo
