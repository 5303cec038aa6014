// The errors that end a run: every one carries the Portuguese message that the
// program prints on stderr before it exits with a non-zero code.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace placatermo {

class FatalError : public std::runtime_error {
public:
    explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

// What the command line asked for cannot be done: nothing was written, and
// the program exits with 2, as for an unknown argument.
class CommandLineError : public FatalError {
public:
    using FatalError::FatalError;
};

// Portuguese text for a system error number (errno): what happened and, where
// the user can do something about it, what to check.
std::string system_error_text(int error_number);

// The same for an error code of the standard library: errno values, and on
// Windows also the Win32 codes that std::filesystem reports in the system
// category.
std::string system_error_text(const std::error_code& error);

// Portuguese text for a Win32 error code (GetLastError); the Windows codes,
// on every platform for the tests.
std::string windows_error_text(unsigned long code);

// Message for a failed file operation, naming the file: for example
// `não foi possível criar o arquivo "placa.res": permissão negada`.
[[noreturn]] void fail_file(std::string_view action, std::string_view file_name, int error_number);
[[noreturn]] void fail_file(std::string_view action, std::string_view file_name, const std::error_code& error);

}  // namespace placatermo
