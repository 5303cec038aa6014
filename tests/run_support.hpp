// Runs of the solution drivers and of the whole program in a fresh folder,
// with a fake platform.
#pragma once

#include <memory>
#include <string>

#include "base/errors.hpp"
#include "drivers/drivers.hpp"
#include "run/program.hpp"
#include "test_support.hpp"

namespace placatermo::testing {

struct DriverRun {
    TempDir dir;
    FakePlatform platform;
    RunContext run{platform};
    std::string results;  // the lines the driver wrote

    explicit DriverRun(const InputRecords& records)
    {
        run.input = records.parse();
        run.state.stamps.plot_title = FixedText<62>("titulo (8/7/2006)'");
    }

    void solve()
    {
        run.results = std::make_unique<OutputFile>("driver.res");
        solve_plate(run);
        write_results(run);
        run.results->close();
        results = read_file("driver.res");
    }

    // The history lines: the results up to the temperature heading.
    std::string history() const { return results.substr(0, results.find("\r\n\r\n")) + "\r\n"; }
};

// The whole program in a fresh folder with a fake platform: clock readings
// half a second apart, the date 8/7/2006 9:5:7.
struct ProgramRun {
    TempDir dir;
    FakePlatform platform;
    RunContext run{platform};
    std::string error;

    ProgramRun() { platform.step = 0.5; }
    void start(bool batch = false)
    {
        run.options.batch = batch;
        try {
            run_program(run);
        } catch (const FatalError& e) {
            error = e.what();
        }
    }
};

// The lines "(TR2, I8, E15.6)" for the given iteration numbers and ratios.
inline std::string history_lines(std::initializer_list<std::pair<int, const char*>> lines)
{
    std::string text;
    for (const auto& [iteration, ratio] : lines) {
        char line[64];
        std::snprintf(line, sizeof line, "  %8d%15s\r\n", iteration, ratio);
        text += line;
    }
    return text;
}

}  // namespace placatermo::testing
