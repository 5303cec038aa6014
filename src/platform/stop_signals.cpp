#include "platform/stop_signals.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/platform.hpp"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace placatermo {

namespace {

using Clock = std::chrono::steady_clock;

// How long a child asked to end has before it is killed, and how long the
// program has, after a first signal outside the iterations, to end by itself.
constexpr auto child_grace = std::chrono::milliseconds(500);
constexpr auto program_grace = std::chrono::seconds(1);

struct Child {
    int token;
    long process;
    ChildStop stop;
    bool asked = false;
    bool killed = false;
    Clock::time_point asked_at{};
};

struct StopState {
    std::mutex mutex;
    std::vector<std::filesystem::path> temporary;
    std::vector<std::string> notes;
    std::vector<Child> children;
    int next_token = 0;
};

// Never destroyed: the signals' thread may still look at it while the main
// thread runs the destructors of the program's end.
StopState& stop_state()
{
    static auto* state = new StopState;
    return *state;
}

std::atomic<int> stop_signal{0};
std::atomic<int> iterations_underway{0};
// Who ends the program: 0 not decided yet, 1 the main thread, 2 the signals' thread.
std::atomic<int> end_owner{0};
StopDeadline stop_deadline = StopDeadline::about_a_second;

void signal_child(const Child& child, bool kill_it)
{
#ifdef _WIN32
    (void)child;
    (void)kill_it;
#else
    // the child leads a process group of its own: the interpreter and what it started
    kill(-static_cast<pid_t>(child.process), kill_it ? SIGKILL : SIGTERM);
#endif
}

// Under the lock.
void ask_to_end(Child& child)
{
    child.asked = true;
    child.asked_at = Clock::now();
    signal_child(child, false);
}

// One look at the run after a first signal: children started since are asked
// to end (in a run), those that did not end when asked are killed. True when the
// program is past its time and must be ended now; the time starts again while
// the iterations run or the editor is open.
bool past_deadline(Clock::time_point& deadline)
{
    StopState& state = stop_state();
    const std::lock_guard lock(state.mutex);
    const auto now = Clock::now();
    bool waiting = iterations_underway.load() > 0;
    for (Child& child : state.children) {
        if (child.stop == ChildStop::left_to_the_user) {
            waiting = true;
        } else if (!child.asked) {
            if (stop_deadline == StopDeadline::about_a_second) ask_to_end(child);
        } else if (!child.killed && now - child.asked_at >= child_grace) {
            child.killed = true;
            signal_child(child, true);
        }
    }
    if (waiting) deadline = now + program_grace;
    return stop_deadline == StopDeadline::about_a_second && now >= deadline;
}

void write_to_stderr(const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
#ifdef _WIN32
        const int count = _write(2, text.data() + written, static_cast<unsigned>(text.size() - written));
#else
        const ssize_t count = write(STDERR_FILENO, text.data() + written, text.size() - written);
#endif
        if (count <= 0) return;
        written += static_cast<std::size_t>(count);
    }
}

// Ends the program from the signals' thread, unless the main thread has
// claimed the end already (then it returns).
void end_now(std::string_view why)
{
    int undecided = 0;
    if (!end_owner.compare_exchange_strong(undecided, 2)) return;
    StopState& state = stop_state();
    std::string message = stderr_is_terminal() ? "\r\033[K" : "";
    message += "placatermo: erro: ";
    message += why;
    {
        const std::lock_guard lock(state.mutex);
        for (const Child& child : state.children)
            if (child.stop == ChildStop::asked) signal_child(child, true);
        for (const auto& path : state.temporary) {
            std::error_code error;
            std::filesystem::remove_all(path, error);
        }
        for (const auto& note : state.notes) message += "\n" + note;
    }
    message += "\n";
    write_to_stderr(message);
    std::_Exit(1);
}

constexpr std::string_view ended_late = "execução interrompida";
constexpr std::string_view ended_at_once = "execução interrompida na hora (segunda interrupção)";

void first_stop(int number, Clock::time_point& deadline)
{
    stop_signal = number;
    deadline = Clock::now() + program_grace;
    StopState& state = stop_state();
    const std::lock_guard lock(state.mutex);
    for (Child& child : state.children)
        if (child.stop == ChildStop::asked) ask_to_end(child);
}

#ifdef _WIN32
std::atomic<int> console_events{0};

// Each event comes on a thread of its own: the first one watches the run,
// a second one ends it.
BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (end_owner.load() == 1) return TRUE;
    if (++console_events > 1) {
        end_now(ended_at_once);
        return TRUE;
    }
    Clock::time_point deadline;
    first_stop(static_cast<int>(event) + 1, deadline);
    while (end_owner.load() != 1) {
        if (past_deadline(deadline)) end_now(ended_late);
        Sleep(50);
    }
    return TRUE;
}
#else
void watch_stop_signals(sigset_t signals)
{
    int count = 0;
    Clock::time_point deadline;
    for (;;) {
        int number = 0;
        if (count == 0) {
            if (sigwait(&signals, &number) != 0) continue;
        } else {
            timespec look{0, 50'000'000};
            number = sigtimedwait(&signals, nullptr, &look);
        }
        if (end_owner.load() != 0) return;
        if (number > 0 && ++count == 1)
            first_stop(number, deadline);
        else if (number > 0)
            end_now(ended_at_once);
        if (count > 0 && past_deadline(deadline)) end_now(ended_late);
    }
}
#endif

}  // namespace

void install_stop_signals(StopDeadline deadline)
{
    stop_deadline = deadline;
#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    std::signal(SIGXFSZ, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        std::thread(watch_stop_signals, signals).detach();
    } catch (const std::system_error&) {
        // without the thread the signals are not taken: as they come
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    }
#endif
}

bool stop_was_requested() { return stop_signal.load() != 0; }

IterationsUnderway::IterationsUnderway() { ++iterations_underway; }
IterationsUnderway::~IterationsUnderway() { --iterations_underway; }

void register_temporary_path(const std::filesystem::path& path)
{
    StopState& state = stop_state();
    const std::lock_guard lock(state.mutex);
    state.temporary.push_back(path);
}

bool make_temporary_folder(const std::filesystem::path& path, std::error_code& error)
{
    StopState& state = stop_state();
    const std::lock_guard lock(state.mutex);
    if (!std::filesystem::create_directory(path, error)) return false;
    state.temporary.push_back(path);
    return true;
}

void forget_temporary_path(const std::filesystem::path& path)
{
    StopState& state = stop_state();
    const std::lock_guard lock(state.mutex);
    const auto found = std::find(state.temporary.begin(), state.temporary.end(), path);
    if (found != state.temporary.end()) state.temporary.erase(found);
}

StopNote::StopNote(std::string line) : line_(std::move(line))
{
    StopState& state = stop_state();
    const std::lock_guard lock(state.mutex);
    state.notes.push_back(line_);
}

StopNote::~StopNote()
{
    StopState& state = stop_state();
    const std::lock_guard lock(state.mutex);
    const auto found = std::find(state.notes.begin(), state.notes.end(), line_);
    if (found != state.notes.end()) state.notes.erase(found);
}

void claim_the_end()
{
    int undecided = 0;
    if (end_owner.compare_exchange_strong(undecided, 1) || undecided == 1) return;
    // the signals' thread is ending the program
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

int watch_child(long process, ChildStop stop)
{
    StopState& state = stop_state();
    const std::lock_guard lock(state.mutex);
    Child child{++state.next_token, process, stop};
    // a stop that came before: a run is ending, while a study still draws
    // its plots from its table
    if (stop == ChildStop::asked && stop_was_requested() && stop_deadline == StopDeadline::about_a_second)
        ask_to_end(child);
    state.children.push_back(child);
    return child.token;
}

bool forget_child(int token)
{
    StopState& state = stop_state();
    const std::lock_guard lock(state.mutex);
    const auto found = std::find_if(state.children.begin(), state.children.end(),
                                    [token](const Child& child) { return child.token == token; });
    if (found == state.children.end()) return false;
    const bool asked = found->asked;
    // what its group still holds (a program the interpreter started, that
    // did not end with it) is not left running: the group's number is still
    // the child's, as the child is not reaped yet
    if (asked) signal_child(*found, true);
    state.children.erase(found);
    return asked;
}

}  // namespace placatermo
