#include "grid/arrays.hpp"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "report/errors.hpp"

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

}  // namespace

std::vector<double> create_array(std::string_view name, std::size_t count, double value)
{
    try {
        return std::vector<double>(count, value);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    out_of_memory(name, count);
}

UninitializedArray::UninitializedArray(std::string_view name, std::size_t count) : size_(count)
{
    try {
        data_.reset(new double[count]);
    } catch (const std::bad_alloc&) {
        out_of_memory(name, count);
    }
}

}  // namespace placatermo
