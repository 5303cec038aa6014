#include "run/run_files.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "platform/files.hpp"
#include "results/record.hpp"
#include "results/results.hpp"

namespace placatermo {

namespace fs = std::filesystem;

namespace {

// "linha 2, parâmetro "..."" of the input file.
std::string record_place(const RunContext& run, int record)
{
    return "linha " + std::to_string(run.input.record_line[static_cast<std::size_t>(record)]) + ", parâmetro \"" +
           std::string(record_label(record)) + "\"";
}

std::string shown(const RunFile& file) { return "\"" + cp1252_to_utf8(file.name) + "\""; }

// `file` as the other of the two: its name and what it is.
std::string described(const RunContext& run, const RunFile& file)
{
    return shown(file) + ", " + (file.record != 0 ? record_place(run, file.record) : file.what);
}

// Whether the user chose the file's name in the input.
bool named_in_input(const RunFile& file) { return file.record != 0 || file.named_by != 0; }

// The refusal of `named` (the file whose name the user must change) as the
// same file as `other`, worded as the reader's refusal of equal names.
[[noreturn]] void refuse_same_file(const RunContext& run, const RunFile& named, const RunFile& other)
{
    if (!named_in_input(named))
        throw FatalError("os arquivos " + described(run, named) + ", e " + described(run, other) +
                         ", são o mesmo arquivo: a execução gravaria um sobre o outro; nenhum arquivo foi gravado");
    // a name the program makes from another (the VTK file's) is changed
    // through that one
    const int record = named.record != 0 ? named.record : named.named_by;
    const std::string reason =
        record == 2 && other.record == 1
            ? "o arquivo de resultados (discretização) não pode ter o mesmo nome do experimento"
            : "o nome \"" + cp1252_to_utf8(named.record != 0 ? named.name : run.input.experiment_name.trimmed()) +
                  "\" é de outro arquivo do programa e não pode ser usado aqui";
    const std::string which = named.record != 0 ? shown(named) : described(run, named);
    throw FatalError("erro de leitura no arquivo \"" + cp1252_to_utf8(run.file(input_file_name)) + "\", " +
                     record_place(run, record) + ": " + reason + " (" + which + " é o mesmo arquivo que " +
                     described(run, other) + ")");
}

[[noreturn]] void fail_set_aside(const fs::path& file, const std::error_code& error)
{
    throw FatalError("não foi possível guardar o arquivo \"" + cp1252_to_utf8(file.string()) +
                     "\" da execução anterior na pasta \"" + std::string(earlier_files_folder) +
                     "\": " + system_error_text(error) + "; nenhum arquivo foi gravado");
}

// What a name that should be a plain folder or file is instead.
std::string kind_of(const fs::file_status& status)
{
    if (fs::is_symlink(status)) return "uma ligação simbólica";
    if (fs::is_directory(status)) return "uma pasta";
    if (fs::is_regular_file(status)) return "um arquivo";
    return "um arquivo especial";
}

// The keep-aside folder and its copies are the program's own: a link there
// would have the run move files into, and later remove them from, a folder
// elsewhere. `should_be` says what the name is for, `own` whether its kind
// is the one the program makes.
void check_own(const fs::path& name, std::string_view should_be, bool (*own)(fs::file_status))
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(name, error);
    if (!fs::exists(status) || own(status)) return;
    throw FatalError("\"" + cp1252_to_utf8(name.string()) + "\" deveria ser " + std::string(should_be) + ", mas é " +
                     kind_of(status) + ": apague-a ou renomeie-a e rode de novo; nenhum arquivo foi gravado");
}

bool same_bytes(const fs::path& a, const fs::path& b)
{
    std::string first, second;
    return read_whole_file(a.string(), first) && read_whole_file(b.string(), second) && first == second;
}

bool crosses_file_systems(const std::error_code& error)
{
#ifdef _WIN32
    if (error.value() == 17) return true;  // ERROR_NOT_SAME_DEVICE
#endif
    return error == std::errc::cross_device_link;
}

// A move, also into a folder on another file system (a mount point there):
// copied, the copy read back, and only then the original removed.
bool move_file(const fs::path& from, const fs::path& to, std::error_code& error)
{
    fs::rename(from, to, error);
    if (!crosses_file_systems(error)) return !error;
    error.clear();
    fs::copy_file(from, to, error);
    if (!error && !same_bytes(from, to)) error = std::make_error_code(std::errc::io_error);
    if (!error) fs::remove(from, error);
    if (error) {
        std::error_code ignored;
        fs::remove(to, ignored);
    }
    return !error;
}

// The files set aside so far, put back when one cannot be: a run that
// cannot keep the earlier files stops with the folder as it found it.
class SetAside {
public:
    // `bytes`: the copy is written with them (the input as it was before
    // the command line changed it), not taken from the file.
    bool set_aside(const fs::path& file, const fs::path& copy, bool copied, std::error_code& error,
                   const std::string* bytes = nullptr)
    {
        if (fs::create_directory(copy.parent_path(), error)) made_.push_back(copy.parent_path());
        if (error) return false;
        if (bytes != nullptr)
            write_copy(copy, *bytes, error);
        else if (copied)
            fs::copy_file(file, copy, error);
        else
            move_file(file, copy, error);
        if (error) {
            std::error_code ignored;
            if (copied) fs::remove(copy, ignored);  // a copy cut short
            return false;
        }
        done_.push_back({file, copy, copied});
        return true;
    }
    void undo()
    {
        std::error_code ignored;
        for (auto entry = done_.rbegin(); entry != done_.rend(); ++entry) {
            if (entry->copied)
                fs::remove(entry->copy, ignored);
            else
                move_file(entry->copy, entry->file, ignored);
        }
        for (const auto& folder : made_) fs::remove(folder, ignored);
    }

private:
    static void write_copy(const fs::path& copy, const std::string& bytes, std::error_code& error)
    {
        try {
            write_file_atomically(copy.string(), bytes);
        } catch (const FatalError&) {
            error = std::make_error_code(std::errc::io_error);
        }
    }
    struct Entry {
        fs::path file, copy;
        bool copied;
    };
    std::vector<Entry> done_;
    std::vector<fs::path> made_;
};

// Where the earlier copy of a file goes: the folder beside the file that the
// name leads to.
fs::path earlier_copy(const fs::path& file) { return file.parent_path() / earlier_files_folder / file.filename(); }

}  // namespace

std::string run_vtk_file(const RunContext& run)
{
    const std::string results(run.input.experiment_name.trimmed());
    const std::string summary(run.input.discretization_file_name.trimmed());
    const std::string name = vtk_file_name(results, summary);
    if (same_file(run.file(name), run.file(results)) || same_file(run.file(name), run.file(summary)))
        return run.file(results + ".vtk");
    return run.file(name);
}

std::vector<RunFile> run_files(const RunContext& run)
{
    std::vector<RunFile> files = {
        {"o arquivo de entrada", run.file(input_file_name), 0, 0, true},
        {"o arquivo de resultados", run.file(run.input.experiment_name.trimmed()), 1, 0, false},
        {"o perfil em x", run.file("Tx.dat"), 0, 0, false},
        {"o script do gráfico em x", run.file("Tx.gnu"), 0, 0, true},
        {"o gráfico em x", run.file("Tx.png"), 0, 0, false, true},
        {"o perfil em y", run.file("Ty.dat"), 0, 0, false},
        {"o script do gráfico em y", run.file("Ty.gnu"), 0, 0, true},
        {"o gráfico em y", run.file("Ty.png"), 0, 0, false, true},
        {"o arquivo de resumo", run.file(run.input.discretization_file_name.trimmed()), 2, 0, false},
    };
    if (run.options.vtk) files.push_back({"o arquivo VTK (--vtk)", run_vtk_file(run), 0, 1, false});
    if (run.options.record)
        files.push_back({"o registro JSON (--json)",
                         run.file(record_file_name(run.input.experiment_name.trimmed(),
                                                   run.input.discretization_file_name.trimmed())),
                         0, 1, false});
    if (run.options.pictures)
        for (const char* picture : {"historico.png", "campo.png", "erro.png"})
            files.push_back(
                {"a figura " + std::string(picture) + " (--graficos)", run.file(picture), 0, 0, false, true});
    if (run.options.pictures && run.input.grid_count > 1)
        files.push_back({"a figura niveis.png (--graficos)", run.file("niveis.png"), 0, 0, false, true});
    if (run.options.animation)
        files.push_back({"a animação " + std::string(animation_file_name) + " (--animacao)",
                         run.file(animation_file_name), 0, 0, false, true});
    return files;
}

void check_run_files(const RunContext& run, const std::vector<RunFile>& files)
{
    for (std::size_t second = 1; second < files.size(); ++second)
        for (std::size_t first = 0; first < second; ++first) {
            if (!same_file(files[first].name, files[second].name)) continue;
            // the name to change: one from the input, the later one when both are
            const bool second_named = named_in_input(files[second]) || !named_in_input(files[first]);
            if (second_named)
                refuse_same_file(run, files[second], files[first]);
            else
                refuse_same_file(run, files[first], files[second]);
        }
    // the folder that keeps the earlier files is the program's too: a file of
    // that name would fail every later run of the folder
    const RunFile earlier{"a pasta dos arquivos da execução anterior", run.file(earlier_files_folder), 0, 0, false};
    for (const auto& file : files)
        if (same_file(file.name, earlier.name)) refuse_same_file(run, file, earlier);
}

void lock_run_folder(RunContext& run)
{
    const std::string input = run.file(input_file_name);
    run.input_lock = FileLock::try_lock(input);
    if (run.input_lock) return;
    std::error_code error;
    const fs::path folder = run.folder.empty() ? fs::current_path(error) : fs::absolute(run.folder, error);
    throw FatalError("já há uma execução do placatermo em andamento na pasta \"" + folder.string() +
                     "\" (ela bloqueia o arquivo \"" + input +
                     "\"): espere que ela termine, ou rode esta em outra pasta");
}

void follow_input_file(RunContext& run)
{
    const std::string input = run.file(input_file_name);
    if (!run.input_lock || run.input_lock->still_locks(input)) return;
    auto previous = std::move(run.input_lock);
    lock_run_folder(run);
}

EarlierFiles set_aside_earlier_files(const std::vector<RunFile>& files, const std::string* earlier_input)
{
    // the input is the user's: kept aside only as it was before the command
    // line wrote into it
    const std::size_t first = earlier_input != nullptr ? 0 : 1;
    // every folder and every place a copy goes is looked at before anything
    // moves
    for (std::size_t n = first; n < files.size(); ++n) {
        const fs::path copy = earlier_copy(resolve_links(files[n].name));
        check_own(copy.parent_path(), "a pasta em que a execução guarda os arquivos da execução anterior",
                  [](fs::file_status status) { return fs::is_directory(status); });
        check_own(copy, "a cópia de um arquivo da execução anterior",
                  [](fs::file_status status) { return fs::is_regular_file(status); });
    }
    EarlierFiles kept;
    SetAside done;
    for (std::size_t n = first; n < files.size(); ++n) {
        const fs::path name = files[n].name;
        const fs::path file = resolve_links(name);
        const bool through_a_link = file != name;
        std::error_code error;
        const fs::path copy = earlier_copy(file);
        bool moved = false;
        if (!fs::exists(fs::symlink_status(copy, error))) {
            const std::string* bytes = n == 0 ? earlier_input : nullptr;
            if (bytes == nullptr && !fs::is_regular_file(file, error)) continue;
            if (!done.set_aside(file, copy, files[n].read_by_the_run, error, bytes)) {
                done.undo();
                fail_set_aside(file, error);
            }
            moved = true;
        } else if (files[n].picture && !through_a_link && fs::is_regular_file(fs::symlink_status(name, error))) {
            fs::remove(name, error);
        }
        const fs::path folder = copy.parent_path();
        auto at = std::find_if(kept.folders_.begin(), kept.folders_.end(),
                               [&](const EarlierFiles::Folder& f) { return f.path == folder; });
        if (at == kept.folders_.end()) {
            kept.folders_.push_back({folder, entry_id(folder).value_or(FileId{}), {}});
            at = std::prev(kept.folders_.end());
        }
        if (const auto id = entry_id(copy); id && (moved || !through_a_link))
            at->copies.push_back({files[n].name, copy, *id});
    }
    return kept;
}

std::vector<std::string> EarlierFiles::folders() const
{
    std::vector<std::string> names;
    for (const auto& folder : folders_) names.push_back(folder.path.string());
    return names;
}

std::optional<std::string> EarlierFiles::folder_of(const std::string& name) const
{
    for (const auto& folder : folders_)
        for (const auto& copy : folder.copies)
            if (copy.run_file == name) return folder.path.string();
    return std::nullopt;
}

void EarlierFiles::discard(const std::vector<std::string>& still_needed) const
{
    for (const auto& folder : folders_) {
        std::error_code error;
        // a folder swapped for another, or for a link, holds nothing of this run
        if (!fs::is_directory(fs::symlink_status(folder.path, error)) || entry_id(folder.path) != folder.id) continue;
        for (const auto& copy : folder.copies) {
            if (std::find(still_needed.begin(), still_needed.end(), copy.run_file) != still_needed.end()) continue;
            if (entry_id(copy.path) == copy.id) fs::remove(copy.path, error);
        }
        if (fs::is_empty(folder.path, error) && !error) fs::remove(folder.path, error);
    }
}

}  // namespace placatermo
