// Where a writer puts the bytes of one of the program's files: a file on
// disk for the program, memory for the other front ends. The writers produce
// the same bytes whatever receives them.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "report/format.hpp"

namespace placatermo {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(std::string_view bytes) = 0;
    // Formats one layout with its values and appends the lines.
    void write(const Layout& layout, std::initializer_list<Value> values);
    void write(const Layout& layout, std::span<const Value> values);
    // A point where a reader following the file may see what is written so
    // far (a file flushes when it is due; memory has nothing to do).
    virtual void flush_when_due() {}

private:
    std::string scratch_;
};

// The bytes kept in memory.
class TextSink final : public ByteSink {
public:
    using ByteSink::write;
    void write(std::string_view bytes) override { text_.append(bytes); }
    const std::string& text() const { return text_; }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

}  // namespace placatermo
