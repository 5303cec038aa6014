// A layout text and values made of the remaining bytes: the parser either
// refuses the layout or the formatter writes lines that all end in CR LF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const char*>(data);
    const void* split = std::memchr(bytes, '\n', size);
    const std::size_t layout_size = split ? static_cast<std::size_t>(static_cast<const char*>(split) - bytes) : size;
    const std::string layout_text(bytes, layout_size);
    std::vector<placatermo::Value> values;
    std::string texts;
    texts.reserve(size);
    for (std::size_t p = layout_size + 1; p + 9 <= size; p += 9) {
        std::uint64_t bits;
        std::memcpy(&bits, bytes + p + 1, sizeof bits);
        switch (static_cast<unsigned char>(bytes[p]) % 3) {
        case 0: values.emplace_back(static_cast<std::int32_t>(bits)); break;
        case 1: {
            double v;
            std::memcpy(&v, &bits, sizeof v);
            values.emplace_back(v);
            break;
        }
        default: values.emplace_back(std::string_view(bytes + p + 1, bits % 9)); break;
        }
    }
    try {
        const placatermo::Layout layout(layout_text);
        std::string out;
        layout.format(out, values);
        if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) std::abort();
    } catch (const std::logic_error&) {
    } catch (const std::bad_variant_access&) {
        // a value of another type than its field: a program error, refused
    }
    return 0;
}
