// Any bytes as placatermo.ent: the reader either gives parameters that the
// program can compute with or stops with a message; it never crashes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/errors.hpp"
#include "input/input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const placatermo::InputParameters in =
            placatermo::parse_input_data(std::string_view(reinterpret_cast<const char*>(data), size));
        // what the reader accepts, the rest of the program relies on
        if (in.grid_count < 1 || in.grids.nx.size() != static_cast<std::size_t>(in.grid_count) || in.grids.nx[0] < 3 ||
            in.grids.ny[0] < 3 || in.grids.total_volume_count < in.grids.volume_count.back() ||
            in.experiment_name.trimmed().empty() || in.discretization_file_name.trimmed().empty() ||
            (in.solver_kind == 5 && in.max_inner_iterations < 1))
            std::abort();
    } catch (const placatermo::FatalError&) {
    }
    return 0;
}
