// The execution of the program's runs, chosen once at the program's start,
// and the heap that a run's arrays come from.
//
// A fresh page costs more in its first touch than the sweep that fills it,
// so the heap is prepared in this order:
// 1. released memory stays in the process (keep_released_memory), so that a
//    solver's work arrays reuse the pages of its previous call;
// 2. the helper thread of the two-thread passes is started before any large
//    array is created, so that what it allocates does not end up between
//    them;
// 3. once a run knows the bytes of its arrays, the heap they come from is
//    laid on 2 MiB pages as a whole (lay_heap_for_run), so that the smaller
//    arrays and the ends of the large ones are on them too;
// 4. each large array asks for large pages itself before its first touch.
// The plain kernels keep to ordinary pages and one thread.
#pragma once

#include "base/execution.hpp"

namespace placatermo {

enum class ExecutionThreads {
    one,            // the runs share the cores (a study), or there is one
    two_when_free,  // a second thread when this process may use two cores
};

// Steps 1 and 2, and the execution of every run of the program.
Execution start_execution(ExecutionThreads threads, Kernels kernels = default_kernels);

// Step 3, before the run creates its arrays.
void lay_heap_for_run(const Execution& execution, double bytes);

}  // namespace placatermo
