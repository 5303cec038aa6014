// A study: the run folders, the runs in parallel (or the job files for a
// cluster), the progress, and the table at the end.
#include "studies/study.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "base/errors.hpp"
#include "report/output_file.hpp"
#include "report/text.hpp"
#include "run/context.hpp"
#include "run/program.hpp"
#include "solvers/solvers.hpp"

namespace placatermo {

namespace {

constexpr std::string_view study_usage =
    "uso: placatermo estudo PASTA --variar R=V1,V2,... [--variar ...] [--multigrid=C1,C2]\n"
    "                       [--tarefas N] [--preparar | --coletar]";

[[noreturn]] void refuse(const std::string& what) { throw FatalError(what + "\n" + std::string(study_usage)); }

std::vector<std::string> split_values(std::string_view text)
{
    std::vector<std::string> values;
    std::size_t start = 0;
    for (;;) {
        const auto comma = text.find(',', start);
        values.emplace_back(
            text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return values;
}

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
        return system_.run_command("cd " + quote_for_shell(folder_.string()) + " && " + command);
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
    SystemPlatform& system_;
    std::filesystem::path folder_;
    bool plotter_found_;
};

std::string folder_name(int number, int total)
{
    const int width = std::max<int>(3, static_cast<int>(std::to_string(total).size()));
    std::string name = std::to_string(number);
    return std::string(static_cast<std::size_t>(std::max<int>(0, width - static_cast<int>(name.size()))), '0') + name;
}

std::string shell_quote(const std::string& text) { return quote_for_shell(text); }

// The base input: placatermo.ent of the working folder, written with the
// default experiment when missing, as a run does.
std::string base_input()
{
    std::string bytes;
    if (!read_whole_file(std::string(input_file_name), bytes)) {
        OutputFile file{std::string(input_file_name)};
        file.write(default_input_file());
        file.close();
        bytes = default_input_file();
    }
    return bytes;
}

// The command line of one run, for the job files.
std::string run_command_line(const StudyOptions& options, const StudyRun& run)
{
    std::string line = "cd " + shell_quote(std::filesystem::absolute(run.folder).string()) + " && " +
                       shell_quote(options.program.string()) + " --batch";
    for (std::size_t v = 0; v < options.variations.size(); ++v)
        if (options.variations[v].record == 0) line += " --multigrid=" + run.values[v];
    return line;
}

// Writes a run's folder with its input: the base file with the varied values.
void write_run_folder(const StudyOptions& options, const StudyRun& run, const std::string& base,
                      const InputParameters& base_parameters)
{
    std::vector<std::pair<int, std::string>> values;
    for (std::size_t v = 0; v < options.variations.size(); ++v)
        if (options.variations[v].record != 0) values.emplace_back(options.variations[v].record, run.values[v]);
    std::filesystem::create_directories(run.folder);
    OutputFile file((run.folder / std::string(input_file_name)).string());
    file.write(replace_records(base, base_parameters, values));
    file.close();
}

// tarefas.txt (one command a line, for sh or GNU parallel) and slurm.sh (a
// job array, one task a run).
void write_job_files(const StudyOptions& options, const std::vector<StudyRun>& runs)
{
    std::string tasks;
    double largest_bytes = 0.0, largest_work = 0.0;
    for (const auto& run : runs) {
        tasks += run_command_line(options, run) + "\n";
        std::string bytes;
        if (!read_whole_file((run.folder / std::string(input_file_name)).string(), bytes)) continue;
        try {
            const InputParameters input = parse_input_data(bytes);
            largest_bytes = std::max(largest_bytes, required_memory_bytes(input));
            // outer iterations times the volumes of all grids
            largest_work = std::max(largest_work, static_cast<double>(input.max_outer_iterations) *
                                                      static_cast<double>(input.grids.total_volume_count));
        } catch (const FatalError&) {
        }
    }
    const std::string folder = std::filesystem::absolute(options.folder).string();
    OutputFile task_file((options.folder / "tarefas.txt").string());
    task_file.write(tasks);
    task_file.close();

    // memory: the arrays, half as much again, and the program itself; time:
    // 100 ns per volume and outer iteration, twice that, at least 10 minutes
    const long mebibytes = static_cast<long>(std::ceil(largest_bytes * 1.5 / 1048576.0)) + 64;
    const long minutes = std::max(10L, static_cast<long>(std::ceil(largest_work * 100e-9 * 2.0 / 60.0)));
    char limits[160];
    std::snprintf(limits, sizeof limits, "#SBATCH --time=%ld:%02ld:00\n#SBATCH --mem=%ldM\n", minutes / 60,
                  minutes % 60, mebibytes);
    std::string script =
        "#!/bin/bash\n"
        "# The runs of the study as a Slurm job array, one task a run:\n"
        "#   sbatch " +
        shell_quote(folder + "/slurm.sh") +
        "\n"
        "# then: placatermo estudo " +
        shell_quote(options.folder.string()) +
        " --coletar\n"
        "#SBATCH --job-name=placatermo-estudo\n"
        "#SBATCH --array=1-" +
        std::to_string(runs.size()) +
        "\n"
        "#SBATCH --ntasks=1\n"
        "#SBATCH --cpus-per-task=1\n" +
        std::string(limits) + "#SBATCH --output=" + folder +
        "/slurm-%A_%a.out\n"
        "# choose where it runs:\n"
        "##SBATCH --partition=NOME\n"
        "##SBATCH --account=CONTA\n"
        "set -euo pipefail\n"
        "eval \"$(sed -n \"${SLURM_ARRAY_TASK_ID}p\" " +
        shell_quote(folder + "/tarefas.txt") + ")\"\n";
    OutputFile slurm((options.folder / "slurm.sh").string());
    slurm.write(script);
    slurm.close();
    std::filesystem::permissions(options.folder / "slurm.sh", std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
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

}  // namespace

std::string StudyVariation::name() const
{
    if (record == 0) return "ciclo";
    std::string text = "R";
    text += std::to_string(record);
    return text;
}

StudyOptions parse_study_arguments(int argc, char** argv)
{
    StudyOptions options;
    options.program = std::filesystem::absolute(argv[0]);
    if (argc < 3 || argv[2][0] == '-') refuse("falta a pasta do estudo");
    options.folder = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--variar" && i + 1 < argc) {
            const std::string text = argv[++i];
            const auto equals = text.find('=');
            int record = 0;
            if (equals != std::string::npos && equals > 0 && equals <= 2 &&
                std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(equals),
                            [](char c) { return c >= '0' && c <= '9'; }))
                record = std::stoi(text.substr(0, equals));
            if (record < 4 || record > 15)
                refuse("--variar " + text + ": o registro vem antes de '=' e é um número de 4 a 15");
            if (equals + 1 >= text.size()) refuse("--variar " + text + ": faltam os valores depois de '='");
            for (const auto& variation : options.variations)
                if (variation.record == record)
                    refuse("o registro " + std::to_string(record) + " é variado duas vezes");
            options.variations.push_back({record, split_values(std::string_view(text).substr(equals + 1))});
        } else if (argument.rfind("--multigrid=", 0) == 0) {
            StudyVariation cycles{0, split_values(std::string_view(argument).substr(12))};
            for (const auto& value : cycles.values)
                if (!cycle_from_name(value)) refuse(argument + ": os ciclos são especificado e classico");
            options.variations.push_back(cycles);
        } else if (argument == "--tarefas" && i + 1 < argc) {
            const std::string text = argv[++i];
            if (text.empty() || text.size() > 4 ||
                !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
                std::stoi(text) < 1)
                refuse("--tarefas " + text + ": o número de execuções ao mesmo tempo é um inteiro de 1 a 9999");
            options.tasks = static_cast<unsigned>(std::stoi(text));
        } else if (argument == "--preparar") {
            options.prepare = true;
        } else if (argument == "--coletar") {
            options.collect = true;
        } else {
            refuse("argumento desconhecido: " + argument);
        }
    }
    if (options.prepare && options.collect) refuse("--preparar e --coletar não vão juntos");
    if (options.variations.empty() && !options.collect) refuse("falta ao menos um --variar");
    return options;
}

std::vector<StudyRun> study_runs(const StudyOptions& options)
{
    std::size_t total = 1;
    for (const auto& variation : options.variations) total *= variation.values.size();
    std::vector<StudyRun> runs;
    for (std::size_t n = 0; n < total; ++n) {
        StudyRun run;
        run.number = static_cast<int>(n + 1);
        run.folder = options.folder / folder_name(run.number, static_cast<int>(total));
        run.values.resize(options.variations.size());
        std::size_t rest = n;
        for (std::size_t v = options.variations.size(); v-- > 0;) {
            const auto& values = options.variations[v].values;
            run.values[v] = values[rest % values.size()];
            rest /= values.size();
        }
        runs.push_back(std::move(run));
    }
    return runs;
}

int run_study(const StudyOptions& options, SystemPlatform& platform, bool (*stop_requested)())
{
    namespace fs = std::filesystem;
    const std::vector<StudyRun> runs = study_runs(options);
    if (options.collect) {
        if (!fs::is_directory(options.folder))
            throw FatalError("a pasta do estudo \"" + options.folder.string() + "\" não existe");
    } else {
        std::error_code error;
        if (fs::exists(options.folder) && !fs::is_empty(options.folder, error))
            throw FatalError("a pasta \"" + options.folder.string() +
                             "\" já tem arquivos: escolha outra pasta, ou use --coletar para montar a tabela das "
                             "execuções que ela tem");
        fs::create_directories(options.folder);
        if (options.prepare) {
            const std::string base = base_input();
            const InputParameters base_parameters = parse_input_data(base);
            for (const auto& run : runs) write_run_folder(options, run, base, base_parameters);
            write_job_files(options, runs);
            std::fprintf(stderr, "estudo: %zu execuções preparadas em %s (tarefas.txt, slurm.sh)\n", runs.size(),
                         options.folder.string().c_str());
            return 0;
        }
    }

    std::map<int, std::string> failures;                          // run number -> message
    std::vector<std::optional<StudyRow>> rows_read(runs.size());  // by the workers, right after each run
    if (!options.collect) {
        const std::string base = base_input();
        const InputParameters base_parameters = parse_input_data(base);
        // The runs share the cores: the solvers stay on one thread each.
        set_parallel_sweeps(false);
        const unsigned workers = std::max(
            1u,
            std::min<unsigned>(options.tasks != 0 ? options.tasks : std::max(1u, std::thread::hardware_concurrency()),
                               static_cast<unsigned>(runs.size())));
        std::mutex lock;
        std::size_t next = 0, done = 0;
        const auto start = std::chrono::steady_clock::now();
        std::map<int, std::chrono::steady_clock::time_point> running;
        const bool terminal = stderr_is_terminal();
        const bool plotter_found = program_on_path(plotting_program);
        const auto elapsed = [&](std::chrono::steady_clock::time_point since) {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
        };
        // one line, rewritten on a terminal; a line a finished run otherwise
        const auto progress = [&](const StudyRun& finished, const std::string& outcome, double seconds) {
            if (terminal) {
                std::string slowest;
                double longest = -1.0;
                for (const auto& [number, since] : running)
                    if (elapsed(since) > longest)
                        longest = elapsed(since), slowest = folder_name(number, static_cast<int>(runs.size()));
                const double per_run = elapsed(start) / static_cast<double>(done);
                const double left = per_run * static_cast<double>(runs.size() - done);
                std::fprintf(
                    stderr, "\r\033[Kestudo: %zu de %zu concluídas%s, restam ~%s", done, runs.size(),
                    slowest.empty() ? "" : (", a mais lenta " + slowest + " (" + seconds_text(longest) + ")").c_str(),
                    seconds_text(left).c_str());
                if (done == runs.size()) std::fputc('\n', stderr);
            } else {
                std::fprintf(stderr, "estudo: %s %s em %s (%zu de %zu)\n", finished.folder.filename().string().c_str(),
                             outcome.c_str(), seconds_text(seconds).c_str(), done, runs.size());
            }
            std::fflush(stderr);
        };
        const auto work = [&] {
            for (;;) {
                std::size_t index;
                {
                    std::lock_guard guard(lock);
                    if (next >= runs.size() || stop_requested()) return;
                    index = next++;
                    running[runs[index].number] = std::chrono::steady_clock::now();
                }
                const StudyRun& study_run = runs[index];
                write_run_folder(options, study_run, base, base_parameters);
                FolderPlatform folder_platform(platform, study_run.folder, plotter_found);
                RunContext run(folder_platform);
                run.folder = study_run.folder;
                run.options.batch = true;
                // a missing plotting program is said once, for the whole study
                run.state.plotter_warned = !plotter_found;
                for (std::size_t v = 0; v < options.variations.size(); ++v)
                    if (options.variations[v].record == 0) run.options.cycle = cycle_from_name(study_run.values[v]);
                run.stop_requested = stop_requested;
                std::string outcome = "concluída";
                const auto begun = std::chrono::steady_clock::now();
                try {
                    run_program(run);
                } catch (const std::exception& error) {
                    outcome = std::string("falhou: ") + error.what();
                }
                rows_read[index] = read_study_row(study_run);
                std::lock_guard guard(lock);
                running.erase(study_run.number);
                ++done;
                if (outcome != "concluída") failures[study_run.number] = outcome.substr(8);
                for (const auto& warning : folder_platform.warnings)
                    std::fprintf(stderr, "%s%s: %s\n", terminal ? "\r\033[K" : "",
                                 study_run.folder.filename().string().c_str(), warning.c_str());
                progress(study_run, outcome, elapsed(begun));
            }
        };
        std::vector<std::thread> threads;
        for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
        work();
        for (auto& thread : threads) thread.join();
        for (const auto& run : runs)  // the runs a stop left out get their folder too
            if (!fs::exists(run.folder)) write_run_folder(options, run, base, base_parameters);
        write_job_files(options, runs);
    }

    std::vector<StudyRow> rows;
    std::vector<std::string> missing;
    for (std::size_t n = 0; n < runs.size(); ++n) {
        const StudyRun& run = runs[n];
        StudyRow row = rows_read[n] ? std::move(*rows_read[n]) : read_study_row(run);
        if (const auto failure = failures.find(run.number); failure != failures.end()) row.status = failure->second;
        if (row.status != "ok") missing.push_back(run.folder.filename().string());
        rows.push_back(std::move(row));
    }
    observed_orders(options.variations, rows);
    write_study_table(options, rows, platform);
    if (!missing.empty()) {
        std::string list;
        for (const auto& name : missing) list += (list.empty() ? "" : ", ") + name;
        std::fprintf(stderr, "estudo: %zu de %zu execuções sem resultados completos: %s\n", missing.size(), runs.size(),
                     list.c_str());
    }
    std::fprintf(stderr, "estudo: tabela em %s\n", (options.folder / "estudo.csv").string().c_str());
    return missing.empty() ? 0 : 1;
}

}  // namespace placatermo
