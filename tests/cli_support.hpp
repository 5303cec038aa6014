// The real program run in the working folder, its output caught.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "test_support.hpp"

namespace placatermo::testing {

struct Outcome {
    int exit_code;
    std::string out, err;
};

// What a plotting program that works leaves, as lines of a shell script: a
// whole, empty picture for every "set output '...'" of the scripts in its
// arguments. Shell builtins only, so that it works with any PATH.
inline const std::string stub_draws_its_pictures =
    "for script in \"$@\"; do\n"
    "  while IFS= read -r line || [ -n \"$line\" ]; do\n"
    "    case \"$line\" in *\"set output '\"*)\n"
    "      picture=${line#*\"set output '\"}; picture=${picture%%\"'\"*}\n"
    "      case \"$picture\" in\n"
    "      *.gif) printf 'GIF89a\\001\\000\\001\\000\\000\\000\\000;' >\"$picture\" ;;\n"
    "      *) printf '\\211PNG\\r\\n\\032\\n\\000\\000\\000\\000IEND\\256B`\\202' >\"$picture\" ;;\n"
    "      esac ;;\n"
    "    esac\n"
    "  done <\"$script\"\n"
    "done\n";

// A `gnuplot` in `folder` that draws each picture a study's script sets as
// its output by the shell command `draw` on "$f" (by default a copy of
// whole.png, the smallest whole PNG, which it keeps beside it), and the
// pictures of every other script as a plotting program that works.
inline void write_study_plotter(const std::filesystem::path& folder, const std::string& draw = "")
{
    const std::string whole = (folder / "whole.png").string();
    write_file(whole, whole_png);
    write_file(folder / "gnuplot",
               "#!/bin/sh\ncase \"$1\" in *estudo.gnu)\n"
               "  sed -n \"s/^set output '\\(.*\\)'$/\\1/p\" \"$1\" | while read -r f; do " +
                   (draw.empty() ? "cp '" + whole + "' \"$f\"" : draw) + "; done ;;\n*)\n" + stub_draws_its_pictures +
                   ";;\nesac\nexit 0\n");
    std::filesystem::permissions(folder / "gnuplot", std::filesystem::perms::owner_all);
}

// A folder whose `gnuplot` only leaves whole, empty pictures, first on the
// PATH of every run: what a real gnuplot prints depends on its version and
// the locale.
inline const std::string& quiet_plotter_folder()
{
    static const std::string folder = [] {
        const auto path = std::filesystem::temp_directory_path() / ("placatermo-cli-bin-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        write_study_plotter(path);
        return path.string();
    }();
    // made after the folder's name, so removed before the name is gone
    static const struct Cleanup {
        ~Cleanup()
        {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    } cleanup;
    return folder;
}

// Runs the program in the working folder; its output is caught outside it,
// so that a folder without write permission can be tried too. `environment`
// may set PATH itself.
inline Outcome run_program(const std::string& arguments = "--batch", const std::string& environment = "")
{
    const auto base = std::filesystem::temp_directory_path() / ("placatermo-cli-" + std::to_string(getpid()));
    const std::string out = base.string() + ".out", err = base.string() + ".err";
    const std::string command = "PATH='" + quiet_plotter_folder() + ":/usr/bin:/bin' " + environment +
                                " '" PLACATERMO_EXE "' " + arguments + " >'" + out + "' 2>'" + err + "' </dev/null";
    const int status = std::system(command.c_str());
    Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return o;
}

// A run that goes on and on (300 x 300 volumes, one inner iteration, a
// tolerance never reached) as the input of the working folder.
inline void write_endless_input()
{
    InputRecords r;
    r.nx = "300";
    r.ny = "300";
    r.max_inner_iterations = "1";
    r.max_outer_iterations = "1000000";
    r.tolerance = "1e-300";
    write_file("placatermo.ent", r.text("\r\n"));
}

// Starts the program with `arguments` in the background, its stderr into
// stderr.txt of the working folder.
inline pid_t start_program(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), PLACATERMO_EXE);
    arguments.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("stderr.txt", "w", stderr);
        execv(PLACATERMO_EXE, const_cast<char* const*>(arguments.data()));
        _exit(127);
    }
    return child;
}

}  // namespace placatermo::testing
