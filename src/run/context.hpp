// The values of one run, held together and passed by reference to the
// operations of the run.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/execution.hpp"
#include "base/text.hpp"
#include "experiment/experiment.hpp"
#include "experiment/files.hpp"
#include "input/input.hpp"
#include "platform/files.hpp"
#include "platform/output_file.hpp"
#include "platform/platform.hpp"

namespace placatermo {

struct RunOptions {
    bool batch = false;      // no editor at the start or at the end
    bool pictures = false;   // historico.png, campo.png and erro.png
    bool animation = false;  // iteracoes.gif: the error and the residual as the iteration goes
    bool vtk = false;        // the field as a VTK file
    bool record = false;     // --json: the run's record beside the results
    // --multigrid=...: the cycle, recorded in the results file when asked
    // for; the specified cycle otherwise
    std::optional<MultigridCycle> cycle;
    // --definir R=V: values written into the input before the run, in the
    // order given (the last of a record holds)
    std::vector<std::pair<int, std::string>> settings;
};

// The stamps and what the run's commands did.
struct RunState {
    RunStamps stamps;
    int command_status = 0;
    bool editor_warned = false, plotter_warned = false;  // each "could not be started" said once
    bool plotter_missing = false;                        // the plotting program was not found for it
    // The pictures asked for that were not drawn whole: the run names them
    // at its end and fails, and their earlier copies stay kept.
    struct FailedPicture {
        std::string name;  // as the run's files name it
        std::string why;
    };
    std::vector<FailedPicture> failed_pictures;
    // With --definir: the input's bytes before the values were written in
    // (kept aside with the earlier run's files), and the new bytes while
    // they wait for the earlier files to be set aside (in batch runs).
    std::optional<std::string> earlier_input, defined_input;
};

struct RunContext {
    explicit RunContext(Platform& p) : platform(p) {}

    // The run's file `name`: in the working folder, or in `folder` when set
    // (the runs of a study).
    std::string file(std::string_view name) const
    {
        return folder.empty() ? std::string(name) : (folder / std::string(name)).string();
    }

    Platform& platform;
    std::filesystem::path folder;
    RunOptions options;
    Execution execution = {default_kernels};  // one thread and ordinary pages unless the front end chooses
    InputParameters input;
    Outcome outcome;  // what the solution computed
    RunState state;
    std::unique_ptr<OutputFile> results;   // the main results file, while open
    std::unique_ptr<FileLock> input_lock;  // held from the start of the run to its end
    // Asked after every history line; true ends the run there (set by an
    // interrupt signal).
    bool (*stop_requested)() = [] { return false; };
    // When set (standard error is a terminal), the progress line of a long
    // solution goes there: a line in place of the last one, "" erases it.
    std::function<void(std::string_view)> progress;
};

}  // namespace placatermo
