// The program's command line: its options, declared once with their help.
#pragma once

#include <span>
#include <string>

#include "base/command_options.hpp"
#include "run/context.hpp"

namespace placatermo {

// What the command line asks of the program.
struct ProgramCommandLine {
    RunOptions options;
    bool study = false;    // estudo: the rest is the study's
    bool help = false;     // --help: the usage on standard output
    bool version = false;  // --version
};

// The program's options, in the order the help lists them.
std::span<const CommandOption<ProgramCommandLine>> program_options();

// The usage text of the program (before the editor's and plotter's help).
const std::string& program_usage_text();

}  // namespace placatermo
