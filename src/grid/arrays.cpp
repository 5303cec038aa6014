#include "grid/arrays.hpp"

#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "base/build_options.hpp"
#include "base/errors.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

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

// Asks for huge pages under a large array before its first use (the heap
// policy in arrays.hpp).
void advise_huge_pages([[maybe_unused]] const double* data, [[maybe_unused]] std::size_t count)
{
#if defined(__linux__)
    if constexpr (plain_kernels_only) return;
    constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
    if (count * sizeof(double) < 2 * huge) return;
    const auto first = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (first + huge - 1) & ~(huge - 1);
    const std::uintptr_t end = (first + count * sizeof(double)) & ~(huge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace

std::vector<double> create_array(std::string_view name, std::size_t count, double value)
{
    try {
        std::vector<double> values;
        values.reserve(count);
        advise_huge_pages(values.data(), count);
        values.assign(count, value);
        return values;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    out_of_memory(name, count);
}

UninitializedArray::UninitializedArray(std::string_view name, std::size_t count) : size_(count)
{
    try {
        data_.reset(new double[count]);
        advise_huge_pages(data_.get(), count);
    } catch (const std::bad_alloc&) {
        out_of_memory(name, count);
    }
}

}  // namespace placatermo
