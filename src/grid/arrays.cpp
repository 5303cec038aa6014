#include "grid/arrays.hpp"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "base/errors.hpp"
#include "base/second_thread.hpp"

namespace placatermo {

namespace {

[[noreturn]] void out_of_memory(std::string_view name, std::size_t count)
{
    const double mib = static_cast<double>(count) * 8.0 / (1024.0 * 1024.0);
    char size[64];
    std::snprintf(size, sizeof size, "%.1f", mib);
    throw FatalError("memória insuficiente para criar o vetor " + std::string(name) + " com " + std::to_string(count) +
                     " valores (" + size + " MiB)");
}

// Arrays of 4 MiB or more ask for large pages before their first touch,
// when the execution says how.
void advise_large_pages(const Execution& execution, double* data, std::size_t count)
{
    constexpr std::size_t least = std::size_t{4} << 20;
    if (execution.advise_large_pages != nullptr && count * sizeof(double) >= least)
        execution.advise_large_pages(data, count * sizeof(double));
}

// The pages of a fresh array of 4 MiB or more mapped before its first
// write, the upper half on the second thread meanwhile, when the execution
// says how: in a virtual machine a fresh page can cost more than the pass
// that fills it.
void map_pages(const Execution& execution, double* data, std::size_t count)
{
    constexpr std::size_t least = std::size_t{4} << 20;
    constexpr std::size_t large_page = std::size_t{2} << 20;
    const std::size_t bytes = count * sizeof(double);
    if (execution.populate_pages == nullptr || execution.second_thread == nullptr || bytes < least) return;
    const std::size_t half = (bytes / 2) & ~(large_page - 1);
    char* const start = reinterpret_cast<char*>(data);
    HelperJob upper(*execution.second_thread, [&] { execution.populate_pages(start + half, bytes - half); });
    execution.populate_pages(start, half);
    upper.join();
}

}  // namespace

std::vector<double> create_array(const Execution& execution, std::string_view name, std::size_t count, double value)
{
    try {
        std::vector<double> values;
        values.reserve(count);
        advise_large_pages(execution, values.data(), count);
        map_pages(execution, values.data(), count);
        values.assign(count, value);
        return values;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    out_of_memory(name, count);
}

UninitializedArray::UninitializedArray(const Execution& execution, std::string_view name, std::size_t count)
    : size_(count)
{
    try {
        data_.reset(new double[count]);
        advise_large_pages(execution, data_.get(), count);
        map_pages(execution, data_.get(), count);
    } catch (const std::bad_alloc&) {
        out_of_memory(name, count);
    }
}

}  // namespace placatermo
