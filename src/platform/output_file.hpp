// A text file written by the program. Every failed operation (create, write,
// flush, close) ends the run with a message naming the file; what was written
// before the failure stays in the file.
#pragma once

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "report/byte_sink.hpp"

namespace placatermo {

class OutputFile final : public ByteSink {
public:
    // Creates the file, or empties an existing one.
    explicit OutputFile(std::string name);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    const std::string& name() const { return name_; }

    using ByteSink::write;
    void write(std::string_view bytes) override;
    void flush();
    // Flushes when the last flush is more than half a second ago, so that a
    // reader following the file sees its lines as they are made.
    void flush_when_due() override;
    void close();

private:
    std::string name_;
    std::FILE* file_ = nullptr;
    std::chrono::steady_clock::time_point last_flush_{};
};

// Reads a whole file as bytes; false when it does not exist. Any other
// failure to open or read it ends the run with a message naming it.
bool read_whole_file(const std::string& name, std::string& bytes);

}  // namespace placatermo
