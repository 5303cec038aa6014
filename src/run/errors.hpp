// The errors that end a run: every one carries the Portuguese message that the
// program prints on stderr before it exits with a non-zero code.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace placatermo {

class FatalError : public std::runtime_error {
public:
    explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

// Portuguese text for a system error number (errno).
std::string system_error_text(int error_number);

// Message for a failed file operation, naming the file: for example
// `não foi possível criar o arquivo "placa.res": permissão negada`.
[[noreturn]] void fail_file(std::string_view action, std::string_view file_name, int error_number);

// Creates an array of `count` doubles filled with `value`; a failed creation
// ends the run with an out-of-memory message naming the array and its size.
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
    double* begin() { return data_.get(); }
    double* end() { return data_.get() + size_; }
    operator std::span<double>() { return {data_.get(), size_}; }
    operator std::span<const double>() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<double[]> data_;
    std::size_t size_ = 0;
};

}  // namespace placatermo
