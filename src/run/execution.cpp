#include "run/execution.hpp"

#include "platform/platform.hpp"
#include "experiment/experiment.hpp"

namespace placatermo {

Execution start_execution(ExecutionThreads threads, Kernels kernels)
{
    keep_released_memory();
    Execution execution;
    execution.kernels = kernels;
    if (kernels == Kernels::plain) return execution;
    if (threads == ExecutionThreads::two_when_free && available_cores() >= 2) execution.second_thread = second_thread();
    execution.advise_large_pages = advise_large_pages;
    execution.populate_pages = populate_pages;
    return execution;
}

void lay_heap_for_run(const Execution& execution, double bytes)
{
    if (execution.advise_large_pages != nullptr) lay_heap_on_large_pages(bytes);
}

}  // namespace placatermo
