// Ctrl-C and SIGTERM (Ctrl-C and Ctrl-Break on Windows), handled on a thread
// of their own so that they end the program as a run ends, never as a hang or
// a death by a signal. The first asks the run to stop: the solution after its
// current outer iteration, the plotting program at once (it is asked to end,
// then killed). When the program has not ended within about a second of it
// outside the iterations, or at a second signal, the signal's thread ends it:
// the temporary paths registered are removed, the plotting programs killed,
// and the message, with the notes registered, goes to standard error; the
// exit status is 1. A study has no such second: it ends when its runs have
// stopped and its table is written, or at a second signal.
#pragma once

#include <filesystem>
#include <string>

namespace placatermo {

// What a first stop signal may do when the program does not end by itself.
enum class StopDeadline {
    about_a_second,  // a run: ends it a second after it (outside the iterations)
    none,            // a study: its runs stop and its table is written, however long that takes
};

// Called once, before any thread is started: from then on every thread has
// the stop signals blocked, and SIGXFSZ is ignored, so that a file grown past
// the limit of the shell (ulimit -f) fails as on a full disk, with EFBIG.
void install_stop_signals(StopDeadline deadline);
bool stop_was_requested();

// While one lives, the solution iterates: a first signal waits for the end of
// the current outer iteration, however long it takes.
class IterationsUnderway {
public:
    IterationsUnderway();
    ~IterationsUnderway();
    IterationsUnderway(const IterationsUnderway&) = delete;
    IterationsUnderway& operator=(const IterationsUnderway&) = delete;
};

// A temporary folder (with what it holds) or file that an end by a signal
// removes, registered from before it is made to after it is removed or
// renamed.
void register_temporary_path(const std::filesystem::path& path);
void forget_temporary_path(const std::filesystem::path& path);
// Makes the folder `path` and registers it in one step, so that neither a
// folder made and not registered nor one of another program's, registered and
// not made, is ever there at an end by a signal. False (and `error` set when
// it failed) when it was not made.
bool make_temporary_folder(const std::filesystem::path& path, std::error_code& error);

// While one lives, its line is added to the message of an end by a signal
// (where a run's earlier files wait).
class StopNote {
public:
    explicit StopNote(std::string line);
    ~StopNote();
    StopNote(const StopNote&) = delete;
    StopNote& operator=(const StopNote&) = delete;

private:
    std::string line_;
};

// The main thread is about to say how the program ends and to end it: from
// then on a signal no longer ends it. When the signal's thread has begun to
// end the program, this waits for that end and never returns.
void claim_the_end();

// The children that SystemPlatform starts. A child watched as `asked` is asked
// to end at a stop (SIGTERM to its process group, SIGKILL after a bounded
// wait), and so is one started after it in a run (not in a study, which
// draws its plots after its runs have stopped); the editor is not: the user
// closes it, and the program waits for it.
// watch_child returns a token for forget_child, called once the child has
// ended but before it is reaped, which says whether the child was asked to
// end (and so did not finish its work) and then kills what is left of its
// group.
enum class ChildStop { asked, left_to_the_user };
int watch_child(long process, ChildStop stop);
bool forget_child(int token);

}  // namespace placatermo
