// The errors that end a run: every one carries the Portuguese message that the
// program prints on stderr before it exits with a non-zero code.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

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

}  // namespace placatermo
