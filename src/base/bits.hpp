// The bits of a value as another type of the same size: std::bit_cast where
// the standard library has it, a copy where it does not (the browser's).
#pragma once

#include <cstring>
#include <type_traits>
#if __has_include(<bit>)
#include <bit>
#endif

namespace placatermo {

template <class To, class From>
To bits_as(const From& value)
{
    static_assert(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<From>);
#if defined(__cpp_lib_bit_cast)
    return std::bit_cast<To>(value);
#else
    To to;
    std::memcpy(&to, &value, sizeof to);
    return to;
#endif
}

}  // namespace placatermo
