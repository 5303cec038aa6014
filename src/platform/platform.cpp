#include "platform/platform.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "base/text.hpp"
#include "platform/stop_signals.hpp"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <spawn.h>
#include <unistd.h>

#include <sys/ioctl.h>
#ifdef __linux__
#include <sched.h>

#include <sys/mman.h>
#endif
#include <sys/wait.h>
extern char** environ;
#endif

namespace placatermo {

#ifdef _WIN32
const std::string_view plotting_program = "wgnuplot";
const std::string_view plotting_program_remedy =
    "instale o gnuplot para Windows e ponha a pasta do wgnuplot.exe no PATH";
#else
const std::string_view plotting_program = "gnuplot";
const std::string_view plotting_program_remedy =
    "instale o gnuplot (no Debian e no Ubuntu, como root: apt-get install gnuplot-nox)";
#endif

namespace {

// A word the interpreter takes as a program's name as it stands: no quotes,
// variables, assignments, redirections or patterns.
bool is_plain_name(std::string_view word)
{
    if (word.empty()) return false;
    for (const char c : word) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || u >= 0x80 ||
                           c == '.' || c == '_' || c == '-' || c == '+' || c == ',' || c == '@' || c == '/'
#ifdef _WIN32
                           || c == '\\' || c == ':'
#endif
            ;
        if (!plain) return false;
    }
    return true;
}

// The interpreter's own commands, which no folder holds.
bool is_builtin(std::string_view word)
{
#ifdef _WIN32
    constexpr std::string_view builtins[] = {"call", "cd", "echo", "exit", "rem", "set", "start", "type"};
#else
    constexpr std::string_view builtins[] = {".",    "cd",    "command", "echo", "eval", "exec",
                                             "exit", "false", "printf",  "test", "true"};
#endif
    for (const auto builtin : builtins)
        if (word == builtin) return true;
    return false;
}

bool can_run(const std::string& path)
{
#ifdef _WIN32
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
#else
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
#endif
}

}  // namespace

bool program_on_path(std::string_view program)
{
#ifdef _WIN32
    constexpr char separator = ';';
    const std::string suffix = ".exe";
#else
    constexpr char separator = ':';
    const std::string suffix;
#endif
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string_view folders = path;
    while (true) {
        const auto end = folders.find(separator);
        const std::string_view folder = folders.substr(0, end);
        const std::string candidate =
            (folder.empty() ? std::string(".") : std::string(folder)) + "/" + std::string(program) + suffix;
        if (can_run(candidate)) return true;
        if (end == std::string_view::npos) return false;
        folders.remove_prefix(end + 1);
    }
}

std::string missing_program_of(std::string_view command)
{
    const auto start = command.find_first_not_of(" \t");
    if (start == std::string_view::npos) return {};
    const auto end = command.find_first_of(" \t", start);
    const std::string word(command.substr(start, end == std::string_view::npos ? end : end - start));
    if (!is_plain_name(word) || is_builtin(word)) return {};
    const char* path = std::getenv("PATH");
#ifdef _WIN32
    // cmd.exe: the working folder, then the PATH; a name without an
    // extension with each of PATHEXT
    std::vector<std::string> names;
    const auto separator = word.find_last_of("\\/:");
    if (word.find('.', separator == std::string::npos ? 0 : separator + 1) != std::string::npos) names.push_back(word);
    const char* extensions = std::getenv("PATHEXT");
    std::string_view list = extensions != nullptr && *extensions != '\0' ? extensions : ".COM;.EXE;.BAT;.CMD";
    while (!list.empty()) {
        const auto semicolon = list.find(';');
        if (semicolon != 0) names.push_back(word + std::string(list.substr(0, semicolon)));
        if (semicolon == std::string_view::npos) break;
        list.remove_prefix(semicolon + 1);
    }
    std::vector<std::string> folders{""};
    if (word.find_first_of("\\/:") == std::string::npos && path != nullptr) {
        std::string_view rest = path;
        while (!rest.empty()) {
            const auto semicolon = rest.find(';');
            const std::string folder(rest.substr(0, semicolon));
            if (!folder.empty())
                folders.push_back(folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\");
            if (semicolon == std::string_view::npos) break;
            rest.remove_prefix(semicolon + 1);
        }
    }
    for (const auto& folder : folders)
        for (const auto& name : names)
            if (can_run(folder + name)) return {};
    return word;
#else
    if (word.find('/') != std::string::npos) return can_run(word) ? std::string() : word;
    // without a PATH the interpreter searches a default one of its own
    if (path == nullptr) return {};
    return program_on_path(word) ? std::string() : word;
#endif
}

std::string Platform::missing_program(std::string_view) { return {}; }

std::string SystemPlatform::missing_program(std::string_view command) { return missing_program_of(command); }

#ifdef _WIN32
namespace {

// The file name a command works on reaches cmd in a variable of the child's
// environment: cmd expands %...% once, so the name arrives as it is, whatever
// it holds (%, ^, &, !, blanks, parentheses), between its quotation marks.
void set_command_file(std::string_view name)
{
    std::string value;
    for (const char c : name) value += c == '"' ? '_' : c;
    _putenv_s(std::string(file_variable).c_str(), value.c_str());
}

}  // namespace
#endif

void Platform::warn(std::string_view message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
}

std::string quote_for_cmd(std::string_view name)
{
    std::string quoted = "\"";
    for (const char c : name) quoted += c == '"' ? '_' : c;
    return quoted + "\"";
}

std::string cmd_file_command(std::string_view program)
{
    return std::string(program) + " \"%" + std::string(file_variable) + "%\"";
}

std::string command_interpreter(const char* comspec, std::string_view system_folder)
{
    if (comspec != nullptr && *comspec != '\0') return comspec;
    std::string path(system_folder);
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    return path + "cmd.exe";
}

std::string quote_for_shell(std::string_view name)
{
#ifdef _WIN32
    return quote_for_cmd(name);
#else
    std::string quoted = "'";
    for (const char c : name) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
#endif
}

int Platform::run_command_catching_errors(const std::string& command, std::string& errors)
{
    errors.clear();
    return run_command(command);
}

int SystemPlatform::run_command(const std::string& command) { return run(command, -1); }

int SystemPlatform::run_command_catching_errors(const std::string& command, std::string& errors)
{
    errors.clear();
#ifdef _WIN32
    return run(command, -1);
#else
    // a file without a name, in memory: nothing to remove, whatever ends the
    // program, and no disk to fill; where there is none, nothing is caught
#ifdef __linux__
    const int file = memfd_create("placatermo-erros", MFD_CLOEXEC);
#else
    const int file = -1;
#endif
    if (file < 0) return run(command, -1);
    const int status = run(command, file);
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t got = pread(file, buffer, sizeof buffer, at);
        if (got <= 0) break;
        errors.append(buffer, static_cast<std::size_t>(got));
        at += got;
    }
    close(file);
    return status;
#endif
}

int SystemPlatform::run(const std::string& command, [[maybe_unused]] int errors)
{
    const std::string text(trim_right(command));
    std::fflush(stdout);
#ifdef _WIN32
    // the interpreter of the system folder, never one found in the working folder
    char system_folder[MAX_PATH] = "";
    const UINT length = GetSystemDirectoryA(system_folder, MAX_PATH);
    const std::string interpreter =
        command_interpreter(std::getenv("COMSPEC"), std::string_view(system_folder, length < MAX_PATH ? length : 0));
    std::fflush(stderr);
    // the windows of wgnuplot and notepad stay open until the user closes
    // them: a stop waits for that
    const int token = watch_child(0, ChildStop::left_to_the_user);
    const auto status = _spawnl(_P_WAIT, interpreter.c_str(), interpreter.c_str(), "/c", text.c_str(), nullptr);
    forget_child(token);
    return status == -1 ? -1 : static_cast<int>(status);
#else
    pid_t pid = 0;
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(text.c_str()), nullptr};
    // The plotting program leads a process group of its own, so that a Ctrl-C
    // on the terminal reaches only this program, which then ends it (and
    // its children) itself; the editor needs the terminal. The child gets
    // the signals as a child of the shell would: unblocked and by default.
    const ChildStop stop = text == editor_line_ ? ChildStop::left_to_the_user : ChildStop::asked;
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) return -1;
    sigset_t none, by_default;
    sigemptyset(&none);
    sigemptyset(&by_default);
    for (const int number : {SIGINT, SIGTERM, SIGXFSZ}) sigaddset(&by_default, number);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &by_default);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (stop == ChildStop::asked) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    posix_spawnattr_setflags(&attributes, flags);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        posix_spawnattr_destroy(&attributes);
        return -1;
    }
    if (errors >= 0) posix_spawn_file_actions_adddup2(&actions, errors, STDERR_FILENO);
    const int started = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (started != 0) return -1;
    const int token = watch_child(pid, stop);
    // forgotten before it is reaped, so that its process group is never
    // signalled after its number may be another's
    siginfo_t ended{};
    while (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) == -1 && errno == EINTR) {
    }
    const bool asked = forget_child(token);
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) return -1;
    }
    // asked to end, it did not finish its work, whatever it answers
    if (asked && WIFEXITED(status) && WEXITSTATUS(status) == 0) return 128 + SIGTERM;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
#endif
}

LocalTime SystemPlatform::local_time()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &now);
#else
    localtime_r(&now, &parts);
#endif
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

double SystemPlatform::clock_seconds()
{
    // Whole 100-nanosecond units, as the processing time is reported.
    const auto ticks = std::chrono::duration_cast<std::chrono::duration<long long, std::ratio<1, 10000000>>>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<double>(ticks.count()) / 1.0e7;
}

void SystemPlatform::set_window_title(std::string_view title)
{
#ifdef _WIN32
    const std::string text(title);
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
    SetConsoleTitleW(wide.c_str());
#else
    if (isatty(STDOUT_FILENO) == 0) return;
    std::printf("\033]0;%.*s\007", static_cast<int>(title.size()), title.data());
    std::fflush(stdout);
#endif
}

std::string SystemPlatform::editor_command(std::string_view file_name)
{
#ifdef _WIN32
    set_command_file(file_name);
    return cmd_file_command("notepad");
#else
    const char* editor = std::getenv("VISUAL");
    if (editor == nullptr || *editor == '\0') editor = std::getenv("EDITOR");
    // Debian's choice of editor for the user, where it exists
    if (editor == nullptr || *editor == '\0') editor = program_on_path("sensible-editor") ? "sensible-editor" : "vi";
    editor_line_ = std::string(editor) + " " + quote_for_shell(file_name);
    return editor_line_;
#endif
}

std::string SystemPlatform::plot_command(std::string_view script_name)
{
#ifdef _WIN32
    set_command_file(script_name);
    return cmd_file_command("wgnuplot");
#else
    return "gnuplot " + quote_for_shell(script_name);
#endif
}

void give_children_a_character_set()
{
#ifndef _WIN32
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return;
    }
    setenv("LC_CTYPE", "C.UTF-8", 0);
#endif
}

void keep_released_memory()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
#endif
}

unsigned available_cores()
{
#if defined(__linux__)
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return static_cast<unsigned>(CPU_COUNT(&cpus));
#endif
    return std::thread::hardware_concurrency();
}

namespace {
constexpr std::size_t large_page = std::size_t{2} << 20;
}

void advise_large_pages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes)
{
#if defined(__linux__)
    const auto first = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (first + large_page - 1) & ~std::uintptr_t{large_page - 1};
    const std::uintptr_t end = (first + bytes) & ~std::uintptr_t{large_page - 1};
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

void populate_pages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::uintptr_t page = 4096;
    const auto first = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (first + page - 1) & ~(page - 1);
    const std::uintptr_t end = (first + bytes) & ~(page - 1);
    // an older system refuses it: the first writes map the pages instead
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
}

std::size_t lay_heap_on_large_pages([[maybe_unused]] double bytes)
{
#if defined(__GLIBC__) && defined(__linux__)
    constexpr double least = 8.0 * 1024 * 1024;
    constexpr double most = 1536.0 * 1024 * 1024;  // below keep_released_memory's trim threshold, which keeps it
    if (!(bytes >= least)) return 0;
    const auto size = static_cast<std::size_t>(std::min(bytes, most));
    // Large pages cover whole aligned spans only, so the heap from its end up
    // to the next boundary would fault in small pages, each on its own: up to
    // 512 faults, 10 us each in a virtual machine, where a whole large page
    // costs 0.2 ms. That stretch is set aside for the program's life and the
    // block starts just below the boundary; one span more at its end covers
    // what rounding down leaves out. A study lays the heap for each of its
    // runs, from several threads: the stretch is set aside once, and held
    // where the leak checker sees it.
    static std::mutex laying;
    static void* set_aside = nullptr;
    const std::lock_guard lock(laying);
    const std::size_t laid = size + large_page;
    void* block = std::malloc(laid);
    if (block == nullptr) return 0;  // the arrays will say it, with their names
    const std::size_t below = (large_page - reinterpret_cast<std::uintptr_t>(block) % large_page) % large_page;
    std::free(block);
    constexpr std::size_t header_room = 128;  // the next block's header, below the boundary
    if (set_aside == nullptr && below > 2 * header_room) set_aside = std::malloc(below - header_room);
    block = std::malloc(laid);
    if (block == nullptr) return 0;
    advise_large_pages(block, laid);
    std::free(block);
    return size;
#else
    return 0;
#endif
}

double physical_memory_bytes()
{
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0.0;
    return static_cast<double>(status.ullTotalPhys);
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return 0.0;
    return static_cast<double>(pages) * static_cast<double>(page_size);
#endif
}

bool stderr_is_terminal()
{
#ifdef _WIN32
    return false;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::string fit_to_columns(std::string_view text, int columns)
{
    if (columns <= 0) return std::string(text);
    std::string fitted;
    int characters = 0;
    for (const char c : text) {
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        if (!continuation && ++characters > columns - 1) break;
        fitted += c;
    }
    return fitted;
}

void rewrite_stderr_line(std::string_view text)
{
    int columns = 0;
#ifndef _WIN32
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) columns = size.ws_col;
#endif
    std::string line = "\r";
    line += fit_to_columns(text, columns);
    line += "\033[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void set_console_to_utf8()
{
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
}

std::string argument_as_utf8(std::string_view argument)
{
#ifdef _WIN32
    if (argument.empty()) return {};
    const int size = static_cast<int>(argument.size());
    const int wide_length = MultiByteToWideChar(CP_ACP, 0, argument.data(), size, nullptr, 0);
    if (wide_length <= 0) return std::string(argument);
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, argument.data(), size, wide.data(), wide_length);
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string(argument);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, utf8.data(), length, nullptr, nullptr);
    return utf8;
#else
    return std::string(argument);
#endif
}

#ifdef _WIN32
const std::string_view editor_and_plotter_help =
    "O editor é o notepad e o programa de gráficos o wgnuplot, procurados na pasta atual e no\n"
    "PATH.\n";
#else
const std::string_view editor_and_plotter_help =
    "O editor é o comando da variável VISUAL, senão EDITOR, senão sensible-editor (quando\n"
    "existe), senão vi; o programa de gráficos é o gnuplot. Os dois são procurados no PATH.\n"
    "O manual: man placatermo.\n";
#endif

}  // namespace placatermo
