#include "report/byte_sink.hpp"

namespace placatermo {

void ByteSink::write(const Layout& layout, std::initializer_list<Value> values)
{
    write(layout, std::span<const Value>(values.begin(), values.size()));
}

void ByteSink::write(const Layout& layout, std::span<const Value> values)
{
    scratch_.clear();
    layout.format(scratch_, values);
    write(scratch_);
}

}  // namespace placatermo
