// The values of one run, held together and passed by reference to the
// operations of the run.
#pragma once

#include <memory>

#include "drivers/drivers.hpp"
#include "report/output_file.hpp"
#include "report/text.hpp"
#include "run/input.hpp"
#include "run/platform.hpp"

namespace placatermo {

struct RunOptions {
    bool batch = false;  // no editor at the start or at the end
};

// The stamps and the values kept for later writers.
struct RunState {
    double numerical_mean_temperature = 0.0;
    FixedText<12> date_string;
    FixedText<8> time_string;
    FixedText<62> plot_title;
    int command_status = 0;
};

struct RunContext {
    explicit RunContext(Platform& p) : platform(p), clock(p) {}

    Platform& platform;
    RunOptions options;
    InputParameters input;
    Solution solution;  // the driver scalars, the finest grid and its temperatures
    RunState state;
    ElapsedClock clock;
    std::unique_ptr<OutputFile> results;  // the main results file, while open
    // Asked after every history line; true ends the run there (set by an
    // interrupt signal).
    bool (*stop_requested)() = [] { return false; };
};

}  // namespace placatermo
