#include "grid/arrays.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

constexpr std::size_t huge_page = std::size_t{2} << 20;

// Asks for huge pages on the whole 2 MiB pages inside `bytes` from `data`
// before their first use (the heap policy in arrays.hpp); not in a build of
// the plain loops.
void advise_huge_pages_within([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t bytes)
{
#if defined(__linux__)
    if constexpr (plain_kernels_only) return;
    const auto first = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (first + huge_page - 1) & ~std::uintptr_t{huge_page - 1};
    const std::uintptr_t end = (first + bytes) & ~std::uintptr_t{huge_page - 1};
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

// ... under an array of 4 MiB or more.
void advise_huge_pages(const double* data, std::size_t count)
{
    if (count * sizeof(double) >= 2 * huge_page) advise_huge_pages_within(data, count * sizeof(double));
}

}  // namespace

void lay_heap_on_huge_pages([[maybe_unused]] double bytes)
{
#if defined(__GLIBC__) && defined(__linux__)
    constexpr double least = 16.0 * 1024 * 1024;
    constexpr double most = 1536.0 * 1024 * 1024;  // below keep_released_memory's trim threshold, which keeps it
    if (!(bytes >= least)) return;
    const auto size = static_cast<std::size_t>(std::min(bytes, most));
    void* block = std::malloc(size);
    if (block == nullptr) return;  // the arrays will say it, with their names
    advise_huge_pages_within(block, size);
    std::free(block);
#endif
}

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
