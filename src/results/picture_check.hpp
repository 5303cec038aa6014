// Whether a picture file that the plotting program wrote is whole: the
// plotting program ends with 0 after a failed write, so only the file's own
// bytes tell.
#pragma once

#include <string_view>

namespace placatermo {

// A PNG read chunk by chunk from its signature to its IEND chunk, which ends
// the bytes; false for bytes cut short, empty or of another kind.
bool png_is_whole(std::string_view bytes);

// A GIF read block by block to its trailer, which ends the bytes.
bool gif_is_whole(std::string_view bytes);

// The bytes of the picture file `name` whole: a GIF for a name ending in
// ".gif", a PNG otherwise.
bool picture_bytes_whole(std::string_view name, std::string_view bytes);

}  // namespace placatermo
