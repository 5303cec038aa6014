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

#include "report/format.hpp"

namespace placatermo {

class OutputFile {
public:
    // Creates the file, or empties an existing one.
    explicit OutputFile(std::string name);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    const std::string& name() const { return name_; }

    void write(std::string_view bytes);
    // Formats one layout with its values and appends the lines.
    void write(const Layout& layout, std::initializer_list<Value> values);
    void write(const Layout& layout, std::span<const Value> values);
    void flush();
    // Flushes when the last flush is more than half a second ago, so that a
    // reader following the file sees its lines as they are made.
    void flush_when_due();
    void close();

private:
    std::string name_;
    std::FILE* file_ = nullptr;
    std::string scratch_;
    std::chrono::steady_clock::time_point last_flush_{};
};

// Reads a whole file as bytes; false when it does not exist. Any other
// failure to open or read it ends the run with a message naming it.
bool read_whole_file(const std::string& name, std::string& bytes);

}  // namespace placatermo
