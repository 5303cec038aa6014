// Any bytes as a run record (and as a study's design): the readers either
// give a record that writes back to the same text or stop with a message;
// they never crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/errors.hpp"
#include "results/record.hpp"
#include "studies/study.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const placatermo::RunRecord record = placatermo::parse_run_record(text);
        // what is read, written again, reads back the same
        const std::string again = placatermo::run_record_json(record);
        if (placatermo::run_record_json(placatermo::parse_run_record(again)) != again) std::abort();
        if (record.grid_nx.size() != static_cast<std::size_t>(record.grid_count)) std::abort();
    } catch (const placatermo::FatalError&) {
    }
    try {
        placatermo::parse_study_design(text, "e");
    } catch (const placatermo::FatalError&) {
    }
    return 0;
}
