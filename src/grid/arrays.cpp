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

// The pages of a fresh array of 4 MiB or more, before its first write, when
// the execution says how: asked for large pages, then mapped, the upper half
// on the second thread meanwhile (in a virtual machine a fresh page can cost
// more than the pass that fills it).
void prepare_pages(const Execution& execution, double* data, std::size_t count)
{
    constexpr std::size_t least = std::size_t{4} << 20;
    constexpr std::size_t large_page = std::size_t{2} << 20;
    const std::size_t bytes = count * sizeof(double);
    if (bytes < least) return;
    if (execution.advise_large_pages != nullptr) execution.advise_large_pages(data, bytes);
    if (execution.populate_pages == nullptr || execution.second_thread == nullptr) return;
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
        prepare_pages(execution, values.data(), count);
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
        prepare_pages(execution, data_.get(), count);
    } catch (const std::bad_alloc&) {
        out_of_memory(name, count);
    }
}

}  // namespace placatermo
