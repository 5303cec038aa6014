#include "results/picture_check.hpp"

#include <cstdint>

#include "results/animation.hpp"

namespace placatermo {

bool png_is_whole(std::string_view bytes)
{
    constexpr std::string_view signature("\x89PNG\r\n\x1a\n", 8);
    if (bytes.substr(0, signature.size()) != signature) return false;
    const auto byte = [&](std::size_t at) { return std::uint32_t{static_cast<unsigned char>(bytes[at])}; };
    std::size_t at = signature.size();
    // each chunk: its length, its type, its data and a CRC of four bytes
    while (bytes.size() - at >= 12) {
        const std::uint64_t length = (byte(at) << 24) | (byte(at + 1) << 16) | (byte(at + 2) << 8) | byte(at + 3);
        if (length > bytes.size() - at - 12) return false;
        const std::string_view type = bytes.substr(at + 4, 4);
        at += 12 + static_cast<std::size_t>(length);
        if (type == "IEND") return length == 0 && at == bytes.size();
    }
    return false;
}

bool gif_is_whole(std::string_view bytes) { return gif_image_count(bytes).has_value(); }

bool picture_bytes_whole(std::string_view name, std::string_view bytes)
{
    return name.ends_with(".gif") ? gif_is_whole(bytes) : png_is_whole(bytes);
}

}  // namespace placatermo
