// The real program on a terminal (a pseudo-terminal): the progress line of a
// long run shows on standard error, rewrites itself and is erased, and never
// reaches a file; with standard error elsewhere there is none.
#include <gtest/gtest.h>

#if defined(__linux__)
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <sys/wait.h>

#include "cli_support.hpp"

namespace placatermo {
namespace {

using testing::read_file;
using testing::TempDir;

struct TerminalRun {
    int exit_code = -1;
    std::string terminal;  // all the terminal received
};

// Runs the endless run of the working folder on a pseudo-terminal (standard
// error to `stderr_file` when given) until `enough` says the terminal's
// output or the time since the start is enough, then interrupts it once and
// reads the terminal to the end. A run that never gets there fails after a
// minute.
template <typename Enough>
TerminalRun run_on_terminal(const char* stderr_file, Enough enough)
{
    testing::write_endless_input();
    int master = -1;
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    const pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        if (stderr_file != nullptr) std::freopen(stderr_file, "w", stderr);
        const std::string path = testing::quiet_plotter_folder() + ":/usr/bin:/bin";
        setenv("PATH", path.c_str(), 1);
        execl(PLACATERMO_EXE, PLACATERMO_EXE, "--batch", static_cast<char*>(nullptr));
        _exit(127);
    }
    TerminalRun run;
    if (child < 0) {
        ADD_FAILURE() << "forkpty";
        return run;
    }
    const auto start = std::chrono::steady_clock::now();
    bool interrupted = false;
    for (;;) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!interrupted && (enough(run.terminal, seconds) || seconds > 60.0)) {
            EXPECT_LT(seconds, 60.0) << "the run never got there: " << run.terminal;
            kill(child, SIGINT);
            interrupted = true;
        }
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        char buffer[4096];
        const ssize_t count = read(master, buffer, sizeof buffer);
        if (count <= 0) break;  // the program ended: EIO
        run.terminal.append(buffer, static_cast<std::size_t>(count));
    }
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

const std::string erase = "\r\033[K";
const std::string interrupted = "placatermo: erro: execução interrompida na iteração externa ";

TEST(Terminal, ProgressLineOnALongRunIsErasedAndNeverInAFile)
{
    TempDir dir;
    // two lines: it rewrites itself
    const TerminalRun run = run_on_terminal(nullptr, [](const std::string& terminal, double) {
        const auto first = terminal.find("\riteração ");
        return first != std::string::npos && terminal.find("\riteração ", first + 1) != std::string::npos;
    });
    EXPECT_EQ(run.exit_code, 1) << run.terminal;
    // the title of the window, the progress lines, the erasure, the message
    const auto first = run.terminal.find("\riteração ");
    ASSERT_NE(first, std::string::npos) << run.terminal;
    const auto message = run.terminal.find(interrupted);
    ASSERT_NE(message, std::string::npos) << run.terminal;
    EXPECT_EQ(run.terminal.substr(message - erase.size(), erase.size()), erase) << run.terminal;
    EXPECT_EQ(run.terminal.find("iteração", message + interrupted.size()), std::string::npos) << run.terminal;
    // each line: "\riteração N: razão X (tolerância 1.00E-300), T s[, ...]\033[K"
    for (std::size_t at = first; at < message - erase.size();) {
        const auto end = run.terminal.find("\033[K", at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = run.terminal.substr(at, end - at);
        EXPECT_EQ(line.substr(0, std::string("\riteração ").size()), "\riteração ") << line;
        EXPECT_NE(line.find(": razão "), std::string::npos) << line;
        EXPECT_NE(line.find(" (tolerância 1.00E-300), "), std::string::npos) << line;
        EXPECT_LE(line.size(), 1u + 99u + 3u) << line;  // within the 100 columns
        at = end + 3;
    }
    for (const char* file : {"placa.res", "placa.dis"}) {
        const std::string bytes = read_file(file);
        EXPECT_EQ(bytes.find('\033'), std::string::npos) << file;
        EXPECT_EQ(bytes.find("iteração "), std::string::npos) << file;
    }
}

TEST(Terminal, NoProgressLineWhenStandardErrorIsNotATerminal)
{
    TempDir dir;
    // interrupted well after the line would have shown
    const TerminalRun run =
        run_on_terminal("stderr.txt", [](const std::string&, double seconds) { return seconds > 2.5; });
    EXPECT_EQ(run.exit_code, 1);
    const std::string err = read_file("stderr.txt");
    EXPECT_EQ(err.substr(0, interrupted.size()), interrupted) << err;
    EXPECT_EQ(err.find('\033'), std::string::npos) << err;
    EXPECT_EQ(err.find('\r'), std::string::npos) << err;
    // on the terminal, only the window's title
    EXPECT_EQ(run.terminal.find("iteração"), std::string::npos) << run.terminal;
}

}  // namespace
}  // namespace placatermo
#else
TEST(Terminal, ProgressLine) { GTEST_SKIP() << "pseudo-terminals are tried on Linux only"; }
#endif
