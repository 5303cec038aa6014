// A study's runs: the folder claimed, the runs in parallel with their
// progress (or only prepared), and the table at the end.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "platform/output_file.hpp"
#include "run/context.hpp"
#include "run/execution.hpp"
#include "run/program.hpp"
#include "studies/study_parts.hpp"

namespace placatermo {

using namespace study_parts;

namespace {

// Runs of a study in one process: each run's files in its folder, and the
// commands it starts run in that folder too.
class FolderPlatform : public Platform {
public:
    FolderPlatform(SystemPlatform& system, std::filesystem::path folder, bool plotter_found)
        : system_(system), folder_(std::move(folder)), plotter_found_(plotter_found)
    {
    }
    int run_command(const std::string& command) override
    {
        // without a plotting program the interpreter would only say so: its
        // answer, without starting it for every run
        if (!plotter_found_) return 127;
        return system_.run_command(in_folder(command));
    }
    int run_command_catching_errors(const std::string& command, std::string& errors) override
    {
        errors.clear();
        if (!plotter_found_) return 127;
        return system_.run_command_catching_errors(in_folder(command), errors);
    }
    LocalTime local_time() override { return system_.local_time(); }
    double clock_seconds() override { return system_.clock_seconds(); }
    void set_window_title(std::string_view) override {}
    std::string editor_command(std::string_view file_name) override { return system_.editor_command(file_name); }
    std::string plot_command(std::string_view script_name) override { return system_.plot_command(script_name); }
    std::string missing_program(std::string_view command) override { return system_.missing_program(command); }
    void warn(std::string_view message) override { warnings.emplace_back(message); }
    std::vector<std::string> warnings;

private:
    std::string in_folder(const std::string& command) const
    {
        return "cd " + quote_for_shell(folder_.string()) + " && " + command;
    }
    SystemPlatform& system_;
    std::filesystem::path folder_;
    bool plotter_found_;
};

// The base input: placatermo.ent of the working folder, or the default
// experiment when it is missing (`missing` then; the study writes it, as a
// run does, once the study is accepted).
std::string base_input(bool& missing)
{
    std::string bytes;
    missing = !read_whole_file(std::string(input_file_name), bytes);
    return missing ? default_input_file() : bytes;
}

std::string seconds_text(double seconds)
{
    char text[32];
    if (seconds < 60.0)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else
        std::snprintf(text, sizeof text, "%.0f min %02.0f s", std::floor(seconds / 60.0), std::fmod(seconds, 60.0));
    return text;
}

// Whether a run's folder holds its complete result: the input the design
// gives, and a complete record computed from that input with the run's cycle.
bool run_is_complete(const std::string& expected_input, const std::vector<StudyVariation>& variations,
                     const StudyRun& run)
{
    try {
        const StudyRow row = read_study_row(run, &expected_input);
        if (row.status != "ok") return false;
        for (std::size_t v = 0; v < variations.size(); ++v)
            if (variations[v].record == 0 && row.record.cycle != run.values[v]) return false;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// A study at work: its options (the variations those of its design), its
// design and base input, and its claim on the folder.
struct OpenStudy {
    StudyOptions options;
    bool fresh = false;  // a new study: neither --coletar nor --continuar
    StudyDesign design;
    InputParameters base;
    // why no run can be made (a results name that leaves the run's folder);
    // empty when they can
    std::string escaping;
    std::unique_ptr<StudyFolderLock> claim;
    bool (*stop_requested)() = nullptr;
};

void check_study_folder(const StudyOptions& options, bool fresh)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const auto link = fs::symlink_status(options.folder, error);
    if (fs::is_symlink(link) && !fs::exists(options.folder, error))
        throw FatalError("\"" + options.folder.string() + "\" é um link simbólico para algo que não existe");
    if (fs::exists(options.folder, error) && !fs::is_directory(options.folder, error))
        throw FatalError("\"" + options.folder.string() + "\" existe e não é uma pasta");
    if (!fresh && !fs::is_directory(options.folder, error))
        throw FatalError("a pasta do estudo \"" + options.folder.string() + "\" não existe");
}

// The study in its folder, claimed: a new one written there, or the one the
// folder has read back (and the lists given checked against it).
OpenStudy open_study(const StudyOptions& options, bool (*stop_requested)())
{
    OpenStudy study;
    study.options = options;
    study.fresh = !options.collect && !options.resume;
    study.stop_requested = stop_requested;
    check_study_folder(options, study.fresh);
    // a new study's design, sized before anything is made: one that
    // --coletar and --continuar could not read back is refused
    StudyDesign& design = study.design;
    std::string design_text;
    bool input_missing = false;
    if (study.fresh) {
        design.program_version = PLACATERMO_VERSION;
        design.base_input = base_input(input_missing);
        design.variations = options.variations;
        design.runs = study_runs(options);
        design_text = study_design_json(design);
        if (design_text.size() > largest_design_bytes)
            throw FatalError(design_too_large("o desenho do estudo teria", design_text.size()));
    }
    study.claim = claim_study_folder(options.folder, study.fresh, [&] {
        if (study.fresh) {
            if (input_missing) {
                OutputFile file{std::string(input_file_name)};
                file.write(design.base_input);
                file.close();
            }
            // refused before anything is written into the folder
            parse_input_data(design.base_input);
            write_file_atomically((options.folder / std::string(study_design_file)).string(), design_text);
        } else {
            design = read_design(options.folder);
            if (!options.variations.empty()) {
                const std::string difference = design_difference(options.variations, design.variations);
                if (!difference.empty()) throw FatalError(difference);
            }
            study.options.variations = design.variations;
        }
    });
    study.base = parse_input_data(design.base_input, "estudo.json (entrada base)");
    // the results and summary names come from the base: a name that leaves
    // the run's folder would make the runs share one file
    for (const auto* name : {&study.base.experiment_name, &study.base.discretization_file_name})
        if (!stays_in_run_folder(name->trimmed()))
            study.escaping = "o arquivo \"" + cp1252_to_utf8(name->trimmed()) +
                             "\" da entrada sairia da pasta da execução (registros 1 e 2 são só nomes de arquivo, "
                             "sem pasta)";
    return study;
}

void write_run_folder(const OpenStudy& study, const StudyRun& run)
{
    study_parts::write_run_folder(study.options.variations, run, study.design.base_input, study.base);
}

// --preparar: the run folders and the job files, no run.
int prepare_study(const OpenStudy& study)
{
    if (!study.escaping.empty()) throw FatalError(study.escaping);
    const std::vector<StudyRun>& runs = study.design.runs;
    const std::string folder = study.options.folder.string();
    for (std::size_t n = 0; n < runs.size(); ++n) {
        // Ctrl-C: the folders made stay, without job files that would
        // name the others
        if (study.stop_requested()) {
            std::fprintf(stderr,
                         "estudo: interrompido: %zu de %zu execuções preparadas em %s, sem tarefas.txt e "
                         "slurm.sh (--continuar roda o estudo nesta máquina)\n",
                         n, runs.size(), folder.c_str());
            return 1;
        }
        write_run_folder(study, runs[n]);
    }
    write_job_files(study.options, runs);
    std::fprintf(stderr, "estudo: %zu execuções preparadas em %s (tarefas.txt, slurm.sh)\n", runs.size(),
                 folder.c_str());
    return 0;
}

// The runs of a study on this machine, some at a time, with their progress
// on standard error; what each run left is read right after it.
class StudyRunner {
public:
    StudyRunner(const OpenStudy& study, SystemPlatform& platform, std::vector<std::size_t> todo, Execution execution)
        : study_(study), runs_(study.design.runs), platform_(platform), todo_(std::move(todo)), execution_(execution)
    {
        rows_read.resize(runs_.size());
    }

    // Runs them all (or until a stop), on `workers` threads with this one.
    void run(unsigned workers)
    {
        std::vector<std::thread> threads;
        for (unsigned w = 1; w < workers; ++w) {
            try {
                threads.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // fewer threads: the others do the work
            }
        }
        work();
        for (auto& thread : threads) thread.join();
    }

    std::map<int, std::string> failures;             // run number -> message
    std::vector<std::optional<StudyRow>> rows_read;  // by run index

private:
    using Clock = std::chrono::steady_clock;

    static double elapsed(Clock::time_point since)
    {
        return std::chrono::duration<double>(Clock::now() - since).count();
    }

    // one line, rewritten on a terminal; a line a finished run otherwise
    void progress(const StudyRun& finished, const std::string& outcome, double seconds);

    // one run, start to end; whatever goes wrong becomes its outcome
    std::string run_one(const StudyRun& study_run, FolderPlatform& folder_platform) const;

    void work();

    const OpenStudy& study_;
    const std::vector<StudyRun>& runs_;
    SystemPlatform& platform_;
    const std::vector<std::size_t> todo_;
    const Execution execution_;
    std::mutex lock_;
    std::size_t next_ = 0, done_ = 0;
    const Clock::time_point start_ = Clock::now();
    std::map<int, Clock::time_point> running_;
    const bool terminal_ = stderr_is_terminal();
    const bool plotter_found_ = program_on_path(plotting_program);
};

void StudyRunner::progress(const StudyRun& finished, const std::string& outcome, double seconds)
{
    if (terminal_) {
        std::string slowest;
        double longest = -1.0;
        for (const auto& [number, since] : running_)
            if (elapsed(since) > longest)
                longest = elapsed(since), slowest = folder_name(number, static_cast<int>(runs_.size()));
        const double per_run = elapsed(start_) / static_cast<double>(done_);
        const double left = per_run * static_cast<double>(todo_.size() - done_);
        std::fprintf(stderr, "\r\033[Kestudo: %zu de %zu concluídas%s, restam ~%s", done_, todo_.size(),
                     slowest.empty() ? "" : (", a mais lenta " + slowest + " (" + seconds_text(longest) + ")").c_str(),
                     seconds_text(left).c_str());
        if (done_ == todo_.size()) std::fputc('\n', stderr);
    } else {
        std::fprintf(stderr, "estudo: %s %s em %s (%zu de %zu)\n", finished.folder.filename().string().c_str(),
                     outcome.c_str(), seconds_text(seconds).c_str(), done_, todo_.size());
    }
    std::fflush(stderr);
}

std::string StudyRunner::run_one(const StudyRun& study_run, FolderPlatform& folder_platform) const
{
    try {
        if (!study_.escaping.empty()) throw FatalError(study_.escaping);
        write_run_folder(study_, study_run);
        RunContext run(folder_platform);
        run.folder = study_run.folder;
        run.execution = execution_;
        run.options.batch = true;
        run.options.record = true;
        // a missing plotting program is said once, for the whole study
        run.state.plotter_warned = !plotter_found_;
        const std::vector<StudyVariation>& variations = study_.options.variations;
        for (std::size_t v = 0; v < variations.size(); ++v)
            if (variations[v].record == 0) run.options.cycle = cycle_from_name(study_run.values[v]);
        run.stop_requested = study_.stop_requested;
        run_program(run);
        return {};
    } catch (const FatalError& failure) {
        return failure.what();
    } catch (const std::filesystem::filesystem_error& failure) {
        return file_system_message(failure);
    } catch (const std::bad_alloc&) {
        return "memória insuficiente";
    } catch (const std::exception& failure) {
        return std::string("erro interno: ") + failure.what();
    }
}

void StudyRunner::work()
{
    for (;;) {
        std::size_t index;
        {
            std::lock_guard guard(lock_);
            if (next_ >= todo_.size() || study_.stop_requested()) return;
            index = todo_[next_++];
            running_[runs_[index].number] = Clock::now();
        }
        const StudyRun& study_run = runs_[index];
        FolderPlatform folder_platform(platform_, study_run.folder, plotter_found_);
        const auto begun = Clock::now();
        const std::string failure = run_one(study_run, folder_platform);
        const std::string expected = run_input_bytes(study_.design, study_.base, study_run);
        rows_read[index] = read_study_row(study_run, &expected);
        std::lock_guard guard(lock_);
        running_.erase(study_run.number);
        ++done_;
        if (!failure.empty()) failures[study_run.number] = failure;
        for (const auto& warning : folder_platform.warnings)
            std::fprintf(stderr, "%s%s: %s\n", terminal_ ? "\r\033[K" : "",
                         study_run.folder.filename().string().c_str(), warning.c_str());
        progress(study_run, failure.empty() ? "concluída" : "falhou: " + failure, elapsed(begun));
    }
}

// The job files name every run's folder: after a stop, the runs left out
// get none (a large study would take minutes to make them), and --continuar
// writes the job files.
void write_job_files_after_runs(const OpenStudy& study)
{
    namespace fs = std::filesystem;
    const fs::path& folder = study.options.folder;
    if (study.stop_requested() ||
        !(study.fresh || !fs::exists(folder / "tarefas.txt") || !fs::exists(folder / "slurm.sh")))
        return;
    try {
        for (const auto& run : study.design.runs) {  // a run refused before its folder was made gets it too
            if (study.stop_requested()) return;
            if (!fs::exists(run.folder)) write_run_folder(study, run);
        }
        write_job_files(study.options, study.design.runs);
    } catch (const FatalError& failure) {
        std::fprintf(stderr, "estudo: aviso: %s\n", failure.what());
    } catch (const fs::filesystem_error& failure) {
        std::fprintf(stderr, "estudo: aviso: %s\n", file_system_message(failure).c_str());
    }
}

// Runs the runs to do: all of a new study; those without a complete result
// when continuing (the others are not touched). The runner keeps what
// they left.
std::unique_ptr<StudyRunner> run_the_runs(const OpenStudy& study, SystemPlatform& platform)
{
    const std::vector<StudyRun>& runs = study.design.runs;
    std::vector<std::size_t> todo;
    for (std::size_t n = 0; n < runs.size(); ++n)
        if (study.fresh ||
            !run_is_complete(run_input_bytes(study.design, study.base, runs[n]), study.options.variations, runs[n]))
            todo.push_back(n);
    if (study.options.resume) std::fprintf(stderr, "estudo: %zu de %zu execuções a rodar\n", todo.size(), runs.size());
    // The runs share the cores: the solvers stay on one thread each.
    const Execution execution = start_execution(ExecutionThreads::one);
    const unsigned tasks = study.options.tasks;
    const unsigned workers =
        std::max(1u, std::min<unsigned>(tasks != 0 ? tasks : std::max(1u, std::thread::hardware_concurrency()),
                                        static_cast<unsigned>(std::max<std::size_t>(1, todo.size()))));
    auto runner = std::make_unique<StudyRunner>(study, platform, std::move(todo), execution);
    runner->run(workers);
    write_job_files_after_runs(study);
    return runner;
}

// The table from every run's files (those just run read already), and what
// the study says at its end; the study's exit status.
int finish_study(const OpenStudy& study, StudyRunner* runner, Platform& platform)
{
    const std::vector<StudyRun>& runs = study.design.runs;
    std::vector<StudyRow> rows;
    std::vector<std::string> missing;
    for (std::size_t n = 0; n < runs.size(); ++n) {
        const StudyRun& run = runs[n];
        std::optional<StudyRow>* read = runner ? &runner->rows_read[n] : nullptr;
        const bool was_read = read && read->has_value();
        const std::string expected = was_read ? std::string() : run_input_bytes(study.design, study.base, run);
        StudyRow row = was_read ? std::move(**read) : read_study_row(run, &expected);
        if (runner)
            if (const auto failure = runner->failures.find(run.number); failure != runner->failures.end())
                row.status = failure->second;
        if (row.status != "ok") missing.push_back(run.folder.filename().string());
        rows.push_back(std::move(row));
    }
    observed_orders(study.options.variations, rows);
    const StudyTableOutcome written = write_study_table(study.options, rows, platform);
    if (!missing.empty()) {
        std::string list;
        for (const auto& name : missing) list += (list.empty() ? "" : ", ") + name;
        std::fprintf(stderr, "estudo: %zu de %zu execuções sem resultados completos: %s\n", missing.size(), runs.size(),
                     list.c_str());
    }
    if (!written.table) return 1;
    std::fprintf(stderr, "estudo: tabela em %s\n", (study.options.folder / "estudo.csv").string().c_str());
    if (!written.pictures && missing.empty())
        std::fprintf(stderr, "estudo: a tabela está completa (%s), mas faltam gráficos\n",
                     runs.size() == 1 ? "a execução terminou"
                                      : ("as " + std::to_string(runs.size()) + " execuções terminaram").c_str());
    return missing.empty() && written.pictures ? 0 : 1;
}

int run_study_checked(const StudyOptions& options, SystemPlatform& platform, bool (*stop_requested)())
{
    if (options.help) {
        std::printf("%s\n%s", study_usage_text().data(), study_help_text().c_str());
        return 0;
    }
    const OpenStudy study = open_study(options, stop_requested);
    if (options.prepare) return prepare_study(study);
    const std::unique_ptr<StudyRunner> runner = options.collect ? nullptr : run_the_runs(study, platform);
    return finish_study(study, runner.get(), platform);
}

}  // namespace

int run_study(const StudyOptions& options, SystemPlatform& platform, bool (*stop_requested)())
{
    // the standard library's own texts never reach the user
    try {
        return run_study_checked(options, platform, stop_requested);
    } catch (const std::filesystem::filesystem_error& error) {
        throw FatalError(file_system_message(error));
    } catch (const std::bad_alloc&) {
        throw FatalError("memória insuficiente");
    } catch (const FatalError&) {
        throw;
    } catch (const std::exception& error) {
        throw FatalError(std::string("erro interno: ") + error.what());
    }
}

}  // namespace placatermo
