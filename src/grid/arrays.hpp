// The arrays of the solution: doubles created with a name, so that a failed
// creation ends the run with an out-of-memory message naming the array.
//
// A fresh page costs more in its first touch (the system zeroes it, in a
// virtual machine slowly) than the sweep that fills it, so the large arrays
// are kept from call to call: each grid's system, residual and correction,
// and the MSI factors, are created once and live as long as the solution; a
// solver's work arrays are created for each call, from memory the previous
// call released. How the heap is prepared for them (kept released memory,
// the helper thread started first, large pages) is the front end's start of
// a run (run/execution.hpp); an array asks for large pages itself when the
// execution says how.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "base/execution.hpp"

namespace placatermo {

// Creates an array of `count` doubles filled with `value`.
std::vector<double> create_array(const Execution& execution, std::string_view name, std::size_t count,
                                 double value = 0.0);

// An array of doubles whose entries are not set when it is created, for arrays
// that are filled completely before they are read.
class UninitializedArray {
public:
    UninitializedArray() = default;
    UninitializedArray(const Execution& execution, std::string_view name, std::size_t count);
    double* data() { return data_.get(); }
    const double* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    double& operator[](std::size_t i) { return data_[i]; }
    double operator[](std::size_t i) const { return data_[i]; }
    double* begin() { return data_.get(); }
    double* end() { return data_.get() + size_; }
    operator std::span<double>() { return {data_.get(), size_}; }
    operator std::span<const double>() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<double[]> data_;
    std::size_t size_ = 0;
};

}  // namespace placatermo
