// The files of one run as a table: the checks made on them before anything is
// written, the lock on the run's folder, and the earlier run's files kept
// aside until the new run has written all of its own.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.hpp"
#include "run/context.hpp"

namespace placatermo {

// One file the run reads or writes.
struct RunFile {
    std::string what;  // for messages: "o arquivo de resultados"
    std::string name;  // as the run opens it (in its folder)
    int record = 0;    // the input record that names it, 0 for the program's own names
    int named_by = 0;  // the record its name is made from (the VTK file's: 1)
    // Copied aside instead of moved: the run reads it before writing it (the
    // plot scripts keep their first six lines).
    bool read_by_the_run = false;
    // A picture the plotting program draws: its earlier copy stays kept
    // unless the run leaves a whole one in its place.
    bool picture = false;
};

// The input file first, then every file the run will write, in the order it
// writes them; the options' files only when asked for.
std::vector<RunFile> run_files(const RunContext& run);

// The VTK file's name: the results file's with ".vtk" for its extension, or
// the results file's name with ".vtk" added when that is another file of the
// run, however it is spelt.
std::string run_vtk_file(const RunContext& run);

// Refuses two names for one file, as the input reader refuses equal names:
// the message names the input file, the line and the parameter to change, and
// the other file.
void check_run_files(const RunContext& run, const std::vector<RunFile>& files);

// Locks the run's input file for the whole run; a second run in the same
// folder is refused at once.
void lock_run_folder(RunContext& run);
// After the editor: when it saved the input as a new file, the lock moves to
// it.
void follow_input_file(RunContext& run);

// The folder, beside the files, that holds the complete files of the earlier
// run while a run writes its own.
inline constexpr std::string_view earlier_files_folder = "placatermo.anterior";

// The earlier run's files kept aside while a run writes its own: the folders
// that hold them and the copies there that this run answers for, each known
// by its identity, so that what replaced one (a link, another file) is never
// taken for it.
class EarlierFiles {
public:
    // The folders that hold any, as the messages name them.
    std::vector<std::string> folders() const;
    bool empty() const { return folders_.empty(); }
    // The folder that holds the earlier copy of the run file `name`, if any.
    std::optional<std::string> folder_of(const std::string& name) const;
    // After a complete run: removes the copies this run answers for (those
    // it moved there and those a failed run had left, found at its start),
    // each only while the same file is still there in the same folder, but
    // not those of the run files named in `still_needed` (a picture that was
    // not drawn again); then each folder left empty.
    void discard(const std::vector<std::string>& still_needed) const;

private:
    friend EarlierFiles set_aside_earlier_files(const std::vector<RunFile>& files, const std::string* earlier_input);
    struct Copy {
        std::string run_file;  // the run file's name, as in RunFile
        std::filesystem::path path;
        FileId id;
    };
    struct Folder {
        std::filesystem::path path;
        FileId id;
        std::vector<Copy> copies;
    };
    std::vector<Folder> folders_;
};

// Moves the earlier run's files (the scripts: copies) into the folder; those
// that a failed run left there already are the complete ones and stay (and
// a picture that run left in place beside one is removed, so that only a
// picture this run draws can stand there). Copies found in a folder that a
// link leads to are another folder's, and this run never removes them. A
// keep-aside folder or a copy there that is not the program's own (a link,
// a file) is refused before anything moves, and a file that cannot be set
// aside ends the run with the folder as it was. With `earlier_input`, the
// input (the first file) is kept aside too, as those bytes.
EarlierFiles set_aside_earlier_files(const std::vector<RunFile>& files, const std::string* earlier_input = nullptr);

}  // namespace placatermo
