// The arrays of the solution: doubles created with a name, so that a failed
// creation ends the run with an out-of-memory message naming the array.
//
// How the solution uses the heap, and why. A fresh page costs more in its
// first touch (the system zeroes it, in a virtual machine slowly) than the
// sweep that fills it, so the large arrays are kept from call to call:
// - each grid's system, residual and correction, and the MSI factors, are
//   created once and live as long as the solution;
// - a solver's work arrays are created for each call, and released memory
//   stays in the process (keep_released_memory, set by the program at its
//   start), so that the next call reuses the same pages;
// - on Linux the large arrays ask for 2 MiB pages before their first touch
//   (one fault for 512 small pages); a run lays the heap that its arrays come
//   from on such pages as a whole before it creates them
//   (lay_heap_on_huge_pages), so that the smaller arrays and the ends of
//   the large ones are on them too;
// - the helper thread of the two-thread sweeps is started before the large
//   arrays are created (prepare_parallel_sweeps, called by solve()), so that
//   what it allocates does not end up between them, and its counters are
//   kept from call to call.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace placatermo {

// Lays the heap that the next `bytes` of requests come from on 2 MiB pages,
// on Linux, after keep_released_memory: one block of that size is taken
// from the system at once, asked for huge pages and released, untouched, to
// the heap. The arrays created from it then fault in 2 MiB at a time, from
// end to end (a fresh small page costs more than the sweep that fills it, in
// a virtual machine several times more). Nothing is done below 16 MiB, and
// no more than 1.5 GiB is laid.
void lay_heap_on_huge_pages(double bytes);

// Creates an array of `count` doubles filled with `value`.
std::vector<double> create_array(std::string_view name, std::size_t count, double value = 0.0);

// An array of doubles whose entries are not set when it is created, for arrays
// that are filled completely before they are read.
class UninitializedArray {
public:
    UninitializedArray() = default;
    UninitializedArray(std::string_view name, std::size_t count);
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
