// What the program needs of the operating system: running a command line
// through the command interpreter and waiting for it, the local date and time,
// a steady clock and the window title. Tests substitute their own Platform.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/local_time.hpp"

namespace placatermo {

class Platform {
public:
    virtual ~Platform() = default;
    // Status form of the command runner: runs the command line (trailing
    // blanks dropped) through the command interpreter, waits without a time
    // limit and returns the interpreter's exit code, or -1 when it could not
    // be started. A command that a stop signal asked to end never answers
    // 0: it answers 128 + SIGTERM (143) when it ended with 0.
    virtual int run_command(const std::string& command) = 0;
    // The same command line, with what the command writes on its standard
    // error caught into `errors` instead of passed on, for a caller that
    // reads it. Here nothing is caught: the command runs as run_command runs
    // it.
    virtual int run_command_catching_errors(const std::string& command, std::string& errors);
    virtual LocalTime local_time() = 0;
    // Seconds on a steady clock, from an arbitrary origin.
    virtual double clock_seconds() = 0;
    virtual void set_window_title(std::string_view title) = 0;
    // Command line that opens `file_name` in the text editor.
    virtual std::string editor_command(std::string_view file_name) = 0;
    // Command line that runs the plotting program on `script_name`.
    virtual std::string plot_command(std::string_view script_name) = 0;
    // A warning line for the user (standard error).
    virtual void warn(std::string_view message);
    // The program that `command` would start, when the command interpreter
    // would not find it; empty when it would, or when that cannot be told.
    // Here nothing is ever missing.
    virtual std::string missing_program(std::string_view command);
};

// Quotes a file name for the command interpreter so that it is only ever read
// as one file name: '...' with '\'' for POSIX shells, "..." for cmd.exe.
std::string quote_for_shell(std::string_view name);

// The Windows forms, on every platform for the tests.
//
// "name" for cmd.exe (a quotation mark, which Windows names cannot hold,
// becomes '_'); cmd still expands %VAR% inside it.
std::string quote_for_cmd(std::string_view name);
// The environment variable that carries the file name of a command to cmd.
inline constexpr std::string_view file_variable = "PLACATERMO_ARQUIVO";
// The command line that runs `program` on the file in that variable:
// program "%PLACATERMO_ARQUIVO%".
std::string cmd_file_command(std::string_view program);
// The interpreter: COMSPEC when set, else cmd.exe of the system folder.
std::string command_interpreter(const char* comspec, std::string_view system_folder);

// The real operating system. On Windows the interpreter is COMSPEC (or
// cmd.exe of the system folder) with /c, the editor notepad and the plotting
// program wgnuplot, each given its file through PLACATERMO_ARQUIVO. On
// POSIX systems the interpreter is /bin/sh -c, the editor the command in
// VISUAL, else EDITOR, else vi (the variable may carry options), and the
// plotting program gnuplot.
class SystemPlatform : public Platform {
public:
    int run_command(const std::string& command) override;
    // On POSIX systems the standard error goes to a file in memory; on
    // Windows wgnuplot has no console to write to, and nothing is caught.
    int run_command_catching_errors(const std::string& command, std::string& errors) override;
    LocalTime local_time() override;
    double clock_seconds() override;
    void set_window_title(std::string_view title) override;
    std::string editor_command(std::string_view file_name) override;
    std::string plot_command(std::string_view script_name) override;
    std::string missing_program(std::string_view command) override;

private:
    int run(const std::string& command, int errors);
    // The editor's command line: it runs in the foreground, with the
    // terminal, and is not asked to end at a stop (the user closes it).
    std::string editor_line_;
};

// The program a command line would start, when it cannot be found the way
// `command -v` (or cmd.exe) finds it: a name with a slash as it is, else on
// the PATH (on Windows the working folder first, with the extensions of
// PATHEXT). Empty when it is found, and when the command's first word is
// not a plain name (quotes, variables, assignments) or a builtin of the
// interpreter: the interpreter itself has the last word then.
std::string missing_program_of(std::string_view command);

// The plotting program's name ("gnuplot", "wgnuplot" on Windows), and
// whether a program of that name is found on the PATH.
extern const std::string_view plotting_program;
bool program_on_path(std::string_view program);
// What to do when it is missing.
extern const std::string_view plotting_program_remedy;

// When the environment names no locale at all (LC_ALL, LC_CTYPE and LANG
// unset, as on a fresh minimal system), gives the programs the run starts
// the character set C.UTF-8: gnuplot otherwise warns about every script with
// "set encoding cp1252". The program's own bytes do not depend on it.
void give_children_a_character_set();

// Keeps memory that the program releases for its next requests instead of
// returning it to the system: the multigrid cycle and the solvers create and
// release the same large arrays over and over, and fresh pages from the
// system would have to be faulted in every time. The peak stays that of the
// largest set of arrays alive at once.
void keep_released_memory();

// The cores this process may run on: its CPU affinity where the system has
// one (taskset -c 0 gives one), else the machine's count.
unsigned available_cores();

// Asks the system for 2 MiB pages under the whole such pages within the
// `bytes` from `data`, before their first touch (Linux; nothing elsewhere):
// one fault for 512 small pages.
void advise_large_pages(void* data, std::size_t bytes);

// Maps the pages of the `bytes` from `data` for writing, without writing
// them, ahead of their first touch (Linux 5.14 on; nothing elsewhere, or
// where the system refuses): the system zeroes them, and on large pages may
// first have to gather free memory into 2 MiB pieces, here rather than in the
// first write, so that two threads can share that work for one array.
void populate_pages(void* data, std::size_t bytes);

// Lays the heap that the next `bytes` of requests come from on 2 MiB pages,
// on Linux, after keep_released_memory: one block of that size is taken
// from the system at once, asked for large pages and released, untouched, to
// the heap. Arrays created from it then fault in 2 MiB at a time, from end
// to end: the heap below the block's first 2 MiB boundary is set aside.
// Nothing is done below 8 MiB, and no more than 1.5 GiB is laid.
// Gives the bytes laid (0 where nothing was).
std::size_t lay_heap_on_large_pages(double bytes);

// Installed total memory in bytes (0 when unknown).
double physical_memory_bytes();

// Whether standard error is a terminal (never on Windows).
bool stderr_is_terminal();

// On a terminal's standard error, puts `text` in place of the line shown
// there before, cut to the terminal's width; "" takes the line away.
void rewrite_stderr_line(std::string_view text);
// `text` cut to `columns` - 1 characters of UTF-8 (as it is when `columns`
// is 0, not known).
std::string fit_to_columns(std::string_view text, int columns);

// Makes the console show the program's UTF-8 messages (Windows; nothing
// elsewhere).
void set_console_to_utf8();

// A command-line argument as UTF-8: Windows hands the program its arguments
// in the system's code page; elsewhere they are taken as they come.
std::string argument_as_utf8(std::string_view argument);

// The last line of the program's help: which editor and plotting program
// this platform's runs call.
extern const std::string_view editor_and_plotter_help;

}  // namespace placatermo
